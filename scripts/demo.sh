#!/usr/bin/env bash
# Installs what is missing, builds the default configuration and runs the reference host on the
# bundled simulated machine. Arguments replace the default command `tcg-log`:
#   scripts/demo.sh                  reads the measured-boot logs of examples/machine
#   scripts/demo.sh tcg-log --json   the same as JSON
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh
configure_args=()
if [[ -n ${QORVEX_SHARED_DIR:-} ]]; then
    configure_args+=("-DQORVEX_SHARED_DIR=$QORVEX_SHARED_DIR")
fi
echo "demo: building qorvex-host and the module in build/default (about 30 s the first time)"
cmake --preset default "${configure_args[@]}" >/dev/null
cmake --build --preset default --parallel 2 --target qorvex-host qorvex -- --quiet

if (($# == 0)); then
    set -- tcg-log
fi
exec build/default/bin/qorvex-host --machine examples/machine "$@"
