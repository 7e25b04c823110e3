// What a simulated package manager knows: the installed packages and the package volumes, with
// the failures a test scripted for them. The simulated runtime keeps one in its machine state;
// the test-only package manager server reads one from a file. Both describe it in the same JSON
// members, "packages" and "packageVolumes".
#pragma once

#include <win/winrt/winrt.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace winsim::detail::json {
struct Value;
}

namespace winrt_objects {

// HRESULTs one package answers instead of a value (0: the value is given).
struct PackageFaults {
    win::HRESULT id = 0;                 // IPackage::get_Id
    win::HRESULT fullName = 0;           // IPackageId::get_FullName
    win::HRESULT installedLocation = 0;  // IPackage::get_InstalledLocation
    win::HRESULT storageItem = 0;        // QueryInterface of the location for IStorageItem
    win::HRESULT path = 0;               // IStorageItem::get_Path
    bool operator==(const PackageFaults&) const = default;
};

struct PackageEntry {
    std::u16string fullName;
    // No location: get_InstalledLocation answers 0x80070002.
    std::optional<std::u16string> installedLocation;
    PackageFaults fails;
    win::HRESULT setPackageStateFails = 0;
    win::PackageState state = win::PackageState_Normal;
    bool operator==(const PackageEntry&) const = default;
};

struct VolumeEntry {
    std::u16string packageStorePath;
    win::HRESULT fails = 0;  // get_PackageStorePath answers this instead
    bool operator==(const VolumeEntry&) const = default;
};

// One SetPackageState call as the package manager received it.
struct SetPackageStateCall {
    std::u16string fullName;
    win::PackageState state;
    win::HRESULT hresult = 0;  // what the package manager answered
    bool operator==(const SetPackageStateCall&) const = default;
};

// Reports a wrong value and does not return (throws).
using InventoryFailure =
    std::function<void(const winsim::detail::json::Value& at, const std::string& message)>;

// The "packages" member: an array of {"fullName", "installedLocation" (string or null),
// "fails" {"Id"|"FullName"|"InstalledLocation"|"StorageItem"|"Path": HRESULT},
// "setPackageStateFails": HRESULT}. HRESULTs are "0x" and 1 to 8 hex digits or numbers.
std::vector<PackageEntry> ReadPackages(const winsim::detail::json::Value& value,
                                       const InventoryFailure& fail);
// The "packageVolumes" member: an array of {"packageStorePath": string} or {"fails": HRESULT}.
std::vector<VolumeEntry> ReadPackageVolumes(const winsim::detail::json::Value& value,
                                            const InventoryFailure& fail);

}  // namespace winrt_objects
