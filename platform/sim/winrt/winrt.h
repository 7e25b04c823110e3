// The Windows Runtime room: apartments per thread, reference-counted HSTRINGs, activation of
// "Windows.Management.Deployment.PackageManager" (whose objects are shared with the test-only
// server DLL, platform/winrt_objects), the machine's packages and package volumes, and the
// "packages" / "packageVolumes" members of machine.json.
#pragma once

#include <cstdint>
#include <vector>

#include "core/core.h"
#include "platform/winrt_objects/inventory.h"

namespace winsim::winrt {

enum class ApartmentKind { None, SingleThreaded, MultiThreaded };

struct Apartment {
    ApartmentKind kind = ApartmentKind::None;
    std::uint32_t initializations = 0;  // successful RoInitialize calls not yet undone
};

struct Counters {
    std::uint64_t liveObjects = 0;
    std::uint64_t liveStrings = 0;
    std::uint64_t invalidStringDeletes = 0;  // WindowsDeleteString of a handle that is not live
    std::uint64_t unbalancedUninitializations = 0;  // RoUninitialize outside an apartment
};

// Lock held.
QORVEX_SIM_SHARED Apartment ThreadApartment();
QORVEX_SIM_SHARED Counters GetCounters();
QORVEX_SIM_SHARED std::vector<winrt_objects::PackageEntry> Packages();
QORVEX_SIM_SHARED void SetPackages(std::vector<winrt_objects::PackageEntry> packages);
QORVEX_SIM_SHARED std::vector<winrt_objects::VolumeEntry> Volumes();
QORVEX_SIM_SHARED void SetVolumes(std::vector<winrt_objects::VolumeEntry> volumes);
QORVEX_SIM_SHARED std::vector<winrt_objects::SetPackageStateCall> SetPackageStateCalls();
QORVEX_SIM_SHARED void ClearSetPackageStateCalls();

}  // namespace winsim::winrt
