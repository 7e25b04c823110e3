#!/usr/bin/env bash
# qorvex-host.exe tcg-log under Wine, on a real Windows registry and file system: the measured-
# boot counters are written with `reg add`, the logs are copied to the prefix's
# C:\windows\Logs\MeasuredBoot, and the JSON must equal the golden files that the Linux build on
# the simulated machine is held to (tests/data).
#
# Usage: tcg_log_wine.sh <qorvex-host.exe> <repo root> <shared dir> <prefix dir>
# The prefix dir is deleted and created afresh, so that no earlier run's registry values or logs
# remain; its wineserver is stopped at the end.
set -uo pipefail

host=$1
root=$2
shared=$3
prefix=$4
data=$root/tests/data
examples=$root/examples/machine/C/Windows/Logs/MeasuredBoot
sample=$shared/samples/windows-gcp-shielded-vm.log

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

. "$(dirname "${BASH_SOURCE[0]}")/fresh_prefix.sh"
fresh_prefix "$prefix"

logs=$prefix/drive_c/windows/Logs/MeasuredBoot

set_counters() {
    wine reg add 'HKLM\System\CurrentControlSet\services\TPM' /v OsBootCount /t REG_DWORD \
        /d "$1" /f >/dev/null 2>&1 &&
        wine reg add 'HKLM\System\CurrentControlSet\Control\IntegrityServices' /v OsResumeCount \
            /t REG_DWORD /d "$2" /f >/dev/null 2>&1
}

# machine <boot count> <resume count> [<log file for resume 0> ...]: counters and logs of the
# current boot, nothing else in the log folder.
machine() {
    local boot=$1 resumes=$2 resume=0
    shift 2
    rm -rf "$logs"
    mkdir -p "$logs"
    set_counters "$boot" "$resumes" || fail "reg add failed"
    for file in "$@"; do
        cp "$file" "$logs/$(printf '%010u-%010u.log' "$boot" "$resume")"
        resume=$((resume + 1))
    done
}

# check <name> <expected exit> <golden file or -> <arguments...>
check() {
    local name=$1 expectedExit=$2 golden=$3
    shift 3
    wine "$host" "$@" >"$work/$name.out" 2>"$work/$name.err"
    local status=$?
    # The console of a Windows program ends its lines with CR LF.
    tr -d '\r' <"$work/$name.out" >"$work/$name.json"
    if [[ $status -ne $expectedExit ]]; then
        fail "$name: exit $status, expected $expectedExit"
        sed 's/^/  stdout: /' "$work/$name.json"
        tr -d '\r' <"$work/$name.err" | sed 's/^/  stderr: /'
        return
    fi
    if [[ $golden != - ]] && ! diff -u "$golden" "$work/$name.json" >"$work/$name.diff"; then
        fail "$name: output differs from $(basename "$golden")"
        head -c 4000 "$work/$name.diff"
        echo
        return
    fi
    echo "ok: $name"
}

machine 1 0 "$sample"
check public-sample 0 "$data/tcg_log_public_sample.json" tcg-log --json

machine 1 0 "$examples/0000000017-0000000002.log"
check agile-example 0 "$data/tcg_log_agile_example.json" tcg-log --json

machine 17 2 "$examples/0000000017-0000000000.log" "$examples/0000000017-0000000001.log" \
    "$examples/0000000017-0000000002.log"
check example-machine 0 "$data/tcg_log_example_machine.json" tcg-log --json

# An empty archived log is read as nothing, successfully: the answer the Linux host gives for
# `tcg-log --log <empty file>`.
: >"$work/empty.log"
machine 1 0 "$work/empty.log"
check empty-log 0 - tcg-log --json
if [[ -f $work/empty-log.json ]] &&
    ! grep -qF '"result": "0x00000000", "message": "No error", "modulePaths": [], "pcr4CompactHash": null, "pcr8CompactHash": null' "$work/empty-log.json"; then
    fail "empty-log: not an empty successful answer"
    cat "$work/empty-log.json"
fi

# The current boot's log is missing; an earlier boot's is there.
machine 17 0
cp "$examples/0000000017-0000000000.log" "$logs/0000000016-0000000000.log"
check missing-log 3 "$data/tcg_log_missing_log.json" tcg-log --json
if [[ -f $work/missing-log.err ]] &&
    ! tr -d '\r' <"$work/missing-log.err" |
    grep -q '^\[300\] RuntimeError - TpmAttGetPlatformLogFromArchive has been failed, HRESULT = 80070002\. At component/antimalware/source/trusted_boot/tcg_log_provider/source/cryptography([0-9]*) $'; then
    fail "missing-log: no level-300 record naming the missing file's HRESULT"
    tr -d '\r' <"$work/missing-log.err" | sed 's/^/  stderr: /'
fi

# Reading log files given on the command line needs the simulated machine.
check log-option-is-a-usage-error 2 - tcg-log --json --log "Z:$sample"
if [[ -f $work/log-option-is-a-usage-error.err ]] &&
    ! grep -q 'only available with the simulated machine' "$work/log-option-is-a-usage-error.err"; then
    fail "log-option-is-a-usage-error: the message does not say why"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all tcg-log checks under Wine passed"
