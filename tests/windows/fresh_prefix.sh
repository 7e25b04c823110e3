# Sourced by the Wine scripts that run in a prefix of their own, so that the shared prefix of the
# other tests keeps no registration, no files and its Windows version.
#
#   fresh_prefix DIR           exports the Wine environment (no debug output, no display, no offer
#                              to install Mono or Gecko), makes $work a scratch folder, stops the
#                              prefix's wineserver and removes $work on exit, and creates DIR
#                              afresh with wineboot (exits 1 with wineboot's output if it cannot)
#   prefix_windows_version V   makes the prefix report Windows V (win7, win10, ...)
#   register_package_server DLL
#                              registers our package manager server the way Wine's combase looks
#                              a runtime class up (ActivatableClassId\<class> value DllPath)
# The last two exit 1 with the tool's output when they fail.

fresh_prefix() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export DISPLAY=
    export WAYLAND_DISPLAY=
    work=$(mktemp -d)
    trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >"$work/wineboot.log" 2>&1 ||
        prefix_failure "cannot create the Wine prefix $WINEPREFIX" "$work/wineboot.log"
    wineserver -w
}

prefix_windows_version() {
    wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >"$work/reg.log" 2>&1 ||
        prefix_failure "cannot make the prefix report $1" "$work/reg.log"
    wineserver -w
}

register_package_server() {
    wine reg add \
        'HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\Windows.Management.Deployment.PackageManager' \
        /v DllPath /t REG_SZ /d "$(winepath -w "$1")" /f >"$work/reg.log" 2>&1 ||
        prefix_failure "cannot register the package manager server" "$work/reg.log"
}

prefix_failure() {
    echo "FAIL: $1"
    cat "$2"
    exit 1
}
