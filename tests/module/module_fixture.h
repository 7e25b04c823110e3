// Loads the built module once per test program, as a host does (by path, through its two
// exports), and gives each test a fresh set of host services. Every test must end with all
// module objects gone and every host reference and block given back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "loader/module_library.h"
#include "qorvex/module.h"
#include "services/host_services.h"
#include "zef/object.h"

namespace qorvex::test {

class LoadedModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (s_module) return;
        s_module = std::make_unique<host::ModuleLibrary>();
        std::string error;
        if (!s_module->Load(QORVEX_MODULE_PATH, &error)) {
            s_loadError = error;
            s_module.reset();
        }
    }

    void SetUp() override {
        ASSERT_TRUE(s_module) << s_loadError;
        ASSERT_EQ(CanUnload(), zef::rc::kOk) << "an earlier test left module objects alive";
    }

    void TearDown() override {
        if (!s_module) return;
        EXPECT_EQ(CanUnload(), zef::rc::kOk);
        EXPECT_EQ(host.Leftovers(), "");
    }

    static zef::ResultCode GetObjectFactory(zef::IServiceLocator* locator, zef::ClassId classId,
                                            void** out) {
        return s_module->GetObjectFactory()(locator, classId, out);
    }
    static zef::ResultCode CanUnload() { return s_module->CanUnloadModule()(); }

    // The registry's factory from the export; null (and a failure) when the export fails.
    zef::IObjectFactory* RegistryFactory() {
        void* out = nullptr;
        EXPECT_EQ(GetObjectFactory(&host.locator, kClassModuleFactoryProvider, &out), zef::rc::kOk);
        return static_cast<zef::IObjectFactory*>(out);
    }

    // The registry object, created through a factory that is released again.
    zef::IObjectFactoryProvider* Registry() {
        zef::IObjectFactory* factory = RegistryFactory();
        if (factory == nullptr) return nullptr;
        void* out = nullptr;
        EXPECT_EQ(factory->CreateInstance(&host.locator, zef::kIidObjectFactoryProvider, &out),
                  zef::rc::kOk);
        factory->Release();
        return static_cast<zef::IObjectFactoryProvider*>(out);
    }

    // A component through export, registry and factory, each released again; null (and a
    // failure) when a step fails.
    template <class Interface>
    Interface* CreateComponent(zef::ClassId classId, zef::InterfaceId iid) {
        zef::IObjectFactoryProvider* registry = Registry();
        if (registry == nullptr) return nullptr;
        void* factory = nullptr;
        EXPECT_EQ(registry->GetObjectFactory(&host.locator, classId, &factory), zef::rc::kOk);
        registry->Release();
        if (factory == nullptr) return nullptr;
        void* component = nullptr;
        EXPECT_EQ(static_cast<zef::IObjectFactory*>(factory)->CreateInstance(&host.locator, iid,
                                                                             &component),
                  zef::rc::kOk);
        static_cast<zef::IObjectFactory*>(factory)->Release();
        return static_cast<Interface*>(component);
    }

    host::HostServicesBundle host;

private:
    static inline std::unique_ptr<host::ModuleLibrary> s_module;
    static inline std::string s_loadError;
};

}  // namespace qorvex::test
