// The shell's known folders and the COM task memory their paths come in.
#pragma once

#include <win/types.h>

namespace win {

using KNOWNFOLDERID = GUID;
using REFKNOWNFOLDERID = const GUID&;

// {F38BF404-1D43-42F2-9305-67DE0B28FC23}
constexpr KNOWNFOLDERID FOLDERID_Windows = {
    0xF38BF404, 0x1D43, 0x42F2, {0x93, 0x05, 0x67, 0xDE, 0x0B, 0x28, 0xFC, 0x23}};

QORVEX_WIN_API HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token,
                                            PWSTR* path);
QORVEX_WIN_API void CoTaskMemFree(LPVOID block);

}  // namespace win
