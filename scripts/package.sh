#!/usr/bin/env bash
# Builds the Windows SDK and packs it into one archive with its SHA-256 beside it:
#   <output>/qorvex-<version>-win64.zip         the installed tree under qorvex-<version>-win64/
#   <output>/qorvex-<version>-win64.zip.sha256  in sha256sum format (sha256sum -c checks it)
# The version is the project version, read back from the installed package version file.
#
# Usage: scripts/package.sh [--build-dir DIR] [--output DIR] [--no-build]
#   --build-dir DIR  the mingw-w64 build to package (default: build/windows, configured with
#                    the windows preset when it does not exist yet)
#   --output DIR     where the archive goes (default: dist/)
#   --no-build       package the build folder as it is, without building the module and host
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/windows
output=$root/dist
do_build=1

usage() {
    sed -n '2,12p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 2
}
while (($# > 0)); do
    case $1 in
        --build-dir) build=${2:?--build-dir needs a folder}; shift 2 ;;
        --output) output=${2:?--output needs a folder}; shift 2 ;;
        --no-build) do_build=0; shift ;;
        -h | --help) usage ;;
        *) echo "package: unknown argument '$1'" >&2; usage ;;
    esac
done
build=$(realpath -m "$build")
mkdir -p "$output"
output=$(realpath "$output")

if ((do_build)); then
    if [[ ! -f $build/CMakeCache.txt ]]; then
        if [[ $build != "$root/build/windows" ]]; then
            echo "package: $build is not a configured build folder" >&2
            exit 1
        fi
        (cd "$root" && cmake --preset windows)
    fi
    cmake --build "$build" --parallel 2 --target qorvex qorvex-host
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/stage" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    echo "package: cmake --install $build failed" >&2
    exit 1
}
if [[ ! -f $work/stage/bin/qorvex.dll ]]; then
    echo "package: $build is not a Windows build (no bin/qorvex.dll in its install)" >&2
    exit 1
fi
version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    "$work/stage/lib/cmake/qorvex/qorvexConfigVersion.cmake")
[[ -n $version ]] || { echo "package: no version in the installed package" >&2; exit 1; }

name=qorvex-$version-win64
mv "$work/stage" "$work/$name"
rm -f "$output/$name.zip" "$output/$name.zip.sha256"
(cd "$work" && zip -q -r -X "$output/$name.zip" "$name")
(cd "$output" && sha256sum "$name.zip" >"$name.zip.sha256")
echo "$output/$name.zip"
echo "$output/$name.zip.sha256"
