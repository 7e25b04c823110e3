// For tests only: the process-wide caches of the system helpers (version record, OsInfo, Wow64
// answer, the looked-up function pointers) are filled once and never emptied in a product.
// Tests that need another simulated system call this between cases, while no other thread uses
// the helpers. Module code never includes this header.
#pragma once

namespace zef::system::testing {

void ResetSystemCaches() noexcept;

}  // namespace zef::system::testing
