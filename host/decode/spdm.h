// TCG_DEVICE_SECURITY_EVENT_DATA, the data of EV_EFI_SPDM_FIRMWARE_BLOB and
// EV_EFI_SPDM_FIRMWARE_CONFIG events and of NV index instance records: a device's SPDM
// measurement or certificate chain. Its header is decoded ("SPDM Device Sec" version 1 and
// "SPDM Device Sec2" version 2, with the device path of version 2); the SPDM structures after it
// are shown as bytes.
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/description.h"
#include "decode/device_path.h"

namespace qorvex::decode {

struct DeviceSecurityEvent {
    std::string signature;
    std::uint16_t version = 0;
    bool headerRead = false;
    // Version 1.
    std::uint16_t length16 = 0;
    std::uint32_t spdmHashAlgorithm = 0;
    // Version 2.
    std::uint8_t authState = 0;
    std::uint32_t length32 = 0;
    std::uint32_t subHeaderType = 0;
    std::uint32_t subHeaderLength = 0;
    std::uint64_t subHeaderUid = 0;
    std::uint64_t devicePathLength = 0;
    std::vector<DevicePath> devicePaths;
    // Both.
    std::uint32_t deviceType = 0;
    std::span<const std::uint8_t> rest;  // the SPDM structures after the header
    std::optional<Malformed> malformed;
};

DeviceSecurityEvent DecodeDeviceSecurityEvent(std::span<const std::uint8_t> data);
Node Describe(const DeviceSecurityEvent& event);

}  // namespace qorvex::decode
