#!/usr/bin/env bash
# Whole-process speed and memory of `qorvex-host tcg-log --json --log FILE` beside
# `tpm2_eventlog FILE` on the same file, measured in one run, side by side:
#   - a real Windows log of about 64 KiB from the shared samples (one tpm2_eventlog reads whole);
#   - a 16 MiB crypto-agile log made by tcglog-build (which tpm2_eventlog also reads whole).
# Each program runs RUNS times per log, the two alternating, output to /dev/null. Reported: the
# best and the median wall time of each (the shell's clock, microseconds, fork and exec
# included), the largest peak RSS of each (/usr/bin/time %M) and the ratios qorvex-host /
# tpm2_eventlog. Targets: time ratio at most 0.2 on both logs; qorvex-host's peak RSS at most
# 1.5 x the log + 16 MiB. On a busy machine the best of the runs is the steadier figure.
#
#   bench/tcg_log_vs_tpm2.sh [BUILD_DIR]      (default build/release; RUNS=N to change 15;
#                                              HOST=PATH to measure another qorvex-host build)
# Needs a built qorvex-host and tcglog-build, tpm2_eventlog and /usr/bin/time
# (scripts/install-deps.sh installs both).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build/release}
RUNS=${RUNS:-15}
HOST=${HOST:-$BUILD/bin/qorvex-host}
BUILDER=$BUILD/bin/tcglog-build
SAMPLE=$ROOT/../shared/samples/windows-tpm2-dell-latitude7520-sha256.log

for tool in "$HOST" "$BUILDER" /usr/bin/time; do
    [[ -x $tool ]] || { echo "tcg_log_vs_tpm2: $tool is missing (build it first)" >&2; exit 1; }
done
command -v tpm2_eventlog >/dev/null || { echo "tcg_log_vs_tpm2: tpm2_eventlog is missing" >&2; exit 1; }
[[ -r $SAMPLE ]] || { echo "tcg_log_vs_tpm2: $SAMPLE is missing" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
BIG=$WORK/generated-16mib.log
"$BUILDER" big --size $((16 << 20)) --layout agile --out "$BIG" >/dev/null

# Wall time of one run in microseconds; the run must succeed.
wall_us() {
    local start=$EPOCHREALTIME end
    "$@" >/dev/null 2>&1 || { echo "tcg_log_vs_tpm2: '$*' failed" >&2; exit 1; }
    end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) ))
}

# Peak resident set of one run in KiB.
peak_kib() {
    /usr/bin/time -f '%M' -o "$WORK/rss" "$@" >/dev/null 2>&1
    cat "$WORK/rss"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

best() {
    sort -n | head -1
}

measure() {
    local name=$1 file=$2 i
    local size
    size=$(stat -c %s "$file")
    : >"$WORK/host.us"
    : >"$WORK/tpm2.us"
    for ((i = 0; i < RUNS; ++i)); do
        wall_us "$HOST" tcg-log --json --log "$file" >>"$WORK/host.us"
        wall_us tpm2_eventlog "$file" >>"$WORK/tpm2.us"
    done
    local host_us tpm2_us host_best tpm2_best host_kib=0 tpm2_kib=0 kib
    host_us=$(median <"$WORK/host.us")
    tpm2_us=$(median <"$WORK/tpm2.us")
    host_best=$(best <"$WORK/host.us")
    tpm2_best=$(best <"$WORK/tpm2.us")
    for ((i = 0; i < 3; ++i)); do
        kib=$(peak_kib "$HOST" tcg-log --json --log "$file")
        ((kib > host_kib)) && host_kib=$kib
        kib=$(peak_kib tpm2_eventlog "$file")
        ((kib > tpm2_kib)) && tpm2_kib=$kib
    done
    local budget_kib=$(( size * 3 / 2 / 1024 + 16 * 1024 ))
    awk -v name="$name" -v size="$size" -v hu="$host_us" -v tu="$tpm2_us" \
        -v hb="$host_best" -v tb="$tpm2_best" \
        -v hk="$host_kib" -v tk="$tpm2_kib" -v bk="$budget_kib" 'BEGIN {
        printf "%-22s %9d bytes\n", name, size
        printf "  wall (best)      qorvex-host %8.1f ms   tpm2_eventlog %8.1f ms   ratio %.3f (target <= 0.2)\n",
            hb / 1000, tb / 1000, hb / tb
        printf "  wall (median)    qorvex-host %8.1f ms   tpm2_eventlog %8.1f ms   ratio %.3f\n",
            hu / 1000, tu / 1000, hu / tu
        printf "  peak RSS         qorvex-host %8.1f MiB  tpm2_eventlog %8.1f MiB  ratio %.3f\n",
            hk / 1024, tk / 1024, hk / tk
        printf "  qorvex-host peak %8.1f MiB of a budget of %.1f MiB (1.5 x log + 16 MiB)\n",
            hk / 1024, bk / 1024
    }'
}

echo "runs per program and log: $RUNS (best and median wall time), peak RSS the largest of 3 runs"
measure "real Windows log" "$SAMPLE"
measure "generated 16 MiB log" "$BIG"
