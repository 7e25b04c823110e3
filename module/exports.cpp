// The module's only two exports. On Windows the .def file exports them by their plain names;
// elsewhere they are the only symbols with default visibility (and the version script keeps
// everything else local).
#include <type_traits>

#include "module/module_factory_provider.h"
#include "qorvex/module.h"
#include "zef/rtl/component_object.h"

#if defined(_WIN32)
#define QORVEX_EXPORT
#else
#define QORVEX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

QORVEX_EXPORT zef::ResultCode zefGetObjectFactory(zef::IServiceLocator* locator,
                                                  zef::ClassId classId, void** out) {
    return qorvex::GetModuleObjectFactory(locator, classId, out);
}

QORVEX_EXPORT zef::ResultCode zefCanUnloadModule() {
    return zef::ModuleObjectCount().load(std::memory_order_acquire) == 0 ? zef::rc::kOk
                                                                         : zef::rc::kFalse;
}

}  // extern "C"

// The host resolves the exports by name and calls them through these pointer types.
static_assert(std::is_same_v<decltype(&zefGetObjectFactory), qorvex::GetObjectFactoryFn>);
static_assert(std::is_same_v<decltype(&zefCanUnloadModule), qorvex::CanUnloadModuleFn>);
