#include "cli/tcg_log_names.h"

#include <cstdio>

#include "utf/codec.h"

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"

namespace qorvex::host {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

std::uint64_t LoadLittleEndian(std::span<const std::uint8_t> bytes) noexcept {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

struct NamedType {
    std::uint32_t type;
    const char* name;
};

constexpr NamedType kEventTypes[] = {
    {0x00000000, "EV_PREBOOT_CERT"},
    {0x00000001, "EV_POST_CODE"},
    {0x00000002, "EV_UNUSED"},
    {0x00000003, "EV_NO_ACTION"},
    {0x00000004, "EV_SEPARATOR"},
    {0x00000005, "EV_ACTION"},
    {0x00000006, "EV_EVENT_TAG"},
    {0x00000007, "EV_S_CRTM_CONTENTS"},
    {0x00000008, "EV_S_CRTM_VERSION"},
    {0x00000009, "EV_CPU_MICROCODE"},
    {0x0000000A, "EV_PLATFORM_CONFIG_FLAGS"},
    {0x0000000B, "EV_TABLE_OF_DEVICES"},
    {0x0000000C, "EV_COMPACT_HASH"},
    {0x0000000D, "EV_IPL"},
    {0x0000000E, "EV_IPL_PARTITION_DATA"},
    {0x0000000F, "EV_NONHOST_CODE"},
    {0x00000010, "EV_NONHOST_CONFIG"},
    {0x00000011, "EV_NONHOST_INFO"},
    {0x00000012, "EV_OMIT_BOOT_DEVICE_EVENTS"},
    {0x00000013, "EV_POST_CODE2"},
    {0x80000000, "EV_EFI_EVENT_BASE"},
    {0x80000001, "EV_EFI_VARIABLE_DRIVER_CONFIG"},
    {0x80000002, "EV_EFI_VARIABLE_BOOT"},
    {0x80000003, "EV_EFI_BOOT_SERVICES_APPLICATION"},
    {0x80000004, "EV_EFI_BOOT_SERVICES_DRIVER"},
    {0x80000005, "EV_EFI_RUNTIME_SERVICES_DRIVER"},
    {0x80000006, "EV_EFI_GPT_EVENT"},
    {0x80000007, "EV_EFI_ACTION"},
    {0x80000008, "EV_EFI_PLATFORM_FIRMWARE_BLOB"},
    {0x80000009, "EV_EFI_HANDOFF_TABLES"},
    {0x8000000A, "EV_EFI_PLATFORM_FIRMWARE_BLOB2"},
    {0x8000000B, "EV_EFI_HANDOFF_TABLES2"},
    {0x8000000C, "EV_EFI_VARIABLE_BOOT2"},
    {0x8000000D, "EV_EFI_GPT_EVENT2"},
    {0x80000010, "EV_EFI_HCRTM_EVENT"},
    {0x800000E0, "EV_EFI_VARIABLE_AUTHORITY"},
    {0x800000E1, "EV_EFI_SPDM_FIRMWARE_BLOB"},
    {0x800000E2, "EV_EFI_SPDM_FIRMWARE_CONFIG"},
    {0x800000E3, "EV_EFI_SPDM_DEVICE_POLICY"},
    {0x800000E4, "EV_EFI_SPDM_DEVICE_AUTHORITY"},
};

enum class ValueKind : std::uint8_t {
    Bytes,      // shown as hex
    Number,     // little-endian unsigned of 1 to 8 bytes, in decimal
    HexNumber,  // the same, in hex
    Text,       // UTF-16LE, trailing zero units dropped
};

struct SipaType {
    std::uint32_t type;
    const char* name;
    ValueKind value;
};

// Names as the Windows boot configuration log headers spell them. Containers (the aggregation
// bit) have no value of their own.
constexpr SipaType kSipaTypes[] = {
    {0x40010001, "SIPAEVENT_TRUSTBOUNDARY", ValueKind::Bytes},
    {0x40010002, "SIPAEVENT_ELAM_AGGREGATION", ValueKind::Bytes},
    {0x40010003, "SIPAEVENT_LOADEDMODULE_AGGREGATION", ValueKind::Bytes},
    {0xC0010004, "SIPAEVENT_TRUSTPOINT_AGGREGATION", ValueKind::Bytes},
    {0x40010005, "SIPAEVENT_KSR_AGGREGATION", ValueKind::Bytes},
    {0x40010006, "SIPAEVENT_KSR_SIGNED_MEASUREMENT_AGGREGATION", ValueKind::Bytes},
    {0x00020001, "SIPAEVENT_INFORMATION", ValueKind::Bytes},
    {0x00020002, "SIPAEVENT_BOOTCOUNTER", ValueKind::Number},
    {0x00020003, "SIPAEVENT_TRANSFER_CONTROL", ValueKind::HexNumber},
    {0x00020004, "SIPAEVENT_APPLICATION_RETURN", ValueKind::HexNumber},
    {0x00020005, "SIPAEVENT_BITLOCKER_UNLOCK", ValueKind::HexNumber},
    {0x00020006, "SIPAEVENT_EVENTCOUNTER", ValueKind::Number},
    {0x00020007, "SIPAEVENT_COUNTERID", ValueKind::HexNumber},
    {0x00020008, "SIPAEVENT_MORBIT_NOT_CANCELABLE", ValueKind::Number},
    {0x00020009, "SIPAEVENT_APPLICATION_SVN", ValueKind::Number},
    {0x0002000A, "SIPAEVENT_SVN_CHAIN_STATUS", ValueKind::HexNumber},
    {0x0002000B, "SIPAEVENT_MORBIT_API_STATUS", ValueKind::HexNumber},
    {0x00030001, "SIPAERROR_FIRMWAREFAILURE", ValueKind::HexNumber},
    {0x00030003, "SIPAERROR_TPMFAILURE", ValueKind::HexNumber},
    {0x00030004, "SIPAERROR_INTERNALFAILURE", ValueKind::HexNumber},
    {0x00040001, "SIPAEVENT_BOOTDEBUGGING", ValueKind::Number},
    {0x00040002, "SIPAEVENT_BOOT_REVOCATION_LIST", ValueKind::Bytes},
    {0x00050001, "SIPAEVENT_OSKERNELDEBUG", ValueKind::Number},
    {0x00050002, "SIPAEVENT_CODEINTEGRITY", ValueKind::Number},
    {0x00050003, "SIPAEVENT_TESTSIGNING", ValueKind::Number},
    {0x00050004, "SIPAEVENT_DATAEXECUTIONPREVENTION", ValueKind::Number},
    {0x00050005, "SIPAEVENT_SAFEMODE", ValueKind::Number},
    {0x00050006, "SIPAEVENT_WINPE", ValueKind::Number},
    {0x00050007, "SIPAEVENT_PHYSICALADDRESSEXTENSION", ValueKind::Number},
    {0x00050008, "SIPAEVENT_OSDEVICE", ValueKind::HexNumber},
    {0x00050009, "SIPAEVENT_SYSTEMROOT", ValueKind::Text},
    {0x0005000A, "SIPAEVENT_HYPERVISOR_LAUNCH_TYPE", ValueKind::Number},
    {0x0005000B, "SIPAEVENT_HYPERVISOR_PATH", ValueKind::Text},
    {0x0005000C, "SIPAEVENT_HYPERVISOR_IOMMU_POLICY", ValueKind::HexNumber},
    {0x0005000D, "SIPAEVENT_HYPERVISOR_DEBUG", ValueKind::Number},
    {0x0005000E, "SIPAEVENT_DRIVER_LOAD_POLICY", ValueKind::HexNumber},
    {0x0005000F, "SIPAEVENT_SI_POLICY", ValueKind::Bytes},
    {0x00050010, "SIPAEVENT_HYPERVISOR_MMIO_NX_POLICY", ValueKind::Number},
    {0x00050011, "SIPAEVENT_HYPERVISOR_MSR_FILTER_POLICY", ValueKind::Number},
    {0x00050012, "SIPAEVENT_VSM_LAUNCH_TYPE", ValueKind::Number},
    {0x00050013, "SIPAEVENT_OS_REVOCATION_LIST", ValueKind::Bytes},
    {0x00050014, "SIPAEVENT_SMT_STATUS", ValueKind::Number},
    {0x00050020, "SIPAEVENT_VSM_IDK_INFO", ValueKind::Bytes},
    {0x00050021, "SIPAEVENT_FLIGHTSIGNING", ValueKind::Number},
    {0x00050022, "SIPAEVENT_PAGEFILE_ENCRYPTION_ENABLED", ValueKind::Number},
    {0x00050023, "SIPAEVENT_VSM_IDKS_INFO", ValueKind::Bytes},
    {0x00050024, "SIPAEVENT_HIBERNATION_DISABLED", ValueKind::Number},
    {0x00050025, "SIPAEVENT_DUMPS_DISABLED", ValueKind::Number},
    {0x00050026, "SIPAEVENT_DUMP_ENCRYPTION_ENABLED", ValueKind::Number},
    {0x00050027, "SIPAEVENT_DUMP_ENCRYPTION_KEY_DIGEST", ValueKind::Bytes},
    {0x00050028, "SIPAEVENT_LSAISO_CONFIG", ValueKind::Bytes},
    {0x00050029, "SIPAEVENT_SBCP_INFO", ValueKind::Bytes},
    {0x00050030, "SIPAEVENT_HYPERVISOR_BOOT_DMA_PROTECTION", ValueKind::Number},
    {0x00060001, "SIPAEVENT_NOAUTHORITY", ValueKind::Bytes},
    {0x00060002, "SIPAEVENT_AUTHORITYPUBKEY", ValueKind::Bytes},
    {0x00070001, "SIPAEVENT_FILEPATH", ValueKind::Text},
    {0x00070002, "SIPAEVENT_IMAGESIZE", ValueKind::Number},
    {0x00070003, "SIPAEVENT_HASHALGORITHMID", ValueKind::HexNumber},
    {0x00070004, "SIPAEVENT_AUTHENTICODEHASH", ValueKind::Bytes},
    {0x00070005, "SIPAEVENT_AUTHORITYISSUER", ValueKind::Text},
    {0x00070006, "SIPAEVENT_AUTHORITYSERIAL", ValueKind::Bytes},
    {0x00070007, "SIPAEVENT_IMAGEBASE", ValueKind::HexNumber},
    {0x00070008, "SIPAEVENT_AUTHORITYPUBLISHER", ValueKind::Text},
    {0x00070009, "SIPAEVENT_AUTHORITYSHA1THUMBPRINT", ValueKind::Bytes},
    {0x0007000A, "SIPAEVENT_IMAGEVALIDATED", ValueKind::Number},
    {0x0007000B, "SIPAEVENT_MODULE_SVN", ValueKind::Number},
    {0x80080001, "SIPAEVENT_QUOTE", ValueKind::Bytes},
    {0x80080002, "SIPAEVENT_QUOTESIGNATURE", ValueKind::Bytes},
    {0x80080003, "SIPAEVENT_AIKID", ValueKind::Bytes},
    {0x80080004, "SIPAEVENT_AIKPUBDIGEST", ValueKind::Bytes},
    {0x00090001, "SIPAEVENT_ELAM_KEYNAME", ValueKind::Text},
    {0x00090002, "SIPAEVENT_ELAM_CONFIGURATION", ValueKind::Bytes},
    {0x00090003, "SIPAEVENT_ELAM_POLICY", ValueKind::Bytes},
    {0x00090004, "SIPAEVENT_ELAM_MEASURED", ValueKind::Bytes},
    {0x000A0001, "SIPAEVENT_VBS_VSM_REQUIRED", ValueKind::Number},
    {0x000A0002, "SIPAEVENT_VBS_SECUREBOOT_REQUIRED", ValueKind::Number},
    {0x000A0003, "SIPAEVENT_VBS_IOMMU_REQUIRED", ValueKind::Number},
    {0x000A0004, "SIPAEVENT_VBS_MMIO_NX_REQUIRED", ValueKind::Number},
    {0x000A0005, "SIPAEVENT_VBS_MSR_FILTERING_REQUIRED", ValueKind::Number},
    {0x000A0006, "SIPAEVENT_VBS_MANDATORY_ENFORCEMENT", ValueKind::Number},
    {0x000A0007, "SIPAEVENT_VBS_HVCI_POLICY", ValueKind::HexNumber},
    {0x000A0008, "SIPAEVENT_VBS_MICROSOFT_BOOT_CHAIN_REQUIRED", ValueKind::Number},
    {0x000A0009, "SIPAEVENT_VBS_DUMP_USES_AMEROOT", ValueKind::Number},
    {0x000A000A, "SIPAEVENT_VBS_VSM_NOSECRETS_ENFORCED", ValueKind::Number},
    {0x000B0001, "SIPAEVENT_KSR_SIGNATURE", ValueKind::Bytes},
    {0x000C0001, "SIPAEVENT_DRTM_STATE_AUTH", ValueKind::Bytes},
    {0x000C0002, "SIPAEVENT_DRTM_SMM_LEVEL", ValueKind::Number},
    {0x000C0003, "SIPAEVENT_DRTM_AMD_SMM_HASH", ValueKind::Bytes},
    {0x000C0004, "SIPAEVENT_DRTM_AMD_SMM_SIGNER_KEY", ValueKind::Bytes},
};

const SipaType* FindSipaType(std::uint32_t type) noexcept {
    for (const SipaType& entry : kSipaTypes) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

const NamedType* FindEventType(std::uint32_t type) noexcept {
    for (const NamedType& entry : kEventTypes) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

// Readable characters: no controls but tab, no unpaired surrogates.
bool IsReadable(char32_t c) noexcept {
    return c == U'\t' || (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && !utf::IsSurrogate(c));
}

// Text of a tagged event that the SIPA table does not know: UTF-16LE or ASCII (each with
// trailing zeros allowed) of at least kMinUnknownText characters, readable throughout, and for
// UTF-16 mostly ASCII, as the boot software that writes such events writes it. Digests and
// structures hardly ever pass: one control byte, unpaired surrogate or run of non-ASCII units
// fails them, and short values stay bytes.
constexpr std::size_t kMinUnknownText = 4;

std::uint16_t Unit(const std::uint8_t* bytes, std::size_t i) noexcept {
    return static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

// The bytes of UTF-16LE text without its trailing zero units.
std::span<const std::uint8_t> WithoutTrailingZeroUnits(std::span<const std::uint8_t> data) {
    std::size_t units = data.size() / 2;
    while (units > 0 && Unit(data.data(), units - 1) == 0) --units;
    return data.first(2 * units);
}

bool AsUnknownText(std::span<const std::uint8_t> data, SipaValue& value) noexcept {
    if (data.size() % 2 == 0) {
        const std::span<const std::uint8_t> text = WithoutTrailingZeroUnits(data);
        const std::size_t units = text.size() / 2;
        std::size_t ascii = 0;
        bool readable = units >= kMinUnknownText;
        for (std::size_t i = 0; readable && i < units; ++i) {
            const char32_t unit = Unit(text.data(), i);
            if (utf::IsHighSurrogate(unit) && i + 1 < units &&
                utf::IsLowSurrogate(Unit(text.data(), i + 1))) {
                ++i;
                continue;
            }
            readable = IsReadable(unit) && unit != 0xFFFE && unit != 0xFFFF;
            if (unit < 0x80) ++ascii;
        }
        if (readable && 4 * ascii >= 3 * units) {
            value.kind = SipaValue::Kind::Text;
            value.bytes = text;
            value.utf16 = true;
            return true;
        }
    }
    std::size_t size = data.size();
    while (size > 0 && data[size - 1] == 0) --size;
    if (size < kMinUnknownText) return false;
    for (std::size_t i = 0; i < size; ++i) {
        if (!IsReadable(data[i]) || data[i] >= 0x7F) return false;
    }
    value.kind = SipaValue::Kind::Text;
    value.bytes = data.first(size);
    value.utf16 = false;
    return true;
}

}  // namespace

std::string PcrIndexText(std::uint32_t pcr) {
    if (pcr <= kHighestDecimalPcr) return std::to_string(pcr);
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(pcr));
    return text;
}

std::string TcgEventTypeName(std::uint32_t type) {
    if (const NamedType* known = FindEventType(type)) return known->name;
    return Hex32(type);
}

bool IsTcgEventType(std::uint32_t type) noexcept {
    return FindEventType(type) != nullptr;
}

std::string SipaEventTypeName(std::uint32_t type) {
    if (const SipaType* known = FindSipaType(type)) return known->name;
    return Hex32(type);
}

bool IsSipaContainer(std::uint32_t type) noexcept {
    return (type & antimalware::trusted_boot::kSipaTypeAggregation) != 0;
}

SipaValueForm SipaValueFormOf(std::uint32_t type) noexcept {
    if (IsSipaContainer(type)) return SipaValueForm::Container;
    const SipaType* known = FindSipaType(type);
    if (known == nullptr) return SipaValueForm::Unknown;
    switch (known->value) {
        case ValueKind::Number:
            return SipaValueForm::Number;
        case ValueKind::HexNumber:
            return SipaValueForm::HexNumber;
        case ValueKind::Text:
            return SipaValueForm::Text;
        case ValueKind::Bytes:
            break;
    }
    return SipaValueForm::Bytes;
}

SipaValue DecodeSipaValue(SipaValueForm form, std::span<const std::uint8_t> data) noexcept {
    SipaValue value;
    switch (form) {
        case SipaValueForm::Container:
            return value;
        case SipaValueForm::Number:
        case SipaValueForm::HexNumber:
            if (data.empty() || data.size() > 8) break;
            value.kind = form == SipaValueForm::Number ? SipaValue::Kind::Number
                                                       : SipaValue::Kind::HexNumber;
            value.number = LoadLittleEndian(data);
            return value;
        case SipaValueForm::Text:
            if (data.size() % 2 != 0) break;
            value.kind = SipaValue::Kind::Text;
            value.bytes = WithoutTrailingZeroUnits(data);
            return value;
        case SipaValueForm::Unknown:
            if (AsUnknownText(data, value)) return value;
            break;
        case SipaValueForm::Bytes:
            break;
    }
    value.kind = SipaValue::Kind::Bytes;
    value.bytes = data;
    return value;
}

SipaValue DecodeSipaValue(std::uint32_t type, std::span<const std::uint8_t> data) noexcept {
    return DecodeSipaValue(SipaValueFormOf(type), data);
}

}  // namespace qorvex::host
