#include "cli/json_text.h"

#include <array>

#include "utf/codec.h"

namespace qorvex::host {

namespace {

// How JSON writes each ASCII character: 0 as it is, 'u' as a \u00XX escape, else a backslash
// and this letter.
constexpr std::array<char, 128> kAsciiEscapes = [] {
    std::array<char, 128> escapes{};
    for (int c = 0; c < 0x20; ++c) escapes[c] = 'u';
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    escapes['\n'] = 'n';
    escapes['\r'] = 'r';
    escapes['\t'] = 't';
    return escapes;
}();

char* WriteUnicodeEscape(char* out, unsigned value) noexcept {
    static constexpr char kDigits[] = "0123456789abcdef";
    *out++ = '\\';
    *out++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4) *out++ = kDigits[(value >> shift) & 0xF];
    return out;
}

// Writes count units, unitAt(i) each, escaped for a JSON string literal (without its quotes).
template <class UnitAt>
char* WriteJsonUnits(char* out, std::size_t count, UnitAt unitAt) noexcept {
    for (std::size_t i = 0; i < count;) {
        const char16_t unit = unitAt(i++);
        if (unit < 0x80) {
            const char escape = kAsciiEscapes[unit];
            if (escape == 0) {
                *out++ = static_cast<char>(unit);
            } else if (escape != 'u') {
                *out++ = '\\';
                *out++ = escape;
            } else {
                out = WriteUnicodeEscape(out, unit);
            }
            continue;
        }
        char32_t c = unit;
        if (utf::IsHighSurrogate(unit) && i < count && utf::IsLowSurrogate(unitAt(i))) {
            c = 0x10000 + (static_cast<char32_t>(unit - 0xD800) << 10) + (unitAt(i++) - 0xDC00);
        }
        if (utf::IsSurrogate(c)) {
            out = WriteUnicodeEscape(out, static_cast<unsigned>(c));
        } else {
            utf::EncodeUtf8(c, out);
            out += utf::Utf8Width(c);
        }
    }
    return out;
}

}  // namespace

char* WriteJsonString(char* out, std::u16string_view text) noexcept {
    const char16_t* units = text.data();
    *out++ = '"';
    out = WriteJsonUnits(out, text.size(), [units](std::size_t i) { return units[i]; });
    *out++ = '"';
    return out;
}

char* WriteJsonStringUtf16Le(char* out, std::span<const std::uint8_t> text) noexcept {
    const std::uint8_t* bytes = text.data();
    const std::size_t count = text.size() / 2;
    *out++ = '"';
    // Paths and names are ASCII nearly always: such units are copied as they are, and the rest,
    // from the first unit that is not, goes through the general writer.
    std::size_t i = 0;
    for (; i < count && bytes[2 * i + 1] == 0 && bytes[2 * i] < 0x80; ++i) {
        const char escape = kAsciiEscapes[bytes[2 * i]];
        if (escape == 0) {
            *out++ = static_cast<char>(bytes[2 * i]);
        } else if (escape != 'u') {
            *out++ = '\\';
            *out++ = escape;
        } else {
            break;
        }
    }
    const std::uint8_t* rest = bytes + 2 * i;
    out = WriteJsonUnits(out, count - i, [rest](std::size_t k) {
        return static_cast<char16_t>(rest[2 * k] | (rest[2 * k + 1] << 8));
    });
    *out++ = '"';
    return out;
}

char* WriteJsonStringAscii(char* out, std::span<const std::uint8_t> text) noexcept {
    const std::uint8_t* bytes = text.data();
    *out++ = '"';
    out = WriteJsonUnits(out, text.size(),
                         [bytes](std::size_t i) { return static_cast<char16_t>(bytes[i]); });
    *out++ = '"';
    return out;
}

std::string JsonString(std::u16string_view text) {
    std::string json(JsonStringBound(text), '\0');
    json.resize(static_cast<std::size_t>(WriteJsonString(json.data(), text) - json.data()));
    return json;
}

std::string JsonString(std::string_view text) {
    return JsonString(utf::ToUtf16(text));
}

}  // namespace qorvex::host
