#!/usr/bin/env bash
# The system helpers' Wine test on a prefix that plays Windows 10 (HKCU\Software\Wine Version
# win10) instead of Wine's default Windows 7: the version record, OsInfo and the helpers must
# follow what the prefix says. The prefix is this test's own (created afresh, its wineserver
# stopped at the end), so the shared prefix of the other tests keeps its version.
#
# Usage: system_helpers_win10.sh <win_system_helpers_test.exe> <prefix dir>
set -uo pipefail

test_exe=$1
prefix=$2

. "$(dirname "${BASH_SOURCE[0]}")/fresh_prefix.sh"
fresh_prefix "$prefix"
prefix_windows_version win10

QORVEX_EXPECT_WINDOWS_MAJOR=10 wine "$test_exe"
