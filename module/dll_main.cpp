// The library entry point. The module runs no code of its own at load and never wants thread
// notifications; the registry is fixed in code, so nothing is set up here.
#if defined(_WIN32)

#include "win/win.h"

extern "C" win::BOOL __stdcall DllMain(win::HINSTANCE instance, win::DWORD reason,
                                       win::LPVOID /*reserved*/) {
    if (reason == win::DLL_PROCESS_ATTACH) win::DisableThreadLibraryCalls(instance);
    return win::TRUE;
}

#endif
