#!/usr/bin/env bash
# qorvex-host tcg-log through the module: its JSON for the bundled example machine, for the
# public log of a real Windows machine and for a crypto-agile example log (read with --log) must
# equal the golden files in tests/data, which the Windows build under Wine is held to as well
# (besides the "machine" member, which only a simulated machine has); a missing log fails with
# exit 3, bad usage with exit 2, an unreadable file with exit 1 and a reason. Log files come as
# files, pipes or standard input alike; a file that is not a log draws a warning beside the
# module's answer; the machine a run uses is named and found relative to the program, wherever
# the program is copied.
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

# The answer without the "machine" member that opens it on a simulated machine directory.
without_machine() {
    sed -E '1s/^\{"machine": "[^"]*", /{/' "$1"
}

# run <name> <expected exit> <golden file or -> <qorvex-host arguments...>
run() {
    local name=$1 expectedExit=$2 golden=$3
    shift 3
    "$host" "$@" >"$work/$name.out" 2>"$work/$name.err"
    local status=$?
    if [[ $status -ne $expectedExit ]]; then
        fail "$name: exit $status, expected $expectedExit (qorvex-host $*)"
        sed 's/^/  stderr: /' "$work/$name.err" | head -5
        return 1
    fi
    if [[ $golden != - ]] && ! diff -u "$golden" <(without_machine "$work/$name.out") >"$work/$name.diff"; then
        fail "$name: output differs from $(basename "$golden")"
        head -c 4000 "$work/$name.diff"
        echo
        return 1
    fi
    echo "ok: $name"
}

have_sample=0
if [[ -f $sample ]]; then
    have_sample=1
else
    echo "skip: $sample is missing; the checks that read it are left out"
fi

run example-machine 0 "$data/tcg_log_example_machine.json" \
    --machine "$root/examples/machine" tcg-log --json &&
    grep -qF "{\"machine\": \"$root/examples/machine\", " "$work/example-machine.out" ||
    fail "example-machine: the answer does not name its machine"
if ((have_sample)); then
    run public-sample 0 "$data/tcg_log_public_sample.json" tcg-log --json --log "$sample"
fi
run agile-example 0 "$data/tcg_log_agile_example.json" \
    tcg-log --json --log "$logs/0000000017-0000000002.log"
# The example machine's three logs given as resumes of one boot read as the machine itself.
run logs-as-resumes 0 "$data/tcg_log_example_machine.json" \
    tcg-log --json --log "$logs/0000000017-0000000000.log" --log="$logs/0000000017-0000000001.log" \
    --log "$logs/0000000017-0000000002.log"
# Pipes, process substitution and standard input are read like the files.
run logs-as-streams 0 "$data/tcg_log_example_machine.json" \
    tcg-log --json --log <(cat "$logs/0000000017-0000000000.log") --log - \
    --log "$logs/0000000017-0000000002.log" <"$logs/0000000017-0000000001.log"

run missing-log 3 "$data/tcg_log_missing_log.json" \
    --machine "$data/missing-log-machine" tcg-log --json
if [[ -f $work/missing-log.err ]] &&
    ! grep -q '^\[300\] RuntimeError - TpmAttGetPlatformLogFromArchive has been failed, HRESULT = 80070002\. At component/antimalware/source/trusted_boot/tcg_log_provider/source/cryptography([0-9]*) $' \
        "$work/missing-log.err"; then
    fail "missing-log: no level-300 record naming the missing file's HRESULT"
    sed 's/^/  stderr: /' "$work/missing-log.err"
fi

# Text output names the machine, the count of paths and both digests; --quiet leaves out the
# module's trace records.
run text 0 - --machine "$root/examples/machine" tcg-log
if [[ -f $work/text.out ]]; then
    [[ $(head -1 "$work/text.out") == "simulated machine: $root/examples/machine" ]] ||
        fail "text: the first line does not name the machine"
    grep -q '^module paths (62):$' "$work/text.out" || fail "text: no path count line"
    grep -q '^PCR 4 compact hash: [0-9a-f]\{40\}$' "$work/text.out" || fail "text: no PCR 4 digest"
    grep -q '^PCR 8 compact hash: [0-9a-f]\{40\}$' "$work/text.out" || fail "text: no PCR 8 digest"
    grep -q '^\[700\] ' "$work/text.err" || fail "text: no trace records on stderr"
    if ((have_sample)); then
        grep -q '^PCR 4 compact hash: none$' < <("$host" tcg-log --log "$sample" 2>/dev/null) ||
            fail "text: the public sample has no PCR 4 digest"
    fi
fi
run quiet 0 - --quiet --machine "$root/examples/machine" tcg-log &&
    [[ ! -s $work/quiet.err ]] || fail "quiet: stderr is not empty"

run log-is-a-directory 1 - tcg-log --json --log "$root/examples" &&
    python3 -c 'import json,sys; assert json.load(open(sys.argv[1])) == {"error": sys.argv[2]}' \
        "$work/log-is-a-directory.out" "cannot read log file '$root/examples': is a folder" ||
    fail "log-is-a-directory: not a JSON error naming why"
run unreadable-log 1 - tcg-log --json --log "$work/no-such.log" &&
    grep -qxF "qorvex-host: cannot read log file '$work/no-such.log': no such file" \
        "$work/unreadable-log.err" || fail "unreadable-log: no reason"
run unknown-argument 2 - tcg-log --bogus
run log-without-file 2 - tcg-log --log
# An empty archived log is valid: the module reads nothing from it and succeeds, alone or as
# one resume among others.
: >"$work/empty.log"
run empty-log 0 - tcg-log --json --log "$work/empty.log"
if [[ -f $work/empty-log.out ]] &&
    ! grep -qxF '{"result": "0x00000000", "message": "No error", "modulePaths": [], "pcr4CompactHash": null, "pcr8CompactHash": null}' "$work/empty-log.out"; then
    fail "empty-log: not an empty successful answer"
    cat "$work/empty-log.out"
fi
if ((have_sample)); then
    run empty-log-among-resumes 0 "$data/tcg_log_public_sample.json" \
        tcg-log --json --log "$work/empty.log" --log "$sample"
fi

# A file that is not a log: the module answers as it does, and the host warns beside it, on
# stderr (kept with --quiet) and in the JSON answer.
cp /bin/ls "$work/ls-copy"
warning="$work/ls-copy: not a TCG event log: its first event would be for PCR 0x464C457F, not one of PCRs 0 to 23"
run not-a-log 0 - --quiet tcg-log --json --log "$work/ls-copy" &&
    python3 -c 'import json,sys; a=json.load(open(sys.argv[1])); assert a["result"] == "0x00000000" and a["warnings"] == [sys.argv[2]], a' \
        "$work/not-a-log.out" "$warning" || fail "not-a-log: no warning in the answer"
[[ $(cat "$work/not-a-log.err") == "qorvex-host: warning: $warning" ]] ||
    fail "not-a-log: stderr holds '$(cat "$work/not-a-log.err")'"

# The output refused: exit 1 and the reason, not a success.
"$host" --quiet --machine "$root/examples/machine" tcg-log >/dev/full 2>"$work/full.err"
status=$?
[[ $status -eq 1 ]] && grep -qxF "qorvex-host: cannot write the output: No space left on device" \
    "$work/full.err" || fail "tcg-log > /dev/full: exit $status, $(cat "$work/full.err")"

# The bundled machine is found relative to the program: a copy of the program with its
# libraries and share/ elsewhere runs on the machine beside it, and says which; without it, on
# an empty machine, and says that.
bin_dir=$(dirname "$host")
if [[ -d $bin_dir/../share/qorvex/machine ]]; then
    copy=$work/copy
    mkdir -p "$copy/bin" "$copy/lib" "$copy/share/qorvex"
    cp "$host" "$copy/bin/"
    cp "$bin_dir"/../lib/libqorvex*.so "$copy/lib/"
    cp -r "$bin_dir/../share/qorvex/machine" "$copy/share/qorvex/"
    "$copy/bin/qorvex-host" --quiet tcg-log >"$work/copy.out" 2>&1 || fail "copy: exit $?"
    [[ $(head -1 "$work/copy.out") == "simulated machine: $copy/share/qorvex/machine" ]] ||
        fail "copy: runs on '$(head -1 "$work/copy.out")'"
    grep -q '^module paths (62):$' "$work/copy.out" || fail "copy: not the bundled machine's logs"
    rm -rf "$copy/share"
    "$copy/bin/qorvex-host" --quiet --json tcg-log >"$work/copy-empty.out" 2>/dev/null
    status=$?
    [[ $status -eq 3 ]] || fail "copy without a machine: exit $status"
    grep -qF "{\"machine\": \"empty (no machine at $copy/share/qorvex/machine)\", \"result\": \"0x8" \
        "$work/copy-empty.out" || fail "copy without a machine: $(cat "$work/copy-empty.out")"
    echo "ok: the bundled machine lies beside the program"
else
    echo "skip: $bin_dir/../share/qorvex/machine is missing (not a build or install tree)"
fi

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
