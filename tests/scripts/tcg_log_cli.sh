#!/usr/bin/env bash
# qorvex-host tcg-log on the simulated machine: its JSON for the bundled example machine, for the
# public log of a real Windows machine and for a crypto-agile example log (read with --log) must
# equal the golden files in tests/data, which the Windows build under Wine is held to as well; a
# missing log fails with exit 3, bad usage with exit 2.
# Usage: tcg_log_cli.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
root=$2
shared=$3
data=$root/tests/data
logs=$root/examples/machine/C/Windows/Logs/MeasuredBoot
sample=$shared/samples/windows-gcp-shielded-vm.log

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run <name> <expected exit> <golden file or -> <qorvex-host arguments...>
run() {
    local name=$1 expectedExit=$2 golden=$3
    shift 3
    "$host" "$@" >"$work/$name.out" 2>"$work/$name.err"
    local status=$?
    if [[ $status -ne $expectedExit ]]; then
        fail "$name: exit $status, expected $expectedExit (qorvex-host $*)"
        sed 's/^/  stderr: /' "$work/$name.err"
        return
    fi
    if [[ $golden != - ]] && ! diff -u "$golden" "$work/$name.out" >"$work/$name.diff"; then
        fail "$name: output differs from $(basename "$golden")"
        head -c 4000 "$work/$name.diff"
        echo
        return
    fi
    echo "ok: $name"
}

run example-machine 0 "$data/tcg_log_example_machine.json" \
    --machine "$root/examples/machine" tcg-log --json
run public-sample 0 "$data/tcg_log_public_sample.json" tcg-log --json --log "$sample"
run agile-example 0 "$data/tcg_log_agile_example.json" \
    tcg-log --json --log "$logs/0000000017-0000000002.log"
# The example machine's three logs given as resumes of one boot read as the machine itself.
run logs-as-resumes 0 "$data/tcg_log_example_machine.json" \
    tcg-log --json --log "$logs/0000000017-0000000000.log" --log="$logs/0000000017-0000000001.log" \
    --log "$logs/0000000017-0000000002.log"

run missing-log 3 "$data/tcg_log_missing_log.json" \
    --machine "$data/missing-log-machine" tcg-log --json
if [[ -f $work/missing-log.err ]] &&
    ! grep -q '^\[300\] RuntimeError - TpmAttGetPlatformLogFromArchive has been failed, HRESULT = 80070002\. At component/antimalware/source/trusted_boot/tcg_log_provider/source/cryptography([0-9]*) $' \
        "$work/missing-log.err"; then
    fail "missing-log: no level-300 record naming the missing file's HRESULT"
    sed 's/^/  stderr: /' "$work/missing-log.err"
fi

# Text output names the count of paths and both digests.
run text 0 - --machine "$root/examples/machine" tcg-log
if [[ -f $work/text.out ]]; then
    grep -q '^module paths (62):$' "$work/text.out" || fail "text: no path count line"
    grep -q '^PCR 4 compact hash: [0-9a-f]\{40\}$' "$work/text.out" || fail "text: no PCR 4 digest"
    grep -q '^PCR 8 compact hash: [0-9a-f]\{40\}$' "$work/text.out" || fail "text: no PCR 8 digest"
    grep -q '^PCR 4 compact hash: none$' < <("$host" tcg-log --log "$sample" 2>/dev/null) ||
        fail "text: the public sample has no PCR 4 digest"
fi

run log-is-a-directory 1 - tcg-log --json --log "$root/examples"
run unknown-argument 2 - tcg-log --bogus
run log-without-file 2 - tcg-log --log
run unreadable-log 1 - tcg-log --json --log "$work/no-such.log"
# An empty archived log is valid: the module reads nothing from it and succeeds, alone or as
# one resume among others.
: >"$work/empty.log"
run empty-log 0 - tcg-log --json --log "$work/empty.log"
if [[ -f $work/empty-log.out ]] &&
    ! grep -qF '"result": "0x00000000", "message": "No error", "modulePaths": [], "pcr4CompactHash": null, "pcr8CompactHash": null' "$work/empty-log.out"; then
    fail "empty-log: not an empty successful answer"
    cat "$work/empty-log.out"
fi
run empty-log-among-resumes 0 "$data/tcg_log_public_sample.json" \
    tcg-log --json --log "$work/empty.log" --log "$sample"

# The golden files are JSON (paths with backslashes escaped).
if command -v python3 >/dev/null; then
    for golden in "$data"/tcg_log_*.json; do
        python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$golden" ||
            fail "$(basename "$golden") is not valid JSON"
    done
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all tcg-log CLI checks passed"
