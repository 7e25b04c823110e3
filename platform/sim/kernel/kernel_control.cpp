// Controls of the kernel room: heap counters and limit, open handles.
#include <winsim/files.h>
#include <winsim/heap.h>

#include "kernel/kernel.h"
#include "shell/shell.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

HeapStats GetHeapStats() {
    Lock lock(MachineLock());
    const kernel::HeapCounters heap = kernel::GetHeapCounters();
    const shell::TaskMemoryCounters task = shell::GetTaskMemoryCounters();
    HeapStats stats;
    stats.bytesInUse = heap.bytesInUse;
    stats.peakBytesInUse = heap.peakBytesInUse;
    stats.allocations = heap.allocations;
    stats.frees = heap.frees;
    stats.failedAllocations = heap.failedAllocations;
    stats.invalidFrees = heap.invalidFrees;
    stats.liveBlocks = heap.liveBlocks;
    stats.coTaskMemLiveBlocks = task.liveBlocks;
    stats.coTaskMemInvalidFrees = task.invalidFrees;
    return stats;
}

void ResetHeapPeak() {
    Lock lock(MachineLock());
    kernel::ResetHeapPeak();
}

void SetHeapLimit(std::uint64_t bytes) {
    Lock lock(MachineLock());
    kernel::SetHeapLimit(bytes);
}

std::size_t OpenHandleCount() {
    Lock lock(MachineLock());
    return kernel::HandleCount();
}

std::size_t OwnedCriticalSections() {
    return kernel::OwnedCriticalSections();
}

}  // namespace winsim
