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

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=
export WAYLAND_DISPLAY=

log=$(mktemp)
cleanup() {
    wineserver -k >/dev/null 2>&1
    rm -f "$log"
}
trap cleanup EXIT

rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
if ! wineboot -i >"$log" 2>&1; then
    echo "FAIL: cannot create the Wine prefix $prefix"
    cat "$log"
    exit 1
fi
if ! wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >"$log" 2>&1; then
    echo "FAIL: cannot set the prefix's Windows version"
    cat "$log"
    exit 1
fi
wineserver -w

QORVEX_EXPECT_WINDOWS_MAJOR=10 wine "$test_exe"
