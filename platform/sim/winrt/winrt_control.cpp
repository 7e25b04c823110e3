// Controls of the Windows Runtime room.
#include <winsim/winrt.h>

#include "winrt/winrt.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

ThreadApartmentState GetThreadApartment() {
    Lock lock(MachineLock());
    const winrt::Apartment apartment = winrt::ThreadApartment();
    return {static_cast<ApartmentKind>(apartment.kind), apartment.initializations};
}

RuntimeCounters GetRuntimeCounters() {
    Lock lock(MachineLock());
    const winrt::Counters counters = winrt::GetCounters();
    return {counters.liveObjects, counters.liveStrings, counters.invalidStringDeletes,
            counters.unbalancedUninitializations};
}

std::vector<PackageEntry> GetPackages() {
    Lock lock(MachineLock());
    return winrt::Packages();
}

void SetPackages(std::vector<PackageEntry> packages) {
    Lock lock(MachineLock());
    winrt::SetPackages(std::move(packages));
}

std::vector<VolumeEntry> GetPackageVolumes() {
    Lock lock(MachineLock());
    return winrt::Volumes();
}

void SetPackageVolumes(std::vector<VolumeEntry> volumes) {
    Lock lock(MachineLock());
    winrt::SetVolumes(std::move(volumes));
}

std::vector<SetPackageStateCall> GetSetPackageStateCalls() {
    Lock lock(MachineLock());
    return winrt::SetPackageStateCalls();
}

void ClearSetPackageStateCalls() {
    Lock lock(MachineLock());
    winrt::ClearSetPackageStateCalls();
}

}  // namespace winsim
