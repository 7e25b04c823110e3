// The registry room: RegGetValueW on the simulated HKEY_LOCAL_MACHINE, and the "registry"
// member of machine.json.
#include "registry/registry.h"

#include <cstring>
#include <map>

#include <utf/codec.h>

#include "core/json.h"
#include "core/paths.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;

constexpr win::DWORD kRrfRtRegExpandSz = 0x00000004;
constexpr win::DWORD kRrfNoExpand = 0x10000000;
constexpr win::DWORD kRrfZeroOnFailure = 0x20000000;

struct Key {
    // folded value name -> (name as given, value)
    std::map<std::u16string, std::pair<std::u16string, winsim::registry::Value>> values;
};

// folded HKLM sub-key path -> key
std::map<std::u16string, Key>& Keys() {
    static auto* keys = new std::map<std::u16string, Key>;
    return *keys;
}

void ResetRegistry() {
    Keys().clear();
}

QORVEX_SIM_ROOM(registry, 0, ResetRegistry);

// The RRF_RT_* bit that admits a value of this type.
win::DWORD RestrictionBitFor(win::DWORD type) {
    return type < 16 ? (1u << type) : 0;
}

bool IsPredefinedKey(win::HKEY key) {
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(key));
    const auto high = reinterpret_cast<std::uintptr_t>(key) >> 32;
    return (high == 0xFFFFFFFFu || high == 0) && value >= 0x80000000u && value <= 0x80000006u;
}

// "registry": {"HKLM\\Sub\\Key": {"Name": 17, "Other": "text", ...}, ...}
void LoadRegistryMember(const Value& registry, const Loading& loading) {
    loading.Expect(registry, Value::Kind::Object, "\"registry\"");
    for (const auto& [keyName, values] : registry.members) {
        std::string_view path = keyName;
        bool hklm = false;
        for (std::string_view root : {"HKLM\\", "HKEY_LOCAL_MACHINE\\"}) {
            if (path.size() >= root.size() &&
                Fold(utf::ToUtf16(path.substr(0, root.size()))) == Fold(utf::ToUtf16(root))) {
                path.remove_prefix(root.size());
                hklm = true;
                break;
            }
        }
        if (!hklm)
            loading.Fail(values,
                         "registry key \"" + keyName +
                             "\" must start with HKLM\\\\ (only HKEY_LOCAL_MACHINE is simulated)");
        loading.Expect(values, Value::Kind::Object, "registry key \"" + keyName + "\"");
        const std::u16string subKey = utf::ToUtf16(path);
        for (const auto& [valueName, value] : values.members) {
            winsim::registry::Value stored;
            if (value.kind == Value::Kind::Number) {
                stored.type = win::REG_DWORD;
                stored.dword = loading.Dword(value);
            } else if (value.kind == Value::Kind::String) {
                stored.type = win::REG_SZ;
                stored.text = utf::ToUtf16(value.text);
            } else if (value.kind == Value::Kind::Object && value.members.size() == 1 &&
                       value.Find("dword") != nullptr) {
                stored.type = win::REG_DWORD;
                stored.dword = loading.Dword(*value.Find("dword"));
            } else if (value.kind == Value::Kind::Object && value.members.size() == 1 &&
                       value.Find("string") != nullptr) {
                stored.type = win::REG_SZ;
                stored.text = utf::ToUtf16(
                    loading.Expect(*value.Find("string"), Value::Kind::String, "\"string\"").text);
            } else {
                loading.Fail(value, "registry value \"" + valueName +
                                        "\" must be a number (REG_DWORD), a string (REG_SZ), "
                                        "{\"dword\": n} or {\"string\": \"...\"}");
            }
            winsim::registry::SetValue(subKey, utf::ToUtf16(valueName), std::move(stored));
        }
    }
}

QORVEX_SIM_MACHINE_MEMBER("registry", 0, LoadRegistryMember);

}  // namespace

QORVEX_SIM_CALL(RegGetValueW, Channel::Status, static_cast<LSTATUS>(error));

namespace winsim::registry {

void SetValue(std::u16string_view subKey, std::u16string_view name, Value value) {
    auto& key = Keys()[KeyPath(subKey)];
    key.values[Fold(name)] = {std::u16string(name), std::move(value)};
}

bool RemoveValue(std::u16string_view subKey, std::u16string_view name) {
    auto key = Keys().find(KeyPath(subKey));
    if (key == Keys().end()) return false;
    return key->second.values.erase(Fold(name)) != 0;
}

std::optional<Value> GetValue(std::u16string_view subKey, std::u16string_view name) {
    auto key = Keys().find(KeyPath(subKey));
    if (key == Keys().end()) return std::nullopt;
    auto value = key->second.values.find(Fold(name));
    if (value == key->second.values.end()) return std::nullopt;
    return value->second.second;
}

}  // namespace winsim::registry

namespace win {

LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, DWORD* type, void* data,
                     DWORD* dataSize) {
    // RRF_ZEROONFAILURE zeroes the caller's buffer on every failure, an injected one included:
    // the buffer as the caller sized it, not the size a too-small buffer is told it needs.
    const DWORD bufferSize = dataSize != nullptr ? *dataSize : 0;
    auto zeroOnFailure = [&] {
        if (data != nullptr && dataSize != nullptr && (flags & kRrfZeroOnFailure))
            std::memset(data, 0, bufferSize);
    };
    auto finish = [&](LSTATUS status) {
        if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) zeroOnFailure();
        return status;
    };
    return Simulate<&RegGetValueW>(
        {key, subKey, value, flags, type, data, dataSize},
        [&] {
            std::string root = key == HKEY_LOCAL_MACHINE ? "HKLM" : Pointer(key);
            return root + ", " + Quote(subKey) + ", " + Quote(value) + ", " + Hex(flags);
        },
        [&]() -> LSTATUS {
            if ((flags & RRF_RT_ANY) == 0) return finish(ERROR_INVALID_PARAMETER);
            // Asking for REG_EXPAND_SZ data without RRF_NOEXPAND is refused by Windows.
            if ((flags & kRrfRtRegExpandSz) && !(flags & kRrfNoExpand) &&
                (flags & RRF_RT_ANY) != RRF_RT_ANY)
                return finish(ERROR_INVALID_PARAMETER);
            if (data != nullptr && dataSize == nullptr) return finish(ERROR_INVALID_PARAMETER);
            if (key != HKEY_LOCAL_MACHINE)
                return finish(IsPredefinedKey(key) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE);

            // Sub-keys are separated by one or more '\\'; a leading one names no key.
            std::u16string keyPath;
            if (subKey != nullptr) {
                if (subKey[0] == u'\\') return finish(ERROR_BAD_PATHNAME);
                keyPath = KeyPath(subKey);
            }
            auto keyIt = Keys().find(keyPath);
            if (keyIt == Keys().end()) return finish(ERROR_FILE_NOT_FOUND);
            auto valueIt =
                keyIt->second.values.find(value == nullptr ? std::u16string() : Fold(value));
            if (valueIt == keyIt->second.values.end()) return finish(ERROR_FILE_NOT_FOUND);

            const winsim::registry::Value& stored = valueIt->second.second;
            const DWORD needed =
                stored.type == REG_DWORD
                    ? 4
                    : static_cast<DWORD>((stored.text.size() + 1) * sizeof(char16_t));
            if (type != nullptr) *type = stored.type;
            if ((flags & RestrictionBitFor(stored.type)) == 0) {
                if (dataSize != nullptr) *dataSize = needed;
                return finish(ERROR_UNSUPPORTED_TYPE);
            }
            if (dataSize == nullptr) return ERROR_SUCCESS;
            if (data == nullptr) {
                *dataSize = needed;
                return ERROR_SUCCESS;
            }
            if (*dataSize < needed) {
                *dataSize = needed;
                return finish(ERROR_MORE_DATA);
            }
            if (stored.type == REG_DWORD) {
                std::memcpy(data, &stored.dword, 4);
            } else {
                std::memcpy(data, stored.text.c_str(), needed);
            }
            *dataSize = needed;
            return ERROR_SUCCESS;
        },
        zeroOnFailure);
}

}  // namespace win
