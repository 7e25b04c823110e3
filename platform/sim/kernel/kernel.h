// The kernel room: the process heap, the handle table and the library entry helpers. (The last
// error is per-thread state of the core.)
#pragma once

#include <cstdint>
#include <memory>

#include "core/core.h"

namespace winsim::kernel {

// ---- Handles ------------------------------------------------------------------------------

// What a handle refers to; each room derives its objects (an open file, a token) from it.
struct KernelObject {
    virtual ~KernelObject() = default;
    // Find handles are no kernel handles on Windows: CloseHandle refuses them (FindClose
    // closes them).
    virtual bool ClosesWithCloseHandle() const { return true; }
};

// Lock held. A new handle value for the object; CloseHandle drops it.
QORVEX_SIM_SHARED win::HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// Lock held. The object behind a handle, null for a handle that is not open.
QORVEX_SIM_SHARED KernelObject* FindHandle(win::HANDLE handle);
template <class T>
T* FindHandleOf(win::HANDLE handle) {
    return dynamic_cast<T*>(FindHandle(handle));
}
// Lock held. Drops a handle (what CloseHandle and FindClose do); false when it was not open.
QORVEX_SIM_SHARED bool RemoveHandle(win::HANDLE handle);
// Lock held.
QORVEX_SIM_SHARED std::size_t HandleCount();
// Lock-free: the critical sections the calling thread has entered and not left.
QORVEX_SIM_SHARED std::size_t OwnedCriticalSections();

// ---- The process heap -----------------------------------------------------------------------

struct HeapCounters {
    std::uint64_t bytesInUse = 0;
    std::uint64_t peakBytesInUse = 0;
    std::uint64_t allocations = 0;
    std::uint64_t frees = 0;
    std::uint64_t failedAllocations = 0;
    std::uint64_t invalidFrees = 0;
    std::uint64_t liveBlocks = 0;
};

inline constexpr std::uint64_t kDefaultHeapLimit = std::uint64_t{1} << 30;

// Lock held.
QORVEX_SIM_SHARED HeapCounters GetHeapCounters();
QORVEX_SIM_SHARED void ResetHeapPeak();
QORVEX_SIM_SHARED void SetHeapLimit(std::uint64_t bytes);

}  // namespace winsim::kernel
