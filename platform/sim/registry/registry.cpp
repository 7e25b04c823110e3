// The registry room: RegGetValueW on the simulated HKEY_LOCAL_MACHINE, and the "registry"
// member of machine.json.
#include "registry/registry.h"

#include <cstring>
#include <map>

#include <utf/codec.h>

#include "core/json.h"
#include "core/paths.h"
#include "system/system.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;

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

// The RRF_RT_* bit that admits a value of this type; types without one of their own (REG_LINK,
// REG_DWORD_BIG_ENDIAN, the resource lists) pass RRF_RT_ANY only.
win::DWORD RestrictionBitFor(win::DWORD type) {
    switch (type) {
        case win::REG_NONE:
            return win::RRF_RT_REG_NONE;
        case win::REG_SZ:
            return win::RRF_RT_REG_SZ;
        case win::REG_EXPAND_SZ:
            return win::RRF_RT_REG_EXPAND_SZ;
        case win::REG_BINARY:
            return win::RRF_RT_REG_BINARY;
        case win::REG_DWORD:
            return win::RRF_RT_REG_DWORD;
        case win::REG_MULTI_SZ:
            return win::RRF_RT_REG_MULTI_SZ;
        case win::REG_QWORD:
            return win::RRF_RT_REG_QWORD;
        default:
            return 0;
    }
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
                stored = winsim::registry::Value::Dword(loading.Dword(value));
            } else if (value.kind == Value::Kind::String) {
                stored = winsim::registry::Value::String(utf::ToUtf16(value.text));
            } else if (value.kind == Value::Kind::Object && value.members.size() == 1 &&
                       value.Find("dword") != nullptr) {
                stored = winsim::registry::Value::Dword(loading.Dword(*value.Find("dword")));
            } else if (value.kind == Value::Kind::Object && value.members.size() == 1 &&
                       value.Find("string") != nullptr) {
                stored = winsim::registry::Value::String(utf::ToUtf16(
                    loading.Expect(*value.Find("string"), Value::Kind::String, "\"string\"").text));
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

Value Value::Dword(std::uint32_t value) {
    Value v;
    v.type = win::REG_DWORD;
    v.data.resize(4);
    std::memcpy(v.data.data(), &value, 4);
    return v;
}

Value Value::String(std::u16string_view text, win::DWORD type) {
    Value v;
    v.type = type;
    v.data.resize((text.size() + 1) * sizeof(char16_t));
    std::memcpy(v.data.data(), text.data(), text.size() * sizeof(char16_t));
    return v;
}

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

namespace {

bool IsStringType(win::DWORD type) {
    return type == win::REG_SZ || type == win::REG_EXPAND_SZ || type == win::REG_MULTI_SZ;
}

// What RegGetValueW hands out for a stored value: REG_EXPAND_SZ expanded into REG_SZ unless
// the caller asks for the raw text, and strings terminated. A string stored without its
// terminator (a writer may leave it out) gets one, counted in the size, as RegGetValue
// promises; an empty one stays empty.
winsim::registry::Value Presented(const winsim::registry::Value& stored, win::DWORD flags) {
    if (!IsStringType(stored.type) || stored.data.empty()) return stored;
    // Whole UTF-16 units; a stray last byte is no part of any character.
    std::u16string text(stored.data.size() / 2, u'\0');
    std::memcpy(text.data(), stored.data.data(), text.size() * sizeof(char16_t));
    if (stored.type == win::REG_EXPAND_SZ && !(flags & win::RRF_NOEXPAND)) {
        // Expansion reads the text up to its first terminator, as any C string.
        return winsim::registry::Value::String(
            winsim::system::ExpandEnvironment(std::u16string_view(text.c_str())));
    }
    const std::size_t terminators = stored.type == win::REG_MULTI_SZ ? 2 : 1;
    std::size_t present = 0;
    while (present < terminators && present < text.size() &&
           text[text.size() - 1 - present] == u'\0')
        ++present;
    text.append(terminators - present, u'\0');
    winsim::registry::Value shown;
    shown.type = stored.type;
    shown.data.resize(text.size() * sizeof(char16_t));
    std::memcpy(shown.data.data(), text.data(), shown.data.size());
    return shown;
}

}  // namespace

namespace win {

LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, DWORD* type, void* data,
                     DWORD* dataSize) {
    // RRF_ZEROONFAILURE zeroes the caller's buffer on every failure, an injected one included:
    // the buffer as the caller sized it, not the size a too-small buffer is told it needs.
    const DWORD bufferSize = dataSize != nullptr ? *dataSize : 0;
    auto zeroOnFailure = [&] {
        if (data != nullptr && dataSize != nullptr && (flags & RRF_ZEROONFAILURE))
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
            // Flags without any RRF_RT_* bit accept no type: the value is read and refused.
            const DWORD accepted = flags & RRF_RT_ANY;
            // Both views of the registry at once is a contradiction Windows 10 refuses.
            if ((flags & RRF_SUBKEY_WOW6464KEY) && (flags & RRF_SUBKEY_WOW6432KEY) &&
                winsim::system::Os().major >= 10)
                return finish(ERROR_INVALID_PARAMETER);
            // Before Windows 8, asking for REG_EXPAND_SZ data that would be expanded was refused
            // outright; later versions expand it and then find REG_SZ not accepted.
            const winsim::system::OsVersion os = winsim::system::Os();
            const bool beforeWindows8 = os.major < 6 || (os.major == 6 && os.minor < 2);
            if (beforeWindows8 && (flags & RRF_RT_REG_EXPAND_SZ) && !(flags & RRF_NOEXPAND) &&
                accepted != RRF_RT_ANY)
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

            const winsim::registry::Value shown = Presented(valueIt->second.second, flags);
            const auto needed = static_cast<DWORD>(shown.data.size());
            if (type != nullptr) *type = shown.type;
            // The type is judged after the value was read: a refused value still reports its
            // type and size, and its data when the buffer holds it.
            const bool typeAccepted =
                accepted == RRF_RT_ANY || (accepted & RestrictionBitFor(shown.type)) != 0;
            LSTATUS status = ERROR_SUCCESS;
            if (typeAccepted && shown.type == REG_BINARY &&
                ((accepted == RRF_RT_DWORD && needed != 4) ||
                 (accepted == RRF_RT_QWORD && needed != 8)))
                status = ERROR_DATATYPE_MISMATCH;
            if (!typeAccepted) status = ERROR_UNSUPPORTED_TYPE;
            if (dataSize == nullptr) return finish(status);
            if (data != nullptr && *dataSize < needed) {
                *dataSize = needed;
                return finish(typeAccepted ? ERROR_MORE_DATA : status);
            }
            if (data != nullptr && needed > 0) std::memcpy(data, shown.data.data(), needed);
            *dataSize = needed;
            return finish(status);
        },
        zeroOnFailure);
}

}  // namespace win
