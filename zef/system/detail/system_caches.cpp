#include "zef/system/detail/system_caches.h"

#include "zef/system/detail/testing/system_caches.h"

namespace zef::system::testing {

void ResetSystemCaches() noexcept {
    detail::ResetVersionCaches();
    detail::ResetWow64Caches();
}

}  // namespace zef::system::testing
