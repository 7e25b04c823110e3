// strsafe's StringCchPrintfW on the simulated machine: the formatting of the Windows C runtime's
// wide printf (%s is a wide string, %hs / %S a narrow one, 'l' is 32 bits wide, I64 / ll 64)
// with strsafe's buffer rules. Conversions follow the runtime's own answers: a conversion
// character it does not know is printed as itself, '0' pads strings and characters too, '#'
// prefixes non-zero hexadecimal with 0x and keeps a leading 0 on octal, and a format that ends
// inside a conversion prints nothing for it.
#include <win/strsafe.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/core.h"

namespace {

constexpr std::size_t kStrsafeMaxCch = 2147483647;
// Width and precision beyond this are taken as this; the output is bounded by the buffer anyway.
constexpr int kLargestField = 100000000;

// The formatted text, kept only up to one unit past what the buffer can hold: enough to know
// that it was cut, whatever widths the format asks for.
class Output {
public:
    explicit Output(std::size_t limit) : m_limit(limit) {}
    void Append(char16_t c, std::size_t count = 1) {
        const std::size_t room = m_limit - m_text.size();
        m_text.append(count < room ? count : room, c);
    }
    void Append(std::u16string_view text) {
        const std::size_t room = m_limit - m_text.size();
        m_text.append(text.substr(0, room));
    }
    bool Full() const { return m_text.size() >= m_limit; }
    const std::u16string& Text() const { return m_text; }

private:
    std::size_t m_limit;
    std::u16string m_text;
};

enum class Size { Default, Short, Long, LongLong, Pointer };

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
    Size size = Size::Default;
    bool narrow = false;  // 'h' on %s / %c
    bool wide = false;    // 'l' or 'w' on %s / %c
};

// Pads to the width: spaces on the left, or (flag '0') zeros between prefix and body, or spaces
// on the right (flag '-').
void Emit(Output& out, const Spec& spec, std::u16string_view prefix, std::u16string_view body,
          bool zeroFill) {
    const std::size_t length = prefix.size() + body.size();
    const std::size_t fill = spec.width > 0 && static_cast<std::size_t>(spec.width) > length
                                 ? static_cast<std::size_t>(spec.width) - length
                                 : 0;
    if (spec.left) {
        out.Append(prefix);
        out.Append(body);
        out.Append(u' ', fill);
    } else if (zeroFill) {
        out.Append(prefix);
        out.Append(u'0', fill);
        out.Append(body);
    } else {
        out.Append(u' ', fill);
        out.Append(prefix);
        out.Append(body);
    }
}

void EmitInteger(Output& out, const Spec& spec, std::uint64_t magnitude, bool negative,
                 unsigned base, bool upper, bool isSigned) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const bool zero = magnitude == 0;
    std::u16string body;
    // An explicit precision of 0 prints no digits for 0.
    if (!(zero && spec.precision == 0)) {
        do {
            body.insert(body.begin(), static_cast<char16_t>(digits[magnitude % base]));
            magnitude /= base;
        } while (magnitude != 0);
    }
    if (spec.precision > 0 && body.size() < static_cast<std::size_t>(spec.precision)) {
        const std::size_t missing = static_cast<std::size_t>(spec.precision) - body.size();
        // Bounded: at most the whole output's worth of zeros is ever kept.
        body.insert(0, missing < kLargestField ? missing : kLargestField, u'0');
    }
    std::u16string prefix;
    if (isSigned) {
        if (negative)
            prefix = u"-";
        else if (spec.plus)
            prefix = u"+";
        else if (spec.space)
            prefix = u" ";
    }
    if (spec.alternate && base == 16 && !zero) prefix = upper ? u"0X" : u"0x";
    if (spec.alternate && base == 8 && (body.empty() || body[0] != u'0')) body.insert(0, 1, u'0');
    // With a precision the zeros come from it; the '0' flag then pads with spaces.
    Emit(out, spec, prefix, body, spec.zero && !spec.left && spec.precision < 0);
}

// Floating-point conversions through the host's printf, with the runtime's exponent of at
// least three digits ("1.5e+000").
void EmitFloating(Output& out, const Spec& spec, char conversion, double value) {
    std::string format = "%";
    if (spec.left) format += '-';
    if (spec.plus) format += '+';
    if (spec.space) format += ' ';
    if (spec.alternate) format += '#';
    if (spec.zero) format += '0';
    format += "*.*";
    format += conversion;
    const int precision = spec.precision < 0 ? 6 : spec.precision;
    const int width = spec.width < 512 ? spec.width : 512;
    char text[1024];
    std::snprintf(text, sizeof text, format.c_str(), 0, precision > 400 ? 400 : precision, value);
    std::string body = text;
    if (conversion == 'e' || conversion == 'E' || conversion == 'g' || conversion == 'G') {
        const std::size_t e = body.find_first_of("eE");
        if (e != std::string::npos && e + 2 <= body.size()) {
            std::size_t digits = body.size() - (e + 2);
            while (digits < 3) {
                body.insert(e + 2, 1, '0');
                ++digits;
            }
        }
    }
    std::u16string wideBody(body.begin(), body.end());
    Spec padding = spec;
    padding.width = width;
    // Sign and zeros are already in place; only the width is left to fill.
    const bool zeroFill = spec.zero && !spec.left;
    if (zeroFill && static_cast<int>(wideBody.size()) < width) {
        std::size_t signEnd =
            !wideBody.empty() && (wideBody[0] == u'-' || wideBody[0] == u'+' || wideBody[0] == u' ')
                ? 1
                : 0;
        wideBody.insert(signEnd, static_cast<std::size_t>(width) - wideBody.size(), u'0');
    }
    Emit(out, padding, u"", wideBody, false);
}

bool IsIntegerConversion(char16_t c) {
    return c == u'd' || c == u'i' || c == u'o' || c == u'u' || c == u'x' || c == u'X';
}

int ReadNumber(const char16_t*& p) {
    int value = 0;
    while (*p >= u'0' && *p <= u'9') {
        if (value < kLargestField) value = value * 10 + (*p - u'0');
        ++p;
    }
    return value < kLargestField ? value : kLargestField;
}

void Format(Output& out, const char16_t* format, va_list args) {
    for (const char16_t* p = format; *p != 0 && !out.Full(); ++p) {
        if (*p != u'%') {
            out.Append(*p);
            continue;
        }
        ++p;
        Spec spec;
        for (;; ++p) {
            if (*p == u'-')
                spec.left = true;
            else if (*p == u'0')
                spec.zero = true;
            else if (*p == u'+')
                spec.plus = true;
            else if (*p == u' ')
                spec.space = true;
            else if (*p == u'#')
                spec.alternate = true;
            else
                break;
        }
        if (*p == u'*') {
            spec.width = va_arg(args, int);
            if (spec.width < 0) {
                spec.left = true;
                spec.width = spec.width < -kLargestField ? kLargestField : -spec.width;
            }
            if (spec.width > kLargestField) spec.width = kLargestField;
            ++p;
        } else {
            spec.width = ReadNumber(p);
        }
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                spec.precision = va_arg(args, int);
                if (spec.precision < 0) spec.precision = -1;
                if (spec.precision > kLargestField) spec.precision = kLargestField;
                ++p;
            } else {
                spec.precision = ReadNumber(p);
            }
        }
        // Size prefixes. 'I' alone, 'z' and 't' size only an integer conversion that follows;
        // before anything else they are conversion characters of their own (printed).
        bool prefixOnly = false;
        if (*p == u'h') {
            spec.size = Size::Short;
            spec.narrow = true;
            ++p;
            if (*p == u'h') ++p;  // the runtime takes "hh" as 'h'
        } else if (*p == u'l') {
            ++p;
            if (*p == u'l') {
                spec.size = Size::LongLong;
                ++p;
            } else {
                spec.size = Size::Long;
                spec.wide = true;
            }
        } else if (*p == u'w') {
            spec.wide = true;
            ++p;
        } else if (*p == u'L' || *p == u'F' || *p == u'N') {
            ++p;
        } else if (*p == u'j') {
            spec.size = Size::LongLong;
            ++p;
        } else if (*p == u'I') {
            if (p[1] == u'6' && p[2] == u'4') {
                spec.size = Size::LongLong;
                p += 3;
            } else if (p[1] == u'3' && p[2] == u'2') {
                spec.size = Size::Long;
                p += 3;
            } else if (IsIntegerConversion(p[1])) {
                spec.size = Size::Pointer;
                ++p;
            } else {
                prefixOnly = true;
            }
        } else if ((*p == u'z' || *p == u't') && IsIntegerConversion(p[1])) {
            spec.size = Size::Pointer;
            ++p;
        }
        if (*p == 0) break;  // the format ends inside the conversion: nothing is printed
        if (prefixOnly) {
            out.Append(*p);
            continue;
        }
        switch (*p) {
            case u'd':
            case u'i': {
                std::int64_t value = 0;
                switch (spec.size) {
                    case Size::LongLong:
                    case Size::Pointer:
                        value = va_arg(args, long long);
                        break;
                    case Size::Short:
                        value = static_cast<short>(va_arg(args, int));
                        break;
                    default:
                        value = va_arg(args, int);  // 'l' is 32 bits on Windows
                        break;
                }
                const bool negative = value < 0;
                const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                                         : static_cast<std::uint64_t>(value);
                EmitInteger(out, spec, magnitude, negative, 10, false, true);
                break;
            }
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                std::uint64_t value = 0;
                switch (spec.size) {
                    case Size::LongLong:
                    case Size::Pointer:
                        value = va_arg(args, unsigned long long);
                        break;
                    case Size::Short:
                        value = static_cast<unsigned short>(va_arg(args, unsigned));
                        break;
                    default:
                        value = va_arg(args, unsigned);
                        break;
                }
                const unsigned base = *p == u'u' ? 10 : *p == u'o' ? 8 : 16;
                EmitInteger(out, spec, value, false, base, *p == u'X', false);
                break;
            }
            case u'p': {
                // Sixteen upper-case digits on 64-bit Windows.
                Spec pointer = spec;
                pointer.precision = 16;
                pointer.alternate = false;
                EmitInteger(out, pointer, reinterpret_cast<std::uintptr_t>(va_arg(args, void*)),
                            false, 16, true, false);
                break;
            }
            case u'S':
            case u's': {
                const bool narrow = !spec.wide && (spec.narrow || *p == u'S');
                std::u16string text;
                if (narrow) {
                    const char* s = va_arg(args, const char*);
                    if (s == nullptr) s = "(null)";
                    // The "C" locale widens each byte to the unit of the same value.
                    for (std::size_t i = 0;
                         s[i] != 0 &&
                         (spec.precision < 0 || i < static_cast<std::size_t>(spec.precision));
                         ++i)
                        text += static_cast<char16_t>(static_cast<unsigned char>(s[i]));
                } else {
                    const char16_t* s = va_arg(args, const char16_t*);
                    if (s == nullptr) s = u"(null)";
                    std::size_t n = 0;
                    while (s[n] != 0 &&
                           (spec.precision < 0 || n < static_cast<std::size_t>(spec.precision)))
                        ++n;
                    text.assign(s, n);
                }
                Emit(out, spec, u"", text, spec.zero && !spec.left);
                break;
            }
            case u'C':
            case u'c': {
                const int value = va_arg(args, int);
                const bool narrow = !spec.wide && (spec.narrow || *p == u'C');
                const char16_t unit = narrow
                                          ? static_cast<char16_t>(static_cast<unsigned char>(value))
                                          : static_cast<char16_t>(value);
                Emit(out, spec, u"", std::u16string_view(&unit, 1), spec.zero && !spec.left);
                break;
            }
            case u'e':
            case u'E':
            case u'f':
            case u'g':
            case u'G':
                EmitFloating(out, spec, static_cast<char>(*p), va_arg(args, double));
                break;
            case u'n':
                // Writing the count through an argument is refused: nothing is printed or stored.
                (void)va_arg(args, void*);
                break;
            default:
                // '%%' and any character the runtime does not know as a conversion: itself.
                out.Append(*p);
                break;
        }
    }
}

}  // namespace

QORVEX_SIM_CALL(StringCchPrintfW, winsim::core::Channel::HResult, static_cast<HRESULT>(error));

namespace win {

using namespace winsim::core;

HRESULT StringCchPrintfW(WCHAR* dest, std::size_t destUnits, LPCWSTR format, ...) {
    const bool sizeValid = destUnits != 0 && destUnits <= kStrsafeMaxCch;
    const bool destUsable = dest != nullptr && sizeValid;
    va_list args;
    va_start(args, format);
    const HRESULT hr = Simulate<&StringCchPrintfW>(
        {dest, destUnits, format},
        [&] { return Pointer(dest) + ", " + std::to_string(destUnits) + ", " + Quote(format); },
        [&]() -> HRESULT {
            if (!destUsable) {
                // strsafe terminates every buffer it is given a length for, even one too large.
                if (dest != nullptr && destUnits != 0) dest[0] = 0;
                return STRSAFE_E_INVALID_PARAMETER;
            }
            if (format == nullptr) {
                dest[0] = 0;
                return STRSAFE_E_INVALID_PARAMETER;
            }
            const std::size_t room = destUnits - 1;
            Output out(room + 1);
            Format(out, format, args);
            const std::u16string& text = out.Text();
            if (text.size() > room) {
                std::memcpy(dest, text.data(), room * sizeof(char16_t));
                dest[room] = 0;
                return STRSAFE_E_INSUFFICIENT_BUFFER;
            }
            std::memcpy(dest, text.data(), text.size() * sizeof(char16_t));
            dest[text.size()] = 0;
            return S_OK;
        },
        [&] {
            if (destUsable) dest[0] = 0;
        },
        [&](const CallDescriptor&, HRESULT result, bool) {
            std::string text = Hex(static_cast<std::uint32_t>(result));
            if (destUsable) {
                text += ' ';
                text += Quote(dest);
            }
            return text;
        });
    va_end(args);
    return hr;
}

}  // namespace win
