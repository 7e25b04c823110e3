#!/usr/bin/env bash
# qorvex-host.exe tcg-log under Wine, on a real Windows registry and file system: the measured-
# boot counters are written with `reg add`, the logs are copied to the prefix's
# C:\windows\Logs\MeasuredBoot, and the JSON must equal the golden files that the Linux build on
# the simulated machine is held to (tests/data). The log reader's views (--pcrs, --events,
# --verify with --expect-pcrs and --quote, --health) read files given on the command line as on
# Linux.
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
        return 1
    fi
    if [[ $golden != - ]] && ! diff -u "$golden" "$work/$name.json" >"$work/$name.diff"; then
        fail "$name: output differs from $(basename "$golden")"
        head -c 4000 "$work/$name.diff"
        echo
        return 1
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

# Reading log files through the module needs the simulated machine.
check log-option-is-a-usage-error 2 - tcg-log --json --log "Z:$sample"
if [[ -f $work/log-option-is-a-usage-error.err ]] &&
    ! grep -q 'only available with the simulated machine' "$work/log-option-is-a-usage-error.err"; then
    fail "log-option-is-a-usage-error: the message does not say why"
fi

# The log reader's views read the files themselves, on Windows too, and never load the module:
# the same report as on Linux for the example logs and the samples, files that are not logs and
# cut logs with their exit codes, standard input like a file, file errors in plain words.
agile=$examples/0000000017-0000000002.log
head -c 1000 "$agile" >"$work/cut.log"
cp "$root/README.md" "$work/not-a-log.txt"
# check-report <name> <expected exit> <file> <python condition on the one log object `l`>
check_report() {
    local name=$1 expected=$2 file=$3 condition=$4
    check "$name" "$expected" - --module "Z:$work/no-such.dll" tcg-log --json --pcrs \
        --log "Z:$file" || return
    python3 -c 'import json, sys; l = json.load(open(sys.argv[1]))["logs"][0]; assert '"$condition"', l' \
        "$work/$name.json" || fail "$name: the report is not as on Linux"
}
check_report reader-agile 0 "$agile" \
    'l["layout"] == "crypto-agile" and l["eventCount"] == 39 and l["end"] == "complete" and l["startupLocality"] == 0 and sorted(l["pcrs"]) == ["sha1", "sha256"]'
check_report reader-cut 6 "$work/cut.log" \
    'l["end"] == "truncated" and l["endReason"].startswith("the log ends inside")'
check_report reader-not-a-log 5 "$work/not-a-log.txt" \
    'l.get("notALog") is True and l["error"].startswith("not a TCG event log: its first event would be for PCR 0x")'
if [[ -f $shared/samples/windows-tpm2-dell-latitude7520-sha256.log ]]; then
    check_report reader-latitude 0 "$shared/samples/windows-tpm2-dell-latitude7520-sha256.log" \
        'l["eventCount"] == 66 and l["pcrs"]["sha256"]["0"] == "3fb71d951308c9da8ef41023ecb271115094ce818a3d2b0a951890c372bb2942"'
    check_report reader-tdx 0 "$shared/samples/linux-tdx-ccel-padded.log" \
        'l["eventCount"] == 44 and l["algorithms"] == ["sha384"] and l["padding"] == {"offset": 18101, "size": 244043, "byte": "0xFF"}'
fi
wine "$host" --json tcg-log --events --log - <"$agile" >"$work/stdin.out" 2>/dev/null ||
    fail "reader-stdin: exit $?"
tr -d '\r' <"$work/stdin.out" | python3 -c 'import json, sys; l = json.load(sys.stdin)["logs"][0]; assert l["file"] == "-" and len(l["events"]) == 39, l' ||
    fail "reader-stdin: standard input not read like the file"
check reader-missing 1 - tcg-log --events --log "Z:$work/no-such.log"
grep -q "cannot read log file 'Z:$work/no-such.log': no such file" "$work/reader-missing.err" ||
    fail "reader-missing: no reason"

# The checks (--verify, --expect-pcrs, --quote with CNG, --health with crypt32) on Windows: the
# same verdicts as on Linux, a changed event caught with exit code 7, quotes made by swtpm
# (tests/data/quote-example) verified and a wrong nonce refused.
# check-log <name> <expected exit> <python condition on the one log object `l`> <arguments...>
check_log() {
    local name=$1 expected=$2 condition=$3
    shift 3
    check "$name" "$expected" - --module "Z:$work/no-such.dll" --json tcg-log "$@" || return
    python3 -c 'import json, sys; l = json.load(open(sys.argv[1]))["logs"][0]; assert '"$condition"', l' \
        "$work/$name.json" || fail "$name: the report is not as on Linux"
}
quotes=$root/tests/data/quote-example
check_log verify-agile 0 \
    'l["verification"]["passed"] and l["verification"]["eventDigests"] == {"verified": 27, "mismatched": 0, "notCheckable": 12, "mismatches": []}' \
    --verify --log "Z:$agile"
python3 - "$agile" "$work/changed.log" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[-1] ^= 0x01  # the last event's data
open(sys.argv[2], "wb").write(data)
PY
check_log verify-changed 7 \
    'not l["verification"]["passed"] and [m["index"] for m in l["verification"]["eventDigests"]["mismatches"]] == [38, 38]' \
    --verify --log "Z:$work/changed.log"
check reader-agile-pcrs 0 - --json tcg-log --pcrs --log "Z:$agile"
check_log expect-pcrs 0 'l["verification"]["expectedPcrs"]["passed"] and l["verification"]["expectedPcrs"]["matched"] == 26' \
    --expect-pcrs "Z:$work/reader-agile-pcrs.json" --log "Z:$agile"
check_log quote-rsa 0 '[c["result"] for c in l["verification"]["quote"]["checks"]] == ["passed"] * 4' \
    --log "Z:$agile" --quote "Z:$quotes/rsa.attest" --signature "Z:$quotes/rsa.sig" \
    --ak-public "Z:$quotes/rsa-ak.pub" --nonce 5eed0123456789ab
check_log quote-ecc 0 '[c["result"] for c in l["verification"]["quote"]["checks"]] == ["passed"] * 4' \
    --log "Z:$agile" --quote "Z:$quotes/ecc.attest" --signature "Z:$quotes/ecc.sig" \
    --ak-public "Z:$quotes/ecc-ak.pem" --nonce 5eed0123456789ab
check_log quote-wrong-nonce 7 '[c["result"] for c in l["verification"]["quote"]["checks"]] == ["passed", "passed", "failed", "passed"]' \
    --log "Z:$agile" --quote "Z:$quotes/rsa.attest" --signature "Z:$quotes/rsa.sig" \
    --ak-public "Z:$quotes/rsa-ak.pub" --nonce 00
if [[ -f $sample ]]; then
    check_log health-gcp 0 \
        'l["health"]["loadedModuleCount"] == 128 and l["health"]["summary"]["secureBoot"] == "on" and l["health"]["secureBoot"]["kek"][0]["value"]["lists"][0]["certificates"][0]["sha256Fingerprint"] == "a1117f516a32cefcba3f2d1ace10a87972fd6bbe8fe0d0b996e09e65d802a503" and l["health"]["secureBoot"]["authorities"][0]["certificate"]["serial"] == "28cc3a25bfba44ac449a9b586b4339aa"' \
        --health --log "Z:$sample"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all tcg-log checks under Wine passed"
