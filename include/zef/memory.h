// AllocateWith / FreeWith: the one memory rule of the framework's strings and vectors.
// With an allocator, memory comes from the host's IAllocator; without one (null), from the
// process heap. A null block raises std::bad_alloc.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "zef/object.h"

// The process heap. The module and everything built inside this repository reach it through
// the platform binding (QORVEX_PLATFORM_BINDING, set by the qorvex_platform target). A host
// built against the installed headers has no binding, and must still use the very heap the
// module uses, because strings and vectors without an allocator cross the interface:
// - on Windows that is kernel32's process heap, declared exactly as <windows.h> declares it so
//   that either header may come first;
// - on Linux the module runs on the simulated machine, whose heap libqorvex_winsim.so exports
//   (the package's qorvex::headers target links it).
#if defined(QORVEX_PLATFORM_BINDING)
#include "win/win.h"
#elif defined(_WIN32)
extern "C" {
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, unsigned long flags,
                                                unsigned long long bytes);
__declspec(dllimport) int __stdcall HeapFree(void* heap, unsigned long flags, void* block);
}
#else
namespace win {
void* GetProcessHeap();
void* HeapAlloc(void* heap, std::uint32_t flags, std::size_t bytes);
std::int32_t HeapFree(void* heap, std::uint32_t flags, void* block);
}  // namespace win
#endif

namespace zef {

namespace detail {
#if defined(QORVEX_PLATFORM_BINDING) || !defined(_WIN32)
inline void* PlatformProcessHeap() noexcept {
    return win::GetProcessHeap();
}
inline void* PlatformHeapAlloc(void* heap, std::size_t size) noexcept {
    return win::HeapAlloc(heap, 0, size);
}
inline void PlatformHeapFree(void* heap, void* block) noexcept {
    win::HeapFree(heap, 0, block);
}
#else
inline void* PlatformProcessHeap() noexcept {
    return ::GetProcessHeap();
}
inline void* PlatformHeapAlloc(void* heap, std::size_t size) noexcept {
    return ::HeapAlloc(heap, 0, size);
}
inline void PlatformHeapFree(void* heap, void* block) noexcept {
    ::HeapFree(heap, 0, block);
}
#endif
}  // namespace detail

// The process heap, asked of the platform once: the handle stays the same for the whole life
// of the process, and a block taken from it must be freeable even when the platform would
// refuse to name the heap again.
inline void* ProcessHeap() noexcept {
    static std::atomic<void*> heap{nullptr};
    void* handle = heap.load(std::memory_order_acquire);
    if (handle == nullptr) {
        handle = detail::PlatformProcessHeap();
        if (handle != nullptr) heap.store(handle, std::memory_order_release);
    }
    return handle;
}

inline void* AllocateWith(IAllocator* allocator, std::size_t size) {
    void* block = allocator != nullptr ? allocator->Alloc(static_cast<std::uint64_t>(size))
                                       : detail::PlatformHeapAlloc(ProcessHeap(), size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

inline void FreeWith(IAllocator* allocator, void* block) noexcept {
    if (block == nullptr) return;
    if (allocator != nullptr)
        allocator->Free(block);
    else
        detail::PlatformHeapFree(ProcessHeap(), block);
}

// A counted reference to a host allocator, as the strings and vectors keep it.
class AllocatorRef {
public:
    AllocatorRef() noexcept = default;
    explicit AllocatorRef(IAllocator* allocator) noexcept : m_allocator(allocator) {
        if (m_allocator != nullptr) m_allocator->AddRef();
    }
    AllocatorRef(const AllocatorRef& other) noexcept : AllocatorRef(other.m_allocator) {}
    AllocatorRef(AllocatorRef&& other) noexcept : m_allocator(other.m_allocator) {
        other.m_allocator = nullptr;
    }
    AllocatorRef& operator=(AllocatorRef other) noexcept {
        std::swap(m_allocator, other.m_allocator);
        return *this;
    }
    ~AllocatorRef() {
        if (m_allocator != nullptr) m_allocator->Release();
    }
    IAllocator* get() const noexcept { return m_allocator; }

private:
    IAllocator* m_allocator = nullptr;
};

}  // namespace zef
