#!/usr/bin/env bash
# qorvex-host tcg-log --pcrs --json against tpm2_eventlog (tpm2-tools), an independent reader:
# for every sample and example log that tpm2_eventlog reads, each bank and PCR it lists must be
# the one we print, with the same value. tpm2_eventlog 5.4 extends EV_NO_ACTION events and
# ignores StartupLocality, both against the PC Client rules; a PCR whose events it lists hold an
# EV_NO_ACTION is instead replayed here from the digests tpm2_eventlog lists, by those rules, and
# our value must equal that. Logs tpm2_eventlog refuses or crashes on are skipped by name; with
# no tpm2_eventlog at all the test is skipped (exit 77).
# Usage: tcg_log_pcrs.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
root=$2
shared=$3

if ! command -v tpm2_eventlog >/dev/null; then
    echo "SKIP: tpm2_eventlog (tpm2-tools) is not installed"
    exit 77
fi
if ! command -v python3 >/dev/null; then
    echo "SKIP: python3 is not installed"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
compared=0
logs=("$root"/examples/machine/C/Windows/Logs/MeasuredBoot/*.log)
if [[ -d $shared/samples ]]; then
    logs=("$shared"/samples/*.log "${logs[@]}")
else
    echo "skip: the sample logs are not in $shared/samples; comparing the example logs only"
fi
for log in "${logs[@]}"; do
    name=$(basename "$log")
    timeout 60 tpm2_eventlog "$log" >"$work/tpm2.yaml" 2>"$work/tpm2.err"
    status=$?
    if [[ $status -ge 128 ]]; then
        echo "skip: $name: tpm2_eventlog crashed (signal $((status - 128)))"
        continue
    elif [[ $status -ne 0 ]]; then
        echo "skip: $name: tpm2_eventlog refused it: $(grep -m1 ERROR "$work/tpm2.err")"
        continue
    fi
    if ! "$host" tcg-log --json --pcrs --log "$log" >"$work/ours.json" 2>"$work/ours.err"; then
        echo "FAIL: $name: qorvex-host tcg-log --pcrs failed"
        sed 's/^/  stderr: /' "$work/ours.err" | tail -5
        failures=$((failures + 1))
        continue
    fi
    if python3 - "$name" "$work/tpm2.yaml" "$work/ours.json" <<'PY'; then
import hashlib, json, re, sys

name, yaml_path, ours_path = sys.argv[1:4]
ours = json.load(open(ours_path))["logs"][0]["pcrs"]

# tpm2_eventlog's YAML, read line by line: the events (PCR, type, digest per algorithm, the
# event bytes where printed as one hex string) and the final "pcrs:" section.
events, banks, bank = [], {}, None
in_pcrs = False
algorithm = None
for line in open(yaml_path):
    text = line.strip()
    if line.startswith("pcrs:"):
        in_pcrs = True
        continue
    if in_pcrs:
        if re.fullmatch(r"[a-z0-9_]+:", text):
            bank = banks.setdefault(text[:-1], {})
        elif m := re.fullmatch(r"(\d+)\s*:\s*0x([0-9a-fA-F]+)", text):
            bank[m.group(1)] = m.group(2).lower()
        continue
    if m := re.match(r"(?:- EventNum: \d+|PCRIndex: (\d+))$", text):
        if m.group(1) is not None:
            if not events or "pcr" in events[-1]:
                events.append({"digests": {}})
            events[-1]["pcr"] = int(m.group(1))
        else:
            events.append({"digests": {}})
    elif m := re.fullmatch(r"EventType: (\S+)", text):
        events[-1]["type"] = m.group(1)
    elif m := re.fullmatch(r"- AlgorithmId: (\S+)", text):
        algorithm = m.group(1)
    elif (m := re.fullmatch(r'Digest: "([0-9a-f]+)"', text)) and algorithm:
        events[-1]["digests"][algorithm] = m.group(1)
        algorithm = None
    elif m := re.fullmatch(r'Event: "([0-9a-f]+)"', text):
        events[-1]["event"] = m.group(1)

HASHES = {"sha1": hashlib.sha1, "sha256": hashlib.sha256, "sha384": hashlib.sha384,
          "sha512": hashlib.sha512}
LOCALITY = "StartupLocality\0".encode().hex()

def replay(bank_name, pcr):
    """The PC Client replay of one PCR from tpm2_eventlog's digests."""
    h = HASHES[bank_name]
    size = h().digest_size
    value = bytearray(b"\xff" * size if 17 <= pcr <= 22 else bytes(size))
    extended = False
    for event in events:
        if event.get("pcr") != pcr:
            continue
        if event.get("type") == "EV_NO_ACTION":
            data = event.get("event", "")
            if pcr == 0 and not extended and data.startswith(LOCALITY) and len(data) >= 34:
                value[-1] = int(data[32:34], 16)
            continue
        if bank_name in event["digests"]:
            value = bytearray(h(bytes(value) + bytes.fromhex(event["digests"][bank_name])).digest())
            extended = True
    return value.hex()

problems, replayed = [], []
if not banks:
    problems.append("tpm2_eventlog printed no pcrs section")
for bank_name, values in banks.items():
    mine = ours.get(bank_name)
    if mine is None:
        problems.append(f"bank {bank_name}: missing from our output")
        continue
    if set(mine) != set(values):
        problems.append(f"bank {bank_name}: PCRs {sorted(mine, key=int)} vs tpm2_eventlog's "
                        f"{sorted(values, key=int)}")
    for pcr, theirs in values.items():
        no_action = any(e.get("pcr") == int(pcr) and e.get("type") == "EV_NO_ACTION"
                        for e in events)
        expected = replay(bank_name, int(pcr)) if no_action else theirs
        if no_action:
            replayed.append(f"{bank_name}/{pcr}")
        if mine.get(pcr) != expected:
            problems.append(f"bank {bank_name} PCR {pcr}: ours {mine.get(pcr)}, expected "
                            f"{expected}" + (" (replayed: tpm2_eventlog extends EV_NO_ACTION)"
                                             if no_action else ""))
for bank_name in ours:
    if bank_name not in banks:
        problems.append(f"bank {bank_name}: ours only")
for problem in problems:
    print(f"FAIL: {name}: {problem}")
count = sum(len(v) for v in banks.values())
if not problems:
    note = f"; replayed from its digests (EV_NO_ACTION): {' '.join(replayed)}" if replayed else ""
    print(f"ok: {name}: {count} PCR values agree with tpm2_eventlog{note}")
sys.exit(1 if problems else 0)
PY
        compared=$((compared + 1))
    else
        failures=$((failures + 1))
    fi
done

if [[ $failures -ne 0 ]]; then
    echo "$failures log(s) disagree"
    exit 1
fi
if [[ $compared -eq 0 ]]; then
    echo "SKIP: tpm2_eventlog read none of the logs"
    exit 77
fi
echo "all $compared logs tpm2_eventlog reads agree"
