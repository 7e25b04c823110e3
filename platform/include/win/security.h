// Thread tokens and impersonation. A thread either runs as its process or impersonates a client;
// OpenThreadToken fails with ERROR_NO_TOKEN (1008) on a thread that impersonates nobody.
// Token handles are closed with CloseHandle.
//
// Threading: impersonation is a state of the calling thread.
#pragma once

#include <win/types.h>

namespace win {

constexpr DWORD ERROR_NO_TOKEN = 1008;
constexpr DWORD ERROR_BAD_IMPERSONATION_LEVEL = 1346;

constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;

// The pseudo handle GetCurrentThread returns.
inline HANDLE const kCurrentThreadPseudoHandle =
    reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

QORVEX_WIN_API HANDLE GetCurrentThread();
QORVEX_WIN_API BOOL OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL openAsSelf,
                                    HANDLE* token);
QORVEX_WIN_API BOOL RevertToSelf();
QORVEX_WIN_API BOOL ImpersonateLoggedOnUser(HANDLE token);

}  // namespace win
