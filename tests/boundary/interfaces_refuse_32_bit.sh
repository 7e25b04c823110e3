#!/bin/bash
# A 32-bit build of anything that includes the public interface headers stops at compile time
# with their message, instead of compiling, linking and crashing on its first call.
#
# Usage: interfaces_refuse_32_bit.sh CXX INCLUDE_DIR
# Every compiler at hand that builds 32-bit code is tried: CXX with -m32, i686-w64-mingw32-g++,
# x86_64-w64-mingw32-g++ with -m32. The guard's condition is also checked at the preprocessor
# with the 64-bit macros taken away, which needs no 32-bit headers at all.
set -u
cxx=$1
include=$2
here=$(cd "$(dirname "$0")" && pwd)
probe=$here/host_includes_interfaces.cpp
message='declared for 64-bit builds only'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#include <cstdint>\nint main() { return 0; }\n' > "$work/plain.cpp"

fail() {
    echo "FAIL: $*"
    exit 1
}

# Expects the command to fail with the guard's message.
expect_refusal() {
    local what=$1
    shift
    if "$@" > "$work/out" 2>&1; then
        fail "$what: built the interfaces"
    fi
    grep -q "$message" "$work/out" || { cat "$work/out"; fail "$what: stopped without the guard's message"; }
    echo "ok: $what stops: $(grep -m1 -o "error.*$message[^\"]*" "$work/out")"
}

"$cxx" -std=c++20 -fsyntax-only -I"$include" "$probe" || fail "the probe does not build for 64 bits"
echo "ok: $cxx builds the interfaces for 64 bits"

compilers=0
for candidate in "$cxx -m32" "i686-w64-mingw32-g++" "x86_64-w64-mingw32-g++ -m32"; do
    read -r -a command <<< "$candidate"
    command -v "${command[0]}" > /dev/null || continue
    # Only a compiler that builds 32-bit code at all can show the guard.
    "${command[@]}" -std=c++20 -fsyntax-only "$work/plain.cpp" > /dev/null 2>&1 || continue
    expect_refusal "$candidate" "${command[@]}" -std=c++20 -fsyntax-only -I"$include" "$probe"
    compilers=$((compilers + 1))
done
[ "$compilers" -gt 0 ] || echo "note: no compiler here builds 32-bit code"

expect_refusal "the preprocessor with 4-byte pointers" \
    "$cxx" -std=c++20 -E -U_WIN64 -U__SIZEOF_POINTER__ -D__SIZEOF_POINTER__=4 -I"$include" "$probe"
