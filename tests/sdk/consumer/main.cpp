// A host as a product team writes it against the installed SDK: its own service locator,
// allocator and tracer, the module loaded by the path the package reports, every component
// created through zefGetObjectFactory and the class registry, one call on each, and everything
// released until zefCanUnloadModule allows the unload.
//
// Usage: qorvex_consumer [MODULE]   (default: the module of the package it was built against)
// Prints one line per step; exits 0 when every step gave the expected result, else 1.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qorvex/app_remediation.h"
#include "qorvex/module.h"
#include "qorvex/tcg_log.h"
#include "zef/object.h"
#include "zef/result_code_texts.h"
#include "zef/string.h"
#include "zef/vector.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

int g_failures = 0;

std::string Narrow(const char16_t* text) {
    std::string out;
    for (; text != nullptr && *text != u'\0'; ++text)
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return out;
}

// Prints "what: 0x........ text" and counts a failure when the code is not the expected one.
void Check(const char* what, zef::ResultCode code, zef::ResultCode expected = zef::rc::kOk) {
    std::printf("%s: 0x%08x %s\n", what, static_cast<unsigned>(code),
                Narrow(zef::result_code_texts::Any(code)).c_str());
    if (code != expected) {
        std::printf("FAIL: %s answered 0x%08x, expected 0x%08x\n", what,
                    static_cast<unsigned>(code), static_cast<unsigned>(expected));
        ++g_failures;
    }
}

// Reference counting for the host's own service objects, which live for the whole run.
template <class Interface>
class HostObject : public Interface {
public:
    std::uint32_t AddRef() override { return ++m_references; }
    std::uint32_t Release() override { return --m_references; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    std::uint32_t References() const { return m_references; }

private:
    std::atomic<std::uint32_t> m_references{1};
};

class Allocator : public HostObject<zef::IAllocator> {
public:
    void* Alloc(std::uint64_t size) override {
        void* block = std::malloc(static_cast<std::size_t>(size));
        if (block != nullptr) ++m_live;
        return block;
    }
    void* Realloc(void*, std::uint64_t) override { return nullptr; }
    void Free(void* block) override {
        --m_live;
        std::free(block);
    }
    int Live() const { return m_live; }

private:
    std::atomic<int> m_live{0};
};

// Grants every record and prints it on stderr as "[trace] text".
class Tracer : public HostObject<zef::ITracer> {
public:
    std::uint32_t AcquireRecordBuffer(std::uint32_t level, char** buffer,
                                      std::uint64_t size) override {
        // Level 1000 grows the record that *buffer holds; any other level opens a new one.
        void* block = level == 1000 ? std::realloc(*buffer, static_cast<std::size_t>(size))
                                    : std::malloc(static_cast<std::size_t>(size));
        if (block == nullptr) return 1;
        *buffer = static_cast<char*>(block);
        return 0;
    }
    std::uint32_t SubmitRecord(char* buffer, std::uint64_t length) override {
        std::fprintf(stderr, "[trace] %.*s\n", static_cast<int>(length), buffer);
        std::free(buffer);
        ++m_records;
        return 0;
    }
    int Records() const { return m_records; }

private:
    std::atomic<int> m_records{0};
};

class Locator : public HostObject<zef::IServiceLocator> {
public:
    Locator(Allocator& allocator, Tracer& tracer) : m_allocator(allocator), m_tracer(tracer) {}
    zef::ResultCode GetInterface(zef::InterfaceId iid, std::uint32_t, void** out) override {
        zef::IObject* service = iid == zef::kIidAllocator ? static_cast<zef::IObject*>(&m_allocator)
                                : iid == zef::kIidTracer  ? static_cast<zef::IObject*>(&m_tracer)
                                                          : nullptr;
        *out = service;
        if (service == nullptr) return zef::rc::kNoInterface;
        service->AddRef();
        return zef::rc::kOk;
    }

private:
    Allocator& m_allocator;
    Tracer& m_tracer;
};

class Library {
public:
    explicit Library(const std::string& path) {
#if defined(_WIN32)
        // Cross-built on Linux and run under Wine, the package reports a Linux path; Wine shows
        // the Linux root as drive Z:.
        std::string windowsPath = path[0] == '/' ? "Z:" + path : path;
        for (char& c : windowsPath)
            if (c == '/') c = '\\';
        std::wstring wide(windowsPath.size(), L'\0');
        const int n = MultiByteToWideChar(CP_UTF8, 0, windowsPath.data(),
                                          static_cast<int>(windowsPath.size()), wide.data(),
                                          static_cast<int>(wide.size()));
        wide.resize(static_cast<std::size_t>(n));
        m_handle = LoadLibraryW(wide.c_str());
        if (m_handle == nullptr)
            std::printf("FAIL: LoadLibraryW(%s) failed with error %lu\n", windowsPath.c_str(),
                        GetLastError());
#else
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) std::printf("FAIL: dlopen(%s): %s\n", path.c_str(), dlerror());
#endif
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const {
        return m_handle != nullptr;
    }
    template <class Function>
    Function Export(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name)));
#else
        return reinterpret_cast<Function>(dlsym(m_handle, name));
#endif
    }
    bool Unload() {
#if defined(_WIN32)
        return FreeLibrary(static_cast<HMODULE>(m_handle)) != 0;
#else
        return dlclose(m_handle) == 0;
#endif
    }

private:
    void* m_handle = nullptr;
};

struct Component {
    const char* name;
    zef::ClassId classId;
    zef::InterfaceId iid;
};

constexpr Component kComponents[] = {
    {"TcgLogProviderImpl", qorvex::kClassTcgLogProvider, qorvex::kIidTcgLogProvider},
    {"AppRemediationImpl", qorvex::kClassAppRemediation, qorvex::kIidAppRemediation},
};

// One call through the component's own interface, which proves its slot order: the provider's
// log (whatever the machine has recorded) and the cache answer before any cache was built.
void UseComponent(const Component& component, zef::IObject* object) {
    if (component.iid == qorvex::kIidTcgLogProvider) {
        auto* provider = static_cast<qorvex::ITcgLogProvider*>(object);
        qorvex::IRawTcgLog* log = nullptr;
        const zef::ResultCode code = provider->GetRawTcgLog(&log);
        Check("GetRawTcgLog", code, code);  // the machine decides; any code is an answer
        if (zef::Succeeded(code) && log != nullptr) {
            zef::vector<zef::wstring_t> paths;
            const zef::ResultCode found = log->GetModulePaths(paths);
            Check("GetModulePaths", found, found);
            std::printf("module paths: %u\n", static_cast<unsigned>(paths.size()));
            log->Release();
        }
    } else {
        auto* remediation = static_cast<qorvex::IAppRemediation*>(object);
        const zef::wstring_t path(u"C:\\Program Files\\WindowsApps\\app\\app.exe");
        Check("IsMetroStyleAppByCache", remediation->IsMetroStyleAppByCache(path.c_str()),
              zef::rc::kFalse);
    }
}

int Run(const std::string& modulePath) {
    Allocator allocator;
    Tracer tracer;
    Locator locator(allocator, tracer);

    std::printf("module: %s\n", modulePath.c_str());
    Library library(modulePath);
    if (!library.Loaded()) return 1;
    const auto getObjectFactory =
        library.Export<qorvex::GetObjectFactoryFn>(qorvex::kGetObjectFactoryExport);
    const auto canUnloadModule =
        library.Export<qorvex::CanUnloadModuleFn>(qorvex::kCanUnloadModuleExport);
    if (getObjectFactory == nullptr || canUnloadModule == nullptr) {
        std::printf("FAIL: the module lacks %s or %s\n", qorvex::kGetObjectFactoryExport,
                    qorvex::kCanUnloadModuleExport);
        return 1;
    }

    void* out = nullptr;
    Check("zefGetObjectFactory(ModuleFactoryProvider)",
          getObjectFactory(&locator, qorvex::kClassModuleFactoryProvider, &out));
    auto* registryFactory = static_cast<zef::IObjectFactory*>(out);
    if (registryFactory == nullptr) return 1;
    out = nullptr;
    Check("CreateInstance(ModuleFactoryProvider)",
          registryFactory->CreateInstance(&locator, zef::kIidObjectFactoryProvider, &out));
    registryFactory->Release();
    auto* registry = static_cast<zef::IObjectFactoryProvider*>(out);
    if (registry == nullptr) return 1;

    for (const Component& component : kComponents) {
        const std::string name = component.name;
        out = nullptr;
        Check(("GetObjectFactory(" + name + ")").c_str(),
              registry->GetObjectFactory(&locator, component.classId, &out));
        auto* factory = static_cast<zef::IObjectFactory*>(out);
        if (factory == nullptr) continue;
        out = nullptr;
        Check(("CreateInstance(" + name + ")").c_str(),
              factory->CreateInstance(&locator, component.iid, &out));
        factory->Release();
        if (auto* object = static_cast<zef::IObject*>(out); object != nullptr) {
            UseComponent(component, object);
            object->Release();
        }
    }
    registry->Release();

    Check("zefCanUnloadModule", canUnloadModule());
    if (allocator.Live() != 0 || allocator.References() != 1 || tracer.References() != 1) {
        std::printf("FAIL: the module kept %d blocks, %u allocator and %u tracer references\n",
                    allocator.Live(), allocator.References() - 1, tracer.References() - 1);
        ++g_failures;
    }
    std::printf("trace records: %d\n", tracer.Records());
    if (tracer.Records() == 0) {
        std::printf("FAIL: the components wrote no trace record\n");
        ++g_failures;
    }
    if (!library.Unload()) {
        std::printf("FAIL: the module could not be unloaded\n");
        ++g_failures;
    }
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return Run(argc > 1 ? argv[1] : QORVEX_CONSUMER_MODULE_PATH);
}
