// Controls of the registry room.
#include <winsim/registry.h>

#include "registry/registry.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

void SetRegistryDword(std::u16string_view subKey, std::u16string_view valueName,
                      std::uint32_t value) {
    SetRegistryValue(subKey, valueName, RegistryValue::Dword(value));
}

void SetRegistryString(std::u16string_view subKey, std::u16string_view valueName,
                       std::u16string_view value) {
    SetRegistryValue(subKey, valueName, RegistryValue::String(value));
}

bool RemoveRegistryValue(std::u16string_view subKey, std::u16string_view valueName) {
    Lock lock(MachineLock());
    return registry::RemoveValue(subKey, valueName);
}

std::optional<RegistryValue> GetRegistryValue(std::u16string_view subKey,
                                              std::u16string_view valueName) {
    Lock lock(MachineLock());
    auto stored = registry::GetValue(subKey, valueName);
    if (!stored) return std::nullopt;
    if (stored->type == win::REG_DWORD) return RegistryValue::Dword(stored->dword);
    return RegistryValue::String(stored->text);
}

void SetRegistryValue(std::u16string_view subKey, std::u16string_view valueName,
                      std::optional<RegistryValue> value) {
    Lock lock(MachineLock());
    if (!value) {
        registry::RemoveValue(subKey, valueName);
        return;
    }
    registry::Value stored;
    if (value->type == RegistryValue::Type::Dword) {
        stored.type = win::REG_DWORD;
        stored.dword = value->dword;
    } else {
        stored.type = win::REG_SZ;
        stored.text = std::move(value->text);
    }
    registry::SetValue(subKey, valueName, std::move(stored));
}

}  // namespace winsim
