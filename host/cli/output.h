// What qorvex-host writes on stdout goes through Output: text and JSON are formed in one
// buffer and handed to the stream in large chunks, so that a listing of a large log (tens of
// megabytes of JSON) costs little more than writing its bytes. A stream that refuses a write
// (a full disk, a closed pipe, /dev/full) ends the command with OutputError instead of going on
// writing into the void and reporting success.
//
// Threading: an Output is used by one thread at a time.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qorvex::host {

// The stream refused output; what() says why, as the system put it.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Numbers as analysts read them: "0x" and upper-case hex digits without leading zeros
// (0x11C9A0000, 0x800C, 0xFFFFFFFF).
struct HexNumber {
    std::uint64_t value;
};
// Bytes as lower-case hex digits, two per byte, as digests are written.
struct HexBytes {
    std::span<const std::uint8_t> bytes;
};
// A JSON string literal, quotes included: UTF-8 text (bytes that are not UTF-8 become U+FFFD)
// or UTF-16 text (unpaired surrogates keep their value as \uXXXX escapes).
struct JsonText {
    std::string_view text;
};
struct JsonWideText {
    std::u16string_view text;
};
// UTF-16 text as UTF-8, unpaired surrogates as U+FFFD.
struct WideText {
    std::u16string_view text;
};
// Text as it lies in a log, UTF-16LE or ASCII bytes: as a JSON string literal, or as UTF-8.
struct LogText {
    std::span<const std::uint8_t> bytes;
    bool utf16;
};
struct JsonLogText {
    LogText text;
};

class Output {
public:
    explicit Output(std::ostream& out);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // Hands what is left to the stream; a failure then stays in the stream's state (the caller
    // checks the stream once it is done with it).
    ~Output();

    // Where at least `count` further bytes may be written; Commit says how many were.
    char* Room(std::size_t count) {
        if (m_buffer.size() - m_used < count) Grow(count);
        return m_buffer.data() + m_used;
    }
    void Commit(char* end) {
        m_used = static_cast<std::size_t>(end - m_buffer.data());
        if (m_used >= kChunk) Flush();
    }

    Output& operator<<(std::string_view text) {
        char* at = Room(text.size());
        std::memcpy(at, text.data(), text.size());
        Commit(at + text.size());
        return *this;
    }
    Output& operator<<(const char* text) { return *this << std::string_view(text); }
    Output& operator<<(const std::string& text) { return *this << std::string_view(text); }
    Output& operator<<(char c) {
        char* at = Room(1);
        *at = c;
        Commit(at + 1);
        return *this;
    }
    Output& operator<<(std::uint64_t value) { return Decimal(value); }
    Output& operator<<(std::uint32_t value) { return Decimal(value); }
    Output& operator<<(std::uint16_t value) { return Decimal(value); }
    Output& operator<<(std::uint8_t value) { return Decimal(value); }
    Output& operator<<(int value);
    Output& operator<<(HexNumber number);
    Output& operator<<(HexBytes bytes);
    Output& operator<<(JsonText text);
    Output& operator<<(JsonWideText text);
    Output& operator<<(WideText text);
    Output& operator<<(LogText text);
    Output& operator<<(JsonLogText text);

    // Writes the buffer to the stream; throws OutputError when the stream refuses it.
    void Flush();

private:
    static constexpr std::size_t kChunk = 64 * 1024;

    Output& Decimal(std::uint64_t value) {
        char* at = Room(20);
        Commit(WriteDecimal(at, value));
        return *this;
    }
    // Two digits at a time, most of the listing's numbers being small.
    static char* WriteDecimal(char* out, std::uint64_t value) noexcept {
        static constexpr char kPairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
            "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
            "8081828384858687888990919293949596979899";
        char digits[20];
        char* end = digits + sizeof digits;
        char* at = end;
        while (value >= 100) {
            at -= 2;
            std::memcpy(at, kPairs + 2 * (value % 100), 2);
            value /= 100;
        }
        if (value >= 10) {
            at -= 2;
            std::memcpy(at, kPairs + 2 * value, 2);
        } else {
            *--at = static_cast<char>('0' + value);
        }
        const auto count = static_cast<std::size_t>(end - at);
        std::memcpy(out, at, count);
        return out + count;
    }
    void Grow(std::size_t count);

    std::ostream& m_out;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
};

// Throws OutputError when the stream has failed (a write or a flush was refused).
void ThrowIfFailed(std::ostream& out);

}  // namespace qorvex::host
