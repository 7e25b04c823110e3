// The simulated registry (HKEY_LOCAL_MACHINE).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <winsim/scoped.h>

namespace winsim {

// A value of the simulated registry. Dword and String are what machine files and most tests
// need; Raw is any type with its bytes exactly as a writer gave them (a string without its
// terminator, REG_EXPAND_SZ, REG_BINARY, ...).
struct RegistryValue {
    enum class Type { Dword, String, Raw };
    Type type = Type::Dword;
    std::uint32_t dword = 0;
    std::u16string text;
    std::uint32_t rawType = 0;  // REG_* of a Raw value
    std::vector<std::uint8_t> bytes;

    static RegistryValue Dword(std::uint32_t value) { return {Type::Dword, value, {}, 0, {}}; }
    static RegistryValue String(std::u16string_view value) {
        return {Type::String, 0, std::u16string(value), 0, {}};
    }
    static RegistryValue Raw(std::uint32_t regType, std::vector<std::uint8_t> data) {
        return {Type::Raw, 0, {}, regType, std::move(data)};
    }
    bool operator==(const RegistryValue&) const = default;
};

// subKey is relative to HKLM ("System\CurrentControlSet\services\TPM"); missing keys are created.
void SetRegistryDword(std::u16string_view subKey, std::u16string_view valueName,
                      std::uint32_t value);
void SetRegistryString(std::u16string_view subKey, std::u16string_view valueName,
                       std::u16string_view value);
// Returns whether the value existed.
bool RemoveRegistryValue(std::u16string_view subKey, std::u16string_view valueName);
// The value, or nullopt when there is none.
std::optional<RegistryValue> GetRegistryValue(std::u16string_view subKey,
                                              std::u16string_view valueName);
// Sets the value, or removes it for nullopt.
void SetRegistryValue(std::u16string_view subKey, std::u16string_view valueName,
                      std::optional<RegistryValue> value);

// One registry value for a scope (nullopt: no value); the previous value, or its absence, is
// back at the end.
class ScopedRegistryValue : public ScopedOverride<std::optional<RegistryValue>> {
public:
    ScopedRegistryValue(std::u16string_view subKey, std::u16string_view valueName,
                        std::optional<RegistryValue> value)
        : ScopedOverride(
              [key = std::u16string(subKey), name = std::u16string(valueName)] {
                  return GetRegistryValue(key, name);
              },
              [key = std::u16string(subKey), name = std::u16string(valueName)](
                  std::optional<RegistryValue> v) { SetRegistryValue(key, name, std::move(v)); },
              std::move(value)) {}
};

}  // namespace winsim
