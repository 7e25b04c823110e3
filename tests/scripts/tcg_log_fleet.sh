#!/usr/bin/env bash
# qorvex-host tcg-log --jsonl, --cel and diff over every real sample and example log:
#   --jsonl: one valid JSON document per log per line, in the order given, from --log, --log-dir
#     and a path list on standard input; unreadable files and non-logs give a line with their
#     error and the run goes on; --pcrs and --events members as the single-log views give them;
#   --events: every event of every log decoded, none of them malformed;
#   --cel: records that decode (base64) to the log's own event data and replay, with Python's
#     hashlib, to the PCR values of --pcrs;
#   --jsonl --verify --health: the same members as the single-log views; a mismatch exits 7
#   diff: each log against itself (exit 0), against an altered copy (exit 8, the altered PCR
#     and event named), and two different machines.
# Usage: tcg_log_fleet.sh <qorvex-host> <repo root> <shared dir>
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

logs=("$examples"/*.log)
[[ -d $samples ]] && logs+=("$samples"/*.log)

# ---- --jsonl: a line per log, in order, errors included --------------------------------------
printf 'not a log at all, just some text that is long enough\n' >"$work/text.log"
"$host" tcg-log --jsonl --pcrs --events --log "${logs[0]}" --log "$work/missing.log" \
    --log "$work/text.log" --log "${logs[-1]}" >"$work/mixed.out" 2>"$work/mixed.err"
status=$?
[[ $status -eq 1 ]] || fail "jsonl with a missing file: exit $status, expected 1"
python3 - "$work/mixed.out" "${logs[0]}" "$work/missing.log" "$work/text.log" "${logs[-1]}" <<'PY' ||
import json, sys
lines = open(sys.argv[1]).read().splitlines()
files = sys.argv[2:]
assert len(lines) == len(files), (len(lines), files)
docs = [json.loads(line) for line in lines]
assert [d["file"] for d in docs] == files, [d["file"] for d in docs]
assert "pcrs" in docs[0] and "events" in docs[0], sorted(docs[0])
assert "no such file" in docs[1]["error"] and "pcrs" not in docs[1], docs[1]
assert docs[2].get("notALog") is True and "events" not in docs[2], docs[2]
assert "pcrs" in docs[3] and "events" in docs[3]
PY
    fail "jsonl: the lines do not follow the logs given"

# The same logs from a folder and from a path list: the same documents as one --log each.
mkdir "$work/fleet"
for log in "${logs[@]}"; do cp "$log" "$work/fleet/"; done
run_jsonl() {
    "$host" tcg-log --jsonl --pcrs "$@" 2>>"$work/jsonl.err"
}
run_jsonl --log-dir "$work/fleet" >"$work/dir.out" || fail "jsonl --log-dir: exit $?"
ls "$work/fleet"/* | run_jsonl --log - >"$work/list.out" || fail "jsonl --log -: exit $?"
fleet_logs=()
for log in "$work/fleet"/*; do fleet_logs+=(--log "$log"); done
"$host" --json tcg-log --pcrs "${fleet_logs[@]}" >"$work/single.json" || fail "pcrs of the fleet"
python3 - "$work/single.json" "$work/dir.out" "$work/list.out" <<'PY' ||
import json, sys
single = {log["file"]: log for log in json.load(open(sys.argv[1]))["logs"]}
for path in sys.argv[2:4]:
    docs = {}
    for line in open(path).read().splitlines():
        doc = json.loads(line)
        docs[doc["file"]] = doc
    assert docs == single, (path, sorted(set(docs) ^ set(single)))
PY
    fail "jsonl: a document differs from its --pcrs document"
[[ $(wc -l <"$work/dir.out") -eq ${#logs[@]} ]] || fail "jsonl --log-dir: not one line per log"

# ---- --events: every event decoded, nothing malformed in real logs ---------------------------
# (The example machine's logs are built ones whose PK, KEK, db and dbx hold random bytes, shown
# as malformed signature lists; they are decoded all the same.)
all_logs=()
for log in "${logs[@]}"; do all_logs+=(--log "$log"); done
"$host" tcg-log --jsonl --events "${all_logs[@]}" >"$work/events.out" 2>/dev/null
python3 - "$work/events.out" "$examples" <<'PY' || fail "events: not every event decoded"
import json, sys
def malformed(tree):
    found, stack = [], [tree]
    while stack:
        node = stack.pop()
        if isinstance(node, dict):
            if "malformed" in node:
                found.append(node["malformed"]["reason"])
            stack.extend(node.values())
        elif isinstance(node, list):
            stack.extend(node)
    return found
for line in open(sys.argv[1]).read().splitlines():
    doc = json.loads(line)
    for event in doc["events"]:
        if not event["complete"]:
            continue
        assert "decoded" in event or "sipa" in event, (doc["file"], event["index"])
        if doc["file"].startswith(sys.argv[2]):
            continue
        # Windows writes trust points (EV_NO_ACTION) whose SIPA container claims more bytes
        # than the event holds; nothing else in a real log is malformed.
        for reason in malformed(event.get("decoded")):
            assert event["type"] == "EV_NO_ACTION" and reason.startswith("a SIPA container says"), (
                doc["file"], event["index"], event["type"], reason)
PY
if [[ -f $samples/windows-tpm2-lenovo-x1yoga2.log ]]; then
    "$host" tcg-log --events --log "$samples/windows-tpm2-lenovo-x1yoga2.log" >"$work/yoga.txt"
    grep -q 'CN=Microsoft Windows Production PCA 2011' "$work/yoga.txt" ||
        fail "events: the db certificates of the x1 Yoga are not described"
    grep -q 'HD(' "$work/yoga.txt" || fail "events: no hard-drive device path in the x1 Yoga log"
fi

# ---- --cel: records replay to the PCR values ----------------------------------------------------
"$host" tcg-log --cel "${all_logs[@]}" >"$work/cel.json" || fail "cel: exit $?"
"$host" --json tcg-log --pcrs "${all_logs[@]}" >"$work/pcrs.json"
python3 - "$work/cel.json" "$work/pcrs.json" <<'PY' || fail "cel: records do not replay to --pcrs"
import base64, hashlib, json, sys
logs = json.load(open(sys.argv[2]))["logs"]
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == len(logs), (len(lines), len(logs))
for line, pcrs in zip(lines, logs):
    records = json.loads(line)
    raw = open(pcrs["file"], "rb").read()
    assert [r["recnum"] for r in records] == list(range(len(records)))
    values = {}
    locality = None
    for r in records:
        assert r["content_type"] == "pcclient_std", r
        data = base64.b64decode(r["content"]["event_data"], validate=True)
        assert data in raw, (pcrs["file"], r["recnum"])
        pcr, kind = r["pcr"], r["content"]["event_type"]
        if kind == 3:
            if pcr == 0 and data.startswith(b"StartupLocality\0") and locality is None:
                locality = data[16]
            continue
        if pcr > 23:
            continue
        for d in r["digests"]:
            bank = values.setdefault(d["hashAlg"], {})
            size = hashlib.new(d["hashAlg"]).digest_size
            start = b"\xff" * size if 17 <= pcr <= 22 else b"\0" * size
            if pcr == 0 and locality is not None:
                start = start[:-1] + bytes([locality])
            bank[pcr] = hashlib.new(d["hashAlg"], bank.get(pcr, start) + bytes.fromhex(d["digest"])).digest()
    for name, expected in pcrs["pcrs"].items():
        got = {str(k): v.hex() for k, v in values.get(name, {}).items()}
        assert got == expected, (pcrs["file"], name, sorted(got), sorted(expected))
PY

# ---- diff ---------------------------------------------------------------------------------------
for log in "${logs[@]}"; do
    "$host" tcg-log diff "$log" "$log" >"$work/self.txt"
    status=$?
    [[ $status -eq 0 ]] || fail "diff $(basename "$log") with itself: exit $status"
    grep -qx 'replays: equal' "$work/self.txt" || fail "diff $(basename "$log") with itself"
done
if [[ -d $samples ]]; then
    # An EV_SEPARATOR's digest altered: PCR 7's separator, found by the listing.
    log=$samples/windows-tpm2-lenovo-x1yoga2.log
    python3 - "$log" "$work/altered.log" <<'PY'
import sys
raw = bytearray(open(sys.argv[1], "rb").read())
# In this log every EV_SEPARATOR digest is that of four zero bytes; change the PCR 7 one's.
import hashlib
sep1 = hashlib.sha1(b"\0\0\0\0").digest()
header = (7).to_bytes(4, "little") + (4).to_bytes(4, "little")
at = raw.find(header, 100)
assert at > 0
raw[at + 14] ^= 0xFF  # inside the first digest after the digest count
open(sys.argv[2], "wb").write(raw)
PY
    "$host" --json tcg-log diff "$log" "$work/altered.log" >"$work/altered.json"
    status=$?
    [[ $status -eq 8 ]] || fail "diff with an altered copy: exit $status, expected 8"
    python3 - "$work/altered.json" <<'PY' || fail "diff with an altered copy: wrong PCR or event"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["replaysEqual"] is False
differing = [p for p in doc["pcrs"] if p["replayDiffers"]]
assert [p["pcr"] for p in differing] == [7], [p["pcr"] for p in differing]
responsible = differing[0]["responsible"]
assert responsible["op"] == "changed", responsible
step = next(s for s in differing[0]["steps"] if s["op"] == "changed")
assert step["a"]["type"] == "EV_SEPARATOR" and step["a"]["index"] == responsible["a"], step
PY
    "$host" tcg-log diff "$samples/windows-tpm12-lenovo-x1carbon3.log" \
        "$samples/windows-tpm2-lenovo-x1yoga2.log" >"$work/machines.txt"
    status=$?
    [[ $status -eq 8 ]] || fail "diff of two machines: exit $status, expected 8"
    grep -q '^replays: differ in PCRs 0, ' "$work/machines.txt" ||
        fail "diff of two machines: $(tail -1 "$work/machines.txt")"
fi
"$host" tcg-log diff "${logs[0]}" "$work/missing.log" >/dev/null 2>&1
[[ $? -eq 1 ]] || fail "diff with a missing file: not exit 1"
"$host" tcg-log diff "${logs[0]}" "$work/text.log" >/dev/null 2>&1
[[ $? -eq 5 ]] || fail "diff with a file that is not a log: not exit 5"
"$host" tcg-log diff "${logs[0]}" >/dev/null 2>&1
[[ $? -eq 2 ]] || fail "diff with one file: not exit 2"

# ---- --jsonl with the checks: the same verification and health as the single-log views ------
"$host" tcg-log --jsonl --verify --health "${all_logs[@]}" >"$work/checks.out" 2>/dev/null ||
    fail "jsonl --verify --health over the real logs: exit $?"
for log in "${logs[@]}"; do
    "$host" --json tcg-log --verify --log "$log" >>"$work/verify.out" 2>/dev/null
    "$host" --json tcg-log --health --log "$log" >>"$work/health.out" 2>/dev/null
done
python3 - "$work/checks.out" "$work/verify.out" "$work/health.out" <<'PY' ||
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1]).read().splitlines()]
def singles(path):
    docs, text = [], open(path).read()
    decoder, at = json.JSONDecoder(), 0
    while at < len(text):
        while at < len(text) and text[at].isspace():
            at += 1
        if at == len(text):
            break
        doc, at = decoder.raw_decode(text, at)
        docs.extend(doc["logs"])
    return docs
verify, health = singles(sys.argv[2]), singles(sys.argv[3])
assert len(lines) == len(verify) == len(health), (len(lines), len(verify), len(health))
for line, v, h in zip(lines, verify, health):
    assert line["verification"] == v["verification"], line["file"]
    assert line["health"] == h["health"], line["file"]
PY
    fail "jsonl: the checks' members differ from --verify / --health"
if [[ -f $work/altered.log ]]; then
    "$host" tcg-log --jsonl --verify --log "${logs[0]}" --log "$work/altered.log" \
        >"$work/altered-checks.out" 2>/dev/null
    status=$?
    [[ $status -eq 7 ]] || fail "jsonl --verify with an altered log: exit $status, expected 7"
    grep -q '"passed": false' "$work/altered-checks.out" ||
        fail "jsonl --verify with an altered log: no failed verification"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all tcg-log --jsonl / --cel / diff checks passed"
