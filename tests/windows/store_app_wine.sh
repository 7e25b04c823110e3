#!/usr/bin/env bash
# qorvex-host.exe is-store-app, is-store-app --cache and remediate end to end under Wine: Wine's
# combase, registry, environment and file system, with our package manager server registered
# in a fresh prefix of its own (its wineserver stopped at the end). First without the
# registration, then as Windows 7 (the default package folder must exist) and as Windows 10
# (package volumes). Wine lacks the hard-link enumeration, so remediation takes the given path.
#
# Usage: store_app_wine.sh <qorvex-host.exe> <qorvex_test_package_server.dll> <prefix dir>
set -uo pipefail

host=$1
server_dll=$2
prefix=$3

. "$(dirname "${BASH_SOURCE[0]}")/fresh_prefix.sh"
fresh_prefix "$prefix"
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
# Runs qorvex-host.exe; sets $code and fills $work/out and $work/err.
run() {
    wine "$host" "$@" >"$work/out" 2>"$work/err"
    code=$?
    tr -d '\r' <"$work/out" >"$work/out.txt"
    tr -d '\r' <"$work/err" >"$work/err.txt"
}
expect() {  # expect <exit code> <text in stdout> <what>
    [[ $code == "$1" ]] || fail "$3: exit $code, not $1: $(cat "$work/out.txt" "$work/err.txt" | tail -5)"
    grep -qF -- "$2" "$work/out.txt" || fail "$3: no '$2' in: $(cat "$work/out.txt")"
}


apps='C:\Program Files\WindowsApps'
notes="$apps\\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g"
file="$notes\\notes.exe"

# Without the registration the package manager cannot be activated.
run is-store-app "$file"
expect 3 "0x80010100" "unregistered is-store-app"
grep -q '^\[300\]' "$work/err.txt" || fail "unregistered: no level-300 record"
run remediate "$file"
expect 3 "0x80010100" "unregistered remediate"

register_package_server "$server_dll"
cat >"$work/inventory.json" <<'JSON'
{
  "packageVolumes": [{"packageStorePath": "C:\\Program Files\\WindowsApps"}],
  "packages": [
    {"fullName": "Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g",
     "installedLocation": "C:\\Program Files\\WindowsApps\\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g"},
    {"fullName": "Acme.Pending_1.0.0.0_x64__a1b2c3d4e5f6g", "installedLocation": null}
  ]
}
JSON
export QORVEX_PACKAGE_SERVER_INVENTORY=$(winepath -w "$work/inventory.json")
export QORVEX_PACKAGE_SERVER_RECORD=$(winepath -w "$work/set-package-state.txt")

# Windows 7: no package volumes, the default folder is the root and must exist.
rm -rf "$prefix/drive_c/Program Files/WindowsApps"
run is-store-app "$file"
expect 3 "0x80000072" "win7 without the default folder"
mkdir -p "$prefix/drive_c/Program Files/WindowsApps"
for version in win7 win10; do
    [[ $version == win10 ]] && prefix_windows_version win10
    run is-store-app "$file" 'C:\users\Public\todo.txt'
    expect 4 "$file: 0x00000000 No error" "$version is-store-app"
    grep -qF 'C:\users\Public\todo.txt: 0x00000001 False' "$work/out.txt" ||
        fail "$version: the document is not answered False"
    run --json is-store-app --cache "$file"
    expect 0 '"cache": {"result": "0x00000000"' "$version is-store-app --cache"
    rm -f "$work/set-package-state.txt"
    run remediate "$file"
    expect 0 "$file: 0x00000000 No error" "$version remediate"
    grep -qF 'Troubles with hardlink enumeration (0x80070078), trying to remediate by original path' \
        "$work/err.txt" || fail "$version: no hard-link fallback line"
    grep -qx 'Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g 3' "$work/set-package-state.txt" ||
        fail "$version: the server recorded no Tampered state: $(cat "$work/set-package-state.txt" 2>&1)"
done
exit $status
