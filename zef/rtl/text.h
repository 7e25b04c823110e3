// Text conversion between narrow (the C runtime's current locale, which the module never
// changes from "C"), UTF-16 and UTF-8, and FormatSpec rendering of numbers and texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zef/result_code.h"
#include "zef/string.h"

namespace zef {

// Formatting instructions: width, base (2..36), precision (texts: most characters, -1 none),
// alignment (>0 fill before the prefix, 0 between prefix and digits, <0 after), fill (>= 0x10000
// means none), show base.
struct FormatSpec {
    std::int32_t width = 0;
    std::uint32_t base = 10;
    std::int32_t precision = -1;
    std::int32_t alignment = 1;
    std::uint32_t fill = 0x20;
    bool showBase = false;
};

// Converts count narrow bytes (embedded zeros are characters) into output from position on,
// resizing output to position + characters. 0, 0x80000046 (unconvertible), 0x80000041 (memory).
ResultCode WideFromNarrow(const char* text, std::size_t count, wstring_t& output,
                          std::size_t position);
// Throwing form for a zero-terminated text (null gives an empty string): memory failures raise
// std::bad_alloc, anything else std::bad_cast.
wstring_t WideFromNarrow(const char* text);

// Converts count UTF-16 units to narrow text (replacing output). 0; 0x80000046 when a code point
// does not convert (output untouched; code points above U+FFFF never do, the runtime converts
// one 16-bit unit at a time); 0x80000041 (memory).
ResultCode NarrowFromWide(const char16_t* text, std::size_t count, string_t& output);

// Encodes count UTF-16 units as UTF-8 into buffer; *size is the room on entry and the bytes
// written on return. 0, or 0x80000041 when the room ran out (what fitted is written).
ResultCode Utf8FromWide(const char16_t* text, std::size_t count, char* buffer, std::size_t* size);
// The UTF-8 byte count of count UTF-16 units, by the same encoding rules.
std::size_t Utf8Length(const char16_t* text, std::size_t count) noexcept;

// Renders a number or a text into output by spec, appending; returns the characters appended.
// prefix (may be null) replaces the automatic base prefix.
std::size_t FormatUnsigned(wstring_t& output, std::uint32_t value, const FormatSpec& spec,
                           const char16_t* prefix = nullptr);
std::size_t FormatSigned(wstring_t& output, std::int32_t value, const FormatSpec& spec,
                         const char16_t* prefix = nullptr);
std::size_t FormatText(wstring_t& output, const char16_t* text, const FormatSpec& spec);
std::size_t FormatText(wstring_t& output, const char* text, const FormatSpec& spec);

}  // namespace zef
