// The registry room: HKEY_LOCAL_MACHINE's keys and values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <win/registry.h>

#include "core/core.h"

namespace winsim::registry {

// A value as the registry keeps it: its type and its bytes exactly as they were written (a
// string's terminator is part of its bytes, or missing when the writer left it out).
struct QORVEX_SIM_SHARED Value {
    win::DWORD type = win::REG_NONE;
    std::vector<std::uint8_t> data;

    static Value Dword(std::uint32_t value);
    // The text and its terminator.
    static Value String(std::u16string_view text, win::DWORD type = win::REG_SZ);
};

// Lock held. subKey is relative to HKLM; missing keys are created.
QORVEX_SIM_SHARED void SetValue(std::u16string_view subKey, std::u16string_view name, Value value);
// Returns whether the value existed.
QORVEX_SIM_SHARED bool RemoveValue(std::u16string_view subKey, std::u16string_view name);
QORVEX_SIM_SHARED std::optional<Value> GetValue(std::u16string_view subKey,
                                                std::u16string_view name);

}  // namespace winsim::registry
