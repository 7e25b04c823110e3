#!/usr/bin/env bash
# scripts/package.sh on an existing Windows build: one archive named after the version, whose
# entries all sit under qorvex-<version>-win64/ and include the SDK's parts, and a sha256sum
# file beside it that verifies it.
# Usage: package_archive.sh <scripts/package.sh> <windows build dir> <project version>
set -uo pipefail

package=$1 build=$2 version=$3
name=qorvex-$version-win64

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! bash "$package" --build-dir "$build" --output "$work/dist" --no-build >"$work/log" 2>&1; then
    cat "$work/log"
    echo "FAIL: package.sh failed"
    exit 1
fi

status=0
fail() {
    echo "FAIL: $*"
    status=1
}
archive=$work/dist/$name.zip
[[ -f $archive ]] || { ls -l "$work/dist"; echo "FAIL: no $name.zip"; exit 1; }
[[ $(ls "$work/dist") == "$name.zip"$'\n'"$name.zip.sha256" ]] ||
    fail "the output holds more than the archive and its checksum: $(ls "$work/dist" | tr '\n' ' ')"
(cd "$work/dist" && sha256sum -c --quiet "$name.zip.sha256") || fail "$name.zip.sha256 does not verify"

entries=$(python3 -m zipfile -l "$archive" | awk 'NR > 1 { print $1 }')
for file in bin/qorvex.dll bin/qorvex.dll.debug bin/qorvex-host.exe include/qorvex/module.h \
    include/qorvex/app_remediation.h include/qorvex/tcg_log.h include/zef/string.h \
    include/zef/vector.h include/zef/result_code_texts.h lib/cmake/qorvex/qorvexConfig.cmake \
    lib/cmake/qorvex/qorvexConfigVersion.cmake share/doc/qorvex/README.md; do
    grep -qxF "$name/$file" <<<"$entries" || fail "$name.zip lacks $name/$file"
done
outside=$(grep -v "^$name/" <<<"$entries")
[[ -z $outside ]] || fail "entries outside $name/: $outside"

((status == 0)) && echo "ok: $name.zip ($(wc -l <<<"$entries") entries) and its checksum"
exit $status
