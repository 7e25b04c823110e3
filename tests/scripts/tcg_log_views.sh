#!/usr/bin/env bash
# qorvex-host tcg-log --events and --pcrs on real logs: decisive lines of the event listing of a
# TPM 2.0 Windows log (its Spec ID header, a SIPA file path and boot counter at their depth), the
# JSON listing's events and paths, the "pcrs" member joining the module's JSON answer one object
# per file, and the usage errors of the two flags.
# Usage: tcg_log_views.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
root=$2
shared=$3
latitude=$shared/samples/windows-tpm2-dell-latitude7520-sha256.log
gcp=$shared/samples/windows-gcp-shielded-vm.log
example=$root/examples/machine/C/Windows/Logs/MeasuredBoot/0000000017-0000000002.log

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -f $latitude || ! -f $gcp ]]; then
    echo "SKIP: the sample logs are not in $shared/samples"
    exit 77
fi

# --events, text: each expected line must appear as a whole line.
if "$host" tcg-log --events --log "$latitude" >"$work/events.txt" 2>"$work/events.err"; then
    while IFS= read -r line; do
        grep -qxF -- "$line" "$work/events.txt" || fail "events text: no line '$line'"
    done <<'EOT'
layout crypto-agile, digests sha256
#0 PCR 0 EV_NO_ACTION size 33 sha1:0000000000000000000000000000000000000000
#1 PCR 0 EV_NO_ACTION size 17 sha256:0000000000000000000000000000000000000000000000000000000000000000
#51 PCR 13 EV_EVENT_TAG size 440 sha256:ca1459499f856aaa3936d2bb91b4451357c114bff4bfc0d052ec057e54e2110b
    SIPAEVENT_TRUSTBOUNDARY
      SIPAEVENT_BOOTCOUNTER: 187
      SIPAEVENT_LOADEDMODULE_AGGREGATION
        SIPAEVENT_FILEPATH: \WINDOWS\system32\winload.efi
        SIPAEVENT_IMAGESIZE: 2592768
        SIPAEVENT_AUTHORITYISSUER: Microsoft Windows Production PCA 2011
end complete, 66 events
EOT
else
    fail "events text: exit $?"
    cat "$work/events.err"
fi
[[ $(head -1 "$work/events.txt") == "log $latitude" ]] || fail "events text: first line names not the file"

# --events, JSON: one document, every event, the file paths the module finds in the same log.
if "$host" tcg-log --json --events --log "$latitude" --log "$example" >"$work/events.json"; then
    python3 - "$work/events.json" <<'PY' || fail "events json"
import json, sys
logs = json.load(open(sys.argv[1]))["logs"]
assert len(logs) == 2, len(logs)
first = logs[0]
assert first["layout"] == "crypto-agile" and first["algorithms"] == ["sha256"], first["algorithms"]
assert first["end"] == "complete" and first["eventCount"] == 66 == len(first["events"])
assert [e["index"] for e in first["events"]] == list(range(66))
def walk(elements):
    for element in elements:
        yield element
        yield from walk(element.get("children", []))
paths = [x["value"] for e in first["events"] if e["type"] == "EV_EVENT_TAG"
         for x in walk(e["sipa"]) if x["type"] == "SIPAEVENT_FILEPATH"]
assert len(paths) == 87 and paths[0] == "\\WINDOWS\\system32\\winload.efi", paths[:1]
assert paths[-1] == "\\WINDOWS\\System32\\drivers\\vpci.sys", paths[-1]
assert logs[1]["algorithms"] == ["sha1", "sha256"]
assert set(logs[1]["events"][2]["digests"]) == {"sha1", "sha256"}
PY
else
    fail "events json: exit $?"
fi

# --pcrs, JSON: the module's members stay, "pcrs" has one object per file in the given order.
if "$host" tcg-log --json --pcrs --log "$gcp" --log "$latitude" >"$work/pcrs.json" 2>/dev/null; then
    python3 - "$work/pcrs.json" <<'PY' || fail "pcrs json"
import json, sys
answer = json.load(open(sys.argv[1]))
assert answer["result"] == "0x00000000", answer["result"]
assert len(answer["modulePaths"]) == 64 + 87, len(answer["modulePaths"])
pcrs = answer["pcrs"]
assert [sorted(p) for p in pcrs] == [["sha1"], ["sha256"]], pcrs
assert pcrs[0]["sha1"]["0"] == "51c323de0c0c694f4601cdd02beb58ff13629f74"
assert all(len(v) == 64 for v in pcrs[1]["sha256"].values())
PY
else
    fail "pcrs json: exit $?"
fi
# --pcrs, text: the module's lines, then a table per file.
"$host" tcg-log --pcrs --log "$latitude" >"$work/pcrs.txt" 2>/dev/null
grep -q '^module paths (87):$' "$work/pcrs.txt" || fail "pcrs text: the module's answer is missing"
grep -q '^PCRs of .*latitude7520-sha256.log (crypto-agile layout, startup locality 3):$' \
    "$work/pcrs.txt" || fail "pcrs text: no table heading"
grep -qx '  sha256    0  3fb71d951308c9da8ef41023ecb271115094ce818a3d2b0a951890c372bb2942' \
    "$work/pcrs.txt" || fail "pcrs text: no PCR 0 row"

# A log file may carry a flag's name.
cp "$gcp" "$work/--pcrs"
(cd "$work" && "$host" tcg-log --json --pcrs --log --pcrs) >"$work/named.json" 2>/dev/null ||
    fail "a log named --pcrs: exit $?"
python3 -c 'import json, sys; a = json.load(open(sys.argv[1])); assert len(a["modulePaths"]) == 64 and len(a["pcrs"]) == 1' \
    "$work/named.json" || fail "a log named --pcrs: not read as a log"

# Usage errors (exit 2) and unreadable files (exit 1).
while IFS='|' read -r expected args; do
    eval "\"\$host\" tcg-log $args" >/dev/null 2>"$work/usage.err"
    status=$?
    [[ $status == "$expected" ]] || fail "tcg-log $args: exit $status, expected $expected"
done <<EOT
2|--pcrs
2|--events
2|--pcrs --events --log "$gcp"
1|--events --log "$work/no-such.log"
1|--json --pcrs --log "$work/no-such.log"
EOT

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all tcg-log --events / --pcrs checks passed"
