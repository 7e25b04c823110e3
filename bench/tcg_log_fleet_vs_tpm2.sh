#!/usr/bin/env bash
# A fleet's logs in one pass: COUNT real-size logs (the shared samples, repeated) read with
# `tcg-log --jsonl --pcrs` by one qorvex-host process, beside `tpm2_eventlog FILE` run once per
# log, in one run, side by side. Reported for each: wall time, logs per second, and peak RSS
# (qorvex-host: of its one process; tpm2_eventlog: the largest of one run per distinct file).
# qorvex-host's memory is also shown at a tenth of COUNT, to show it flat in the number of logs.
#
# Like is compared with like: only the samples tpm2_eventlog reads without an error or a crash
# are in the shared set (it refuses or crashes on the others; on this machine it reads 2 of the
# 8); qorvex-host is also timed over every sample repeated, for its own figure.
# Target: at least 50 times tpm2_eventlog's logs per second, memory flat in the number of logs.
#
#   bench/tcg_log_fleet_vs_tpm2.sh [BUILD_DIR]   (default build/release; COUNT=N to change 1000)
# Needs a built qorvex-host, tpm2_eventlog and /usr/bin/time (scripts/install-deps.sh).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build/release}
COUNT=${COUNT:-1000}
HOST=${HOST:-$BUILD/bin/qorvex-host}
SAMPLES=${QORVEX_SHARED_DIR:-$ROOT/../shared}/samples

for tool in "$HOST" /usr/bin/time; do
    [[ -x $tool ]] || { echo "tcg_log_fleet_vs_tpm2: $tool is missing (build it first)" >&2; exit 1; }
done
command -v tpm2_eventlog >/dev/null || { echo "tcg_log_fleet_vs_tpm2: tpm2_eventlog is missing" >&2; exit 1; }
[[ -d $SAMPLES ]] || { echo "tcg_log_fleet_vs_tpm2: $SAMPLES is missing" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

all=("$SAMPLES"/*.log)
readable=()
for log in "${all[@]}"; do
    if tpm2_eventlog "$log" >/dev/null 2>&1; then readable+=("$log"); fi
done
[[ ${#readable[@]} -gt 0 ]] || { echo "tcg_log_fleet_vs_tpm2: tpm2_eventlog reads no sample" >&2; exit 1; }

# list <file> <count> <logs...>: count paths, the logs in turn.
list() {
    local out=$1 count=$2 i
    shift 2
    local logs=("$@")
    : >"$out"
    for ((i = 0; i < count; i++)); do echo "${logs[i % ${#logs[@]}]}" >>"$out"; done
}
list "$WORK/shared.txt" "$COUNT" "${readable[@]}"
list "$WORK/shared-tenth.txt" $((COUNT / 10)) "${readable[@]}"
list "$WORK/all.txt" "$COUNT" "${all[@]}"
list "$WORK/all-tenth.txt" $((COUNT / 10)) "${all[@]}"
bytes=$(xargs stat -c %s <"$WORK/shared.txt" | awk '{ s += $1 } END { print s }')

now_us() { echo "${EPOCHREALTIME/./}"; }

# qorvex <list>: "seconds peak-KiB" of one qorvex-host process over the list.
qorvex() {
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$HOST" tcg-log --jsonl --pcrs --log - <"$1" \
        >"$WORK/out.jsonl" 2>/dev/null || true
    [[ $(wc -l <"$WORK/out.jsonl") -eq $(wc -l <"$1") ]] ||
        { echo "tcg_log_fleet_vs_tpm2: qorvex-host did not write a line per log" >&2; exit 1; }
    local start end
    start=$(now_us)
    "$HOST" tcg-log --jsonl --pcrs --log - <"$1" >/dev/null 2>&1 || true
    end=$(now_us)
    echo "$(( end - start )) $(cut -d' ' -f2 "$WORK/time")"
}

tpm2_wall_us() {
    local start end log
    start=$(now_us)
    while IFS= read -r log; do tpm2_eventlog "$log" >/dev/null 2>&1; done <"$1"
    end=$(now_us)
    echo $(( end - start ))
}

tpm2_peak_kib() {
    local peak=0 log rss
    for log in "$@"; do
        /usr/bin/time -f '%M' -o "$WORK/rss" tpm2_eventlog "$log" >/dev/null 2>&1
        rss=$(cat "$WORK/rss")
        (( rss > peak )) && peak=$rss
    done
    echo "$peak"
}

read -r q_us q_kib < <(qorvex "$WORK/shared.txt")
read -r qt_us qt_kib < <(qorvex "$WORK/shared-tenth.txt")
read -r qa_us qa_kib < <(qorvex "$WORK/all.txt")
read -r qat_us qat_kib < <(qorvex "$WORK/all-tenth.txt")
t_us=$(tpm2_wall_us "$WORK/shared.txt")
t_kib=$(tpm2_peak_kib "${readable[@]}")

rate() { awk -v n="$1" -v us="$2" 'BEGIN { printf "%.0f", n / (us / 1e6) }'; }
printf 'logs: %d, the samples tpm2_eventlog reads (%s), repeated; %.1f MiB in all\n' "$COUNT" \
    "$(for l in "${readable[@]}"; do basename "$l"; done | paste -sd, -)" \
    "$(awk -v b="$bytes" 'BEGIN { print b / 1048576 }')"
printf '%-52s %10s %12s %14s\n' "" "wall s" "logs/s" "peak RSS KiB"
printf '%-52s %10.3f %12s %14s\n' "tpm2_eventlog, one process per log" \
    "$(awk -v us="$t_us" 'BEGIN { print us / 1e6 }')" "$(rate "$COUNT" "$t_us")" "$t_kib"
printf '%-52s %10.3f %12s %14s\n' "qorvex-host tcg-log --jsonl --pcrs, one process" \
    "$(awk -v us="$q_us" 'BEGIN { print us / 1e6 }')" "$(rate "$COUNT" "$q_us")" "$q_kib"
printf '%-52s %10.3f %12s %14s\n' "  the same, $((COUNT / 10)) logs" \
    "$(awk -v us="$qt_us" 'BEGIN { print us / 1e6 }')" "$(rate $((COUNT / 10)) "$qt_us")" "$qt_kib"
printf '%-52s %10.3f %12s %14s\n' "qorvex-host, every sample repeated, $COUNT logs" \
    "$(awk -v us="$qa_us" 'BEGIN { print us / 1e6 }')" "$(rate "$COUNT" "$qa_us")" "$qa_kib"
printf '%-52s %10.3f %12s %14s\n' "  the same, $((COUNT / 10)) logs" \
    "$(awk -v us="$qat_us" 'BEGIN { print us / 1e6 }')" "$(rate $((COUNT / 10)) "$qat_us")" "$qat_kib"
printf 'throughput: qorvex-host %.1f times tpm2_eventlog (target: at least 50)\n' \
    "$(awk -v t="$t_us" -v q="$q_us" 'BEGIN { print t / q }')"
