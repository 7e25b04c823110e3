// The contract tests' machine on Windows (and under Wine): the real registry. The test keys live
// under HKLM\Software, which a Wine prefix lets its user write.
#include "contract/machine.h"

#include <windows.h>

#include <stdexcept>

namespace contract {

namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

ScopedRegistryKey::ScopedRegistryKey(std::u16string subKey) : m_subKey(std::move(subKey)) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(m_subKey), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the test's registry key");
    ::RegCloseKey(key);
}

ScopedRegistryKey::~ScopedRegistryKey() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(m_subKey));
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(m_subKey));
}

void ScopedRegistryKey::Put(std::u16string_view name, win::DWORD type, const void* data,
                            std::size_t size) {
    const std::u16string valueName(name);
    if (::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Wide(m_subKey), Wide(valueName), type, data,
                          static_cast<DWORD>(size)) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the test's registry value");
    m_names.push_back(valueName);
}

std::optional<Os> GivenOs() {
    return std::nullopt;
}

ScopedOs::ScopedOs(const Os&) : m_restore([] {}) {}

ScopedOs::~ScopedOs() {
    m_restore();
}

std::u16string GivenWindowsFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("no Windows folder");
    return std::u16string(reinterpret_cast<const char16_t*>(folder), length);
}

}  // namespace contract
