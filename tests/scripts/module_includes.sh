#!/usr/bin/env bash
# Module code (module/, zef/, component/) includes no Windows SDK header and nothing of the
# simulated machine; the check names each offending file and line.
# Usage: module_includes.sh <qorvex-host> <repo root> <shared dir>
set -euo pipefail
bash "$2/scripts/check-module-includes.sh" "$2"
echo "ok: module code includes only win:: headers of the platform"
