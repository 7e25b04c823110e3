// UEFI variables as firmware measures them (UEFI_VARIABLE_DATA: vendor GUID, name and data) in
// EV_EFI_VARIABLE_DRIVER_CONFIG, _BOOT, _BOOT2 and _AUTHORITY events, and the data of the
// variables analysts read: the one-byte Secure Boot switches (SecureBoot, SetupMode, AuditMode,
// DeployedMode, VendorKeys; shim's MokSBState and MokListTrusted), the signature databases (PK,
// KEK, db, dbx, dbt, dbr and their defaults), BootOrder, the load options (Boot####, Driver####,
// SysPrep####, PlatformRecovery####) and shim's SBAT level text.
//
// Some firmware measures several variables in one event (a TPM 1.2 Lenovo log puts BootOrder and
// every Boot#### in one EV_EFI_VARIABLE_BOOT event): the variables that follow the first are
// decoded too. Bytes after the last variable that are not one are malformed.
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
#include "decode/guid.h"

namespace qorvex::decode {

struct UefiVariable {
    Guid vendor;
    std::uint64_t nameLength = 0;        // UTF-16 units, as written
    std::uint64_t dataLength = 0;        // as written
    std::u16string name;                 // trailing zero units dropped
    std::span<const std::uint8_t> data;  // dataLength bytes, or fewer when the event is cut short
    std::optional<Malformed> malformed;  // this variable's header or data does not fit
};

struct UefiVariableEvent {
    std::vector<UefiVariable> variables;  // one normally; none when the first cannot be read
    std::optional<Malformed> malformed;   // bytes after the last variable
};

UefiVariableEvent DecodeUefiVariableEvent(std::span<const std::uint8_t> data);

// What a variable's data is, by its vendor and name.
enum class VariableKind : std::uint8_t {
    Switch,             // one byte, 0 or 1
    SignatureDatabase,  // EFI_SIGNATURE_LISTs
    BootOrder,          // UINT16 option numbers
    LoadOption,         // EFI_LOAD_OPTION
    Text,               // shim's SBAT level
    Other,
};
VariableKind ClassifyVariable(const Guid& vendor, std::u16string_view name) noexcept;

struct SwitchValue {
    std::optional<std::uint8_t> value;   // none when the variable is empty (not set)
    std::optional<Malformed> malformed;  // more than one byte
};
SwitchValue DecodeSwitch(std::span<const std::uint8_t> data);

struct BootOrder {
    std::vector<std::uint16_t> options;
    std::optional<Malformed> malformed;  // an odd number of bytes
};
BootOrder DecodeBootOrder(std::span<const std::uint8_t> data);

// EFI_LOAD_OPTION attribute bits.
inline constexpr std::uint32_t kLoadOptionActive = 0x00000001;
inline constexpr std::uint32_t kLoadOptionForceReconnect = 0x00000002;
inline constexpr std::uint32_t kLoadOptionHidden = 0x00000008;
inline constexpr std::uint32_t kLoadOptionCategoryApp = 0x00000100;

struct LoadOption {
    std::uint32_t attributes = 0;
    std::uint16_t filePathListLength = 0;
    std::u16string description;
    std::vector<DevicePath> devicePaths;
    std::span<const std::uint8_t> optionalData;
    std::optional<Malformed> malformed;
};
LoadOption DecodeLoadOption(std::span<const std::uint8_t> data);
Node Describe(const LoadOption& option);

// One variable: {"guid", "guidName", "name", "dataLength", then by kind "value" (a switch),
// "signatureLists", "bootOrder", "loadOption", "text" or "data"; for EV_EFI_VARIABLE_AUTHORITY
// and EV_EFI_SPDM_DEVICE_AUTHORITY the authority's entry}. eventType decides how data is read
// where the name does not (authorities; SPDM device policies are signature databases).
Node DescribeVariable(std::uint32_t eventType, const UefiVariable& variable);
// The first variable's object, with "followingVariables" when there are more and
// "afterVariables": {"malformed": ...} when bytes that are no variable follow them.
Node Describe(std::uint32_t eventType, const UefiVariableEvent& event);

}  // namespace qorvex::decode
