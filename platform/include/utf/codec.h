// The one UTF-8 / UTF-16 codec of the code base, header-only so that the module, the simulated
// machine and the host can all use it without depending on one another.
//
// Decoding UTF-16 pairs a high surrogate with the low one after it; any other unit, an unpaired
// surrogate included, is a code point by itself (NextCodePoint reports which). The whole-text
// conversions replace what the other form cannot carry by U+FFFD: an unpaired surrogate on the
// way to UTF-8, and on the way to UTF-16 every byte sequence that is not well-formed UTF-8
// (overlong forms, surrogates, values above U+10FFFF, cut sequences) one U+FFFD per bad byte
// run, never an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace utf {

constexpr char32_t kReplacement = 0xFFFD;

constexpr bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
constexpr bool IsSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// Decodes the code point at text[i] (i < count) and advances i past it. Returns an unpaired
// surrogate as itself.
constexpr char32_t NextCodePoint(const char16_t* text, std::size_t count, std::size_t& i) noexcept {
    const char16_t unit = text[i++];
    if (IsHighSurrogate(unit) && i < count && IsLowSurrogate(text[i])) {
        const char16_t low = text[i++];
        return 0x10000 + (static_cast<char32_t>(unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return unit;
}

// The UTF-8 byte count of a code point (below 0x110000).
constexpr std::size_t Utf8Width(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return 1;
    if (codePoint < 0x800) return 2;
    if (codePoint < 0x10000) return 3;
    return 4;
}

// Writes Utf8Width(codePoint) bytes to out.
constexpr void EncodeUtf8(char32_t codePoint, char* out) noexcept {
    auto byte = [](char32_t value) { return static_cast<char>(static_cast<unsigned char>(value)); };
    switch (Utf8Width(codePoint)) {
        case 1:
            out[0] = byte(codePoint);
            break;
        case 2:
            out[0] = byte(0xC0 | (codePoint >> 6));
            out[1] = byte(0x80 | (codePoint & 0x3F));
            break;
        case 3:
            out[0] = byte(0xE0 | (codePoint >> 12));
            out[1] = byte(0x80 | ((codePoint >> 6) & 0x3F));
            out[2] = byte(0x80 | (codePoint & 0x3F));
            break;
        default:
            out[0] = byte(0xF0 | (codePoint >> 18));
            out[1] = byte(0x80 | ((codePoint >> 12) & 0x3F));
            out[2] = byte(0x80 | ((codePoint >> 6) & 0x3F));
            out[3] = byte(0x80 | (codePoint & 0x3F));
            break;
    }
}

inline void AppendUtf8(std::string& out, char32_t codePoint) {
    char bytes[4];
    EncodeUtf8(codePoint, bytes);
    out.append(bytes, Utf8Width(codePoint));
}

inline void AppendUtf16(std::u16string& out, char32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (codePoint >> 10));
        out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
        out += static_cast<char16_t>(codePoint);
    }
}

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
inline std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t codePoint = NextCodePoint(text.data(), text.size(), i);
        AppendUtf8(out, IsSurrogate(codePoint) ? kReplacement : codePoint);
    }
    return out;
}

// UTF-8 to UTF-16; ill-formed input becomes U+FFFD.
inline std::u16string ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    auto continuation = [&](std::size_t k) {
        return i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    };
    auto bits = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    };
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t codePoint = kReplacement;
        std::size_t length = 1;
        if (lead < 0x80) {
            codePoint = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF && continuation(1)) {
            codePoint = ((lead & 0x1Fu) << 6) | bits(1);
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && continuation(1) && continuation(2)) {
            codePoint = ((lead & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
            length = 3;
            if (codePoint < 0x800 || IsSurrogate(codePoint)) codePoint = kReplacement;
        } else if (lead >= 0xF0 && lead <= 0xF4 && continuation(1) && continuation(2) &&
                   continuation(3)) {
            codePoint = ((lead & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
            length = 4;
            if (codePoint < 0x10000 || codePoint > 0x10FFFF) codePoint = kReplacement;
        }
        i += length;
        AppendUtf16(out, codePoint);
    }
    return out;
}

}  // namespace utf
