// AllocateWith / FreeWith: the one memory rule of the framework's strings and vectors.
// With an allocator, memory comes from the host's IAllocator; without one (null), from the
// process heap. A null block raises std::bad_alloc.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "win/win.h"
#include "zef/object.h"

namespace zef {

// The process heap, asked of the platform once: the handle stays the same for the whole life
// of the process, and a block taken from it must be freeable even when the platform would
// refuse to name the heap again.
inline win::HANDLE ProcessHeap() noexcept {
    static std::atomic<win::HANDLE> heap{nullptr};
    win::HANDLE handle = heap.load(std::memory_order_acquire);
    if (handle == nullptr) {
        handle = win::GetProcessHeap();
        if (handle != nullptr) heap.store(handle, std::memory_order_release);
    }
    return handle;
}

inline void* AllocateWith(IAllocator* allocator, std::size_t size) {
    void* block = allocator != nullptr
                      ? allocator->Alloc(static_cast<std::uint64_t>(size))
                      : win::HeapAlloc(ProcessHeap(), 0, static_cast<win::SIZE_T>(size));
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

inline void FreeWith(IAllocator* allocator, void* block) noexcept {
    if (block == nullptr) return;
    if (allocator != nullptr)
        allocator->Free(block);
    else
        win::HeapFree(ProcessHeap(), 0, block);
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
