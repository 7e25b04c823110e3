#!/usr/bin/env bash
# Builds and tests every configuration, one step after another, and stops at the first step
# that fails. Run from anywhere; as root on a fresh Debian 12 it first installs what is missing.
#
#   format    clang-format check of every C++ source; module code includes no Windows SDK
#             header and nothing of the simulated machine
#   default   Linux build on the simulated machine, all tests (not in the default run: the
#             release stage builds and tests the same sources optimized)
#   release   the same built optimized (CMAKE_BUILD_TYPE=Release), all tests
#   asan      the same under AddressSanitizer (leak checks on) and UBSan
#   tsan      the tests that start threads, under ThreadSanitizer
#   windows   mingw-w64 cross build; the Windows tests run under Wine, without a display
#   fuzz      every libFuzzer target, each for a bounded time
#   bench     one short pass of every benchmark (from the release build), so that none rots
#
# Usage: scripts/test-all.sh [stage...]     every stage but default, in the order above, when
#                                           none given
# Environment: QORVEX_SHARED_DIR  the shared sample folder (default: ../shared beside the repo)
#              QORVEX_FUZZ_SECONDS  how long each fuzz target runs (default 15)
set -uo pipefail
exec </dev/null

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
readonly ROOT=$PWD
readonly JOBS=2
readonly FUZZ_SECONDS=${QORVEX_FUZZ_SECONDS:-15}
readonly SANITIZER_ENV=(ASAN_OPTIONS=detect_leaks=1
                        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
readonly WINEPREFIX_DIR=$ROOT/build/windows/wineprefix

configure_args=()
if [[ -n ${QORVEX_SHARED_DIR:-} ]]; then
    configure_args+=("-DQORVEX_SHARED_DIR=$QORVEX_SHARED_DIR")
fi

passed=0
failed=0
skipped=0
results=()
readonly STARTED=$SECONDS

summary() {
    echo
    echo "==== summary ($((SECONDS - STARTED)) s in all)"
    printf '%s\n' "${results[@]}"
    if ((skipped > 0)); then
        echo "$passed passed, $failed failed, $skipped skipped"
    else
        echo "$passed passed, $failed failed"
    fi
}

# A wineserver left behind would keep CI waiting for its output to close.
stop_wineserver() {
    if [[ -d $WINEPREFIX_DIR ]] && command -v wineserver >/dev/null; then
        WINEPREFIX=$WINEPREFIX_DIR wineserver -k >/dev/null 2>&1 || true
    fi
}
trap stop_wineserver EXIT

# step NAME COMMAND...: runs one step and records it; the first failure ends the run.
step() {
    local name=$1
    shift
    echo
    echo "==== $name"
    local began=$SECONDS status=0
    "$@" || status=$?
    local took=$((SECONDS - began))
    if ((status == 0)); then
        results+=("  ok    $name (${took} s)")
        passed=$((passed + 1))
        return 0
    fi
    results+=("  FAIL  $name (${took} s, exit code $status)")
    failed=$((failed + 1))
    echo
    echo "test-all: step '$name' failed with exit code $status; its output is above. Stopping." >&2
    summary
    exit 1
}

skip() {
    echo
    echo "==== $1: skipped ($2)"
    results+=("  skip  $1 ($2)")
    skipped=$((skipped + 1))
}

configure() { cmake --preset "$1" "${configure_args[@]}"; }
build() { cmake --build --preset "$1" --parallel "$JOBS"; }

# configure_build_test PRESET WRAPPER...: the wrapper (env with variables) prefixes each command.
configure_build_test() {
    local preset=$1
    shift
    step "$preset: configure" "$@" cmake --preset "$preset" "${configure_args[@]}"
    step "$preset: build" "$@" cmake --build --preset "$preset" --parallel "$JOBS"
    step "$preset: test" "$@" ctest --preset "$preset" --parallel "$JOBS" --timeout 600 \
        --no-tests=error
}

# Every C++ source is formatted with the .clang-format at the root.
check_format() {
    local files=()
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
    clang-format --dry-run -Werror "${files[@]}"
}
stage_format() {
    step "format: clang-format" check_format
    # Module code reaches the OS through win:: only: no Windows SDK header, nothing of the sim.
    step "format: module includes" scripts/check-module-includes.sh
}

stage_default() { configure_build_test default env; }
stage_release() { configure_build_test release env; }
stage_asan() { configure_build_test asan env "${SANITIZER_ENV[@]}"; }
stage_tsan() { configure_build_test tsan env TSAN_OPTIONS=halt_on_error=1; }
stage_windows() {
    configure_build_test windows env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all
    stop_wineserver
}

# Runs one libFuzzer target: new inputs go to a scratch corpus in the build folder; seeds come
# from <target>_corpus beside it (written by the build) and fuzz/corpus/<target> if present.
run_fuzzer() {
    local target=$1 name
    name=$(basename "$target")
    local work=$ROOT/build/fuzz/corpus-run/$name
    mkdir -p "$work/corpus" "$work/artifacts"
    local dirs=("$work/corpus") seed
    for seed in "${target}_corpus" "$ROOT/fuzz/corpus/$name"; do
        [[ -d $seed ]] && dirs+=("$seed")
    done
    echo "$name: ${FUZZ_SECONDS} s, corpora: ${dirs[*]}"
    local status=0
    # -timeout: an input that runs for 10 s counts as a hang and fails the step.
    env "${SANITIZER_ENV[@]}" "$target" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${dirs[@]}" \
        >"$work/log.txt" 2>&1 || status=$?
    if ((status != 0)); then
        tail -n 80 "$work/log.txt"
        echo "$name failed (exit code $status); full log: $work/log.txt; inputs: $work/artifacts/"
        return "$status"
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log.txt"
}

# Runs the given fuzz targets all at once (each is single-threaded and runs for a fixed time, so
# the stage takes that time once); prints each one's result in the order given, and fails when
# any of them failed.
run_fuzzers() {
    local target pid done_pid status failed=0
    local -A name_of=() status_of=()
    for target in "$@"; do
        while (($(jobs -rp | wc -l) >= $#)); do
            status=0
            wait -n -p done_pid || status=$?
            status_of[$done_pid]=$status
        done
        run_fuzzer "$target" >"$ROOT/build/fuzz/$(basename "$target").result" 2>&1 &
        name_of[$!]=$(basename "$target")
    done
    for pid in "${!name_of[@]}"; do
        [[ -n ${status_of[$pid]:-} ]] && continue
        status=0
        wait "$pid" || status=$?
        status_of[$pid]=$status
    done
    for target in "$@"; do
        for pid in "${!name_of[@]}"; do
            [[ ${name_of[$pid]} == "$(basename "$target")" ]] || continue
            echo "-- ${name_of[$pid]}: exit code ${status_of[$pid]}"
            cat "$ROOT/build/fuzz/${name_of[$pid]}.result"
            ((status_of[$pid] == 0)) || failed=1
        done
    done
    return "$failed"
}

stage_fuzz() {
    step "fuzz: configure" configure fuzz
    step "fuzz: build" build fuzz
    local targets=()
    mapfile -t targets < <(find "$ROOT/build/fuzz/fuzz" -maxdepth 1 -type f -perm -u+x \
        ! -name '*.so' 2>/dev/null | sort)
    if ((${#targets[@]} == 0)); then
        skip "fuzz: run" "no fuzz target in build/fuzz/fuzz"
        return
    fi
    step "fuzz: run ${#targets[@]} targets at once" run_fuzzers "${targets[@]}"
}

run_benchmarks() {
    local bench
    for bench in "$@"; do
        echo "-- $(basename "$bench")"
        "$bench" --benchmark_min_time=0.01 || return
    done
}

# Benchmarks measure optimized code: they are built and run from the release preset.
stage_bench() {
    if [[ ! -f $ROOT/build/release/build.ninja ]]; then
        step "release: configure" configure release
    fi
    step "bench: build" build release
    local benches=()
    mapfile -t benches < <(find "$ROOT/build/release/bin" -maxdepth 1 -name '*_bench' \
        -type f -perm -u+x 2>/dev/null | sort)
    if ((${#benches[@]} == 0)); then
        skip "bench: smoke run" "no *_bench program in build/release/bin"
        return
    fi
    step "bench: smoke run" run_benchmarks "${benches[@]}"
}

stages=("$@")
if ((${#stages[@]} == 0)); then
    stages=(format release asan tsan windows fuzz bench)
fi
for stage in "${stages[@]}"; do
    case $stage in
        format | default | release | asan | tsan | windows | fuzz | bench) ;;
        *)
            echo "test-all: unknown stage '$stage' (format default release asan tsan windows fuzz bench)" >&2
            exit 2
            ;;
    esac
done

step "install dependencies" scripts/install-deps.sh
for stage in "${stages[@]}"; do
    "stage_$stage"
done
summary
