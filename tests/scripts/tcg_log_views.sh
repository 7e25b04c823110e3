#!/usr/bin/env bash
# qorvex-host tcg-log --events and --pcrs, the log reader, as an analyst meets it: a table over
# every real sample and example log (what each is, how it ends, its events), cut copies (always
# truncated, with exact counts and the exit code for an incomplete log), files that are not logs
# (each with its reason and exit code), an empty log, pipes, process substitution and standard
# input read like files, file errors in plain words, a refused stdout, the module never loaded,
# numbers as analysts read them, and usage errors as JSON.
# Usage: tcg_log_views.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
root=$2
shared=$3
examples=$root/examples/machine/C/Windows/Logs/MeasuredBoot
samples=$shared/samples

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! command -v python3 >/dev/null; then
    echo "SKIP: python3 is not installed"
    exit 77
fi

# run <name> <expected exit> <qorvex-host arguments...>: stdout in $work/<name>.out, stderr in
# $work/<name>.err.
run() {
    local name=$1 expected=$2
    shift 2
    "$host" "$@" >"$work/$name.out" 2>"$work/$name.err"
    local status=$?
    if [[ $status -ne $expected ]]; then
        fail "$name: exit $status, expected $expected (qorvex-host $*)"
        sed 's/^/  stderr: /' "$work/$name.err" | head -5
        return 1
    fi
    return 0
}

# ---- Every real log: what it is and how it ends -------------------------------------------
# file|layout|algorithms|events|startup locality|padding (size@offset)
table=$work/logs.txt
cat >"$table" <<EOT
$examples/0000000017-0000000000.log|sha1|sha1|37|-|-
$examples/0000000017-0000000001.log|sha1|sha1|37|-|-
$examples/0000000017-0000000002.log|crypto-agile|sha1,sha256|39|0|-
EOT
if [[ -d $samples ]]; then
    cat >>"$table" <<EOT
$samples/firmware-dell-compacthash-pcr4.log|sha1|sha1|178|-|-
$samples/linux-tdx-ccel-padded.log|crypto-agile|sha384|44|-|244043@18101
$samples/windows-dell-poweredge-startuplocality.log|sha1|sha1|75|3|-
$samples/windows-gcp-shielded-vm.log|sha1|sha1|21|-|-
$samples/windows-option-rom.log|sha1|sha1|61|-|-
$samples/windows-tpm12-lenovo-x1carbon3.log|sha1|sha1|37|-|-
$samples/windows-tpm2-dell-latitude7520-sha256.log|crypto-agile|sha256|66|3|-
$samples/windows-tpm2-lenovo-x1yoga2.log|crypto-agile|sha1,sha256|54|-|-
EOT
else
    echo "skip: the sample logs are not in $samples; the table covers the example logs only"
fi

while IFS='|' read -r file layout algorithms events locality padding; do
    name=$(basename "$file")
    run "events-$name" 0 --json tcg-log --events --log "$file" || continue
    run "pcrs-$name" 0 --json tcg-log --pcrs --log "$file" || continue
    python3 - "$work/events-$name.out" "$work/pcrs-$name.out" "$file" "$layout" "$algorithms" \
        "$events" "$locality" "$padding" <<'PY' || fail "$name: the reports differ from the table"
import json, sys
events_path, pcrs_path, file, layout, algorithms, count, locality, padding = sys.argv[1:9]
for path, view in ((events_path, "events"), (pcrs_path, "pcrs")):
    logs = json.load(open(path))["logs"]
    assert len(logs) == 1, logs
    log = logs[0]
    problems = []
    def expect(key, value):
        if log.get(key) != value:
            problems.append(f"{view}: {key} is {log.get(key)!r}, expected {value!r}")
    expect("file", file)
    expect("layout", layout)
    expect("algorithms", algorithms.split(","))
    expect("eventCount", int(count))
    expect("eventsReplayed", int(count))
    expect("end", "complete")
    expect("startupLocality", None if locality == "-" else int(locality))
    if padding == "-":
        expect("endOffset", log["size"])
        if "padding" in log:
            problems.append(f"{view}: padding {log['padding']}")
    else:
        size, offset = map(int, padding.split("@"))
        expect("padding", {"offset": offset, "size": size, "byte": "0xFF"})
        expect("endOffset", offset)
    if view == "events":
        if [e["index"] for e in log["events"]] != list(range(int(count))):
            problems.append("events: not every event listed, in order")
        if not all(e["complete"] for e in log["events"]):
            problems.append("events: an event is not complete")
        ends = [e["offset"] for e in log["events"][1:]] + [log["endOffset"]]
        for event, end in zip(log["events"], ends):
            if event["index"] and event["offset"] >= end:
                problems.append(f"events: offsets out of order at #{event['index']}")
                break
    else:
        if sorted(log["pcrs"]) != sorted(algorithms.split(",")):
            problems.append(f"pcrs: banks {sorted(log['pcrs'])}")
        if not all(log["pcrs"].values()):
            problems.append("pcrs: a bank without values")
    for problem in problems:
        print("  " + problem)
    if problems:
        sys.exit(1)
PY
    echo "ok: $name"
done <"$table"

# The module's own rule is not the reader's: it reads the TDX log as the SHA-1 layout and stops
# after two events, while the reader reads it whole (above).
if [[ -f $samples/linux-tdx-ccel-padded.log ]]; then
    run module-tdx 0 --json tcg-log --log "$samples/linux-tdx-ccel-padded.log" &&
        python3 -c 'import json,sys; a=json.load(open(sys.argv[1])); assert a["result"] == "0x00000000" and a["modulePaths"] == [], a' \
            "$work/module-tdx.out" || fail "module-tdx: the module's answer changed"
fi

# ---- Cut copies: truncated, with the exact count of events ---------------------------------
# A log cut anywhere but on an event boundary is truncated (exit 6), never malformed; the
# events read are those that begin before the cut, the whole ones those that end before it.
agile=$examples/0000000017-0000000002.log
cuts=("$agile|1000" "$agile|10000" "$examples/0000000017-0000000000.log|5000")
if [[ -f $samples/windows-tpm2-dell-latitude7520-sha256.log ]]; then
    latitude=$samples/windows-tpm2-dell-latitude7520-sha256.log
    cuts+=("$latitude|1000" "$latitude|40000" "$samples/linux-tdx-ccel-padded.log|9000"
           "$samples/windows-gcp-shielded-vm.log|30000")
fi
for entry in "${cuts[@]}"; do
    file=${entry%|*} size=${entry#*|}
    name=$(basename "$file")-$size
    head -c "$size" "$file" >"$work/$name"
    run "whole-$name" 0 --json tcg-log --events --log "$file" || continue
    run "cut-$name" 6 --json tcg-log --events --log "$work/$name" || continue
    run "cut-pcrs-$name" 6 --json tcg-log --pcrs --log "$work/$name" || continue
    run "cut-text-$name" 6 tcg-log --pcrs --log "$work/$name" || continue
    python3 - "$work/whole-$name.out" "$work/cut-$name.out" "$work/cut-pcrs-$name.out" \
        "$work/cut-text-$name.out" "$work/cut-text-$name.err" "$size" <<'PY' || fail "$name: cut log"
import json, sys
whole = json.load(open(sys.argv[1]))["logs"][0]
cut = json.load(open(sys.argv[2]))["logs"][0]
pcrs = json.load(open(sys.argv[3]))["logs"][0]
text, err, size = open(sys.argv[4]).read(), open(sys.argv[5]).read(), int(sys.argv[6])
events = whole["events"]
begun = [e for e in events if e["offset"] < size]
ends = [e["offset"] for e in events[1:]] + [whole["endOffset"]]
wholeEvents = sum(1 for end in ends if end <= size)
assert cut["end"] == pcrs["end"] == "truncated", (cut["end"], pcrs["end"])
assert pcrs["eventsReplayed"] == cut["eventsReplayed"] == wholeEvents, (cut, wholeEvents)
listed = cut["events"]
assert cut["eventCount"] == len(listed) and len(listed) in (wholeEvents, wholeEvents + 1)
assert [e["offset"] for e in listed] == [e["offset"] for e in begun[:len(listed)]]
stop = begun[wholeEvents]
if len(listed) > wholeEvents:
    last = listed[-1]
    assert not last["complete"] and last["size"] == stop["size"], last
    dataBegin = ends[wholeEvents] - stop["size"]
    assert last["present"] == size - dataBegin, (last, size, dataBegin)
    reason = f"the log ends inside event #{wholeEvents} at offset {stop['offset']}, {last['present']} of its {last['size']} bytes of data present"
else:
    reason = f"the log ends inside the header of event #{wholeEvents} at offset {stop['offset']}"
assert cut["endReason"] == reason, (cut["endReason"], reason)
coverage = "no event" if wholeEvents == 0 else \
    f"the {wholeEvents} event{'s' if wholeEvents != 1 else ''} #0" + \
    (f" to #{wholeEvents - 1}" if wholeEvents > 1 else "")
assert f"  the PCR values cover {coverage}\n" in text, text[-300:]
assert f"truncated: {reason}; its PCR values cover {coverage}" in err, err
PY
    echo "ok: $name is truncated after the right event"
done

# ---- Not a log: the reason, exit 5; and an empty log ---------------------------------------
head -c 4096 /dev/urandom >"$work/random.bin"
printf 'tiny' >"$work/tiny.bin"
head -c 4096 /dev/zero | tr '\0' '\377' >"$work/all-ff.bin"
cp /bin/ls "$work/ls-copy"
: >"$work/empty.log"
while IFS='|' read -r name file reason; do
    run "not-$name" 5 --json tcg-log --events --log "$file" || continue
    python3 - "$work/not-$name.out" "$file" "$reason" <<'PY' || fail "not a log: $name"
import json, sys
log = json.load(open(sys.argv[1]))["logs"][0]
assert log["file"] == sys.argv[2] and log.get("notALog") is True, log
assert log["error"].startswith("not a TCG event log: " + sys.argv[3]), log["error"]
assert "events" not in log and "end" not in log, log
PY
    grep -qF "qorvex-host: $file: not a TCG event log: $reason" "$work/not-$name.err" ||
        fail "not a log: $name: no message on stderr"
    run "not-text-$name" 5 tcg-log --pcrs --log "$file" &&
        python3 -c 'import sys; line = open(sys.argv[1]).read(); assert line.startswith("log " + sys.argv[2] + ": ") and ", not a TCG event log: " + sys.argv[3] in line and line.count("\n") == 1, line' \
            "$work/not-text-$name.out" "$file" "$reason" || fail "not a log: $name: text"
done <<EOT
elf|$work/ls-copy|its first event would be for PCR 0x464C457F, not one of PCRs 0 to 23
random|$work/random.bin|its first event would
status|/proc/self/status|its first event would be for PCR 0x656D614E
tiny|$work/tiny.bin|it holds 4 bytes, fewer than the 32 of a first event's header
all-ff|$work/all-ff.bin|its first event would be for PCR 0xFFFFFFFF
EOT
echo "ok: files that are not logs"

run empty 0 --json tcg-log --pcrs --log "$work/empty.log" &&
    python3 -c 'import json,sys; l=json.load(open(sys.argv[1]))["logs"][0]; assert (l["size"], l["layout"], l["eventCount"], l["end"], l["pcrs"]) == (0, None, 0, "complete", {}), l' \
        "$work/empty.out" || fail "empty: not an empty, complete log"
run empty-text 0 tcg-log --events --log "$work/empty.log" &&
    [[ $(cat "$work/empty-text.out") == "log $work/empty.log: 0 bytes, an empty log
end complete, 0 events" ]] || fail "empty: text"

# ---- Pipes, process substitution, standard input: the same report as the file ---------------
run file-report 0 --json tcg-log --pcrs --log "$agile"
"$host" --json tcg-log --pcrs --log - <"$agile" >"$work/stdin.out" 2>/dev/null || fail "stdin: exit $?"
cat "$agile" | "$host" --json tcg-log --pcrs --log - >"$work/pipe.out" 2>/dev/null || fail "pipe: exit $?"
"$host" --json tcg-log --pcrs --log <(cat "$agile") >"$work/substitution.out" 2>/dev/null ||
    fail "process substitution: exit $?"
python3 - "$work/file-report.out" "$work/stdin.out" "$work/pipe.out" "$work/substitution.out" <<'PY' || fail "streams read differently from the file"
import json, sys
reports = [json.load(open(p))["logs"][0] for p in sys.argv[1:]]
assert reports[1]["file"] == reports[2]["file"] == "-", reports[1]["file"]
assert reports[3]["file"].startswith("/dev/fd/"), reports[3]["file"]
for r in reports:
    r.pop("file")
assert all(r == reports[0] for r in reports), reports
PY
run two-stdin 2 tcg-log --events --log - --log -
echo "ok: pipes, process substitution and standard input"

# ---- File errors say what happened; the run goes on and the worst outcome decides -----------
mkdir -p "$work/folder"
cp "$agile" "$work/locked.log"
chmod 000 "$work/locked.log"
while IFS='|' read -r name file reason; do
    run "error-$name" 1 --json tcg-log --events --log "$file" || continue
    python3 -c 'import json,sys; l=json.load(open(sys.argv[1]))["logs"][0]; assert l == {"file": sys.argv[2], "error": sys.argv[3]}, l' \
        "$work/error-$name.out" "$file" "cannot read log file '$file': $reason" ||
        fail "error-$name: JSON"
    grep -qxF "qorvex-host: cannot read log file '$file': $reason" "$work/error-$name.err" ||
        fail "error-$name: message"
done <<EOT
missing|$work/no-such.log|no such file
folder|$work/folder|is a folder
device|/dev/null|is a device, not a file
EOT
# Root reads any file: the refusal is shown as an unprivileged user where the test runs as root.
as_user=()
if [[ $(id -u) -eq 0 ]]; then
    chmod 755 "$work"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
if [[ $(id -u) -ne 0 ]] || command -v setpriv >/dev/null; then
    "${as_user[@]}" "$host" tcg-log --events --log "$work/locked.log" >/dev/null 2>"$work/locked.err"
    status=$?
    [[ $status -eq 1 ]] || fail "permission: exit $status"
    grep -qxF "qorvex-host: cannot read log file '$work/locked.log': permission denied" \
        "$work/locked.err" || fail "permission: no reason: $(cat "$work/locked.err")"
else
    echo "skip: running as root without setpriv, a refused permission cannot be shown"
fi
# Of unreadable (1), not a log (5) and incomplete (6), the first that any file meets counts;
# every file is reported, in order.
head -c 1000 "$agile" >"$work/cut.log"
run worst-unreadable 1 --json tcg-log --events --log "$work/cut.log" --log "$work/ls-copy" \
    --log "$work/no-such.log" --log "$agile"
run worst-not-a-log 5 tcg-log --pcrs --log "$work/cut.log" --log "$work/ls-copy" --log "$agile"
run worst-incomplete 6 tcg-log --pcrs --log "$agile" --log "$work/cut.log"
python3 -c 'import json,sys; print([l["file"] for l in json.load(open(sys.argv[1]))["logs"]])' \
    "$work/worst-unreadable.out" | grep -qF "['$work/cut.log', '$work/ls-copy', '$work/no-such.log', '$agile']" ||
    fail "several files: not every file reported in order"
echo "ok: file errors and exit codes"

# ---- The output refused: an error, not a success --------------------------------------------
for view in --events --pcrs; do
    "$host" tcg-log $view --log "$agile" >/dev/full 2>"$work/full.err"
    status=$?
    [[ $status -eq 1 ]] || fail "$view > /dev/full: exit $status"
    grep -qF "qorvex-host: cannot write the output: No space left on device" "$work/full.err" ||
        fail "$view > /dev/full: no message"
done

# ---- The module is not loaded for the reader's views -----------------------------------------
run no-module 0 --module "$work/no-such-module.so" tcg-log --events --log "$agile"
run no-module-pcrs 0 --module "$work/no-such-module.so" --json tcg-log --pcrs --log "$agile"

# ---- Numbers and texts as analysts read them ---------------------------------------------------
if [[ -f $samples/windows-tpm2-lenovo-x1yoga2.log ]]; then
    run numbers 0 tcg-log --events --log "$samples/windows-tpm2-lenovo-x1yoga2.log" &&
        for line in '#53 PCR 0xFFFFFFFF EV_NO_ACTION size 461 sha256:6856736ed44e5d6c2cd33f25afbabb9c05ea3e29b610d6d47ea9130d70da348d [not checkable]' \
            '        SIPAEVENT_HASHALGORITHMID: 0x800C' '        SIPAEVENT_IMAGEBASE: 0x446000'; do
            grep -qxF -- "$line" "$work/numbers.out" || fail "numbers: no line '$line'"
        done
fi
if [[ -f $samples/windows-tpm2-dell-latitude7520-sha256.log ]]; then
    run latitude-text 0 tcg-log --events --log "$samples/windows-tpm2-dell-latitude7520-sha256.log" &&
        grep -A4 '^#50 PCR 12 EV_EVENT_TAG size 216 ' "$work/latitude-text.out" | sed -n 5p |
        grep -qxF '      SIPAEVENT_BOOTCOUNTER: 187' || fail "latitude: the boot counter is not in event #50"
fi

# ---- Usage errors: exit 2, and JSON with --json ---------------------------------------------
while IFS='|' read -r args message; do
    eval "\"\$host\" --json tcg-log $args" >"$work/usage.out" 2>"$work/usage.err"
    status=$?
    [[ $status -eq 2 ]] || fail "tcg-log $args: exit $status, expected 2"
    python3 -c 'import json,sys; assert json.load(open(sys.argv[1])) == {"error": sys.argv[2]}' \
        "$work/usage.out" "$message" || fail "tcg-log $args: no JSON error"
    grep -q '^usage: qorvex-host' "$work/usage.err" || fail "tcg-log $args: no usage on stderr"
done <<EOT
--pcrs|--pcrs needs log files (--log FILE)
--events|--events needs log files (--log FILE)
--pcrs --events --log "$agile"|--pcrs and --events cannot be combined (but with --jsonl)
--bogus|tcg-log: unknown argument '--bogus'
--log|--log needs a file
EOT

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all tcg-log --events / --pcrs checks passed"
