// The Windows binding of win/kernel.h.
#include "binding.h"

win::DWORD win::GetLastError() {
    return ::GetLastError();
}

void win::SetLastError(win::DWORD error) {
    ::SetLastError(error);
}

win::HANDLE win::GetProcessHeap() {
    return ::GetProcessHeap();
}

win::LPVOID win::HeapAlloc(win::HANDLE heap, win::DWORD flags, win::SIZE_T bytes) {
    return ::HeapAlloc(heap, flags, bytes);
}

win::BOOL win::HeapFree(win::HANDLE heap, win::DWORD flags, win::LPVOID block) {
    return ::HeapFree(heap, flags, block);
}

win::BOOL win::DisableThreadLibraryCalls(win::HMODULE module) {
    return ::DisableThreadLibraryCalls(static_cast<::HMODULE>(module));
}

win::BOOL win::CloseHandle(win::HANDLE handle) {
    return ::CloseHandle(handle);
}

static_assert(sizeof(::CRITICAL_SECTION) == sizeof(win::CRITICAL_SECTION));
static_assert(alignof(::CRITICAL_SECTION) == alignof(win::CRITICAL_SECTION));

namespace {

::CRITICAL_SECTION* Native(win::CRITICAL_SECTION* section) {
    return reinterpret_cast<::CRITICAL_SECTION*>(section);
}

}  // namespace

void win::InitializeCriticalSection(win::CRITICAL_SECTION* section) {
    ::InitializeCriticalSection(Native(section));
}

void win::EnterCriticalSection(win::CRITICAL_SECTION* section) {
    ::EnterCriticalSection(Native(section));
}

win::BOOL win::TryEnterCriticalSection(win::CRITICAL_SECTION* section) {
    return ::TryEnterCriticalSection(Native(section));
}

void win::LeaveCriticalSection(win::CRITICAL_SECTION* section) {
    ::LeaveCriticalSection(Native(section));
}

void win::DeleteCriticalSection(win::CRITICAL_SECTION* section) {
    ::DeleteCriticalSection(Native(section));
}
