// The process heap and critical sections as callers see them, as tables of facts:
// GetProcessHeap, HeapAlloc and HeapFree (dlls/kernel32/tests/heap.c and Microsoft's
// documentation of GetProcessHeap), the fields of a critical section and TryEnter
// (dlls/ntdll/tests/rtl.c test_RtlLeaveCriticalSection, dlls/kernel32/tests/sync.c), and
// DeleteCriticalSection (sync.c test_crit_section and the documentation). Every row runs on the
// simulated machine and, cross built, against the real system under Wine; the LockCount column
// of the critical-section steps holds on Windows but not under Wine (its todo_wine) and is
// checked on the simulated machine only.
#include <win/kernel.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "contract/machine.h"

namespace {

constexpr win::DWORD kUntouched = 0xDEADBEEF;

// ---- The process heap -------------------------------------------------------------------------

TEST(KernelCallsTest, HeapAllocGivesDistinctAlignedBlocksAndZeroesOnRequest) {
    const win::HANDLE heap = win::GetProcessHeap();
    ASSERT_NE(nullptr, heap);
    EXPECT_EQ(heap, win::GetProcessHeap());

    struct Row {
        const char* what;
        win::DWORD flags;
        win::SIZE_T bytes;
    };
    const Row rows[] = {
        {"zero bytes", 0, 0},
        {"zero bytes, HEAP_ZERO_MEMORY", win::HEAP_ZERO_MEMORY, 0},
        {"one byte, HEAP_ZERO_MEMORY", win::HEAP_ZERO_MEMORY, 1},
        {"123 bytes, HEAP_ZERO_MEMORY", win::HEAP_ZERO_MEMORY, 123},
        {"1 MiB, HEAP_ZERO_MEMORY", win::HEAP_ZERO_MEMORY, std::size_t{1} << 20},
        {"4 KiB", 0, 4096},
    };
    std::vector<void*> blocks;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        void* block = win::HeapAlloc(heap, row.flags, row.bytes);
        ASSERT_NE(nullptr, block);
        // x64 heap blocks are 16-byte aligned.
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % 16);
        for (void* other : blocks) EXPECT_NE(other, block);
        if (row.flags & win::HEAP_ZERO_MEMORY) {
            const auto* bytes = static_cast<const unsigned char*>(block);
            std::size_t nonZero = 0;
            for (std::size_t i = 0; i < row.bytes; ++i) nonZero += bytes[i] != 0;
            EXPECT_EQ(0u, nonZero);
        }
        // The whole block is the caller's to write.
        if (row.bytes > 0) std::memset(block, 0x5A, row.bytes);
        blocks.push_back(block);
    }
    for (void* block : blocks) EXPECT_TRUE(win::HeapFree(heap, 0, block));

    // A size no heap can give: null.
    EXPECT_EQ(nullptr, win::HeapAlloc(heap, 0, ~win::SIZE_T{0}));
}

// heap.c: freeing a block of the heap succeeds, and so does freeing no block, on the process
// heap or on no heap at all (its "border cases"). The documentation of GetProcessHeap: one
// default heap per process, so every thread gets the same handle.
TEST(KernelCallsTest, HeapFreeByHeapAndBlock) {
    const win::HANDLE heap = win::GetProcessHeap();
    ASSERT_NE(nullptr, heap);
    win::HANDLE otherThreads = nullptr;
    std::thread([&] { otherThreads = win::GetProcessHeap(); }).join();
    EXPECT_EQ(heap, otherThreads);

    struct Row {
        const char* what;
        win::HANDLE heap;
        bool block;  // a block of the process heap, else none
        win::SIZE_T bytes;
        win::DWORD allocFlags;
    };
    const Row rows[] = {
        {"a block of the process heap", heap, true, 16, 0},
        {"a block of zero bytes", heap, true, 0, 0},
        {"a block allocated zeroed", heap, true, 4096, win::HEAP_ZERO_MEMORY},
        {"no block, the process heap", heap, false, 0, 0},
        {"no block, no heap", nullptr, false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        void* block = nullptr;
        if (row.block) {
            block = win::HeapAlloc(heap, row.allocFlags, row.bytes);
            ASSERT_NE(nullptr, block);
        }
        win::SetLastError(kUntouched);
        EXPECT_TRUE(win::HeapFree(row.heap, 0, block));
        if (!row.block) {
            EXPECT_EQ(kUntouched, win::GetLastError());
        }
    }
}

// ---- Critical sections ------------------------------------------------------------------------

struct Fields {
    win::LONG lockCount;
    win::LONG recursionCount;
    bool owned;
};

Fields Read(const win::CRITICAL_SECTION& section) {
    return {section.LockCount, section.RecursionCount, section.OwningThread != nullptr};
}

TEST(KernelCallsTest, CriticalSectionFieldsFollowTheOwnersEntries) {
    win::CRITICAL_SECTION section;
    std::memset(&section, 0x11, sizeof section);
    win::InitializeCriticalSection(&section);
    EXPECT_NE(nullptr, section.DebugInfo);
    EXPECT_EQ(nullptr, section.LockSemaphore);

    struct Step {
        const char* what;
        void (*call)(win::CRITICAL_SECTION*);
        win::LONG recursionCount;
        bool owned;
        win::LONG lockCount;  // LockCount while owned is a todo_wine of Wine's suite
        bool lockCountOnWine;
    };
    const auto enter = [](win::CRITICAL_SECTION* s) { win::EnterCriticalSection(s); };
    const auto leave = [](win::CRITICAL_SECTION* s) { win::LeaveCriticalSection(s); };
    const auto tryEnter = [](win::CRITICAL_SECTION* s) {
        EXPECT_TRUE(win::TryEnterCriticalSection(s));
    };
    const Step steps[] = {
        {"initialized", nullptr, 0, false, -1, true},
        {"entered", enter, 1, true, -2, false},
        {"entered again", enter, 2, true, -2, false},
        {"entered again with TryEnter", tryEnter, 3, true, -2, false},
        {"left once", leave, 2, true, -2, false},
        {"left twice", leave, 1, true, -2, false},
        {"left by the owner's last entry", leave, 0, false, -1, true},
        // Leaving a section nobody owns only miscounts RecursionCount...
        {"left once too often", leave, -1, false, -1, true},
        {"left twice too often", leave, -2, false, -1, true},
        // ... and the next entry sets it right.
        {"entered after that", enter, 1, true, -2, false},
        {"left", leave, 0, false, -1, true},
    };
    win::HANDLE owner = nullptr;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.call != nullptr) step.call(&section);
        const Fields fields = Read(section);
        EXPECT_EQ(step.recursionCount, fields.recursionCount);
        EXPECT_EQ(step.owned, fields.owned);
        if (step.lockCountOnWine || contract::kSimulatedMachine) {
            EXPECT_EQ(step.lockCount, fields.lockCount);
        }
        if (step.owned) {
            if (owner == nullptr) owner = section.OwningThread;
            EXPECT_EQ(owner, section.OwningThread) << "the same thread owns it throughout";
        }
    }
    win::DeleteCriticalSection(&section);
    EXPECT_EQ(nullptr, section.DebugInfo);
}

// sync.c test_crit_section: deleting a section, from any state its owner left it in, clears
// DebugInfo. Microsoft's documentation of DeleteCriticalSection: a deleted section may be
// initialized again, and then is a new section (rtl.c's fields of a fresh one: LockCount -1,
// RecursionCount 0, no owner, no semaphore) that enters as any other.
TEST(KernelCallsTest, DeleteCriticalSectionAfterEachUseAndInitializeAgain) {
    struct Row {
        const char* what;
        int entries;  // entered and left this many times, nested, before the deletion
    };
    const Row rows[] = {
        {"never entered", 0},
        {"entered and left", 1},
        {"entered twice and left twice", 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::CRITICAL_SECTION section;
        std::memset(&section, 0, sizeof section);
        win::InitializeCriticalSection(&section);
        for (int i = 0; i < row.entries; ++i) win::EnterCriticalSection(&section);
        for (int i = 0; i < row.entries; ++i) win::LeaveCriticalSection(&section);
        win::DeleteCriticalSection(&section);
        EXPECT_EQ(nullptr, section.DebugInfo);

        win::InitializeCriticalSection(&section);
        EXPECT_NE(nullptr, section.DebugInfo);
        EXPECT_EQ(-1, section.LockCount);
        EXPECT_EQ(0, section.RecursionCount);
        EXPECT_EQ(nullptr, section.OwningThread);
        EXPECT_EQ(nullptr, section.LockSemaphore);
        EXPECT_TRUE(win::TryEnterCriticalSection(&section));
        EXPECT_EQ(1, section.RecursionCount);
        win::LeaveCriticalSection(&section);
        win::DeleteCriticalSection(&section);
        EXPECT_EQ(nullptr, section.DebugInfo);
    }
}

TEST(KernelCallsTest, TryEnterFromAnotherThreadFailsWithoutWaitingWhileTheSectionIsOwned) {
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSection(&section);
    win::EnterCriticalSection(&section);
    const win::HANDLE mine = section.OwningThread;
    win::BOOL whileOwned = 12345;
    std::thread([&] { whileOwned = win::TryEnterCriticalSection(&section); }).join();
    EXPECT_FALSE(whileOwned);
    EXPECT_EQ(1, section.RecursionCount);
    EXPECT_EQ(mine, section.OwningThread);
    win::LeaveCriticalSection(&section);

    // Free again: the other thread takes it, and is its owner, under its own id.
    win::HANDLE theirs = nullptr;
    win::BOOL whenFree = 12345;
    std::thread([&] {
        whenFree = win::TryEnterCriticalSection(&section);
        theirs = section.OwningThread;
        if (whenFree) win::LeaveCriticalSection(&section);
    }).join();
    EXPECT_TRUE(whenFree);
    EXPECT_NE(nullptr, theirs);
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(nullptr, section.OwningThread);
    win::DeleteCriticalSection(&section);
}

}  // namespace
