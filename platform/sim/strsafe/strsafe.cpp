// strsafe's StringCchPrintfW on the simulated machine: the Windows wide printf conventions (%s
// is a wide string, %hs / %S a narrow one, 'l' is 32 bits wide) with strsafe's buffer rules.
#include <win/strsafe.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "core/core.h"

namespace {

constexpr std::size_t kStrsafeMaxCch = 2147483647;

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
    enum class Length { Default, Short, Long, LongLong, Size } length = Length::Default;
    bool narrow = false;  // 'h' on %s / %c, or %S / %C
};

void Pad(std::u16string& out, std::size_t count, char16_t fill) {
    out.append(count, fill);
}

void Emit(std::u16string& out, const Spec& spec, std::u16string_view prefix,
          std::u16string_view body, bool zeroFillAllowed) {
    const std::size_t length = prefix.size() + body.size();
    const std::size_t fill = spec.width > 0 && static_cast<std::size_t>(spec.width) > length
                                 ? static_cast<std::size_t>(spec.width) - length
                                 : 0;
    if (spec.left) {
        out += prefix;
        out += body;
        Pad(out, fill, u' ');
    } else if (spec.zero && zeroFillAllowed) {
        out += prefix;
        Pad(out, fill, u'0');
        out += body;
    } else {
        Pad(out, fill, u' ');
        out += prefix;
        out += body;
    }
}

void EmitInteger(std::u16string& out, const Spec& spec, std::uint64_t magnitude, bool negative,
                 unsigned base, bool upper, bool isSigned) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string body;
    if (magnitude == 0 && spec.precision == 0) {
        // An explicit precision of 0 prints no digits for 0.
    } else {
        do {
            body.insert(body.begin(), static_cast<char16_t>(digits[magnitude % base]));
            magnitude /= base;
        } while (magnitude != 0);
    }
    if (spec.precision > 0 && body.size() < static_cast<std::size_t>(spec.precision))
        body.insert(0, static_cast<std::size_t>(spec.precision) - body.size(), u'0');
    std::u16string prefix;
    if (isSigned) {
        if (negative)
            prefix = u"-";
        else if (spec.plus)
            prefix = u"+";
        else if (spec.space)
            prefix = u" ";
    }
    if (spec.alternate && base == 16 && !body.empty() && body != u"0")
        prefix = upper ? u"0X" : u"0x";
    Emit(out, spec, prefix, body, spec.precision < 0);
}

// Formats into out; false for a conversion the simulation does not support.
bool Format(std::u16string& out, const char16_t* format, va_list args) {
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
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
                spec.width = spec.width == INT32_MIN ? INT32_MAX : -spec.width;
            }
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                if (spec.width > 100000000) return false;
                spec.width = spec.width * 10 + (*p - u'0');
                ++p;
            }
        }
        if (*p == u'.') {
            ++p;
            spec.precision = 0;
            if (*p == u'*') {
                spec.precision = va_arg(args, int);
                if (spec.precision < 0) spec.precision = -1;
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9') {
                    if (spec.precision > 100000000) return false;
                    spec.precision = spec.precision * 10 + (*p - u'0');
                    ++p;
                }
            }
        }
        if (*p == u'h') {
            spec.length = Spec::Length::Short;
            spec.narrow = true;
            ++p;
        } else if (*p == u'l') {
            ++p;
            if (*p == u'l') {
                spec.length = Spec::Length::LongLong;
                ++p;
            } else {
                spec.length = Spec::Length::Long;
            }
        } else if (*p == u'w') {
            ++p;
        } else if (*p == u'z') {
            spec.length = Spec::Length::Size;
            ++p;
        } else if (*p == u'I') {
            if (p[1] == u'6' && p[2] == u'4') {
                spec.length = Spec::Length::LongLong;
                p += 3;
            } else if (p[1] == u'3' && p[2] == u'2') {
                spec.length = Spec::Length::Long;
                p += 3;
            } else {
                spec.length = Spec::Length::Size;
                ++p;
            }
        }
        switch (*p) {
            case u'd':
            case u'i': {
                std::int64_t value = 0;
                switch (spec.length) {
                    case Spec::Length::LongLong:
                        value = va_arg(args, long long);
                        break;
                    case Spec::Length::Size:
                        value = static_cast<std::int64_t>(va_arg(args, std::size_t));
                        break;
                    case Spec::Length::Short:
                        value = static_cast<short>(va_arg(args, int));
                        break;
                    default:
                        value = va_arg(args, int);
                        break;  // 'l' is 32 bits on Windows
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
                switch (spec.length) {
                    case Spec::Length::LongLong:
                        value = va_arg(args, unsigned long long);
                        break;
                    case Spec::Length::Size:
                        value = va_arg(args, std::size_t);
                        break;
                    case Spec::Length::Short:
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
            case u'S':
            case u's': {
                const bool narrow = spec.narrow || *p == u'S';
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
                Emit(out, spec, u"", text, false);
                break;
            }
            case u'C':
            case u'c': {
                const int value = va_arg(args, int);
                const bool narrow = spec.narrow || *p == u'C';
                const char16_t unit = narrow
                                          ? static_cast<char16_t>(static_cast<unsigned char>(value))
                                          : static_cast<char16_t>(value);
                Emit(out, spec, u"", std::u16string_view(&unit, 1), false);
                break;
            }
            default:
                return false;  // including a format that ends in the middle of a conversion
        }
    }
    return true;
}

}  // namespace

QORVEX_SIM_CALL(StringCchPrintfW, winsim::core::Channel::HResult, static_cast<HRESULT>(error));

namespace win {

using namespace winsim::core;

HRESULT StringCchPrintfW(WCHAR* dest, std::size_t destUnits, LPCWSTR format, ...) {
    const bool destUsable = dest != nullptr && destUnits != 0 && destUnits <= kStrsafeMaxCch;
    va_list args;
    va_start(args, format);
    const HRESULT hr = Simulate<&StringCchPrintfW>(
        {dest, destUnits, format},
        [&] { return Pointer(dest) + ", " + std::to_string(destUnits) + ", " + Quote(format); },
        [&]() -> HRESULT {
            if (!destUsable) return STRSAFE_E_INVALID_PARAMETER;
            dest[0] = 0;
            if (format == nullptr) return STRSAFE_E_INVALID_PARAMETER;
            std::u16string text;
            // The simulation refuses conversions it does not implement rather than print
            // something that the Windows runtime might print differently.
            if (!Format(text, format, args)) return STRSAFE_E_INVALID_PARAMETER;
            const std::size_t room = destUnits - 1;
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
