// The kernel room: last error, the process heap, the handle table and the library entry
// helpers of the simulated machine.
#include "kernel/kernel.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

using winsim::core::Channel;
using winsim::core::Journaling;

// The process heap's handle: any stable, non-null address does.
char g_processHeap;

constexpr std::align_val_t kHeapAlignment{16};

struct HeapState {
    std::unordered_map<void*, std::size_t> blocks;
    winsim::kernel::HeapCounters counters;
    std::uint64_t limit = winsim::kernel::kDefaultHeapLimit;
};

struct KernelState {
    HeapState heap;
    std::unordered_map<std::uintptr_t, std::shared_ptr<winsim::kernel::KernelObject>> handles;
    std::uintptr_t nextHandle = 0x100;
};

KernelState& State() {
    static auto* state = new KernelState;
    return *state;
}

// Blocks allocated from the heap stay valid across a reset and the counters keep counting:
// string code of the test itself may hold some. Only the peak restarts.
void ResetKernel() {
    KernelState& state = State();
    state.handles.clear();
    state.heap.counters.peakBytesInUse = state.heap.counters.bytesInUse;
    state.heap.limit = winsim::kernel::kDefaultHeapLimit;
}

QORVEX_SIM_ROOM(kernel, 0, ResetKernel);

}  // namespace

QORVEX_SIM_CALL(GetProcessHeap, Channel::LastError, nullptr, Journaling::WithHeap);
// HeapAlloc is documented not to set the last error: callers must only test for null.
QORVEX_SIM_CALL(HeapAlloc, Channel::NullOnly, nullptr, Journaling::WithHeap);
QORVEX_SIM_CALL(HeapFree, Channel::LastError, FALSE, Journaling::WithHeap);
QORVEX_SIM_CALL(DisableThreadLibraryCalls, Channel::LastError, FALSE);
QORVEX_SIM_CALL(CloseHandle, Channel::LastError, FALSE);
// Critical sections never take the machine lock: a thread waiting for one while holding it
// would stop the whole machine. Windows reports no failure from any of them.
QORVEX_SIM_CALL(InitializeCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(EnterCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(LeaveCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(DeleteCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);

namespace {

// The sections the calling thread owns, counting re-entries: what a test checks to see a lock
// left on every exit.
thread_local std::size_t t_ownedSections = 0;

std::recursive_mutex* MutexOf(win::CRITICAL_SECTION* section) {
    return static_cast<std::recursive_mutex*>(section->DebugInfo);
}

}  // namespace

namespace winsim::kernel {

win::HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    KernelState& state = State();
    const std::uintptr_t value = state.nextHandle;
    state.nextHandle += 4;
    state.handles.emplace(value, std::move(object));
    return reinterpret_cast<win::HANDLE>(value);
}

KernelObject* FindHandle(win::HANDLE handle) {
    KernelState& state = State();
    auto it = state.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == state.handles.end() ? nullptr : it->second.get();
}

bool RemoveHandle(win::HANDLE handle) {
    return State().handles.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

std::size_t HandleCount() {
    return State().handles.size();
}

std::size_t OwnedCriticalSections() {
    return t_ownedSections;
}

HeapCounters GetHeapCounters() {
    return State().heap.counters;
}

void ResetHeapPeak() {
    HeapCounters& counters = State().heap.counters;
    counters.peakBytesInUse = counters.bytesInUse;
}

void SetHeapLimit(std::uint64_t bytes) {
    State().heap.limit = bytes;
}

}  // namespace winsim::kernel

namespace win {

using namespace winsim::core;

DWORD GetLastError() {
    return LastError();
}

void SetLastError(DWORD error) {
    LastError() = error;
}

HANDLE GetProcessHeap() {
    return Simulate<&GetProcessHeap>(
        {}, [] { return std::string(); }, [] { return static_cast<HANDLE>(&g_processHeap); });
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    HeapState& state = State().heap;
    const char* why = "";
    auto fail = [&](const char* reason, DWORD error) -> LPVOID {
        // Windows leaves ERROR_NOT_ENOUGH_MEMORY behind when the heap runs out.
        ++state.counters.failedAllocations;
        why = reason;
        return Fail<LPVOID>(error, nullptr);
    };
    return Simulate<&HeapAlloc>(
        {heap, flags, bytes},
        [&] { return Pointer(heap) + ", " + Hex(flags) + ", " + std::to_string(bytes); },
        [&]() -> LPVOID {
            if (heap != &g_processHeap) return fail("unknown heap", ERROR_INVALID_HANDLE);
            if (bytes > state.limit || state.counters.bytesInUse + bytes > state.limit)
                return fail("out of memory", ERROR_NOT_ENOUGH_MEMORY);
            // A zero-byte request still gets a distinct block, as on Windows.
            void* block = ::operator new(bytes == 0 ? 1 : bytes, kHeapAlignment, std::nothrow);
            if (block == nullptr) return fail("out of memory", ERROR_NOT_ENOUGH_MEMORY);
            if (flags & HEAP_ZERO_MEMORY) std::memset(block, 0, bytes);
            state.blocks.emplace(block, bytes);
            auto& counters = state.counters;
            ++counters.allocations;
            ++counters.liveBlocks;
            counters.bytesInUse += bytes;
            if (counters.bytesInUse > counters.peakBytesInUse)
                counters.peakBytesInUse = counters.bytesInUse;
            return block;
        },
        [&] {
            ++state.counters.failedAllocations;
            why = "fault";
        },
        [&](const CallDescriptor&, LPVOID block, bool failed) {
            return failed ? std::string("null (") + why + ")" : Pointer(block);
        });
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    return Simulate<&HeapFree>(
        {heap, flags, block},
        [&] { return Pointer(heap) + ", " + Hex(flags) + ", " + Pointer(block); },
        [&]() -> BOOL {
            HeapState& state = State().heap;
            if (heap != &g_processHeap) return Fail(ERROR_INVALID_HANDLE, FALSE);
            if (block == nullptr) return TRUE;  // RtlFreeHeap accepts a null block
            auto it = state.blocks.find(block);
            if (it == state.blocks.end()) {
                // A double free or a foreign pointer: Windows may corrupt the heap here; the
                // simulated heap refuses and counts it so that tests see the fault.
                ++state.counters.invalidFrees;
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            }
            auto& counters = state.counters;
            counters.bytesInUse -= it->second;
            --counters.liveBlocks;
            ++counters.frees;
            state.blocks.erase(it);
            ::operator delete(block, kHeapAlignment);
            return TRUE;
        });
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    return Simulate<&DisableThreadLibraryCalls>(
        {module}, [&] { return Pointer(module); }, [] { return TRUE; });
}

BOOL CloseHandle(HANDLE handle) {
    return Simulate<&CloseHandle>(
        {handle}, [&] { return Pointer(handle); },
        [&]() -> BOOL {
            // INVALID_HANDLE_VALUE is also the current-process pseudo handle, which closes
            // successfully.
            if (handle == INVALID_HANDLE_VALUE) return TRUE;
            if (State().handles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0)
                return Fail(ERROR_INVALID_HANDLE, FALSE);
            return TRUE;
        });
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&InitializeCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            *section = CRITICAL_SECTION{};
            section->DebugInfo = new std::recursive_mutex;
        });
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&EnterCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            MutexOf(section)->lock();
            ++section->RecursionCount;
            ++t_ownedSections;
        });
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&LeaveCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            --section->RecursionCount;
            --t_ownedSections;
            MutexOf(section)->unlock();
        });
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&DeleteCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            delete MutexOf(section);
            section->DebugInfo = nullptr;
        });
}

}  // namespace win
