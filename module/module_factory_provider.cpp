#include "module/module_factory_provider.h"

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_provider_factory.h"
#include "component/antimalware/source/win8_api/source/app_remediation_factory.h"
#include "module/object_factory.h"
#include "qorvex/module.h"

namespace qorvex {

zef::ResultCode ModuleFactoryProvider::GetObjectFactory(zef::IServiceLocator* locator,
                                                        zef::ClassId classId, void** out) {
    if (out == nullptr) return zef::rc::kInvalidArgument;
    if (classId == kClassTcgLogProvider) {
        return ServeObjectFactory<&antimalware::trusted_boot::CreateTcgLogProvider>(locator, out);
    }
    if (classId == kClassAppRemediation) {
        return ServeObjectFactory<&antimalware::win8_api::CreateAppRemediation>(locator, out);
    }
    *out = nullptr;
    return zef::rc::kNotImplemented;
}

zef::ResultCode CreateModuleFactoryProvider(zef::IServiceLocator* locator, zef::InterfaceId iid,
                                            void** out) {
    return zef::CreateComponent<ModuleFactoryProvider>(locator, iid, out);
}

zef::ResultCode GetModuleObjectFactory(zef::IServiceLocator* locator, zef::ClassId classId,
                                       void** out) {
    if (out == nullptr) return zef::rc::kInvalidArgument;
    if (classId != kClassModuleFactoryProvider) {
        *out = nullptr;
        return zef::rc::kNotImplemented;
    }
    return ServeObjectFactory<&CreateModuleFactoryProvider>(locator, out);
}

}  // namespace qorvex
