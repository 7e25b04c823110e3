#!/usr/bin/env bash
# Installs what is missing, builds the default configuration and runs the reference host on the
# bundled simulated machine. Without arguments it shows the tour: the measured-boot summary, a
# live Store-app yes and no, a cache answer and a remediation with the package states it set.
# Arguments run one command instead:
#   scripts/demo.sh tcg-log --json                          the measured-boot logs as JSON
#   scripts/demo.sh remediate 'C:\Users\ann\Downloads\notes.exe'
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

host=(build/default/bin/qorvex-host --machine examples/machine)
if (($# > 0)); then
    exec "${host[@]}" "$@"
fi

notes='C:\Program Files\WindowsApps\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g'
step() {
    echo
    echo "== $1"
    shift
    # An answer of 1 ("False") exits with 4: part of the tour, not a failure.
    local code=0
    "${host[@]}" "$@" 2>/dev/null || code=$?
    ((code == 0 || code == 4))
}
step "measured boot: the logs of the current boot" tcg-log
step "live: a file inside a Store package (yes) and a document (no)" \
    is-store-app "$notes\\notes.exe" 'C:\Users\ann\Documents\todo.txt'
step "cache: built once, then asked about a system app" \
    is-store-app --cache 'C:\Windows\SystemApps\Microsoft.LockApp_cw5n1h2txyewy\LockApp.exe'
step "remediation: a download hard-linked into the package marks the package Tampered" \
    remediate 'C:\Users\ann\Downloads\notes.exe'
