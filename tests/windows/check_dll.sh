#!/usr/bin/env bash
# Checks the shipped qorvex.dll: it exports exactly zefGetObjectFactory and zefCanUnloadModule,
# and imports only DLLs that every Windows system has, so nothing of the mingw runtime
# (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) must be shipped beside it.
# Usage: check_dll.sh <x86_64-w64-mingw32-objdump> <qorvex.dll>
set -euo pipefail

objdump=$1
dll=$2
[[ -f $dll ]] || { echo "FAIL: $dll does not exist"; exit 1; }

headers=$("$objdump" -p "$dll")

exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
               table && /^[[:space:]]*\[ *[0-9]+\]/ { print $NF; next }
               table { table = 0 }' <<<"$headers" | sort)
imports=$(awk '/^[[:space:]]*DLL Name:/ { print $3 }' <<<"$headers" | sort -fu)

# System DLLs (case-insensitive), and the API sets that forward into them.
is_system_dll() {
    local name=${1,,}
    case $name in
        api-ms-win-*.dll | ext-ms-win-*.dll) return 0 ;;
        kernel32.dll | kernelbase.dll | ntdll.dll | msvcrt.dll | ucrtbase.dll | advapi32.dll | \
            shell32.dll | shlwapi.dll | ole32.dll | oleaut32.dll | combase.dll | user32.dll | \
            gdi32.dll | rpcrt4.dll | sechost.dll | bcrypt.dll | ncrypt.dll | crypt32.dll | \
            wintrust.dll | tbs.dll | version.dll | userenv.dll | psapi.dll | ws2_32.dll | \
            secur32.dll | dbghelp.dll | setupapi.dll | wevtapi.dll) return 0 ;;
    esac
    return 1
}

status=0
expected=$(printf '%s\n' zefCanUnloadModule zefGetObjectFactory)
if [[ $exports != "$expected" ]]; then
    echo "FAIL: $dll must export exactly zefGetObjectFactory and zefCanUnloadModule; it exports:"
    sed 's/^/  /' <<<"${exports:-<nothing>}"
    status=1
fi

if [[ -z $imports ]]; then
    echo "FAIL: no import table found in $dll"
    status=1
fi
while read -r name; do
    [[ -z $name ]] && continue
    if ! is_system_dll "$name"; then
        echo "FAIL: $dll imports $name, which is not a Windows system DLL"
        status=1
    fi
done <<<"$imports"

if ((status == 0)); then
    echo "ok: exports $(tr '\n' ' ' <<<"$exports")"
    echo "ok: imports $(tr '\n' ' ' <<<"$imports")"
fi
exit $status
