#!/usr/bin/env bash
# Checks that libqorvex.so exports exactly zefGetObjectFactory and zefCanUnloadModule: every
# other symbol stays hidden, so a host can reach the module only through those two.
# Usage: module_exports.sh <qorvex-host> <repo root> <shared dir> [<libqorvex.so>]
# Without the fourth argument the library is looked up in the build folder of the host.
set -euo pipefail

module=${4:-$(dirname "$1")/../lib/libqorvex.so}
[[ -f $module ]] || { echo "FAIL: $module does not exist"; exit 1; }

# Version nodes (type A) name no code or data; everything else defined is an export.
exports=$(nm -D --defined-only "$module" | awk '$2 != "A" { print $3 }' | sort)
expected=$(printf '%s\n' zefCanUnloadModule zefGetObjectFactory)
if [[ $exports != "$expected" ]]; then
    echo "FAIL: $module must export exactly zefGetObjectFactory and zefCanUnloadModule; it exports:"
    sed 's/^/  /' <<<"${exports:-<nothing>}"
    exit 1
fi
echo "ok: $module exports $(tr '\n' ' ' <<<"$exports")"
