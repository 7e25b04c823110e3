// ObjectFactory: the class factory of one class of the module, handed to the host by the
// export (for the registry class) and by the registry object (for the component classes).
//
// A factory keeps no host reference: it counts itself in ModuleObjectCount and in its own
// per-class instance tracker, and lives in the global allocation, because the host allocator is
// only known once the host calls CreateInstance with a locator.
//
// Threading: any thread; the reference count is atomic and CreateInstance keeps no state.
#pragma once

#include <cstdint>
#include <new>

#include "zef/object.h"
#include "zef/result_code.h"
#include "zef/rtl/component_object.h"
#include "zef/rtl/error_handling/exception.h"
#include "zef/rtl/implements.h"

namespace qorvex {

// Creates one object of a class with the host's locator and hands out its interface iid:
// writes *out and returns the query's result, or returns the creation's code without writing
// *out. An object whose query fails is destroyed before the call returns.
using CreateObjectFn = zef::ResultCode (*)(zef::IServiceLocator* locator, zef::InterfaceId iid,
                                           void** out);

template <CreateObjectFn CreateObject>
class ObjectFactory final : private zef::ModuleLock,
                            private zef::InstanceTracker<ObjectFactory<CreateObject>>,
                            public zef::implements<ObjectFactory<CreateObject>, zef::IObjectFactory,
                                                   zef::kIidObjectFactory> {
    friend zef::implements<ObjectFactory<CreateObject>, zef::IObjectFactory,
                           zef::kIidObjectFactory>;

public:
    // Allocates a factory with the global allocation. Any failure is reported through the
    // locator's tracer (when there is one) and returned; *out is then not written.
    static zef::ResultCode New(zef::IServiceLocator* locator, ObjectFactory** out) noexcept {
        try {
            *out = new ObjectFactory();
            return zef::rc::kOk;
        } catch (...) {
            return zef::HandleConstructionException(locator);
        }
    }

    zef::ResultCode CreateInstance(zef::IServiceLocator* locator, zef::InterfaceId iid,
                                   void** out) override {
        // A host that breaks the calling contract gets an answer, not a crash: there is no one
        // to ask for host services without a locator and nowhere to put the object without out.
        if (locator == nullptr || out == nullptr) return zef::rc::kInvalidArgument;
        return CreateObject(locator, iid, out);
    }

private:
    ObjectFactory() noexcept = default;
    ~ObjectFactory() = default;
};

// Creates the factory of a class and hands it out as IObjectFactory: the query's result, or the
// factory creation's code without writing *out.
template <CreateObjectFn CreateObject>
zef::ResultCode ServeObjectFactory(zef::IServiceLocator* locator, void** out) noexcept {
    ObjectFactory<CreateObject>* factory = nullptr;
    const zef::ResultCode created = ObjectFactory<CreateObject>::New(locator, &factory);
    if (factory == nullptr) return created;
    const zef::ResultCode queried = factory->QueryInterface(zef::kIidObjectFactory, out);
    factory->Release();
    return queried;
}

}  // namespace qorvex
