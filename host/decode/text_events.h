// Event data that is text, or a little structure around text: actions (EV_ACTION,
// EV_EFI_ACTION), the S-CRTM version and contents, POST codes, boot loader lines (EV_IPL),
// firmware blobs (EV_EFI_PLATFORM_FIRMWARE_BLOB and _BLOB2), handoff tables (EV_EFI_HANDOFF_TABLES
// and _TABLES2), separators and EV_OMIT_BOOT_DEVICE_EVENTS.
//
// Firmware does not always write what the TCG profile names: S-CRTM versions come as UTF-16 (as
// specified), as 8-bit text or as a vendor's binary record; POST codes and S-CRTM contents as
// text or as a firmware blob. FreeFormData reads such data as the first form it plausibly is,
// so a vendor's choice is shown, not called malformed.
//
// Threading: pure functions over the bytes given; results point into those bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/description.h"
#include "decode/guid.h"

namespace qorvex::decode {

enum class TextEncoding : std::uint8_t { Narrow, Utf16 };

// Bytes read as text: 8-bit text (ASCII or UTF-8) with tabs and line breaks allowed, or UTF-16LE;
// trailing zero bytes or units dropped. Null when the bytes are not plausibly text: a control
// character, a zero inside the text, UTF-8 or UTF-16 that does not decode.
struct EventText {
    TextEncoding encoding = TextEncoding::Narrow;
    std::string text;  // UTF-8
};
std::optional<EventText> ReadNarrowText(std::span<const std::uint8_t> bytes);
std::optional<EventText> ReadUtf16Text(std::span<const std::uint8_t> bytes);
// UTF-16 when at least half of its units are ASCII ("N1NET22W ", "Copyright \u00a9 ..."), else
// 8-bit text; so "N1429 " in 8 bits is not mistaken for three CJK characters, nor two bytes of
// binary data for a character.
std::optional<EventText> ReadAnyText(std::span<const std::uint8_t> bytes);

// UEFI_PLATFORM_FIRMWARE_BLOB (base, length) and UEFI_PLATFORM_FIRMWARE_BLOB2 (a description of
// up to 255 bytes first).
struct FirmwareBlob {
    std::optional<std::string> description;  // _BLOB2 only
    std::uint64_t base = 0;
    std::uint64_t length = 0;
    bool located = false;  // base and length were read
    std::optional<Malformed> malformed;
};
FirmwareBlob DecodeFirmwareBlob(std::span<const std::uint8_t> data);
FirmwareBlob DecodeFirmwareBlob2(std::span<const std::uint8_t> data);
Node Describe(const FirmwareBlob& blob);

// Data whose form the firmware chose.
struct FreeFormData {
    enum class Form : std::uint8_t { Text, Guid, FirmwareBlob, Bytes } form = Form::Bytes;
    EventText text;                       // Form::Text
    Guid guid;                            // Form::Guid
    FirmwareBlob blob;                    // Form::FirmwareBlob
    std::span<const std::uint8_t> bytes;  // always: the data
};
// Text, else bytes (EV_IPL, tagged event data, event types without a structure of their own).
FreeFormData DecodeTextOrBytes(std::span<const std::uint8_t> data);
// EV_S_CRTM_VERSION: text, else a GUID (16 bytes), else bytes.
FreeFormData DecodeScrtmVersion(std::span<const std::uint8_t> data);
// EV_POST_CODE and EV_S_CRTM_CONTENTS: a firmware blob when 16 bytes that are not text, else
// text, else bytes.
FreeFormData DecodePostCode(std::span<const std::uint8_t> data);
// {"text": ...}, {"guid": ...}, {"base": ..., "length": ...} or {"data": ...}.
Node Describe(const FreeFormData& data);

// EV_ACTION and EV_EFI_ACTION: a fixed string of the TCG profile ("Calling EFI Application from
// Boot Option", "Exit Boot Services Invocation", ...) or a vendor's own.
struct ActionText {
    std::string text;
    std::optional<Malformed> malformed;  // the data is not text
};
ActionText DecodeAction(std::span<const std::uint8_t> data);
Node Describe(const ActionText& action);

// UEFI_HANDOFF_TABLE_POINTERS and UEFI_HANDOFF_TABLE_POINTERS2 (a description first).
struct ConfigurationTable {
    Guid vendor;
    std::uint64_t address = 0;
};
struct HandoffTables {
    std::optional<std::string> description;  // _TABLES2 only
    std::uint64_t numberOfTables = 0;        // as the data says
    std::vector<ConfigurationTable> tables;  // those present
    std::optional<Malformed> malformed;
};
HandoffTables DecodeHandoffTables(std::span<const std::uint8_t> data);
HandoffTables DecodeHandoffTables2(std::span<const std::uint8_t> data);
Node Describe(const HandoffTables& tables);

// EV_SEPARATOR: 4 bytes, 0 normally, 0xFFFFFFFF when firmware met an error before the
// separator; Windows closes its boot configuration log with "WBCL". Older BIOSes write other
// sizes (a Dell firmware log has one byte, 0xFF, measured as such), which are shown as their
// bytes: only the 4-byte form has a defined meaning.
struct Separator {
    std::optional<std::uint32_t> value;  // the 4-byte form
    bool isError = false;                // value is 0xFFFFFFFF
    std::span<const std::uint8_t> data;
};
inline constexpr std::uint32_t kSeparatorErrorValue = 0xFFFFFFFF;
Separator DecodeSeparator(std::span<const std::uint8_t> data);
Node Describe(const Separator& separator);

}  // namespace qorvex::decode
