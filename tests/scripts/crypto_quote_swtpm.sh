#!/usr/bin/env bash
# TPM quotes made by a real TPM 2.0 (swtpm, through tpm2-tools) and verified with the crypto
# library (quote_check, beside qorvex-host) and, as an independent check, tpm2_checkquote:
# genuine quotes by an RSA and an ECC attestation key (its public key as TPM2B_PUBLIC and as
# PEM) pass; a changed attestation, another nonce, another AK, PCR values the log does not
# replay to and a quote of PCRs the log does not extend are refused, each by the check it names.
# Skipped (exit 77) when swtpm cannot start. swtpm is stopped however the test ends.
# Usage: crypto_quote_swtpm.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

root=$2
check=$(dirname "$1")/quote_check
[[ -x $check ]] || { echo "FAIL: $check is missing (build the default preset)"; exit 1; }
# shellcheck source=lib/swtpm.sh
source "$root/tests/scripts/lib/swtpm.sh"
swtpm_start
dir=$SWTPM_DIR

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The "log": digests extended into PCRs 0-7 of the SHA-256 bank and PCR 0 of SHA-1, also
# handed to quote_check as the replay.
extends=()
for pcr in 0 1 2 3 4 5 6 7; do
    for event in 1 2; do
        digest=$(printf 'event %d of pcr %d' "$event" "$pcr" | sha256sum | cut -c1-64)
        swtpm_extend "$pcr" "sha256=$digest" || { fail "tpm2_pcrextend $pcr"; exit 1; }
        extends+=(--extend "sha256:$pcr=$digest")
    done
done
sha1=$(printf 'sha1 event' | sha1sum | cut -c1-40)
swtpm_extend 0 "sha1=$sha1" || { fail "tpm2_pcrextend sha1"; exit 1; }
extends+=(--extend "sha1:0=$sha1")

swtpm_create_ak rsa "$dir/rsa" || { fail "creating the RSA AK"; exit 1; }
swtpm_create_ak ecc "$dir/ecc" || { fail "creating the ECC AK"; exit 1; }
nonce=5eed0123456789abcdef0123456789ab
selection=sha256:0,1,2,3,4,5,6,7+sha1:0
swtpm_quote "$dir/rsa" "$selection" "$nonce" "$dir/rsa-quote" || { fail "tpm2_quote (RSA)"; exit 1; }
swtpm_quote "$dir/ecc" "$selection" "$nonce" "$dir/ecc-quote" || { fail "tpm2_quote (ECC)"; exit 1; }
swtpm_quote "$dir/rsa" sha256:16 "$nonce" "$dir/pcr16-quote" || { fail "tpm2_quote (PCR 16)"; exit 1; }

# expect NAME STATUS FAILED_CHECK ARGS...: quote_check's exit status and, for a refusal, the
# check that must fail (and no other).
expect() {
    local name=$1 status=$2 failed=$3
    shift 3
    local out rc
    out=$("$check" "$@" 2>&1)
    rc=$?
    if ((rc != status)); then
        fail "$name: quote_check exited $rc, not $status"$'\n'"$out"
        return
    fi
    if [[ -n $failed ]]; then
        local failing
        failing=$(grep ': failed: ' <<<"$out" | cut -d: -f1 | tr '\n' ' ')
        [[ $failing == "$failed " ]] || fail "$name: failed checks '$failing', expected '$failed'"$'\n'"$out"
    fi
    echo "ok: $name"
}

# checkquote NAME 0|1 ARGS...: tpm2_checkquote accepts (0) or refuses (1).
checkquote() {
    local name=$1 want=$2
    shift 2
    if tpm2_checkquote "$@" >/dev/null 2>&1; then
        ((want == 0)) || fail "tpm2_checkquote accepted $name"
    else
        ((want != 0)) || fail "tpm2_checkquote refused $name"
    fi
}

q=$dir/rsa-quote
e=$dir/ecc-quote
expect "genuine RSA quote, AK as TPM2B_PUBLIC" 0 "" \
    --attest "$q.attest" --sig "$q.sig" --ak "$dir/rsa.pub" --nonce "$nonce" "${extends[@]}"
expect "genuine RSA quote, AK as PEM" 0 "" \
    --attest "$q.attest" --sig "$q.sig" --ak "$dir/rsa.pem" --nonce "$nonce" "${extends[@]}"
expect "genuine ECC quote" 0 "" \
    --attest "$e.attest" --sig "$e.sig" --ak "$dir/ecc.pub" --nonce "$nonce" "${extends[@]}"
expect "genuine ECC quote, AK as PEM, no nonce" 0 "" \
    --attest "$e.attest" --sig "$e.sig" --ak "$dir/ecc.pem" "${extends[@]}"
checkquote "the genuine RSA quote" 0 -u "$dir/rsa.pub" -m "$q.attest" -s "$q.sig" -f "$q.pcrs" -g sha256 -q "$nonce"
checkquote "the genuine ECC quote" 0 -u "$dir/ecc.pem" -m "$e.attest" -s "$e.sig" -f "$e.pcrs" -g sha256 -q "$nonce"

# One byte of the clock changed: offset 2+4+2 (magic, type... after the 34-byte signer name
# and the 16-byte nonce with their sizes).
cp "$q.attest" "$dir/changed.attest"
printf '\x77' | dd of="$dir/changed.attest" bs=1 seek=$((4 + 2 + 2 + 34 + 2 + 16 + 5)) conv=notrunc status=none
expect "a changed attestation" 1 "signature" \
    --attest "$dir/changed.attest" --sig "$q.sig" --ak "$dir/rsa.pub" --nonce "$nonce" "${extends[@]}"
checkquote "a changed attestation" 1 -u "$dir/rsa.pub" -m "$dir/changed.attest" -s "$q.sig" -f "$q.pcrs" -g sha256 -q "$nonce"

expect "another nonce" 1 "nonce" \
    --attest "$q.attest" --sig "$q.sig" --ak "$dir/rsa.pub" --nonce 00112233 "${extends[@]}"
checkquote "another nonce" 1 -u "$dir/rsa.pub" -m "$q.attest" -s "$q.sig" -f "$q.pcrs" -g sha256 -q 00112233

expect "another AK" 1 "signature" \
    --attest "$q.attest" --sig "$q.sig" --ak "$dir/ecc.pub" --nonce "$nonce" "${extends[@]}"
checkquote "another AK" 1 -u "$dir/ecc.pem" -m "$q.attest" -s "$q.sig" -f "$q.pcrs" -g sha256 -q "$nonce"

other=("${extends[@]}")
other[5]="sha256:1=$(printf 'another event' | sha256sum | cut -c1-64)"
expect "a log whose PCR 1 differs" 1 "pcr-digest" \
    --attest "$q.attest" --sig "$q.sig" --ak "$dir/rsa.pub" --nonce "$nonce" "${other[@]}"

p=$dir/pcr16-quote
expect "a quote of PCRs the log does not extend" 1 "pcr-digest" \
    --attest "$p.attest" --sig "$p.sig" --ak "$dir/rsa.pub" --nonce "$nonce" "${extends[@]}"

if ((failures > 0)); then
    echo "$failures failed"
    exit 1
fi
echo "all quote cases as expected"
