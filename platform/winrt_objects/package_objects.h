// The runtime objects of a simulated "Windows.Management.Deployment.PackageManager": the
// inspectable base, the collections and their iterators, packages, package ids, install
// folders, package volumes and the package manager itself. Written against the published ABI
// only, they serve two hosts: the simulated Windows Runtime of the Linux builds and the
// test-only server DLL that Wine's real combase activates, so the two cannot disagree.
//
// A host decides what the objects cannot: whether a call fails (fault injection), what the
// inventory holds, which interfaces the Windows version offers, and where SetPackageState goes.
//
// Threading: objects may be used from any thread; reference counts are atomic, the data an
// object answers with is its own copy, and the host's hooks do their own locking.
#pragma once

#include <win/winrt/winrt.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winrt_objects/inventory.h"

namespace winrt_objects {

// The calls a host can make fail, by name (the simulated machine's injectable call names).
namespace call {
constexpr char kQueryPackageManager2[] = "IPackageManager::QueryInterface(IPackageManager2)";
constexpr char kQueryPackageManager3[] = "IPackageManager::QueryInterface(IPackageManager3)";
constexpr char kFindPackages[] = "IPackageManager::FindPackages";
constexpr char kFindPackagesWithPackageTypes[] = "IPackageManager2::FindPackagesWithPackageTypes";
constexpr char kFindPackageVolumes[] = "IPackageManager3::FindPackageVolumes";
constexpr char kSetPackageState[] = "IPackageManager::SetPackageState";
constexpr char kFirst[] = "IIterable::First";
constexpr char kHasCurrent[] = "IIterator::get_HasCurrent";
constexpr char kCurrent[] = "IIterator::get_Current";
constexpr char kMoveNext[] = "IIterator::MoveNext";
constexpr char kPackageId[] = "IPackage::get_Id";
constexpr char kInstalledLocation[] = "IPackage::get_InstalledLocation";
constexpr char kFullName[] = "IPackageId::get_FullName";
constexpr char kQueryStorageItem[] = "IStorageFolder::QueryInterface(IStorageItem)";
constexpr char kPath[] = "IStorageItem::get_Path";
constexpr char kPackageStorePath[] = "IPackageVolume::get_PackageStorePath";
}  // namespace call

// Every call name above, in that order.
inline const std::vector<std::string_view>& CallNames() {
    static const std::vector<std::string_view> names = {
        call::kQueryPackageManager2,
        call::kQueryPackageManager3,
        call::kFindPackages,
        call::kFindPackagesWithPackageTypes,
        call::kFindPackageVolumes,
        call::kSetPackageState,
        call::kFirst,
        call::kHasCurrent,
        call::kCurrent,
        call::kMoveNext,
        call::kPackageId,
        call::kInstalledLocation,
        call::kFullName,
        call::kQueryStorageItem,
        call::kPath,
        call::kPackageStorePath,
    };
    return names;
}

class Host {
public:
    // At the start of each named call: S_OK to serve it, or the HRESULT to answer instead.
    virtual win::HRESULT Enter(std::string_view call) = 0;
    // When the call ends (served or failed): a short text of its arguments and its HRESULT, for
    // a journal.
    virtual void Leave(std::string_view call, std::string args, win::HRESULT hr) = 0;
    virtual void ObjectCreated() noexcept = 0;
    virtual void ObjectDestroyed() noexcept = 0;
    virtual std::vector<PackageEntry> Packages() = 0;
    virtual std::vector<VolumeEntry> Volumes() = 0;
    // Records the call and answers it: 0x80073CF1 for a package the inventory lacks, the
    // package's scripted failure, or S_OK with the package's state changed.
    virtual win::HRESULT SetPackageState(std::u16string_view fullName, win::PackageState state) = 0;

protected:
    ~Host() = default;
};

// Which package manager interfaces a Windows version offers: IPackageManager2 from 6.3,
// IPackageManager3 from 10.0.
struct Offered {
    bool packageManager2 = false;
    bool packageManager3 = false;
};
Offered OfferedByVersion(std::uint32_t major, std::uint32_t minor) noexcept;

// A new package manager object with one reference for the caller, as the class's activation
// factory hands it out (its IInspectable), or null when memory ran out.
win::IInspectable* NewPackageManager(Host& host, Offered offered) noexcept;

// The activation factory of the class (one reference for the caller), or null.
win::IActivationFactory* NewPackageManagerFactory(Host& host,
                                                  Offered (*offered)() noexcept) noexcept;

}  // namespace winrt_objects
