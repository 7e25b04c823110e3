#include "zef/rtl/text.h"

#include <new>
#include <stdexcept>
#include <string_view>
#include <typeinfo>

#include "utf/codec.h"
#include "win/win.h"

// Every narrow/wide conversion goes through the Windows C runtime's mbrtowc / wcrtomb_s (the
// win:: binding), never the host C library, so a Linux build converts exactly as the Windows
// runtime does in its "C" locale.

namespace zef {
namespace {

// UTF-16 decoding and UTF-8 encoding come from the platform's one codec. Unlike its whole-text
// conversions, Utf8FromWide keeps an unpaired surrogate as the code point of its own value.
using utf::EncodeUtf8;
using utf::NextCodePoint;
using utf::Utf8Width;
constexpr std::size_t kConversionFailed = static_cast<std::size_t>(-1);

// Converts one code point with wcrtomb_s into out (8 bytes); returns the byte count or
// kConversionFailed. The runtime's per-character conversion takes one 16-bit unit, so a code
// point above U+FFFF has no conversion through it and is reported as unconvertible rather than
// split into two meaningless surrogate conversions.
std::size_t NarrowCharacter(char32_t codePoint, char (&out)[8]) noexcept {
    if (codePoint > 0xFFFF) return kConversionFailed;
    win::mbstate_t state{};
    std::size_t written = 0;
    if (win::wcrtomb_s(&written, out, sizeof(out), static_cast<win::WCHAR>(codePoint), &state) !=
            0 ||
        written == 0 || written > sizeof(out)) {
        return kConversionFailed;
    }
    return written;
}

// Appends fill, prefix and text by the FormatSpec's width, alignment and fill; returns the count.
std::size_t AppendPadded(wstring_t& output, std::u16string_view prefix, std::size_t textLength,
                         const FormatSpec& spec, auto&& appendText) {
    const std::size_t used = prefix.size() + textLength;
    const std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    const std::size_t fill = spec.fill < 0x10000 && width > used ? width - used : 0;
    const auto fillChar = static_cast<char16_t>(spec.fill);

    output.reserve(output.size() + used + fill);
    if (spec.alignment > 0) {
        output.append(fill, fillChar).append(prefix);
        appendText();
    } else if (spec.alignment == 0) {
        output.append(prefix).append(fill, fillChar);
        appendText();
    } else {
        output.append(prefix);
        appendText();
        output.append(fill, fillChar);
    }
    return used + fill;
}

// A base outside 2..36 has no digits; such a spec renders in decimal rather than divide by zero
// or index past the digit table, and the sign rule of decimal applies to it as well.
std::uint32_t EffectiveBase(const FormatSpec& spec) noexcept {
    return spec.base >= 2 && spec.base <= 36 ? spec.base : 10;
}

std::size_t FormatDigits(wstring_t& output, std::uint32_t value, const FormatSpec& spec,
                         std::u16string_view prefix) {
    static constexpr char16_t kDigits[] = u"0123456789abcdefghijklmnopqrstuvwxyz";
    const std::uint32_t base = EffectiveBase(spec);
    char16_t digits[32];
    std::size_t first = sizeof(digits) / sizeof(digits[0]);
    do {
        digits[--first] = kDigits[value % base];
        value /= base;
    } while (value != 0);
    const std::u16string_view text(digits + first, sizeof(digits) / sizeof(digits[0]) - first);
    return AppendPadded(output, prefix, text.size(), spec, [&] { output.append(text); });
}

std::u16string_view AutomaticPrefix(const FormatSpec& spec, const char16_t* prefix) {
    if (prefix != nullptr) return prefix;
    if (spec.showBase && spec.base == 16) return u"0x";
    if (spec.showBase && spec.base == 8) return u"0";
    return {};
}

}  // namespace

ResultCode WideFromNarrow(const char* text, std::size_t count, wstring_t& output,
                          std::size_t position) {
    if (text == nullptr && count != 0) return rc::kInvalidArgument;

    // First pass: count the characters. A zero byte is a character of its own; anything else
    // starts a multibyte character of the runtime's current locale.
    std::size_t characters = 0;
    {
        win::mbstate_t state{};
        for (std::size_t i = 0; i < count; ++characters) {
            if (text[i] == '\0') {
                ++i;
                continue;
            }
            win::WCHAR unit = 0;
            const std::size_t used = win::mbrtowc(&unit, text + i, count - i, &state);
            if (used == 0 || used > count - i) return rc::kInvalidArgument;  // -1, -2 included
            i += used;
        }
    }

    if (position > wstring_t::max_size() - characters) return rc::kOutOfMemory;
    try {
        output.resize(position + characters);
    } catch (const std::bad_alloc&) {
        return rc::kOutOfMemory;
    } catch (const std::length_error&) {
        return rc::kOutOfMemory;
    }

    win::mbstate_t state{};
    char16_t* out = output.data() + position;
    for (std::size_t i = 0; i < count; ++out) {
        if (text[i] == '\0') {
            *out = u'\0';
            ++i;
            continue;
        }
        win::WCHAR unit = 0;
        const std::size_t used = win::mbrtowc(&unit, text + i, count - i, &state);
        if (used == 0 || used > count - i) return rc::kInvalidArgument;
        *out = unit;
        i += used;
    }
    return rc::kOk;
}

wstring_t WideFromNarrow(const char* text) {
    wstring_t result;
    if (text == nullptr) return result;
    const ResultCode code = WideFromNarrow(text, std::char_traits<char>::length(text), result, 0);
    if (code == rc::kOutOfMemory) throw std::bad_alloc();
    if (Failed(code)) throw std::bad_cast();
    return result;
}

ResultCode NarrowFromWide(const char16_t* text, std::size_t count, string_t& output) {
    if (text == nullptr && count != 0) return rc::kInvalidArgument;

    char buffer[8];
    std::size_t total = 0;
    for (std::size_t i = 0; i < count;) {
        const std::size_t bytes = NarrowCharacter(NextCodePoint(text, count, i), buffer);
        if (bytes == kConversionFailed) return rc::kInvalidArgument;
        total += bytes;
    }

    try {
        output.resize(total);
    } catch (const std::bad_alloc&) {
        return rc::kOutOfMemory;
    } catch (const std::length_error&) {
        return rc::kOutOfMemory;
    }

    char* out = output.data();
    std::size_t written = 0;
    for (std::size_t i = 0; i < count;) {
        const std::size_t bytes = NarrowCharacter(NextCodePoint(text, count, i), buffer);
        if (bytes == kConversionFailed || bytes > total - written) {
            output.clear();
            return rc::kInvalidArgument;
        }
        std::char_traits<char>::copy(out + written, buffer, bytes);
        written += bytes;
    }
    return rc::kOk;
}

ResultCode Utf8FromWide(const char16_t* text, std::size_t count, char* buffer, std::size_t* size) {
    if (size == nullptr) return rc::kInvalidArgument;
    const std::size_t room = *size;
    *size = 0;
    if ((text == nullptr && count != 0) || (buffer == nullptr && room != 0))
        return rc::kInvalidArgument;

    std::size_t written = 0;
    for (std::size_t i = 0; i < count;) {
        const char32_t codePoint = NextCodePoint(text, count, i);
        const std::size_t bytes = Utf8Width(codePoint);
        if (bytes > room - written) {
            *size = written;
            return rc::kOutOfMemory;
        }
        EncodeUtf8(codePoint, buffer + written);
        written += bytes;
    }
    *size = written;
    return rc::kOk;
}

std::size_t Utf8Length(const char16_t* text, std::size_t count) noexcept {
    if (text == nullptr) return 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < count;) total += Utf8Width(NextCodePoint(text, count, i));
    return total;
}

std::size_t FormatUnsigned(wstring_t& output, std::uint32_t value, const FormatSpec& spec,
                           const char16_t* prefix) {
    return FormatDigits(output, value, spec, AutomaticPrefix(spec, prefix));
}

std::size_t FormatSigned(wstring_t& output, std::int32_t value, const FormatSpec& spec,
                         const char16_t* prefix) {
    const auto pattern = static_cast<std::uint32_t>(value);
    if (value < 0 && EffectiveBase(spec) == 10)
        return FormatDigits(output, 0u - pattern, spec, u"-");
    return FormatDigits(output, pattern, spec, AutomaticPrefix(spec, prefix));
}

std::size_t FormatText(wstring_t& output, const char16_t* text, const FormatSpec& spec) {
    std::size_t length = 0;
    if (text != nullptr) {
        const auto limit = spec.precision >= 0 ? static_cast<std::size_t>(spec.precision)
                                               : static_cast<std::size_t>(-1);
        while (length < limit && text[length] != u'\0') ++length;
    }
    return AppendPadded(output, {}, length, spec, [&] { output.append(text, length); });
}

std::size_t FormatText(wstring_t& output, const char* text, const FormatSpec& spec) {
    // Widened one byte at a time; the first byte the runtime does not convert ends the text.
    auto widen = [text](std::size_t limit, auto&& take) {
        std::size_t taken = 0;
        if (text == nullptr) return taken;
        win::mbstate_t state{};
        for (; taken < limit && text[taken] != '\0'; ++taken) {
            win::WCHAR unit = 0;
            if (win::mbrtowc(&unit, text + taken, 1, &state) != 1) break;
            take(unit);
        }
        return taken;
    };
    const std::size_t limit = spec.precision >= 0 ? static_cast<std::size_t>(spec.precision)
                                                  : static_cast<std::size_t>(-1);
    const std::size_t length = widen(limit, [](char16_t) {});
    std::size_t appended = 0;
    const std::size_t total = AppendPadded(output, {}, length, spec, [&] {
        appended = widen(length, [&](char16_t unit) { output.push_back(unit); });
    });
    // The runtime answered differently the second time: keep the count true to what was added.
    return total - (length - appended);
}

}  // namespace zef
