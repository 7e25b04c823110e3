#!/usr/bin/env bash
# What starting qorvex-host costs for the runs that hash nothing (--version, chain, tcg-log on
# the module's default machine), beside the floor of starting a process at all (/bin/true), for
# one or more qorvex-host builds measured side by side in one run: this is how the way libcrypto
# is linked was chosen (README, "Cryptography"). Each command runs RUNS times per build, the
# builds alternating, output to /dev/null; reported are the best and the median wall time (the
# shell's clock, microseconds, fork and exec included) and the fewest minor page faults of 3
# runs (/usr/bin/time %R), which a busy machine does not change.
#
#   bench/host_start.sh [LABEL=QORVEX_HOST ...]     (default: this=build/default/bin/qorvex-host;
#                                                   RUNS=N to change 101)
# A further run, `tcg-log --pcrs --log` of a real 64 KiB log, shows the cost when the digests
# are used.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUNS=${RUNS:-101}
SAMPLE=$ROOT/../shared/samples/windows-tpm2-dell-latitude7520-sha256.log
if (($# == 0)); then set -- "this=$ROOT/build/default/bin/qorvex-host"; fi

labels=()
hosts=()
[[ -x /usr/bin/time ]] || { echo "host_start: /usr/bin/time is missing" >&2; exit 1; }
for pair in "$@"; do
    labels+=("${pair%%=*}")
    hosts+=("${pair#*=}")
    [[ -x ${pair#*=} ]] || { echo "host_start: ${pair#*=} is missing (build it first)" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

wall_us() {
    local start=$EPOCHREALTIME end
    "$@" >/dev/null 2>&1 || { echo "host_start: '$*' failed" >&2; exit 1; }
    end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) ))
}

faults() {
    local i n best=
    for ((i = 0; i < 3; ++i)); do
        /usr/bin/time -f '%R' -o "$WORK/faults" "$@" >/dev/null 2>&1 || true
        n=$(tail -n 1 "$WORK/faults")
        if [[ -z $best ]] || ((n < best)); then best=$n; fi
    done
    echo "$best"
}

stats() {
    sort -n "$1" | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "best %7.2f ms  median %7.2f ms", v[1] / 1000, m / 1000 }'
}

# measure NAME ARGS...: the command with every host, and /bin/true as the floor.
measure() {
    local name=$1 i h
    shift
    : >"$WORK/true.us"
    for h in "${!hosts[@]}"; do : >"$WORK/$h.us"; done
    for ((i = 0; i < RUNS; ++i)); do
        wall_us /bin/true >>"$WORK/true.us"
        for h in "${!hosts[@]}"; do
            wall_us "${hosts[$h]}" "$@" >>"$WORK/$h.us"
        done
    done
    echo "$name"
    printf "  %-16s %s  page faults %s\n" "/bin/true" "$(stats "$WORK/true.us")" \
        "$(faults /bin/true)"
    for h in "${!hosts[@]}"; do
        printf "  %-16s %s  page faults %s\n" "${labels[$h]}" "$(stats "$WORK/$h.us")" \
            "$(faults "${hosts[$h]}" "$@")"
    done
}

echo "runs per command and build: $RUNS"
measure "qorvex-host --version" --version
measure "qorvex-host chain" chain
measure "qorvex-host tcg-log --json (module, default machine)" tcg-log --json
if [[ -r $SAMPLE ]]; then
    measure "qorvex-host tcg-log --pcrs --log (64 KiB real log: hashes)" tcg-log --pcrs --log "$SAMPLE"
fi
