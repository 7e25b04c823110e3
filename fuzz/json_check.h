// A strict check that text is exactly one JSON value (RFC 8259): objects, arrays, strings with
// their escapes and well-formed UTF-8, numbers, true, false, null, whitespace between tokens.
// The fuzz targets and tests hold the JSON writers to it; nesting is followed with an explicit
// stack, so any depth is checked without recursion.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace qorvex::fuzz {

inline bool IsValidJson(std::string_view text) {
    std::size_t i = 0;
    const auto skipSpace = [&] {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
            ++i;
    };
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i > start;
    };
    const auto hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    const auto string = [&] {
        if (i >= text.size() || text[i] != '"') return false;
        ++i;
        while (i < text.size()) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++i >= text.size()) return false;
                const char e = text[i++];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++i) {
                        if (i >= text.size() || !hex(text[i])) return false;
                    }
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
                continue;
            }
            // UTF-8: the lead byte's length, continuation bytes, no overlong forms or
            // surrogates.
            std::size_t length = 1;
            unsigned minimum = 0, value = c;
            if (c >= 0xC2 && c <= 0xDF) {
                length = 2, minimum = 0x80, value = c & 0x1F;
            } else if (c >= 0xE0 && c <= 0xEF) {
                length = 3, minimum = 0x800, value = c & 0x0F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                length = 4, minimum = 0x10000, value = c & 0x07;
            } else if (c >= 0x80) {
                return false;
            }
            if (text.size() - i < length) return false;
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80) return false;
                value = (value << 6) | (next & 0x3F);
            }
            if (length > 1 &&
                (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)))
                return false;
            i += length;
        }
        return false;
    };
    const auto number = [&] {
        if (i < text.size() && text[i] == '-') ++i;
        if (i < text.size() && text[i] == '0') {
            ++i;
        } else if (!digits()) {
            return false;
        }
        if (i < text.size() && text[i] == '.') {
            ++i;
            if (!digits()) return false;
        }
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            ++i;
            if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
            if (!digits()) return false;
        }
        return true;
    };
    const auto literal = [&](std::string_view word) {
        if (text.substr(i, word.size()) != word) return false;
        i += word.size();
        return true;
    };

    // Open containers, innermost last: '{' or '['.
    std::vector<char> open;
    for (;;) {
        // A value.
        skipSpace();
        if (i >= text.size()) return false;
        const char c = text[i];
        bool opened = false;
        if (c == '{' || c == '[') {
            ++i;
            skipSpace();
            const char close = c == '{' ? '}' : ']';
            if (i < text.size() && text[i] == close) {
                ++i;
            } else {
                open.push_back(c);
                opened = true;
                if (c == '{') {
                    if (!string()) return false;
                    skipSpace();
                    if (i >= text.size() || text[i] != ':') return false;
                    ++i;
                }
            }
        } else if (c == '"') {
            if (!string()) return false;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            if (!number()) return false;
        } else if (!literal("true") && !literal("false") && !literal("null")) {
            return false;
        }
        if (opened) continue;
        // After a value: close containers, or a comma and the next member or item.
        for (;;) {
            skipSpace();
            if (open.empty()) return i == text.size();
            if (i >= text.size()) return false;
            const char close = open.back() == '{' ? '}' : ']';
            if (text[i] == close) {
                ++i;
                open.pop_back();
                continue;
            }
            if (text[i] != ',') return false;
            ++i;
            if (open.back() == '{') {
                skipSpace();
                if (!string()) return false;
                skipSpace();
                if (i >= text.size() || text[i] != ':') return false;
                ++i;
            }
            break;
        }
    }
}

}  // namespace qorvex::fuzz
