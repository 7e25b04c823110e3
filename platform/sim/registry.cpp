// RegGetValueW on the simulated HKEY_LOCAL_MACHINE.
#include "machine.h"

#include <cstring>

namespace {

constexpr win::DWORD kRrfRtRegExpandSz = 0x00000004;
constexpr win::DWORD kRrfNoExpand = 0x10000000;
constexpr win::DWORD kRrfZeroOnFailure = 0x20000000;

// The RRF_RT_* bit that admits a value of this type.
win::DWORD RestrictionBitFor(win::DWORD type) {
    return type < 16 ? (1u << type) : 0;
}

bool IsPredefinedKey(win::HKEY key) {
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(key));
    const auto high = reinterpret_cast<std::uintptr_t>(key) >> 32;
    return (high == 0xFFFFFFFFu || high == 0) && value >= 0x80000000u && value <= 0x80000006u;
}

}  // namespace

namespace win {

using namespace winsim::detail;

LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, DWORD* type, void* data,
                     DWORD* dataSize) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto finish = [&](LSTATUS status) {
        if (Journaling(m)) {
            std::string root = key == HKEY_LOCAL_MACHINE ? "HKLM" : Pointer(key);
            Record(m, "RegGetValueW",
                   root + ", " + Quote(subKey) + ", " + Quote(value) + ", " + Hex(flags),
                   std::to_string(status));
        }
        if (status != static_cast<LSTATUS>(ERROR_SUCCESS) && data != nullptr &&
            dataSize != nullptr && (flags & kRrfZeroOnFailure))
            std::memset(data, 0, *dataSize);
        return status;
    };
    if (auto error = TakeFault(m, "RegGetValueW")) return finish(static_cast<LSTATUS>(*error));

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
    auto keyIt = m.state.registry.find(keyPath);
    if (keyIt == m.state.registry.end()) return finish(ERROR_FILE_NOT_FOUND);
    auto valueIt = keyIt->second.values.find(value == nullptr ? std::u16string() : Fold(value));
    if (valueIt == keyIt->second.values.end()) return finish(ERROR_FILE_NOT_FOUND);

    const RegistryValue& stored = valueIt->second.second;
    const DWORD needed = stored.type == REG_DWORD
                             ? 4
                             : static_cast<DWORD>((stored.text.size() + 1) * sizeof(char16_t));
    if (type != nullptr) *type = stored.type;
    if ((flags & RestrictionBitFor(stored.type)) == 0) {
        if (dataSize != nullptr) *dataSize = needed;
        return finish(ERROR_UNSUPPORTED_TYPE);
    }
    if (dataSize == nullptr) return finish(ERROR_SUCCESS);
    if (data == nullptr) {
        *dataSize = needed;
        return finish(ERROR_SUCCESS);
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
    return finish(ERROR_SUCCESS);
}

}  // namespace win
