#!/usr/bin/env bash
# A product's host built against the installed SDK alone: install into a fresh prefix,
# configure tests/sdk/consumer with find_package(qorvex 0.2 CONFIG), build it, run it (under
# Wine for the Windows build) so that it loads the module from the package's path and creates
# every component. The package must also turn down a host written for another minor version.
# Usage: consumer.sh <build dir> <linux|windows> [<cmake toolchain file> [<sanitizer flags>]]
set -uo pipefail

build=$1 platform=$2 toolchain=${3:-} sanitizer=${4:-}
source=$(cd "$(dirname "${BASH_SOURCE[0]}")/consumer" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

# step LOG COMMAND...: runs a setup step; on failure shows its output and ends the test.
step() {
    local log=$work/$1
    shift
    if ! "$@" >"$log" 2>&1; then
        cat "$log"
        echo "FAIL: $*"
        exit 1
    fi
}

configure_args=(-G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release)
[[ -n $toolchain ]] && configure_args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
[[ -n $sanitizer ]] && configure_args+=(-DCMAKE_CXX_FLAGS="$sanitizer" -DCMAKE_EXE_LINKER_FLAGS="$sanitizer")
# The consumer is a project of its own: no compiler cache settings of this build leak into it.
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER

step install.log cmake --install "$build" --prefix "$prefix"
step configure.log cmake -S "$source" -B "$work/out" "${configure_args[@]}"
step build.log cmake --build "$work/out"

status=0
if [[ $platform == windows ]]; then
    wine "$work/out/qorvex_consumer.exe" >"$work/run.log" 2>&1
else
    "$work/out/qorvex_consumer" >"$work/run.log" 2>&1
fi
code=$?
tr -d '\r' <"$work/run.log"
if ((code != 0)); then
    echo "FAIL: the consumer exited with $code"
    status=1
fi

# A host written for 0.1 must not be given 0.2: the minor version is the compatibility line.
if cmake -S "$source" -B "$work/old" "${configure_args[@]}" -DQORVEX_WANTED_VERSION=0.1 \
    >"$work/old.log" 2>&1; then
    echo "FAIL: find_package(qorvex 0.1) accepted the installed package"
    status=1
elif ! grep -q 'requested version "0.1"' "$work/old.log"; then
    cat "$work/old.log"
    echo "FAIL: find_package(qorvex 0.1) failed, but not on the package's version"
    status=1
fi

((status == 0)) && echo "ok: the consumer built against $prefix and ran"
exit $status
