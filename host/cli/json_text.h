// JSON as every command of qorvex-host writes it: one style for every document (members as
// "name": value, separated by ", "), and one writer of string literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qorvex::host {

// text as a JSON string literal, quotes included, in UTF-8. Unpaired surrogates keep their
// value as \uXXXX escapes, which JSON allows and UTF-8 cannot carry.
std::string JsonString(std::u16string_view text);
// Narrow text (messages, names, file names from the command line), read as UTF-8; bytes that
// are not UTF-8 become U+FFFD, so the document stays valid JSON.
std::string JsonString(std::string_view text);

// The writer behind both: at most JsonStringBound(text) bytes at out; returns their end.
constexpr std::size_t JsonStringBound(std::u16string_view text) noexcept {
    return 6 * text.size() + 2;  // a \uXXXX escape per unit at most, and the quotes
}
char* WriteJsonString(char* out, std::u16string_view text) noexcept;
// The same for text that lies in a log: UTF-16LE bytes (an odd last byte is left out), or
// bytes of at most 0x7F each (ASCII); at most 6 output bytes per unit and the quotes.
char* WriteJsonStringUtf16Le(char* out, std::span<const std::uint8_t> text) noexcept;
char* WriteJsonStringAscii(char* out, std::span<const std::uint8_t> text) noexcept;

}  // namespace qorvex::host
