// The simulated process heap against the C library's allocator: HeapAlloc + HeapFree pairs of
// mixed sizes beside malloc + free pairs of the same sizes in the same order, both measured in
// the same benchmark. The sizes are those of the module's own allocations: mostly short strings
// and small vectors, now and then a path block or a log buffer. Blocks are freed in batches, in
// an order other than their allocation order, with up to kBatch blocks alive at once, as string
// and vector code does.
//
// BM_HeapAllocFree reports:
//   ns_per_pair      CPU time of one HeapAlloc + HeapFree pair;
//   malloc_ns        CPU time of one malloc + free pair of the same size;
//   per_malloc_free  the ratio of the two; the heap's bookkeeping (leak and double-free checks,
//                    the counters) is meant to keep it at or below 2.
// The journal is off, no fault or hook is installed: the cost of every call of the module.
#include <benchmark/benchmark.h>

#include <time.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "win/win.h"
#include "winsim/sim.h"

namespace {

constexpr std::size_t kBatch = 64;
constexpr std::size_t kSizeCount = 1024;

// A fixed spread of sizes: three in four below 128 bytes, some up to 2 KiB, a few of 64 KiB.
std::vector<std::size_t> MixedSizes() {
    std::vector<std::size_t> sizes;
    sizes.reserve(kSizeCount);
    std::uint32_t state = 0x2545F491u;
    for (std::size_t i = 0; i < kSizeCount; ++i) {
        state = state * 1664525u + 1013904223u;
        const std::uint32_t pick = state >> 24;
        if (pick < 192) {
            sizes.push_back(8 + (state >> 8) % 120);
        } else if (pick < 252) {
            sizes.push_back(128 + (state >> 8) % 1920);
        } else {
            sizes.push_back(64 * 1024);
        }
    }
    return sizes;
}

// Frees a batch in a stride order, neither allocation order nor its reverse.
constexpr std::size_t FreeIndex(std::size_t i) {
    return (i * 37) % kBatch;
}
static_assert(kBatch % 37 != 0);

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool HeapPass(win::HANDLE heap, const std::vector<std::size_t>& sizes) {
    std::array<void*, kBatch> blocks{};
    for (std::size_t base = 0; base < sizes.size(); base += kBatch) {
        for (std::size_t i = 0; i < kBatch; ++i) {
            blocks[i] = win::HeapAlloc(heap, 0, sizes[base + i]);
            if (blocks[i] == nullptr) return false;
            static_cast<char*>(blocks[i])[0] = 1;
        }
        benchmark::DoNotOptimize(blocks.data());
        for (std::size_t i = 0; i < kBatch; ++i) win::HeapFree(heap, 0, blocks[FreeIndex(i)]);
    }
    return true;
}

bool MallocPass(const std::vector<std::size_t>& sizes) {
    std::array<void*, kBatch> blocks{};
    for (std::size_t base = 0; base < sizes.size(); base += kBatch) {
        for (std::size_t i = 0; i < kBatch; ++i) {
            blocks[i] = std::malloc(sizes[base + i]);
            if (blocks[i] == nullptr) return false;
            static_cast<char*>(blocks[i])[0] = 1;
        }
        benchmark::DoNotOptimize(blocks.data());
        for (std::size_t i = 0; i < kBatch; ++i) std::free(blocks[FreeIndex(i)]);
    }
    return true;
}

void BM_HeapAllocFree(benchmark::State& state) {
    winsim::Reset();
    winsim::EnableJournal(false);
    const std::vector<std::size_t> sizes = MixedSizes();
    const win::HANDLE heap = win::GetProcessHeap();
    const std::uint64_t leakedBefore = winsim::GetHeapStats().liveBlocks;

    double heapSeconds = 0;
    double mallocSeconds = 0;
    std::int64_t passes = 0;
    for (auto _ : state) {
        // Alternate the two within each iteration, so a busy machine slows both alike.
        double start = ThreadSeconds();
        if (!HeapPass(heap, sizes)) {
            state.SkipWithError("HeapAlloc failed");
            return;
        }
        heapSeconds += ThreadSeconds() - start;
        start = ThreadSeconds();
        if (!MallocPass(sizes)) {
            state.SkipWithError("malloc failed");
            return;
        }
        mallocSeconds += ThreadSeconds() - start;
        ++passes;
    }
    if (winsim::GetHeapStats().liveBlocks != leakedBefore) state.SkipWithError("blocks leaked");

    const double pairs = static_cast<double>(passes) * static_cast<double>(sizes.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(pairs));
    if (pairs > 0) {
        state.counters["ns_per_pair"] = heapSeconds / pairs * 1e9;
        state.counters["malloc_ns"] = mallocSeconds / pairs * 1e9;
        state.counters["per_malloc_free"] = mallocSeconds > 0 ? heapSeconds / mallocSeconds : 0;
    }
}
BENCHMARK(BM_HeapAllocFree)->Unit(benchmark::kMicrosecond);

}  // namespace
