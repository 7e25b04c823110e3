#!/usr/bin/env bash
# qorvex-host.exe chain under Wine: the reference host loads qorvex.dll beside it and walks the
# export, the registry and every component factory, then unloads the module. Held to the same
# rule as on Linux (exit 0, or 3 when a step reports a failure code), and on top of that every
# factory must be reachable through the Windows loader and calling convention.
# Usage: host_chain.sh <qorvex-host.exe>     (WINEPREFIX etc. come from the test's environment)
set -uo pipefail

out=$(wine "$1" chain 2>&1 | tr -d '\r')
code=${PIPESTATUS[0]}
echo "$out"

status=0
fail() {
    echo "FAIL: $*"
    status=1
}
[[ $code == 0 || $code == 3 ]] || fail "qorvex-host.exe chain exited with $code"
for step in 'zefGetObjectFactory(ModuleFactoryProvider)' 'CreateInstance(ModuleFactoryProvider)' \
    'GetObjectFactory(TcgLogProviderImpl)' 'GetObjectFactory(AppRemediationImpl)'; do
    grep -qxF "$step: 0x00000000 No error" <<<"$out" || fail "$step did not succeed"
done
grep -qxF 'zefCanUnloadModule: 0x00000000 No error (module unloaded)' <<<"$out" ||
    fail "the module was not unloadable at the end"
exit $status
