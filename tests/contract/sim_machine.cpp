// The contract tests' machine on the simulated Windows: the registry room's controls.
#include "contract/machine.h"

#include <winsim/registry.h>
#include <winsim/shell.h>
#include <winsim/system.h>

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

std::optional<Os> GivenOs() {
    const winsim::OsVersion os = winsim::GetOs();
    return Os{os.major,       os.minor,        os.build, os.servicePackMajor, os.servicePackMinor,
              os.productType, os.architecture, os.wow64};
}

ScopedOs::ScopedOs(const Os& os) {
    const winsim::OsVersion previous = winsim::GetOs();
    winsim::OsVersion next = previous;
    next.major = os.major;
    next.minor = os.minor;
    next.build = os.build;
    next.servicePackMajor = os.servicePackMajor;
    next.servicePackMinor = os.servicePackMinor;
    next.productType = os.productType;
    next.architecture = os.architecture;
    next.wow64 = os.wow64;
    winsim::SetOs(next);
    m_restore = [previous] { winsim::SetOs(previous); };
}

ScopedOs::~ScopedOs() {
    m_restore();
}

std::u16string GivenWindowsFolder() {
    return winsim::GetWindowsDirectory();
}

}  // namespace contract
