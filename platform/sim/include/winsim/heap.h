// The simulated process heap and COM task memory.
#pragma once

#include <cstdint>

namespace winsim {

struct HeapStats {
    std::uint64_t bytesInUse = 0;
    std::uint64_t peakBytesInUse = 0;  // since the last ResetHeapPeak() (or Reset())
    std::uint64_t allocations = 0;     // successful HeapAlloc calls, ever
    std::uint64_t frees = 0;           // successful HeapFree calls of a block, ever
    std::uint64_t failedAllocations = 0;
    std::uint64_t invalidFrees = 0;  // HeapFree of a block the heap does not know (double free)
    std::uint64_t liveBlocks = 0;
    std::uint64_t coTaskMemLiveBlocks = 0;  // SHGetKnownFolderPath results not freed yet
    std::uint64_t coTaskMemInvalidFrees = 0;
};
HeapStats GetHeapStats();
void ResetHeapPeak();
// HeapAlloc returns null once the bytes in use would pass this limit (default 1 GiB), the way a
// machine that ran out of memory answers. Reset() restores the default.
void SetHeapLimit(std::uint64_t bytes);
inline constexpr std::uint64_t kDefaultHeapLimit = std::uint64_t{1} << 30;

}  // namespace winsim
