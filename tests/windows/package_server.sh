#!/usr/bin/env bash
# The PackageManager client against our package manager server under Wine's real combase, on
# a prefix of its own (created afresh, its wineserver stopped at the end) so that the shared
# prefix of the other tests keeps no registration and its Windows version. The server is
# registered the way combase looks a class up (ActivatableClassId\<class> value DllPath); the
# client runs once as Windows 7 (Wine's default: IPackageManager only) and once as Windows 10
# (all three interfaces).
#
# Usage: package_server.sh <win_winrt_calls_test.exe> <qorvex_test_package_server.dll> <prefix dir>
set -uo pipefail

test_exe=$1
server_dll=$2
prefix=$3

. "$(dirname "${BASH_SOURCE[0]}")/fresh_prefix.sh"
fresh_prefix "$prefix"
register_package_server "$server_dll"

cat >"$work/inventory.json" <<'JSON'
{
  "packageVolumes": [{"packageStorePath": "D:\\WindowsApps"}, {"packageStorePath": ""}],
  "packages": [
    {"fullName": "Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g",
     "installedLocation": "C:\\Program Files\\WindowsApps\\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g"},
    {"fullName": "Acme.Broken_1.0.0.0_x64__a1b2c3d4e5f6g", "installedLocation": null}
  ]
}
JSON
export QORVEX_PACKAGE_SERVER_INVENTORY=$(winepath -w "$work/inventory.json")
export QORVEX_PACKAGE_SERVER_RECORD=$(winepath -w "$work/set-package-state.txt")

status=0
for version in win7 win10; do
    [ "$version" = win10 ] && prefix_windows_version win10
    rm -f "$work/set-package-state.txt"
    echo "== as $version"
    QORVEX_PACKAGE_SERVER_EXPECT=$version wine "$test_exe" \
        --gtest_filter='WinRtCallsTest.PackageManager*' || status=1
done
exit $status
