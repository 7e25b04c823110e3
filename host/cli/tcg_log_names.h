// The names and values an analyst reads in a measured-boot log: TCG event types by their TCG
// names, Windows boot configuration (SIPA) events by the names Windows' headers give them, and
// each SIPA value as what it is (a number in decimal or, for ids, addresses and flags, in hex;
// text; or bytes).
//
// Threading: plain functions over constant tables.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qorvex::host {

// A PCR index as analysts read it: decimal for the indexes of real PCRs and measurement
// registers (up to 255), "0x" and upper-case hex above (0xFFFFFFFF, not 4294967295).
std::string PcrIndexText(std::uint32_t pcr);
// PCR indexes up to this one print in decimal.
inline constexpr std::uint32_t kHighestDecimalPcr = 255;

// The TCG name of an event type ("EV_SEPARATOR", "EV_EFI_ACTION", ...), or "0x" and eight hex
// digits for a type without one.
std::string TcgEventTypeName(std::uint32_t type);
// Whether the type is one the TCG PC Client and EFI profiles define.
bool IsTcgEventType(std::uint32_t type) noexcept;
// The Windows boot configuration log name of a SIPA event type ("SIPAEVENT_FILEPATH", ...), or
// "0x" and eight hex digits.
std::string SipaEventTypeName(std::uint32_t type);
// Whether a SIPA event type is a container of further SIPA events (the aggregation bit).
bool IsSipaContainer(std::uint32_t type) noexcept;

// How a SIPA event type's value reads.
enum class SipaValueForm : std::uint8_t {
    Container,  // its children are its value
    Number,     // an unsigned little-endian number of 1 to 8 bytes, read in decimal
    HexNumber,  // the same, read in hex: ids, addresses, flags, status codes
    Text,       // UTF-16LE text
    Bytes,      // anything else
    Unknown,    // a type the table does not know: text when its data is text, else bytes
};
SipaValueForm SipaValueFormOf(std::uint32_t type) noexcept;

// A SIPA event's value. Text is not copied: it stays the event's bytes, UTF-16LE or ASCII,
// trailing zeros dropped.
struct SipaValue {
    enum class Kind : std::uint8_t { None, Number, HexNumber, Text, Bytes } kind = Kind::None;
    std::uint64_t number = 0;
    std::span<const std::uint8_t> bytes;  // Text and Bytes
    bool utf16 = true;                    // Text: UTF-16LE, else ASCII
};

// Known types decode as their form says (a number of more than 8 bytes, or text of an odd
// size, is bytes); a type the table does not know is shown as text when its data is text
// (UTF-16LE or ASCII, as tagged events of other boot software carry it), else as bytes.
SipaValue DecodeSipaValue(SipaValueForm form, std::span<const std::uint8_t> data) noexcept;
SipaValue DecodeSipaValue(std::uint32_t type, std::span<const std::uint8_t> data) noexcept;

}  // namespace qorvex::host
