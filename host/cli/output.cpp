#include "cli/output.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "cli/json_text.h"
#include "utf/codec.h"

namespace qorvex::host {

namespace {

// Two lower-case hex digits per byte value.
constexpr std::array<char, 512> kHexPairs = [] {
    constexpr char kDigits[] = "0123456789abcdef";
    std::array<char, 512> pairs{};
    for (int b = 0; b < 256; ++b) {
        pairs[2 * b] = kDigits[b >> 4];
        pairs[2 * b + 1] = kDigits[b & 0xF];
    }
    return pairs;
}();

std::string WhyTheStreamFailed(int error) {
    return error != 0 ? std::strerror(error) : "the output stream failed";
}

}  // namespace

Output::Output(std::ostream& out) : m_out(out), m_buffer(2 * kChunk) {}

Output::~Output() {
    if (m_used == 0 || !m_out) return;
    m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_used));
    m_used = 0;
}

void Output::Grow(std::size_t count) {
    Flush();
    if (m_buffer.size() < count) m_buffer.resize(count);
}

void Output::Flush() {
    if (m_used == 0) return;
    // A stream that failed before keeps failing: say so at once rather than format on.
    errno = 0;
    if (m_out) m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_used));
    const int error = errno;
    m_used = 0;
    if (!m_out) throw OutputError(WhyTheStreamFailed(error));
}

Output& Output::operator<<(int value) {
    char* at = Room(12);
    Commit(std::to_chars(at, at + 12, value).ptr);
    return *this;
}

Output& Output::operator<<(HexNumber number) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char digits[16];
    int count = 0;
    std::uint64_t value = number.value;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    char* at = Room(18);
    *at++ = '0';
    *at++ = 'x';
    while (count > 0) *at++ = digits[--count];
    Commit(at);
    return *this;
}

Output& Output::operator<<(HexBytes hex) {
    char* at = Room(2 * hex.bytes.size());
    for (const std::uint8_t b : hex.bytes) {
        std::memcpy(at, &kHexPairs[2 * b], 2);
        at += 2;
    }
    Commit(at);
    return *this;
}

Output& Output::operator<<(JsonWideText text) {
    char* at = Room(JsonStringBound(text.text));
    Commit(WriteJsonString(at, text.text));
    return *this;
}

Output& Output::operator<<(JsonText text) {
    return *this << std::string_view(JsonString(text.text));
}

Output& Output::operator<<(WideText text) {
    // Each unit takes at most 3 bytes of UTF-8 (a pair, 4 for 2 units).
    char* at = Room(3 * text.text.size());
    const char16_t* units = text.text.data();
    const std::size_t count = text.text.size();
    for (std::size_t i = 0; i < count;) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            *at++ = static_cast<char>(unit);
            ++i;
            continue;
        }
        char32_t c = utf::NextCodePoint(units, count, i);
        if (utf::IsSurrogate(c)) c = utf::kReplacement;
        utf::EncodeUtf8(c, at);
        at += utf::Utf8Width(c);
    }
    Commit(at);
    return *this;
}

Output& Output::operator<<(LogText text) {
    if (!text.utf16) {
        char* at = Room(text.bytes.size());
        std::memcpy(at, text.bytes.data(), text.bytes.size());
        Commit(at + text.bytes.size());
        return *this;
    }
    const std::uint8_t* bytes = text.bytes.data();
    const std::size_t count = text.bytes.size() / 2;
    char* at = Room(3 * count);
    auto unitAt = [bytes](std::size_t i) {
        return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < count;) {
        const char16_t unit = unitAt(i++);
        if (unit < 0x80) {
            *at++ = static_cast<char>(unit);
            continue;
        }
        char32_t c = unit;
        if (utf::IsHighSurrogate(unit) && i < count && utf::IsLowSurrogate(unitAt(i)))
            c = 0x10000 + (static_cast<char32_t>(unit - 0xD800) << 10) + (unitAt(i++) - 0xDC00);
        if (utf::IsSurrogate(c)) c = utf::kReplacement;
        utf::EncodeUtf8(c, at);
        at += utf::Utf8Width(c);
    }
    Commit(at);
    return *this;
}

Output& Output::operator<<(JsonLogText json) {
    const LogText& text = json.text;
    const std::size_t units = text.utf16 ? text.bytes.size() / 2 : text.bytes.size();
    char* at = Room(6 * units + 2);
    Commit(text.utf16 ? WriteJsonStringUtf16Le(at, text.bytes)
                      : WriteJsonStringAscii(at, text.bytes));
    return *this;
}

void ThrowIfFailed(std::ostream& out) {
    // A stream that failed earlier still has the reason in errno, as nothing since called the
    // system; the flush sets it afresh.
    if (out) {
        errno = 0;
        out.flush();
    }
    const int error = errno;
    if (!out) throw OutputError(WhyTheStreamFailed(error));
}

}  // namespace qorvex::host
