// Last error, the process heap and the library entry helpers of the simulated machine.
#include "machine.h"

#include <cstring>
#include <new>

namespace {

thread_local win::DWORD t_lastError = 0;

// The process heap's handle: any stable, non-null address does.
char g_processHeap;

constexpr std::align_val_t kHeapAlignment{16};

}  // namespace

namespace win {

using namespace winsim::detail;

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD error) {
    t_lastError = error;
}

HANDLE GetProcessHeap() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    if (auto error = TakeFault(m, "GetProcessHeap")) {
        SetLastError(*error);
        if (m.journalHeap)
            Record(m, "GetProcessHeap", "", "null (error " + std::to_string(*error) + ")");
        return nullptr;
    }
    if (m.journalHeap) Record(m, "GetProcessHeap", "", Pointer(&g_processHeap));
    return &g_processHeap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    Machine& m = TheMachine();
    std::unique_lock guard(m.lock);
    auto fail = [&](const char* why, DWORD error) -> LPVOID {
        ++m.heap.stats.failedAllocations;
        SetLastError(error);
        if (m.journalHeap)
            Record(m, "HeapAlloc", Pointer(heap) + ", " + Hex(flags) + ", " + std::to_string(bytes),
                   std::string("null (") + why + ")");
        return nullptr;
    };
    // HeapAlloc is documented not to set the last error, yet Windows leaves
    // ERROR_NOT_ENOUGH_MEMORY there when the heap runs out; callers must only test for null.
    if (auto error = TakeFault(m, "HeapAlloc")) return fail("fault", *error);
    if (heap != &g_processHeap) return fail("unknown heap", ERROR_INVALID_HANDLE);
    if (bytes > m.heap.limit || m.heap.stats.bytesInUse + bytes > m.heap.limit)
        return fail("out of memory", ERROR_NOT_ENOUGH_MEMORY);
    // A zero-byte request still gets a distinct block, as on Windows.
    void* block = ::operator new(bytes == 0 ? 1 : bytes, kHeapAlignment, std::nothrow);
    if (block == nullptr) return fail("out of memory", ERROR_NOT_ENOUGH_MEMORY);
    if (flags & HEAP_ZERO_MEMORY) std::memset(block, 0, bytes);
    m.heap.blocks.emplace(block, bytes);
    auto& stats = m.heap.stats;
    ++stats.allocations;
    ++stats.liveBlocks;
    stats.bytesInUse += bytes;
    if (stats.bytesInUse > stats.peakBytesInUse) stats.peakBytesInUse = stats.bytesInUse;
    if (m.journalHeap)
        Record(m, "HeapAlloc", Pointer(heap) + ", " + Hex(flags) + ", " + std::to_string(bytes),
               Pointer(block));
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    Machine& m = TheMachine();
    std::unique_lock guard(m.lock);
    auto result = [&](BOOL ok, DWORD error) {
        if (!ok) SetLastError(error);
        if (m.journalHeap)
            Record(m, "HeapFree", Pointer(heap) + ", " + Hex(flags) + ", " + Pointer(block),
                   BoolResult(ok, error));
        return ok;
    };
    if (auto error = TakeFault(m, "HeapFree")) return result(FALSE, *error);
    if (heap != &g_processHeap) return result(FALSE, ERROR_INVALID_HANDLE);
    if (block == nullptr) return result(TRUE, 0);  // RtlFreeHeap accepts a null block
    auto it = m.heap.blocks.find(block);
    if (it == m.heap.blocks.end()) {
        // A double free or a foreign pointer: Windows may corrupt the heap here; the simulated
        // heap refuses and counts it so that tests see the fault.
        ++m.heap.stats.invalidFrees;
        return result(FALSE, ERROR_INVALID_PARAMETER);
    }
    auto& stats = m.heap.stats;
    stats.bytesInUse -= it->second;
    --stats.liveBlocks;
    ++stats.frees;
    m.heap.blocks.erase(it);
    ::operator delete(block, kHeapAlignment);
    return result(TRUE, 0);
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    if (auto error = TakeFault(m, "DisableThreadLibraryCalls")) {
        SetLastError(*error);
        Record(m, "DisableThreadLibraryCalls", Pointer(module), BoolResult(false, *error));
        return FALSE;
    }
    Record(m, "DisableThreadLibraryCalls", Pointer(module), "TRUE");
    return TRUE;
}

}  // namespace win

namespace winsim {

HeapStats GetHeapStats() {
    auto& m = detail::TheMachine();
    std::lock_guard guard(m.lock);
    HeapStats stats = m.heap.stats;
    stats.coTaskMemLiveBlocks = m.heap.coTaskBlocks.size();
    return stats;
}

void ResetHeapPeak() {
    auto& m = detail::TheMachine();
    std::lock_guard guard(m.lock);
    m.heap.stats.peakBytesInUse = m.heap.stats.bytesInUse;
}

void SetHeapLimit(std::uint64_t bytes) {
    auto& m = detail::TheMachine();
    std::lock_guard guard(m.lock);
    m.heap.limit = bytes;
}

}  // namespace winsim
