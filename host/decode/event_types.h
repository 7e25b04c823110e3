// Event types of TCG PC Client measured-boot logs (TCG PC Client Platform Firmware Profile) that
// the decoders tell apart.
#pragma once

#include <cstdint>

namespace qorvex::decode {

inline constexpr std::uint32_t kEvPrebootCert = 0x00000000;
inline constexpr std::uint32_t kEvPostCode = 0x00000001;
inline constexpr std::uint32_t kEvNoAction = 0x00000003;
inline constexpr std::uint32_t kEvSeparator = 0x00000004;
inline constexpr std::uint32_t kEvAction = 0x00000005;
inline constexpr std::uint32_t kEvEventTag = 0x00000006;
inline constexpr std::uint32_t kEvSCrtmContents = 0x00000007;
inline constexpr std::uint32_t kEvSCrtmVersion = 0x00000008;
inline constexpr std::uint32_t kEvCpuMicrocode = 0x00000009;
inline constexpr std::uint32_t kEvPlatformConfigFlags = 0x0000000A;
inline constexpr std::uint32_t kEvTableOfDevices = 0x0000000B;
inline constexpr std::uint32_t kEvCompactHash = 0x0000000C;
inline constexpr std::uint32_t kEvIpl = 0x0000000D;
inline constexpr std::uint32_t kEvIplPartitionData = 0x0000000E;
inline constexpr std::uint32_t kEvNonhostCode = 0x0000000F;
inline constexpr std::uint32_t kEvNonhostConfig = 0x00000010;
inline constexpr std::uint32_t kEvNonhostInfo = 0x00000011;
inline constexpr std::uint32_t kEvOmitBootDeviceEvents = 0x00000012;
inline constexpr std::uint32_t kEvPostCode2 = 0x00000013;

inline constexpr std::uint32_t kEvEfiVariableDriverConfig = 0x80000001;
inline constexpr std::uint32_t kEvEfiVariableBoot = 0x80000002;
inline constexpr std::uint32_t kEvEfiBootServicesApplication = 0x80000003;
inline constexpr std::uint32_t kEvEfiBootServicesDriver = 0x80000004;
inline constexpr std::uint32_t kEvEfiRuntimeServicesDriver = 0x80000005;
inline constexpr std::uint32_t kEvEfiGptEvent = 0x80000006;
inline constexpr std::uint32_t kEvEfiAction = 0x80000007;
inline constexpr std::uint32_t kEvEfiPlatformFirmwareBlob = 0x80000008;
inline constexpr std::uint32_t kEvEfiHandoffTables = 0x80000009;
inline constexpr std::uint32_t kEvEfiPlatformFirmwareBlob2 = 0x8000000A;
inline constexpr std::uint32_t kEvEfiHandoffTables2 = 0x8000000B;
inline constexpr std::uint32_t kEvEfiVariableBoot2 = 0x8000000C;
inline constexpr std::uint32_t kEvEfiGptEvent2 = 0x8000000D;
inline constexpr std::uint32_t kEvEfiHcrtmEvent = 0x80000010;
inline constexpr std::uint32_t kEvEfiVariableAuthority = 0x800000E0;
inline constexpr std::uint32_t kEvEfiSpdmFirmwareBlob = 0x800000E1;
inline constexpr std::uint32_t kEvEfiSpdmFirmwareConfig = 0x800000E2;
inline constexpr std::uint32_t kEvEfiSpdmDevicePolicy = 0x800000E3;
inline constexpr std::uint32_t kEvEfiSpdmDeviceAuthority = 0x800000E4;

}  // namespace qorvex::decode
