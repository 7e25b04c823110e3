#!/usr/bin/env bash
# qorvex-host tcg-log --quote against a real TPM 2.0 (swtpm, through tpm2-tools): a log's events
# are extended into swtpm's PCRs, swtpm quotes them with a nonce, and qorvex-host accepts the log
# with that quote, and refuses, each by the check it names and with exit code 7: a log with one
# changed event, a wrong nonce, a quote signed by another key, a quote of other PCRs. Skipped
# (exit 77) when swtpm cannot start; swtpm is stopped however the test ends.
# Usage: tcg_log_quote_swtpm.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
root=$2
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed"; exit 77; }
# shellcheck source=lib/swtpm.sh
source "$root/tests/scripts/lib/swtpm.sh"
swtpm_start
dir=$SWTPM_DIR

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A crypto-agile log (SHA-1 and SHA-256, startup locality 0) that ships with the repository.
log=$root/examples/machine/C/Windows/Logs/MeasuredBoot/0000000017-0000000002.log
"$host" --json tcg-log --events --log "$log" >"$dir/events.json" || { fail "listing the log"; exit 1; }

# Every event a replay extends with, in log order, as tpm2_pcrextend arguments (one call for
# the whole log), and the selection of every PCR the log extends.
python3 - "$dir/events.json" "$dir/extends" "$dir/selection" <<'PY'
import json, sys
events = json.load(open(sys.argv[1]))["logs"][0]["events"]
extends, pcrs = [], []
for e in events:
    if e["type"] == "EV_NO_ACTION" or e["pcr"] > 23 or not e["complete"]:
        continue
    assert not 17 <= e["pcr"] <= 22, "PCRs 17-22 need locality 4"
    extends.append(f'{e["pcr"]}:' + ",".join(f"{b}={d}" for b, d in e["digests"].items()))
    if e["pcr"] not in pcrs:
        pcrs.append(e["pcr"])
open(sys.argv[2], "w").write("\n".join(extends) + "\n")
pcrs = ",".join(str(p) for p in sorted(pcrs))
open(sys.argv[3], "w").write(f"sha256:{pcrs}+sha1:{pcrs}\n")
PY
mapfile -t extends <"$dir/extends"
tpm2_pcrextend "${extends[@]}" >/dev/null || { fail "tpm2_pcrextend"; exit 1; }
selection=$(cat "$dir/selection")

swtpm_create_ak rsa "$dir/rsa" || { fail "creating the RSA AK"; exit 1; }
swtpm_create_ak ecc "$dir/ecc" || { fail "creating the ECC AK"; exit 1; }
nonce=c0ffee0123456789abcdef0123456789
swtpm_quote "$dir/rsa" "$selection" "$nonce" "$dir/q" || { fail "tpm2_quote"; exit 1; }
swtpm_quote "$dir/ecc" "$selection" "$nonce" "$dir/ecc-q" || { fail "tpm2_quote (ECC)"; exit 1; }
swtpm_quote "$dir/rsa" sha256:16,23 "$nonce" "$dir/other" || { fail "tpm2_quote (PCR 16, 23)"; exit 1; }

# A copy of the log with one event's logged SHA-256 digest changed (its data stays as it was):
# the replay no longer gives the quoted PCRs.
python3 - "$log" "$dir/events.json" "$dir/changed.log" <<'PY'
import json, sys
data = bytearray(open(sys.argv[1], "rb").read())
events = json.load(open(sys.argv[2]))["logs"][0]["events"]
event = next(e for e in events if e["type"] == "EV_SEPARATOR" and "sha256" in e["digests"])
digest = bytes.fromhex(event["digests"]["sha256"])
at = data.index(digest, event["offset"])
data[at] ^= 0x01
open(sys.argv[3], "wb").write(data)
PY

# expect NAME STATUS FAILED_CHECK LOG ARGS...: qorvex-host's exit status and, for a refusal,
# the one quote check that fails.
expect() {
    local name=$1 status=$2 failed=$3 file=$4
    shift 4
    "$host" --json tcg-log --log "$file" "$@" >"$dir/out.json" 2>"$dir/err.txt"
    local rc=$?
    if ((rc != status)); then
        fail "$name: qorvex-host exited $rc, not $status: $(cat "$dir/err.txt" "$dir/out.json")"
        return
    fi
    python3 - "$dir/out.json" "$failed" <<'PY' || fail "$name: not the expected checks"
import json, sys
quote = json.load(open(sys.argv[1]))["logs"][0]["verification"]["quote"]
failed = [c["name"] for c in quote["checks"] if c["result"] == "failed"]
want = [sys.argv[2]] if sys.argv[2] else []
assert failed == want, quote["checks"]
assert quote["verified"] == (not want), quote
assert [c["name"] for c in quote["checks"]] == ["signature", "quote", "nonce", "pcr-digest"]
PY
    echo "ok: $name"
}

expect "the log and its quote" 0 "" "$log" \
    --quote "$dir/q.attest" --signature "$dir/q.sig" --ak-public "$dir/rsa.pub" --nonce "$nonce"
expect "the log and its quote, ECC AK as PEM" 0 "" "$log" \
    --quote "$dir/ecc-q.attest" --signature "$dir/ecc-q.sig" --ak-public "$dir/ecc.pem" --nonce "$nonce"
expect "a log with one changed event" 7 "pcr-digest" "$dir/changed.log" \
    --quote "$dir/q.attest" --signature "$dir/q.sig" --ak-public "$dir/rsa.pub" --nonce "$nonce"
expect "a wrong nonce" 7 "nonce" "$log" \
    --quote "$dir/q.attest" --signature "$dir/q.sig" --ak-public "$dir/rsa.pub" --nonce 00112233
expect "a quote signed by another key" 7 "signature" "$log" \
    --quote "$dir/q.attest" --signature "$dir/q.sig" --ak-public "$dir/ecc.pub" --nonce "$nonce"
expect "a quote of other PCRs" 7 "pcr-digest" "$log" \
    --quote "$dir/other.attest" --signature "$dir/other.sig" --ak-public "$dir/rsa.pub" --nonce "$nonce"

# The text form names each check too.
"$host" tcg-log --log "$log" --quote "$dir/q.attest" --signature "$dir/q.sig" \
    --ak-public "$dir/rsa.pub" --nonce "$nonce" >"$dir/out.txt" 2>&1
for line in "quote: verified" "  signature: passed: " "  nonce: passed: " "  pcr-digest: passed: "; do
    grep -q "^$line" "$dir/out.txt" || fail "the text form lacks '$line'"
done
# A quote file that is missing is an error, exit code 1.
"$host" tcg-log --log "$log" --quote "$dir/missing" --signature "$dir/q.sig" \
    --ak-public "$dir/rsa.pub" >/dev/null 2>"$dir/err.txt"
rc=$?
((rc == 1)) && grep -q "cannot read quote '" "$dir/err.txt" || fail "a missing quote file: exit $rc, $(cat "$dir/err.txt")"

if ((failures > 0)); then
    echo "$failures failed"
    exit 1
fi
echo "tcg_log_quote_swtpm: all passed"
