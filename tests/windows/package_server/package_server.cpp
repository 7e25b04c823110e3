// A package manager server for Wine, for tests only: it serves the runtime class
// "Windows.Management.Deployment.PackageManager", which Wine does not have, to Wine's real
// combase. combase finds it through
// HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\<class> value DllPath and calls
// DllGetActivationFactory. The objects are the simulated runtime's own (platform/winrt_objects);
// only the host differs:
// - the inventory is read from the JSON file named by QORVEX_PACKAGE_SERVER_INVENTORY
//   ({"packages": [...], "packageVolumes": [...]}, the members of machine.json), anew for each
//   search, so a test may rewrite it;
// - every SetPackageState call is appended to the file named by QORVEX_PACKAGE_SERVER_RECORD as
//   one line "<full name> <state>" (UTF-8);
// - IPackageManager2 and IPackageManager3 are offered as the Windows version the prefix plays
//   calls for (Wine's default Windows 7 offers neither).
//
// It ships in no artifact a product would load.
#include <win/system_info.h>
#include <win/winrt/winrt.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <utf/codec.h>

#include "core/json.h"
#include "platform/winrt_objects/package_objects.h"

namespace {

using winsim::detail::json::Value;

std::atomic<long> g_liveObjects{0};

struct Inventory {
    std::vector<winrt_objects::PackageEntry> packages;
    std::vector<winrt_objects::VolumeEntry> volumes;
};

// The inventory file, or an empty one (with a message on stderr) when it cannot be read.
Inventory ReadInventory() {
    Inventory inventory;
    const char* path = std::getenv("QORVEX_PACKAGE_SERVER_INVENTORY");
    if (path == nullptr) return inventory;
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    Value root;
    winsim::detail::json::Error error;
    if (!file || !winsim::detail::json::Parse(text, root, error)) {
        std::fprintf(stderr, "package server: cannot read %s:%zu:%zu: %s\n", path, error.line,
                     error.column, error.message.c_str());
        return inventory;
    }
    const auto fail = [&](const Value& at, const std::string& message) {
        throw std::runtime_error(std::string(path) + ":" + std::to_string(at.line) + ":" +
                                 std::to_string(at.column) + ": " + message);
    };
    try {
        if (const Value* packages = root.Find("packages"))
            inventory.packages = winrt_objects::ReadPackages(*packages, fail);
        if (const Value* volumes = root.Find("packageVolumes"))
            inventory.volumes = winrt_objects::ReadPackageVolumes(*volumes, fail);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "package server: %s\n", e.what());
        return Inventory{};
    }
    return inventory;
}

class ServerHost final : public winrt_objects::Host {
public:
    win::HRESULT Enter(std::string_view) override { return win::S_OK; }
    void Leave(std::string_view, std::string, win::HRESULT) override {}
    void ObjectCreated() noexcept override { g_liveObjects.fetch_add(1); }
    void ObjectDestroyed() noexcept override { g_liveObjects.fetch_sub(1); }
    std::vector<winrt_objects::PackageEntry> Packages() override {
        return ReadInventory().packages;
    }
    std::vector<winrt_objects::VolumeEntry> Volumes() override { return ReadInventory().volumes; }
    win::HRESULT SetPackageState(std::u16string_view fullName, win::PackageState state) override {
        if (const char* record = std::getenv("QORVEX_PACKAGE_SERVER_RECORD")) {
            std::ofstream out(record, std::ios::binary | std::ios::app);
            out << utf::ToUtf8(fullName) << ' ' << static_cast<int>(state) << '\n';
        }
        for (const auto& package : ReadInventory().packages) {
            if (package.fullName != fullName) continue;
            return package.setPackageStateFails != 0 ? package.setPackageStateFails : win::S_OK;
        }
        return win::HRESULT_INSTALL_PACKAGE_NOT_FOUND;
    }
};

ServerHost g_host;

winrt_objects::Offered OfferedByThisWindows() noexcept {
    win::RTL_OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    const win::FARPROC proc =
        win::GetProcAddress(win::GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion");
    if (proc == nullptr || win::ProcAs<win::RtlGetVersionFunction>(proc)(&version) != 0) return {};
    return winrt_objects::OfferedByVersion(version.dwMajorVersion, version.dwMinorVersion);
}

}  // namespace

extern "C" __declspec(dllexport) win::HRESULT
    DllGetActivationFactory(win::HSTRING activatableClassId, win::IActivationFactory** factory) {
    if (factory == nullptr) return win::E_POINTER;
    *factory = nullptr;
    const win::PCWSTR name = win::WindowsGetStringRawBuffer(activatableClassId, nullptr);
    if (std::u16string_view(name) != win::kRuntimeClassPackageManager)
        return win::CLASS_E_CLASSNOTAVAILABLE;
    *factory = winrt_objects::NewPackageManagerFactory(g_host, &OfferedByThisWindows);
    return *factory != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
}

extern "C" __declspec(dllexport) win::HRESULT DllCanUnloadNow() {
    return g_liveObjects.load() == 0 ? win::S_OK : win::S_FALSE;
}
