// The kernel room: last error, the process heap, the handle table and the library entry
// helpers of the simulated machine.
#include "kernel/kernel.h"

#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

using winsim::core::Channel;
using winsim::core::Journaling;

// The process heap's handle: any stable, non-null address does.
char g_processHeap;

// Blocks come from the C library's malloc, which aligns as HeapAlloc does on x64.
static_assert(alignof(std::max_align_t) >= 16);

// Large blocks (whole log files) are asked to be backed by transparent huge pages where the
// host offers them: a 16 MiB buffer then costs a few page faults instead of thousands. Only the
// whole 2 MiB pages inside the block are advised; nothing changes where the host says no.
void AdviseLargeBlock(void* block, std::size_t bytes) noexcept {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    if (bytes < 2 * kHugePage) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// The live blocks by address, for the leak counters and to tell a block of this heap from a
// double free or a foreign pointer without reading the memory the pointer names. Open
// addressing with linear probing; removal shifts the following entries back, so no tombstones
// pile up. The table doubles at half full and never shrinks: a steady workload never
// rehashes, and neither a lookup nor an update allocates.
class BlockTable {
public:
    BlockTable() = default;
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;

    // False when the table needed to grow and could not (out of memory).
    bool Insert(void* block, std::size_t bytes) noexcept {
        if (2 * (m_count + 1) > m_capacity && !Grow()) return false;
        Place(block, bytes);
        ++m_count;
        return true;
    }

    // Removes a live block and gives its size; false for a pointer that is not a live block.
    bool Remove(void* block, std::size_t& bytes) noexcept {
        if (m_count == 0) return false;
        std::size_t hole = Home(block);
        while (m_slots[hole].block != block) {
            if (m_slots[hole].block == nullptr) return false;
            hole = (hole + 1) & (m_capacity - 1);
        }
        bytes = m_slots[hole].bytes;
        // Close the hole: an entry further along the run moves into it unless its home lies
        // cyclically in (hole, next].
        for (std::size_t next = (hole + 1) & (m_capacity - 1); m_slots[next].block != nullptr;
             next = (next + 1) & (m_capacity - 1)) {
            const std::size_t home = Home(m_slots[next].block);
            const bool stays =
                hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
            if (stays) continue;
            m_slots[hole] = m_slots[next];
            hole = next;
        }
        m_slots[hole] = Slot{};
        --m_count;
        return true;
    }

private:
    struct Slot {
        void* block = nullptr;
        std::size_t bytes = 0;
    };

    // Neighbouring blocks get neighbouring slots: blocks are mostly taken and given back in
    // address order, so the table is walked like an array instead of missing the cache at
    // every call. The higher bits fold in so that distant regions (the break heap, mappings)
    // do not pile onto the same slots.
    std::size_t Home(const void* block) const noexcept {
        const auto address = reinterpret_cast<std::uintptr_t>(block);
        return static_cast<std::size_t>((address >> 4) ^ (address >> 24)) & (m_capacity - 1);
    }

    void Place(void* block, std::size_t bytes) noexcept {
        std::size_t slot = Home(block);
        while (m_slots[slot].block != nullptr) slot = (slot + 1) & (m_capacity - 1);
        m_slots[slot] = Slot{block, bytes};
    }

    bool Grow() noexcept {
        const std::size_t capacity = m_capacity == 0 ? 256 : 2 * m_capacity;
        auto* slots = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
        if (slots == nullptr) return false;
        AdviseLargeBlock(slots, capacity * sizeof(Slot));
        Slot* old = m_slots;
        const std::size_t oldCapacity = m_capacity;
        m_slots = slots;
        m_capacity = capacity;
        for (std::size_t i = 0; i < oldCapacity; ++i)
            if (old[i].block != nullptr) Place(old[i].block, old[i].bytes);
        std::free(old);
        return true;
    }

    Slot* m_slots = nullptr;
    std::size_t m_capacity = 0;  // 0 or a power of two
    std::size_t m_count = 0;
};

// The heap's own lock: HeapAlloc and HeapFree run without the machine lock (string code makes
// very many of them), and their critical section is a few instructions long.
class HeapLock {
public:
    void lock() noexcept {
        while (m_held.exchange(true, std::memory_order_acquire))
            while (m_held.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
    void unlock() noexcept { m_held.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_held{false};
};

struct HeapState {
    HeapLock lock;  // guards the fields below; taken inside the machine lock, never around it
    BlockTable blocks;
    winsim::kernel::HeapCounters counters;
    // Set under the lock; HeapAlloc also reads it before taking the lock.
    std::atomic<std::uint64_t> limit{winsim::kernel::kDefaultHeapLimit};
};
using HeapGuard = std::lock_guard<HeapLock>;

// Constant-initialised and never destroyed (BlockTable keeps its slots): blocks may be freed
// by static destructors that run after this file's.
constinit HeapState g_heap;

struct KernelState {
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
    HeapGuard guard(g_heap.lock);
    g_heap.counters.peakBytesInUse = g_heap.counters.bytesInUse;
    g_heap.limit = winsim::kernel::kDefaultHeapLimit;
}

QORVEX_SIM_ROOM(kernel, 0, ResetKernel);

}  // namespace

QORVEX_SIM_CALL(GetProcessHeap, Channel::LastError, nullptr, Journaling::WithHeap,
                winsim::core::Locking::ForFaultsOnly);
// HeapAlloc is documented not to set the last error: callers must only test for null.
QORVEX_SIM_CALL(HeapAlloc, Channel::NullOnly, nullptr, Journaling::WithHeap,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(HeapFree, Channel::LastError, FALSE, Journaling::WithHeap,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(DisableThreadLibraryCalls, Channel::LastError, FALSE);
QORVEX_SIM_CALL(CloseHandle, Channel::LastError, FALSE);
// Critical sections never take the machine lock: a thread waiting for one while holding it
// would stop the whole machine. Windows reports no failure from any of them.
QORVEX_SIM_CALL(InitializeCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(EnterCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(TryEnterCriticalSection, Channel::None, TRUE, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(LeaveCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);
QORVEX_SIM_CALL(DeleteCriticalSection, Channel::None, 0, Journaling::Never,
                winsim::core::Locking::ForFaultsOnly);

namespace {

// The sections the calling thread owns, counting re-entries: what a test checks to see a lock
// left on every exit.
thread_local std::size_t t_ownedSections = 0;

// What a simulated section keeps behind DebugInfo: the lock other threads wait on, and its
// owner, which threads other than the owner read without holding the lock.
struct SectionState {
    std::mutex lock;
    std::atomic<win::HANDLE> owner{nullptr};
};

SectionState* StateOf(win::CRITICAL_SECTION* section) {
    return static_cast<SectionState*>(section->DebugInfo);
}

// The calling thread's id as OwningThread shows it: non-zero and a multiple of 4, as Windows
// thread ids are.
win::HANDLE CurrentThreadId() {
    static std::atomic<std::uintptr_t> next{0x1000};
    thread_local const std::uintptr_t id = next.fetch_add(4);
    return reinterpret_cast<win::HANDLE>(id);
}

// The owner's bookkeeping once it holds the lock: the public fields as Windows shows them.
void TakeOwnership(win::CRITICAL_SECTION* section, SectionState* state, win::HANDLE self) {
    state->owner.store(self, std::memory_order_relaxed);
    section->OwningThread = self;
    section->RecursionCount = 1;
    section->LockCount = -2;
    ++t_ownedSections;
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
    HeapState& heap = g_heap;
    HeapGuard guard(heap.lock);
    return heap.counters;
}

void ResetHeapPeak() {
    HeapState& heap = g_heap;
    HeapGuard guard(heap.lock);
    heap.counters.peakBytesInUse = heap.counters.bytesInUse;
}

void SetHeapLimit(std::uint64_t bytes) {
    HeapState& heap = g_heap;
    HeapGuard guard(heap.lock);
    heap.limit = bytes;
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
    HeapState& state = g_heap;
    const char* why = "";
    auto fail = [&](const char* reason, DWORD error) -> LPVOID {
        // Windows leaves ERROR_NOT_ENOUGH_MEMORY behind when the heap runs out.
        why = reason;
        return Fail<LPVOID>(error, nullptr);
    };
    return Simulate<&HeapAlloc>(
        {heap, flags, bytes},
        [&] { return Pointer(heap) + ", " + Hex(flags) + ", " + std::to_string(bytes); },
        [&]() -> LPVOID {
            if (heap != &g_processHeap) {
                HeapGuard guard(state.lock);
                ++state.counters.failedAllocations;
                return fail("unknown heap", ERROR_INVALID_HANDLE);
            }
            // A zero-byte request still gets a distinct block, as on Windows. The block is
            // taken outside the heap's lock; the limit is checked again under it.
            void* block = nullptr;
            if (bytes <= state.limit.load(std::memory_order_relaxed))
                block = std::malloc(bytes == 0 ? 1 : bytes);
            {
                HeapGuard guard(state.lock);
                auto& counters = state.counters;
                if (block != nullptr &&
                    counters.bytesInUse + bytes <= state.limit.load(std::memory_order_relaxed) &&
                    state.blocks.Insert(block, bytes)) {
                    ++counters.allocations;
                    ++counters.liveBlocks;
                    counters.bytesInUse += bytes;
                    if (counters.bytesInUse > counters.peakBytesInUse)
                        counters.peakBytesInUse = counters.bytesInUse;
                } else {
                    ++counters.failedAllocations;
                    std::free(block);
                    block = nullptr;
                }
            }
            if (block == nullptr) return fail("out of memory", ERROR_NOT_ENOUGH_MEMORY);
            AdviseLargeBlock(block, bytes);
            if (flags & HEAP_ZERO_MEMORY) std::memset(block, 0, bytes);
            return block;
        },
        [&] {
            HeapGuard guard(state.lock);
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
            HeapState& state = g_heap;
            // A null block is freed successfully whatever the heap handle, a null one too.
            if (block == nullptr) return TRUE;
            if (heap != &g_processHeap) return Fail(ERROR_INVALID_HANDLE, FALSE);
            {
                HeapGuard guard(state.lock);
                std::size_t bytes = 0;
                if (!state.blocks.Remove(block, bytes)) {
                    // A double free or a foreign pointer: Windows may corrupt the heap here;
                    // the simulated heap refuses and counts it so that tests see the fault.
                    ++state.counters.invalidFrees;
                    return Fail(ERROR_INVALID_PARAMETER, FALSE);
                }
                auto& counters = state.counters;
                counters.bytesInUse -= bytes;
                --counters.liveBlocks;
                ++counters.frees;
            }
            std::free(block);
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
            // The pseudo handles of the current process (INVALID_HANDLE_VALUE's value) and the
            // current thread need no closing; closing them succeeds and does nothing.
            if (handle == INVALID_HANDLE_VALUE ||
                handle == reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2)))
                return TRUE;
            const winsim::kernel::KernelObject* object = winsim::kernel::FindHandle(handle);
            if (object == nullptr || !object->ClosesWithCloseHandle())
                return Fail(ERROR_INVALID_HANDLE, FALSE);
            winsim::kernel::RemoveHandle(handle);
            return TRUE;
        });
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&InitializeCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            *section = CRITICAL_SECTION{};
            section->LockCount = -1;
            section->DebugInfo = new SectionState;
        });
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&EnterCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            SectionState* state = StateOf(section);
            const HANDLE self = CurrentThreadId();
            if (state->owner.load(std::memory_order_relaxed) == self) {
                ++section->RecursionCount;
                ++t_ownedSections;
                return;
            }
            state->lock.lock();
            TakeOwnership(section, state, self);
        });
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    return Simulate<&TryEnterCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&]() -> BOOL {
            SectionState* state = StateOf(section);
            const HANDLE self = CurrentThreadId();
            if (state->owner.load(std::memory_order_relaxed) == self) {
                ++section->RecursionCount;
                ++t_ownedSections;
                return TRUE;
            }
            if (!state->lock.try_lock()) return FALSE;
            TakeOwnership(section, state, self);
            return TRUE;
        });
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&LeaveCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            SectionState* state = StateOf(section);
            // Windows does not check the owner: a stray Leave only miscounts RecursionCount,
            // which the next Enter sets right. The simulation keeps that and never unlocks a
            // lock another thread holds.
            if (state->owner.load(std::memory_order_relaxed) != CurrentThreadId()) {
                --section->RecursionCount;
                return;
            }
            --t_ownedSections;
            if (--section->RecursionCount > 0) return;
            section->OwningThread = nullptr;
            section->LockCount = -1;
            state->owner.store(nullptr, std::memory_order_relaxed);
            state->lock.unlock();
        });
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    Simulate<&DeleteCriticalSection>(
        {section}, [&] { return Pointer(section); },
        [&] {
            delete StateOf(section);
            section->DebugInfo = nullptr;
        });
}

}  // namespace win
