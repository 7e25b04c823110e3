// Kernel objects, the last error, the process heap and the library entry helpers.
#pragma once

#include <win/types.h>

namespace win {

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD HEAP_ZERO_MEMORY = 0x8;

// Last error (per thread).
QORVEX_WIN_API DWORD GetLastError();
QORVEX_WIN_API void SetLastError(DWORD error);

// Process heap.
QORVEX_WIN_API HANDLE GetProcessHeap();
QORVEX_WIN_API LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
QORVEX_WIN_API BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Library entry.
QORVEX_WIN_API BOOL DisableThreadLibraryCalls(HMODULE module);

// A critical section: the layout of Windows' own (x64 and x86), so the binding passes it as
// is. Initialize cannot fail on Vista and later; a thread may enter it again while it owns it.
// What callers can see of it: after Initialize, LockCount -1, RecursionCount 0 and no
// OwningThread; the owner's entries count in RecursionCount and OwningThread names it (its
// thread id); the last Leave clears both. Leaving a section the thread does not own changes
// nothing but RecursionCount (it goes below zero), and the next Enter sets it right.
// DeleteCriticalSection leaves DebugInfo null.
struct CRITICAL_SECTION {
    void* DebugInfo;
    LONG LockCount;
    LONG RecursionCount;
    HANDLE OwningThread;
    HANDLE LockSemaphore;
    std::uintptr_t SpinCount;
};

QORVEX_WIN_API void InitializeCriticalSection(CRITICAL_SECTION* section);
QORVEX_WIN_API void EnterCriticalSection(CRITICAL_SECTION* section);
// TRUE when the section was free or already owned by the calling thread (which now owns it once
// more), FALSE without waiting when another thread owns it.
QORVEX_WIN_API BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
QORVEX_WIN_API void LeaveCriticalSection(CRITICAL_SECTION* section);
QORVEX_WIN_API void DeleteCriticalSection(CRITICAL_SECTION* section);

// Closes a kernel object's handle (a file today; tokens and processes share the same table).
QORVEX_WIN_API BOOL CloseHandle(HANDLE handle);

}  // namespace win
