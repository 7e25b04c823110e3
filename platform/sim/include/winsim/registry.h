// The simulated registry (HKEY_LOCAL_MACHINE).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <winsim/scoped.h>

namespace winsim {

struct RegistryValue {
    enum class Type { Dword, String };
    Type type = Type::Dword;
    std::uint32_t dword = 0;
    std::u16string text;

    static RegistryValue Dword(std::uint32_t value) { return {Type::Dword, value, {}}; }
    static RegistryValue String(std::u16string_view value) {
        return {Type::String, 0, std::u16string(value)};
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
