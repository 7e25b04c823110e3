// UEFI_IMAGE_LOAD_EVENT, the data of EV_EFI_BOOT_SERVICES_APPLICATION, _DRIVER and
// EV_EFI_RUNTIME_SERVICES_DRIVER events: where the image was loaded, its size, its link-time
// address and the device path it was loaded from (empty for images in firmware volumes that
// firmware measures without one).
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decode/description.h"
#include "decode/device_path.h"

namespace qorvex::decode {

struct ImageLoadEvent {
    std::uint64_t imageLocation = 0;
    std::uint64_t imageLength = 0;
    std::uint64_t linkTimeAddress = 0;
    std::uint64_t devicePathLength = 0;  // as written
    std::vector<DevicePath> devicePaths;
    bool headerRead = false;
    std::optional<Malformed> malformed;  // the header or device path length does not fit
};

ImageLoadEvent DecodeImageLoadEvent(std::span<const std::uint8_t> data);
// {"imageLocation", "imageLength", "linkTimeAddress", "devicePathLength", "devicePath"}.
Node Describe(const ImageLoadEvent& image);

}  // namespace qorvex::decode
