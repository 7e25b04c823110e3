// Controls of the registry room.
#include <winsim/registry.h>

#include <cstring>

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
    // A value reads back in the form it was set in: Dword and String when its bytes are exactly
    // what those make, Raw otherwise.
    if (stored->type == win::REG_DWORD && stored->data.size() == 4) {
        std::uint32_t dword = 0;
        std::memcpy(&dword, stored->data.data(), 4);
        return RegistryValue::Dword(dword);
    }
    if (stored->type == win::REG_SZ && stored->data.size() % 2 == 0 && stored->data.size() >= 2) {
        std::u16string text(stored->data.size() / 2 - 1, u'\0');
        std::memcpy(text.data(), stored->data.data(), text.size() * sizeof(char16_t));
        const bool terminated = stored->data[stored->data.size() - 1] == 0 &&
                                stored->data[stored->data.size() - 2] == 0;
        if (terminated && text.find(u'\0') == std::u16string::npos)
            return RegistryValue::String(text);
    }
    return RegistryValue::Raw(stored->type, stored->data);
}

void SetRegistryValue(std::u16string_view subKey, std::u16string_view valueName,
                      std::optional<RegistryValue> value) {
    Lock lock(MachineLock());
    if (!value) {
        registry::RemoveValue(subKey, valueName);
        return;
    }
    registry::Value stored;
    switch (value->type) {
        case RegistryValue::Type::Dword:
            stored = registry::Value::Dword(value->dword);
            break;
        case RegistryValue::Type::String:
            stored = registry::Value::String(value->text);
            break;
        case RegistryValue::Type::Raw:
            stored.type = value->rawType;
            stored.data = std::move(value->bytes);
            break;
    }
    registry::SetValue(subKey, valueName, std::move(stored));
}

}  // namespace winsim
