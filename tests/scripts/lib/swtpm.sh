# A software TPM 2.0 for tests, to be sourced: swtpm on the loopback interface in a temporary
# folder, and tpm2-tools talking to it. swtpm is stopped and its folder removed when the shell
# exits, however it exits.
#
#   source tests/scripts/lib/swtpm.sh
#   swtpm_start                          # or skip the test (exit 77) saying why
#   swtpm_create_ak rsa "$dir/rsa"       # $dir/rsa.ctx, .pub (TPM2B_PUBLIC), .pem, .name
#   swtpm_create_ak ecc384 "$dir/p384" ecdsa sha384
#   swtpm_extend 0 sha256=<hex> sha1=<hex>
#   swtpm_quote "$dir/rsa" sha256:0,1,2 <nonce hex> "$dir/q"   # $dir/q.attest, .sig, .pcrs
#
# After swtpm_start: SWTPM_DIR (the temporary folder), SWTPM_PORT, SWTPM_PID, and
# TPM2TOOLS_TCTI exported for every tpm2 command. A test that needs its own exit work calls
# swtpm_stop from its own trap (swtpm_stop may run more than once).

SWTPM_DIR=
SWTPM_PID=
SWTPM_PORT=

swtpm_skip() {
    echo "SKIP: $*"
    exit 77
}

swtpm_stop() {
    if [[ -n $SWTPM_PID ]]; then
        kill "$SWTPM_PID" 2>/dev/null || true
        wait "$SWTPM_PID" 2>/dev/null || true
        SWTPM_PID=
    fi
    if [[ -n $SWTPM_DIR && -d $SWTPM_DIR ]]; then
        rm -rf "$SWTPM_DIR"
    fi
    SWTPM_DIR=
}

# Starts swtpm on two free loopback ports (the TPM and its control channel) with a fresh
# state, TPM2_Startup(CLEAR) done. Skips the test when swtpm or tpm2-tools are missing or swtpm
# does not come up.
swtpm_start() {
    local tool
    for tool in swtpm tpm2_createek tpm2_createak tpm2_readpublic tpm2_pcrextend tpm2_quote \
        tpm2_getrandom tpm2_flushcontext; do
        command -v "$tool" >/dev/null || swtpm_skip "$tool is not installed (scripts/install-deps.sh)"
    done
    SWTPM_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qorvex-swtpm.XXXXXX")
    trap swtpm_stop EXIT
    trap 'swtpm_stop; exit 130' INT TERM
    mkdir "$SWTPM_DIR/state"

    local attempt port
    for ((attempt = 0; attempt < 10; ++attempt)); do
        # An even port in the dynamic range and the one after it; taken ports make swtpm exit,
        # and the next attempt tries others.
        port=$((49152 + (RANDOM % 8000) * 2))
        swtpm socket --tpm2 --tpmstate dir="$SWTPM_DIR/state" \
            --server type=tcp,port=$port,bindaddr=127.0.0.1 \
            --ctrl type=tcp,port=$((port + 1)),bindaddr=127.0.0.1 \
            --flags not-need-init,startup-clear \
            --log file="$SWTPM_DIR/swtpm.log" >/dev/null 2>&1 &
        SWTPM_PID=$!
        SWTPM_PORT=$port
        export TPM2TOOLS_TCTI="swtpm:host=127.0.0.1,port=$port"
        local waited
        for ((waited = 0; waited < 50; ++waited)); do
            if ! kill -0 "$SWTPM_PID" 2>/dev/null; then break; fi
            if tpm2_getrandom 1 >/dev/null 2>&1; then return 0; fi
            sleep 0.1
        done
        kill "$SWTPM_PID" 2>/dev/null || true
        wait "$SWTPM_PID" 2>/dev/null || true
        SWTPM_PID=
    done
    swtpm_skip "swtpm did not start on the loopback interface (see its log: $(tail -n 3 "$SWTPM_DIR/swtpm.log" 2>/dev/null))"
}

# swtpm_create_ak KEY PREFIX [SCHEME [HASH]]: an endorsement key and an attestation key under
# it. KEY is tpm2-tools' key algorithm (rsa, rsa3072, ecc, ecc384, ...); SCHEME rsassa (RSA's
# default), rsapss or ecdsa (ECC's default); HASH sha256 unless given. Writes PREFIX.ctx (the
# AK's saved context), PREFIX.pub (TPM2B_PUBLIC, as tpm2_createak -u writes it), PREFIX.pem
# (SubjectPublicKeyInfo) and PREFIX.name.
swtpm_create_ak() {
    local alg=$1 prefix=$2 scheme=${3:-} hash=${4:-sha256} ek
    case $alg in
        rsa*) ek=rsa; scheme=${scheme:-rsassa} ;;
        ecc*) ek=ecc; scheme=${scheme:-ecdsa} ;;
        *) echo "swtpm_create_ak: an rsa or ecc key, not '$alg'" >&2; return 2 ;;
    esac
    # swtpm holds three transient objects: each step leaves none loaded (the saved contexts in
    # the .ctx files load again).
    swtpm_flush &&
        tpm2_createek -c "$prefix.ek.ctx" -G "$ek" -u "$prefix.ek.pub" >/dev/null &&
        swtpm_flush &&
        tpm2_createak -C "$prefix.ek.ctx" -c "$prefix.ctx" -G "$alg" -g "$hash" -s "$scheme" \
            -u "$prefix.pub" -n "$prefix.name" >/dev/null &&
        swtpm_flush &&
        tpm2_readpublic -c "$prefix.ctx" -f pem -o "$prefix.pem" >/dev/null &&
        swtpm_flush
}

# Flushes every loaded transient object and session.
swtpm_flush() {
    tpm2_flushcontext -t >/dev/null && tpm2_flushcontext -s >/dev/null
}

# swtpm_extend PCR BANK=HEX...: extends one PCR in each bank named with that digest.
swtpm_extend() {
    local pcr=$1
    shift
    local IFS=,
    tpm2_pcrextend "$pcr:$*"
}

# swtpm_quote AK_PREFIX SELECTION NONCE_HEX PREFIX [HASH [SCHEME]]: a quote of SELECTION
# (tpm2-tools' form, sha256:0,1,2+sha1:0) signed by the AK with HASH (sha256 unless given) and
# SCHEME (the key type's default unless given; an rsapss AK needs rsapss), the nonce as
# qualifying data. Writes
# PREFIX.attest (TPMS_ATTEST), PREFIX.sig (TPMT_SIGNATURE) and PREFIX.pcrs (the TPM's values,
# for tpm2_checkquote).
swtpm_quote() {
    local ak=$1 selection=$2 nonce=$3 prefix=$4 hash=${5:-sha256} scheme=()
    [[ -n ${6:-} ]] && scheme=(--scheme "$6")
    swtpm_flush &&
        tpm2_quote -c "$ak.ctx" -l "$selection" -q "$nonce" -g "$hash" "${scheme[@]}" \
            -m "$prefix.attest" -s "$prefix.sig" -o "$prefix.pcrs" >/dev/null &&
        swtpm_flush
}
