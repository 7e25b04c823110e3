#!/usr/bin/env bash
# The installed SDK as a product team receives it: `cmake --install` into a fresh prefix lays
# out exactly the expected files, the module is stripped with its debug information beside it
# behind a debug link, every public header compiles on its own with nothing but the installed
# include folder, and the package version, `qorvex-host --version` and (Windows) the DLL's
# version resource all give the project version.
# Usage: install_tree.sh <build dir> <linux|windows> <project version> <C++ compiler> <objdump>
#                        [<file_version.exe>]      (the last one on Windows only)
# Windows programs run under `wine` with the Wine environment of the test.
set -uo pipefail

build=$1 platform=$2 version=$3 cxx=$4 objdump=$5 file_version=${6:-}
source_include=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../include" && pwd)

status=0
fail() {
    echo "FAIL: $*"
    status=1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install $build failed"
    exit 1
fi

if [[ $platform == windows ]]; then
    module=bin/qorvex.dll
    host=bin/qorvex-host.exe
    run() { wine "$@" 2>&1 | tr -d '\r'; }
    binaries=("$module" "$module.debug" "$host")
else
    module=lib/libqorvex.so
    host=bin/qorvex-host
    run() { "$@" 2>&1; }
    binaries=("$module" "$module.debug" lib/libqorvex_winsim.so "$host")
    # The bundled simulated machine, where qorvex-host looks for it.
    source_machine=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples/machine" && pwd)
    while IFS= read -r file; do
        binaries+=("share/qorvex/machine/$file")
    done < <(cd "$source_machine" && find . -type f | sed 's|^\./||')
fi

# Layout: these files and nothing else (no import library, no platform or simulator header).
expected=("${binaries[@]}" lib/cmake/qorvex/qorvexConfig.cmake
          lib/cmake/qorvex/qorvexConfigVersion.cmake share/doc/qorvex/README.md)
while IFS= read -r header; do
    expected+=("include/$header")
done < <(cd "$source_include" && find qorvex zef -name '*.h')
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) \
    >"$work/layout.diff" || {
    fail "the installed files differ from the expected layout (< missing, > unexpected):"
    grep '^[<>]' "$work/layout.diff"
}

# Stripped module, debug information in the .debug file, found through the debug link.
if [[ -f $prefix/$module && -f $prefix/$module.debug ]]; then
    module_sections=$("$objdump" -h "$prefix/$module")
    debug_sections=$("$objdump" -h "$prefix/$module.debug")
    grep -q '\.debug_info' <<<"$module_sections" && fail "$module still carries .debug_info"
    grep -q '\.gnu_debuglink' <<<"$module_sections" || fail "$module has no .gnu_debuglink"
    grep -q '\.debug_info' <<<"$debug_sections" || fail "$module.debug holds no .debug_info"
    # The link is the file name, NUL-padded, then a CRC of the debug file.
    link=
    "${objdump%objdump}objcopy" --dump-section .gnu_debuglink="$work/debuglink" \
        "$prefix/$module" "$work/module.copy" && IFS= read -r -d '' link <"$work/debuglink"
    [[ $link == "$(basename "$module").debug" ]] ||
        fail "the debug link of $module names '$link', not $(basename "$module").debug"
    debug_symbols=$("$objdump" -t "$prefix/$module.debug")
    grep -q 'zefGetObjectFactory' <<<"$debug_symbols" ||
        fail "$module.debug has no symbol table entry for zefGetObjectFactory"
fi

# Each public header on its own, against the installed include folder only.
while IFS= read -r header; do
    if ! printf '#include "%s"\n' "$header" |
        "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" -x c++ - \
            >"$work/header.log" 2>&1; then
        fail "$header does not compile on its own:"
        head -20 "$work/header.log"
    fi
done < <(cd "$prefix/include" && find . -name '*.h' | sed 's|^\./||' | sort)

# A Windows host includes <windows.h> first as often as not: the headers' own declarations of
# the process heap functions must agree with it (NOMINMAX comes from qorvex::headers).
if [[ $platform == windows ]]; then
    { echo '#include <windows.h>'; (cd "$prefix/include" && find . -name '*.h' | sed 's|^\./|#include "|; s|$|"|'); } |
        "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -DNOMINMAX -I"$prefix/include" -x c++ - \
            >"$work/windows_h.log" 2>&1 || {
        fail "the headers do not compile after <windows.h>:"
        head -20 "$work/windows_h.log"
    }
fi

# One version everywhere.
package_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    "$prefix/lib/cmake/qorvex/qorvexConfigVersion.cmake")
[[ $package_version == "$version" ]] ||
    fail "qorvexConfigVersion.cmake says '$package_version', the project $version"
host_version=$(run "$prefix/$host" --version)
[[ $host_version == "qorvex-host $version" ]] ||
    fail "qorvex-host --version printed '$host_version', expected 'qorvex-host $version'"
if [[ $platform == windows ]]; then
    resource=$(run "$file_version" "$(winepath -w "$prefix/$module")")
    for line in "fixed $version.0" "FileVersion $version.0" "ProductVersion $version.0"; do
        grep -qxF "$line" <<<"$resource" ||
            fail "the version resource of qorvex.dll lacks '$line'; it reads: $resource"
    done
fi

# The installed qorvex-host runs on the installed machine, found relative to itself.
if [[ $platform == linux ]]; then
    first=$("$prefix/$host" --quiet tcg-log | head -1)
    [[ $first == "simulated machine: $prefix/share/qorvex/machine" ]] ||
        fail "the installed qorvex-host runs on '$first'"
fi

((status == 0)) && echo "ok: SDK $version installed and checked in $prefix"
exit $status
