// Loads a qorvex module the way a product does: by path, reaching it only through its two
// exports (zefGetObjectFactory, zefCanUnloadModule).
#pragma once

#include <string>

#include "qorvex/module.h"

namespace qorvex::host {

class ModuleLibrary {
public:
    ModuleLibrary() = default;
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;
    ModuleLibrary(ModuleLibrary&& other) noexcept;
    ModuleLibrary& operator=(ModuleLibrary&& other) noexcept;
    ~ModuleLibrary();

    // Loads the library at path (UTF-8) and resolves both exports. On failure returns false and
    // describes why in *error.
    bool Load(const std::string& path, std::string* error);
    // Unloads the library (after which the exports must not be called).
    void Unload();
    bool IsLoaded() const { return m_handle != nullptr; }

    GetObjectFactoryFn GetObjectFactory() const { return m_getObjectFactory; }
    CanUnloadModuleFn CanUnloadModule() const { return m_canUnloadModule; }

private:
    void* m_handle = nullptr;
    GetObjectFactoryFn m_getObjectFactory = nullptr;
    CanUnloadModuleFn m_canUnloadModule = nullptr;
};

}  // namespace qorvex::host
