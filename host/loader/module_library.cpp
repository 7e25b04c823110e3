#include "loader/module_library.h"

#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qorvex::host {

namespace {
#if defined(_WIN32)
std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

void* Symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
#else
void* Symbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
#endif
}  // namespace

ModuleLibrary::ModuleLibrary(ModuleLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)),
      m_getObjectFactory(std::exchange(other.m_getObjectFactory, nullptr)),
      m_canUnloadModule(std::exchange(other.m_canUnloadModule, nullptr)) {}

ModuleLibrary& ModuleLibrary::operator=(ModuleLibrary&& other) noexcept {
    if (this != &other) {
        Unload();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_getObjectFactory = std::exchange(other.m_getObjectFactory, nullptr);
        m_canUnloadModule = std::exchange(other.m_canUnloadModule, nullptr);
    }
    return *this;
}

ModuleLibrary::~ModuleLibrary() {
    Unload();
}

bool ModuleLibrary::Load(const std::string& path, std::string* error) {
    Unload();
#if defined(_WIN32)
    m_handle = LoadLibraryW(Widen(path).c_str());
    if (m_handle == nullptr) {
        *error = "LoadLibraryW(" + path + ") failed with error " + std::to_string(GetLastError());
        return false;
    }
#else
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* why = dlerror();
        *error = "dlopen(" + path + ") failed: " + (why != nullptr ? why : "unknown error");
        return false;
    }
#endif
    m_getObjectFactory =
        reinterpret_cast<GetObjectFactoryFn>(Symbol(m_handle, kGetObjectFactoryExport));
    m_canUnloadModule =
        reinterpret_cast<CanUnloadModuleFn>(Symbol(m_handle, kCanUnloadModuleExport));
    if (m_getObjectFactory == nullptr || m_canUnloadModule == nullptr) {
        *error = path + " does not export " +
                 (m_getObjectFactory == nullptr ? kGetObjectFactoryExport : kCanUnloadModuleExport);
        Unload();
        return false;
    }
    return true;
}

void ModuleLibrary::Unload() {
    if (m_handle == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(m_handle));
#else
    dlclose(m_handle);
#endif
    m_handle = nullptr;
    m_getObjectFactory = nullptr;
    m_canUnloadModule = nullptr;
}

}  // namespace qorvex::host
