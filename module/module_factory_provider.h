// ModuleFactoryProvider: the module's class registry. The export serves only its factory; the
// registry object in turn serves the factories of the component classes. The registry is fixed
// in code and has no state of its own beyond the host services every component keeps.
//
// Threading: any thread; GetObjectFactory reads nothing of the object.
#pragma once

#include <utility>

#include "zef/object.h"
#include "zef/rtl/component_object.h"

namespace qorvex {

class ModuleFactoryProvider : public zef::IObjectFactoryProvider {
public:
    using Interface = zef::IObjectFactoryProvider;
    static constexpr zef::InterfaceId kInterfaceId = zef::kIidObjectFactoryProvider;

    explicit ModuleFactoryProvider(zef::HostServices&& host) noexcept : m_host(std::move(host)) {}

    const zef::HostServices& Host() const noexcept { return m_host; }

    zef::ResultCode GetObjectFactory(zef::IServiceLocator* locator, zef::ClassId classId,
                                     void** out) override;

private:
    zef::HostServices m_host;
};

// The creation step of the registry class's factory.
zef::ResultCode CreateModuleFactoryProvider(zef::IServiceLocator* locator, zef::InterfaceId iid,
                                            void** out);

// The export's work: the factory of the registry class, or 0x80000043 for any other class.
zef::ResultCode GetModuleObjectFactory(zef::IServiceLocator* locator, zef::ClassId classId,
                                       void** out);

}  // namespace qorvex
