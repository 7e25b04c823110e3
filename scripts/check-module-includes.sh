#!/usr/bin/env bash
# The module's code (module/, zef/, component/) sees the operating system only through win::
# (platform/include/win/). It must not include Windows SDK headers, the simulated machine's
# controls (winsim/) or anything else of platform/sim (the version resource, compiled by
# windres, is not module code). Prints one line per offending include,
# naming the file and line, and exits 1 when there is any.
#
#   scripts/check-module-includes.sh [REPOSITORY_ROOT]
set -euo pipefail

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Windows SDK headers by name (matched without case, with or without a folder before them):
# the umbrella and the API-set headers it pulls in, the shell, COM, the Windows Runtime.
sdk='windows|windef|winbase|winnt|winerror|winreg|winuser|winver|winsvc|winternl|ntstatus|ntdef'
sdk+='|shlobj|shlobj_core|shellapi|shlwapi|knownfolders|objbase|combaseapi|ole2|oleauto|unknwn'
sdk+='|strsafe|roapi|winstring|activation|inspectable|wrl|sddl|aclapi|securitybaseapi'
sdk+='|processthreadsapi|libloaderapi|sysinfoapi|wow64apiset|fileapi|handleapi|heapapi'
sdk+='|errhandlingapi|synchapi|memoryapi|userenv|wtsapi32|tlhelp32|psapi|winsock2|ws2tcpip'
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]'
pattern+="((winsim|platform/sim|sim|wrl|winrt)/|([^>\"]*/)?($sdk)\\.h[>\"])"

status=0
while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    # Our own win/<area>.h headers share names with SDK headers (win/strsafe.h, win/registry.h).
    if [[ $text =~ [\<\"]win/ ]]; then continue; fi
    echo "$file:$line: module code must not include this (use win:: from <win/...>):${text}"
    status=1
done < <(git ls-files --cached --others --exclude-standard -- module zef component | grep -E '\.(cpp|h|hpp|inl)$' |
    xargs -r grep -n -i -E "$pattern" /dev/null || true)
exit $status
