// The resets behind zef/system/detail/testing/system_caches.h, one per source that keeps a
// process-wide cache.
#pragma once

namespace zef::system::detail {

void ResetVersionCaches() noexcept;
void ResetWow64Caches() noexcept;

}  // namespace zef::system::detail
