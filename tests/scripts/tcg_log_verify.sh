#!/usr/bin/env bash
# qorvex-host tcg-log --verify, --expect-pcrs and --health over every real sample and example
# log: no real log shows a digest mismatch, and each checks against its own PCR values (as our
# --pcrs JSON and as tpm2_pcrread's YAML); altered copies are caught (one byte of a separator's
# data changed, an event's type changed to EV_SEPARATOR, one byte of a Secure Boot variable
# changed), each naming the event, with exit code 7; a PCR value changed is a mismatch with both
# values; values that share no PCR with the log are no pass; --events marks every event; the
# health report holds every field, with the events it came from, and a summary. Usage errors get
# exit code 2.
# Usage: tcg_log_verify.sh <qorvex-host> <repo root> <shared dir>
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

command -v python3 >/dev/null || { echo "SKIP: python3 is not installed"; exit 77; }

# run <name> <expected exit> <qorvex-host arguments...>: stdout in $work/<name>.out.
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

logs=("$examples"/*.log)
if [[ -d $samples ]]; then
    logs+=("$samples"/*.log)
else
    echo "skip: the sample logs are not in $samples; the table covers the example logs only"
fi

# ---- Every real log: no mismatch, its own PCRs match, every event marked ---------------------
# (python runs once for all logs, not per log: starting it costs more than the checks.)
names=()
for file in "${logs[@]}"; do
    name=$(basename "$file" .log)
    run "verify-$name" 0 --json tcg-log --verify --log "$file" || continue
    run "pcrs-$name" 0 --json tcg-log --pcrs --log "$file" || continue
    run "expect-$name" 0 --json tcg-log --expect-pcrs "$work/pcrs-$name.out" --log "$file" || continue
    run "events-$name" 0 --json tcg-log --events --log "$file" || continue
    run "health-$name" 0 --json tcg-log --health --log "$file" || continue
    names+=("$name")
done
# tpm2_pcrread's form of the same values.
python3 - "$work" "${names[@]}" <<'PY'
import json, sys
work = sys.argv[1]
for name in sys.argv[2:]:
    log = json.load(open(f"{work}/pcrs-{name}.out"))["logs"][0]
    with open(f"{work}/pcrread-{name}.yaml", "w") as out:
        for bank, pcrs in log["pcrs"].items():
            if pcrs is None:
                continue
            print(f"  {bank}:", file=out)
            for pcr, value in pcrs.items():
                print(f"    {pcr:<2}: 0x{value.upper()}", file=out)
PY
for name in "${names[@]}"; do
    file=$(printf '%s\n' "${logs[@]}" | grep "/$name.log$")
    run "yaml-$name" 0 tcg-log --expect-pcrs "$work/pcrread-$name.yaml" --log "$file"
done
python3 - "$work" "${names[@]}" <<'PY' || fail "the reports of the real logs are wrong"
import json, sys
work = sys.argv[1]
def log(view, name):
    return json.load(open(f"{work}/{view}-{name}.out"))["logs"][0]
failed = False
for name in sys.argv[2:]:
    problems = []
    v = log("verify", name)["verification"]
    if not v["passed"] or v["eventDigests"]["mismatched"] != 0 or v["eventDigests"]["verified"] == 0:
        problems.append(f"digests: {v['eventDigests']}")
    e = log("expect", name)["verification"]["expectedPcrs"]
    if not e["passed"] or e["matched"] == 0 or any(p["outcome"] != "match" for p in e["pcrs"]):
        problems.append(f"expected PCRs: {e}")
    events = log("events", name)["events"]
    marks = {ev["digestCheck"] for ev in events}
    if not marks <= {"verified", "not checkable"} or len(events) == 0:
        problems.append(f"event marks: {marks}")
    if sum(ev["digestCheck"] == "verified" for ev in events) != v["eventDigests"]["verified"]:
        problems.append("the listing and the verification count differently")
    h = log("health", name)["health"]
    for field in ("boot", "bootCounter", "codeIntegrity", "testSigning", "loadedModules",
                  "loadedModuleCount", "elamDrivers", "secureBoot", "summary"):
        if field not in h:
            problems.append(f"health: no {field}")
    if len(h["loadedModules"]) != h["loadedModuleCount"]:
        problems.append("health: the modules and their count differ")
    for occurrence in h["codeIntegrity"] if isinstance(h["codeIntegrity"], list) else []:
        if not {"value", "pcr", "event", "phase"} <= occurrence.keys():
            problems.append(f"health: an occurrence without its origin: {occurrence}")
    if problems:
        print(name, *problems, sep="\n  ")
        failed = True
sys.exit(1 if failed else 0)
PY

# ---- Health of a Windows log: its facts, in order, with their events ------------------------
if [[ -d $samples ]]; then
    python3 - "$work/health-windows-tpm2-dell-latitude7520-sha256.out" <<'PY' || fail "latitude health"
import json, sys
h = json.load(open(sys.argv[1]))["logs"][0]["health"]
assert h["boot"] == "cold boot", h["boot"]
assert [o["value"] for o in h["bootCounter"]] == [187], h["bootCounter"]
assert [(o["pcr"], o["event"]) for o in h["bootCounter"]] == [(12, 50)], h["bootCounter"]
assert [o["value"] for o in h["bitlockerUnlock"]] == ["0x0", "0x0", "0x1", "0x1"], h["bitlockerUnlock"]
assert h["bitlockerUnlock"][2]["valueName"] == "cached", h["bitlockerUnlock"][2]
assert [o["phase"] for o in h["transferControl"]] == [1, 2], h["transferControl"]
assert h["siPolicy"][0]["value"]["name"] == "DriverSiPolicy.p7b", h["siPolicy"]
assert h["osRevocationList"][0]["value"]["hashAlgorithmName"] == "sha256", h["osRevocationList"]
assert h["winPE"] != "absent" and h["iommuRequired"] == "absent", (h["winPE"], h["iommuRequired"])
assert h["loadedModuleCount"] == len(h["loadedModules"]) > 0
# PCR 12's modules carry their hash alone; PCR 13's the whole record.
assert h["loadedModules"][0]["path"] == "absent", h["loadedModules"][0]
module = next(m for m in h["loadedModules"] if m["path"] != "absent")
assert module["pcr"] == 13 and module["validated"] is True, module
assert module["path"].lower().endswith("winload.efi"), module["path"]
assert {"issuer", "publisher", "serial", "sha1Thumbprint"} <= module["signer"].keys()
assert h["elamDrivers"][0]["keyName"] == "Windows Defender", h["elamDrivers"]
s = h["summary"]
assert s["testSigning"]["value"] == "off" and s["codeIntegrity"]["value"] == "on", s
assert s["dataExecutionPrevention"]["value"] == "on", s  # policy OptIn
sb = h["secureBoot"]
assert [o["value"] for o in sb["secureBoot"]] == ["off"], sb["secureBoot"]
db = sb["db"][0]["value"]["lists"]
certs = [c for l in db for c in l.get("certificates", [])]
assert any("Microsoft Windows Production PCA 2011" in c["subject"] for c in certs), certs
assert all(len(c["sha256Fingerprint"]) == 64 for c in certs), certs
dbx = sb["dbx"][0]["value"]["lists"]
assert any(l["typeName"] == "EFI_CERT_SHA256_GUID" and l["count"] > 0 for l in dbx), dbx
PY
fi

# ---- Altered copies: each change is caught, naming its event ----------------------------------
# alter <source> <dest> <event type> <what>: the first event of that type with data is changed,
# "data" (one byte of its data) or "separator" (its type becomes EV_SEPARATOR); prints its index.
# The offsets come from --events --json.
alter() {
    local source=$1 dest=$2 type=$3 what=$4
    "$host" --json tcg-log --events --log "$source" >"$work/alter.json" 2>/dev/null
    python3 - "$source" "$dest" "$type" "$what" "$work/alter.json" <<'PY'
import json, sys
source, dest, type_, what, listing = sys.argv[1:6]
events = json.load(open(listing))["logs"][0]["events"]
index = next(e["index"] for e in events if e["type"] == "EV_" + type_ and e["size"] > 0)
event = events[index]
data = bytearray(open(source, "rb").read())
start = event["offset"]
nextOffset = events[index + 1]["offset"] if index + 1 < len(events) else len(data)
if what == "separator":
    data[start + 4:start + 8] = (4).to_bytes(4, "little")
else:
    at = nextOffset - event["size"]  # the data ends the event
    data[at] = (data[at] + 1) % 256
open(dest, "wb").write(data)
print(index)
PY
}

# name|log|event|what|the check's expected mismatch (event index and type)
cases=$work/alterations.txt
cat >"$cases" <<EOT
example-separator-data|$examples/0000000017-0000000002.log|SEPARATOR|data|EV_SEPARATOR
example-retyped|$examples/0000000017-0000000002.log|EFI_ACTION|separator|EV_SEPARATOR
EOT
if [[ -d $samples ]]; then
    cat >>"$cases" <<EOT
latitude-separator-data|$samples/windows-tpm2-dell-latitude7520-sha256.log|SEPARATOR|data|EV_SEPARATOR
latitude-db-byte|$samples/windows-tpm2-dell-latitude7520-sha256.log|EFI_VARIABLE_DRIVER_CONFIG|data|EV_EFI_VARIABLE_DRIVER_CONFIG
yoga-sipa-byte|$samples/windows-tpm2-lenovo-x1yoga2.log|EVENT_TAG|data|EV_EVENT_TAG
yoga-retyped-action|$samples/windows-tpm2-lenovo-x1yoga2.log|EFI_ACTION|separator|EV_SEPARATOR
EOT
fi
while IFS='|' read -r name file kind what type; do
    index=$(alter "$file" "$work/$name.log" "$kind" "$what")
    run "altered-$name" 7 --json tcg-log --verify --log "$work/$name.log" || continue
    run "altered-events-$name" 0 --json tcg-log --events --log "$work/$name.log" || continue
    python3 - "$work/altered-$name.out" "$work/altered-events-$name.out" "$index" "$type" <<'PY' ||
import json, sys
path, listing, index, type_ = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
v = json.load(open(path))["logs"][0]["verification"]
mismatches = v["eventDigests"]["mismatches"]
assert not v["passed"] and mismatches, v
assert {m["index"] for m in mismatches} == {index}, mismatches
assert all(m["type"] == type_ and m["logged"] != m["computed"] for m in mismatches), mismatches
events = json.load(open(listing))["logs"][0]["events"]
assert [e["index"] for e in events if e["digestCheck"] == "mismatched"] == [index], "--events marks"
PY
        fail "$name: the mismatch is not reported as expected"
done <"$cases"

# ---- Expected PCRs: a changed value, values of another log, text forms -----------------------
example=$examples/0000000017-0000000002.log
run pcrs-example 0 --json tcg-log --pcrs --log "$example"
python3 - "$work/pcrs-example.out" "$work/changed.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
pcrs = doc["logs"][0]["pcrs"]["sha256"]
pcrs["7"] = "00" * 32
pcrs["16"] = "00" * 32
json.dump(doc, open(sys.argv[2], "w"))
PY
run expect-changed 7 tcg-log --expect-pcrs "$work/changed.json" --log "$example"
grep -q "^  sha256 7 mismatch: replayed [0-9a-f]\{64\} expected 0\{64\}$" "$work/expect-changed.out" ||
    fail "a changed PCR is not shown with both values: $(cat "$work/expect-changed.out")"
grep -q "^  sha256 16 not extended by the log 0\{64\} (its reset value)$" "$work/expect-changed.out" ||
    fail "a PCR the log does not extend is not listed"
printf '  sha384:\n    0 : 0x%s\n' "$(printf '00%.0s' {1..48})" >"$work/other-bank.yaml"
run expect-nothing-shared 7 tcg-log --expect-pcrs "$work/other-bank.yaml" --log "$example"
grep -q "no PCR of the log is in the values" "$work/expect-nothing-shared.out" ||
    fail "values sharing nothing with the log are not said to check nothing"
printf 'this is not a list of PCR values\n' >"$work/garbage.yaml"
run expect-garbage 1 tcg-log --expect-pcrs "$work/garbage.yaml" --log "$example"
grep -q "line 1 is neither a bank nor a PCR" "$work/expect-garbage.err" || fail "unreadable values"

# ---- Usage --------------------------------------------------------------------------------
run usage-two-logs 2 tcg-log --expect-pcrs "$work/changed.json" --log "$example" --log "$example"
run usage-health-verify 2 tcg-log --health --verify --log "$example"
run usage-no-log 2 tcg-log --health
run usage-quote-parts 2 tcg-log --quote q --log "$example"
run usage-nonce-alone 2 tcg-log --nonce 00 --log "$example" --verify

if ((failures > 0)); then
    echo "$failures failure(s)"
    exit 1
fi
echo "tcg_log_verify: all passed"
