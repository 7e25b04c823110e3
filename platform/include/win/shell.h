// The shell's known folders and the COM task memory their paths come in.
#pragma once

#include <win/types.h>

namespace win {

using KNOWNFOLDERID = GUID;
using REFKNOWNFOLDERID = const GUID&;

// {F38BF404-1D43-42F2-9305-67DE0B28FC23}
constexpr KNOWNFOLDERID FOLDERID_Windows = {
    0xF38BF404, 0x1D43, 0x42F2, {0x93, 0x05, 0x67, 0xDE, 0x0B, 0x28, 0xFC, 0x23}};

// KNOWN_FOLDER_FLAG values.
constexpr DWORD KF_FLAG_DEFAULT = 0x0;
constexpr DWORD KF_FLAG_SIMPLE_IDLIST = 0x100;
constexpr DWORD KF_FLAG_NOT_PARENT_RELATIVE = 0x200;  // valid only with KF_FLAG_DEFAULT_PATH
constexpr DWORD KF_FLAG_DEFAULT_PATH = 0x400;
constexpr DWORD KF_FLAG_DONT_VERIFY = 0x4000;
constexpr DWORD KF_FLAG_DONT_UNEXPAND = 0x2000;
constexpr DWORD KF_FLAG_NO_ALIAS = 0x1000;

// The folder's path in COM task memory (free it with CoTaskMemFree). An id the system does not
// know fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); KF_FLAG_NOT_PARENT_RELATIVE without
// KF_FLAG_DEFAULT_PATH with E_INVALIDARG. *path is null after every failure.
QORVEX_WIN_API HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token,
                                            PWSTR* path);
QORVEX_WIN_API void CoTaskMemFree(LPVOID block);

}  // namespace win
