#include "zef/rtl/component_object.h"

namespace zef {

std::atomic<std::uint32_t>& ModuleObjectCount() noexcept {
    static std::atomic<std::uint32_t> count{0};
    return count;
}

}  // namespace zef
