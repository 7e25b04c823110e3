// EV_NO_ACTION structures, which extend no PCR and are told apart by their 16-byte signature:
// the log's Spec ID header ("Spec ID Event03": platform class, versions, UINTN size, the digest
// algorithms and their sizes, vendor information; and the older "Spec ID Event00" / "Spec ID
// Event02" form without algorithms), "StartupLocality" (the locality that started the TPM), the
// SP800-155 reference manifest event ("SP800-155 Event", "...Event2", "...Event3") and the NV
// index records of device security ("NvIndexInstance", "NvIndexDynamic ").
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/description.h"
#include "decode/guid.h"
#include "decode/spdm.h"

namespace qorvex::decode {

enum class NoActionKind : std::uint8_t {
    SpecId,
    StartupLocality,
    Sp800155,
    NvIndexInstance,
    NvIndexDynamic,
    Other,
};
NoActionKind ClassifyNoAction(std::span<const std::uint8_t> data) noexcept;

struct SpecIdAlgorithm {
    std::uint16_t id = 0;  // TPM_ALG_ID
    std::uint16_t digestSize = 0;
};

struct SpecIdEvent {
    std::string signature;  // "Spec ID Event03", "Spec ID Event00", "Spec ID Event02"
    std::uint32_t platformClass = 0;
    std::uint8_t specVersionMinor = 0;
    std::uint8_t specVersionMajor = 0;
    std::uint8_t specErrata = 0;
    std::uint8_t uintnSize = 0;  // 1: UINT32, 2: UINT64
    bool hasAlgorithms = false;  // Event03
    std::vector<SpecIdAlgorithm> algorithms;
    std::span<const std::uint8_t> vendorInfo;
    std::size_t fieldsRead = 0;  // how many of the fields above were read, in order
    std::optional<Malformed> malformed;
};
SpecIdEvent DecodeSpecIdEvent(std::span<const std::uint8_t> data);
Node Describe(const SpecIdEvent& event);

struct StartupLocalityEvent {
    std::optional<std::uint8_t> locality;
    std::optional<Malformed> malformed;
};
StartupLocalityEvent DecodeStartupLocality(std::span<const std::uint8_t> data);
Node Describe(const StartupLocalityEvent& event);

// A locator of the SP800-155 Event3 (where the reference manifest or platform certificate is):
// raw data, a URI, a device path or a UEFI variable.
struct Sp800155Locator {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> value;
};

struct Sp800155Event {
    std::string signature;
    std::uint32_t vendorId = 0;  // IANA enterprise number
    Guid referenceManifestGuid;
    bool hasPlatformFields = false;  // the strings below (Event2, Event3, and some Event)
    std::string platformManufacturer;
    std::string platformModel;
    std::string platformVersion;
    std::string firmwareManufacturer;
    std::uint32_t firmwareManufacturerId = 0;
    std::string firmwareVersion;
    bool hasLocators = false;  // Event3
    Sp800155Locator rimLocator;
    Sp800155Locator platformCertLocator;
    std::span<const std::uint8_t> rest;  // bytes after the fields read
    bool headerRead = false;
    std::optional<Malformed> malformed;
};
Sp800155Event DecodeSp800155Event(std::span<const std::uint8_t> data);
Node Describe(const Sp800155Event& event);

struct NvIndexEvent {
    std::string signature;
    std::uint16_t version = 0;
    bool headerRead = false;
    // Instance records carry device security data; dynamic ones a described value.
    std::optional<DeviceSecurityEvent> instance;
    std::uint64_t uid = 0;
    std::string description;
    std::span<const std::uint8_t> data;
    std::optional<Malformed> malformed;
};
NvIndexEvent DecodeNvIndexEvent(std::span<const std::uint8_t> data);
Node Describe(const NvIndexEvent& event);

}  // namespace qorvex::decode
