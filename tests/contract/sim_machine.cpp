// The contract tests' machine on the simulated Windows: the registry room's controls.
#include "contract/machine.h"

#include <winsim/registry.h>

#include <cstdint>

namespace contract {

ScopedRegistryKey::ScopedRegistryKey(std::u16string subKey) : m_subKey(std::move(subKey)) {}

ScopedRegistryKey::~ScopedRegistryKey() {
    for (const std::u16string& name : m_names) winsim::RemoveRegistryValue(m_subKey, name);
}

void ScopedRegistryKey::Put(std::u16string_view name, win::DWORD type, const void* data,
                            std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    winsim::SetRegistryValue(
        m_subKey, name,
        winsim::RegistryValue::Raw(type, std::vector<std::uint8_t>(bytes, bytes + size)));
    m_names.emplace_back(name);
}

}  // namespace contract
