#!/usr/bin/env bash
# Whole-process speed and memory of qorvex-host's log views beside `tpm2_eventlog FILE`, measured
# in one run, side by side, on the same file:
#   - a real Windows log of about 64 KiB from the shared samples (one tpm2_eventlog reads whole);
#   - a 16 MiB crypto-agile log made by tcglog-build (which tpm2_eventlog also reads whole).
# Like is compared with like: tpm2_eventlog decodes every event and replays the PCRs, so its
# match is `tcg-log --events --json` (every event, decoded, as JSON) and `tcg-log --pcrs` (the
# replay); the module's own answer (`tcg-log --json --log`: module paths and compact hashes
# only, through the module on a simulated machine) is different work and is labelled so. The
# floor of any process is shown beside them: /bin/true and `qorvex-host --version`. The checks
# (`--health --json`, the health report with its certificates; `--verify --json`, every event
# digest recomputed) are measured beside them.
#
# Each program runs RUNS times per log, all of them in turn, output to /dev/null. Reported: the
# best and the median wall time of each (the shell's clock, fork and exec included), the ratio
# of the best to tpm2_eventlog's best, and the largest peak RSS of 3 runs (/usr/bin/time %M).
# Targets: on the 16 MiB log --events --json, --health --json and --pcrs at most 0.2 of
# tpm2_eventlog's wall time, on the real 64 KiB log --events --json and --health --json at most
# a third (there starting a process is most of the cost: see the floor);
# every qorvex-host view within 1.5 x the log + 16 MiB of peak memory. On a busy machine the best
# of the runs is the steadier figure.
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
SAMPLE=${QORVEX_SHARED_DIR:-$ROOT/../shared}/samples/windows-tpm2-dell-latitude7520-sha256.log

for tool in "$HOST" "$BUILDER" /usr/bin/time; do
    [[ -x $tool ]] || { echo "tcg_log_vs_tpm2: $tool is missing (build it first)" >&2; exit 1; }
done
command -v tpm2_eventlog >/dev/null || { echo "tcg_log_vs_tpm2: tpm2_eventlog is missing" >&2; exit 1; }
[[ -r $SAMPLE ]] || { echo "tcg_log_vs_tpm2: $SAMPLE is missing" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
BIG=$WORK/generated-16mib.log
"$BUILDER" big --size $((16 << 20)) --layout agile --out "$BIG" >/dev/null

# The contenders: a label, whether the memory budget applies, and the command (FILE stands for
# the log). The first is the reference the ratios are taken to.
CONTENDERS=(
    "tpm2_eventlog (every event, YAML, and the PCRs)|-|tpm2_eventlog FILE"
    "tcg-log --events --json (every event, JSON)|budget|$HOST --quiet tcg-log --events --json --log FILE"
    "tcg-log --health --json (health, Secure Boot)|budget|$HOST --quiet tcg-log --health --json --log FILE"
    "tcg-log --verify --json (event digests)|budget|$HOST --quiet tcg-log --verify --json --log FILE"
    "tcg-log --events (every event, text)|budget|$HOST --quiet tcg-log --events --log FILE"
    "tcg-log --pcrs (the PCR replay, text)|budget|$HOST --quiet tcg-log --pcrs --log FILE"
    "tcg-log --pcrs --json (the PCR replay, JSON)|budget|$HOST --quiet tcg-log --pcrs --json --log FILE"
    "tcg-log --json (module: paths, compact hashes)|budget|$HOST --quiet tcg-log --json --log FILE"
    "floor: qorvex-host --version|-|$HOST --version"
    "floor: /bin/true|-|/bin/true"
)

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
    local name=$1 file=$2 i c size
    size=$(stat -c %s "$file")
    local count=${#CONTENDERS[@]}
    for ((c = 0; c < count; ++c)); do : >"$WORK/$c.us"; done
    for ((i = 0; i < RUNS; ++i)); do
        for ((c = 0; c < count; ++c)); do
            IFS='|' read -r _ _ command <<<"${CONTENDERS[c]}"
            # shellcheck disable=SC2086
            wall_us ${command//FILE/$file} >>"$WORK/$c.us"
        done
    done
    local budget_kib=$((size * 3 / 2 / 1024 + 16 * 1024))
    printf '%s, %d bytes (%d runs each; memory budget 1.5 x log + 16 MiB = %.1f MiB)\n' \
        "$name" "$size" "$RUNS" "$(awk -v b="$budget_kib" 'BEGIN { print b / 1024 }')"
    printf '  %-50s %10s %10s %7s %10s\n' "" "best ms" "median ms" "ratio" "peak MiB"
    local reference=""
    for ((c = 0; c < count; ++c)); do
        IFS='|' read -r label budget command <<<"${CONTENDERS[c]}"
        local best_us median_us kib=0 k
        best_us=$(best <"$WORK/$c.us")
        median_us=$(median <"$WORK/$c.us")
        [[ -z $reference ]] && reference=$best_us
        for ((i = 0; i < 3; ++i)); do
            # shellcheck disable=SC2086
            k=$(peak_kib ${command//FILE/$file})
            ((k > kib)) && kib=$k
        done
        local note=""
        if [[ $budget == budget ]]; then
            ((kib <= budget_kib)) && note="within budget" || note="OVER BUDGET"
        fi
        awk -v l="$label" -v b="$best_us" -v m="$median_us" -v r="$reference" -v k="$kib" \
            -v n="$note" 'BEGIN {
            printf "  %-50s %10.1f %10.1f %7.3f %10.1f  %s\n", l, b / 1000, m / 1000, b / r, k / 1024, n
        }'
    done
}

echo "tpm2_eventlog: $(tpm2_eventlog --version 2>/dev/null | head -1 || echo unknown version)"
measure "real Windows log ($(basename "$SAMPLE"))" "$SAMPLE"
measure "generated 16 MiB log" "$BIG"
echo "targets: on the 16 MiB log --events --json, --health --json and --pcrs at a ratio of at most 0.2;"
echo "on the real log --events --json and --health --json at most 0.333"
