// The Windows binding of win/security.h: forwards to advapi32 and kernel32.
#include "binding.h"

win::HANDLE win::GetCurrentThread() {
    return ::GetCurrentThread();
}

win::BOOL win::OpenThreadToken(win::HANDLE thread, win::DWORD desiredAccess, win::BOOL openAsSelf,
                               win::HANDLE* token) {
    return ::OpenThreadToken(thread, desiredAccess, openAsSelf, token);
}

win::BOOL win::RevertToSelf() {
    return ::RevertToSelf();
}

win::BOOL win::ImpersonateLoggedOnUser(win::HANDLE token) {
    return ::ImpersonateLoggedOnUser(token);
}
