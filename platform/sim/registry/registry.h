// The registry room: HKEY_LOCAL_MACHINE's keys and values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <win/registry.h>

#include "core/core.h"

namespace winsim::registry {

struct Value {
    win::DWORD type = win::REG_DWORD;
    std::uint32_t dword = 0;
    std::u16string text;  // REG_SZ, without terminator
};

// Lock held. subKey is relative to HKLM; missing keys are created.
QORVEX_SIM_SHARED void SetValue(std::u16string_view subKey, std::u16string_view name, Value value);
// Returns whether the value existed.
QORVEX_SIM_SHARED bool RemoveValue(std::u16string_view subKey, std::u16string_view name);
QORVEX_SIM_SHARED std::optional<Value> GetValue(std::u16string_view subKey,
                                                std::u16string_view name);

}  // namespace winsim::registry
