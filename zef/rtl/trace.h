// Trace records: one line of text at a numeric level, built directly in the host tracer's
// buffer and submitted to it.
//
// A trace site: if the tracer is null skip; OpenTraceRecord at the level; if no buffer was
// granted skip; build a TraceWriter from the record, optionally WriteFunctionPrefix, append,
// Close (the destructor closes too). Tracing never throws to the traced operation.
//
//     TraceRecord record;
//     OpenTraceRecord(record, tracer, trace_level::kDetail);
//     if (record.buffer != nullptr) {
//         TraceWriter writer(record);
//         writer.WriteFunctionPrefix(ZEF_FUNCTION_NAME);
//         writer << "found " << count << " packages";
//     }
//
// TraceLine below is that whole site in one call.
//
// Threading: a record and its writer belong to one thread from open to close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "zef/object.h"
#include "zef/rtl/text.h"
#include "zef/string.h"

namespace zef {

namespace trace_level {
constexpr std::uint32_t kError = 300;
constexpr std::uint32_t kDetail = 700;
// Not a record level: the level passed when an open record asks for a bigger buffer.
constexpr std::uint32_t kGrow = 1000;
}  // namespace trace_level

// A record granted by the tracer: an owning tracer reference and the host's buffer. Both stay
// null until OpenTraceRecord succeeds; a granted record is handed to a TraceWriter, which takes
// over both and gives them back (SubmitRecord, Release) when it closes. A record that was never
// handed over releases its tracer reference itself: a host may grant a record without a buffer,
// and the site then skips without building a writer.
struct TraceRecord {
    TraceRecord() noexcept = default;
    TraceRecord(const TraceRecord&) = delete;
    TraceRecord& operator=(const TraceRecord&) = delete;
    ~TraceRecord() {
        if (tracer != nullptr) tracer->Release();
    }

    ITracer* tracer = nullptr;  // owning once granted
    char* buffer = nullptr;
};

// Asks for 512 bytes at level; on status 0 stores the buffer and an AddRef'ed tracer in record.
// On refusal (or a null tracer) the record is left as it was.
void OpenTraceRecord(TraceRecord& record, ITracer* tracer, std::uint32_t level) noexcept;

namespace fmt_flags {
constexpr std::uint32_t kShowBase = 0x8, kLeft = 0x40, kRight = 0x80, kInternal = 0x100,
                        kAdjustField = 0x1c0, kDec = 0x200, kOct = 0x400, kHex = 0x800,
                        kBaseField = 0xe00, kScientific = 0x1000, kFixed = 0x2000, kSkipWs = 0x1;
}  // namespace fmt_flags

enum class Manip { hex, oct, dec, showbase, left, right, internal, fixed, scientific, other };

// A number to be written by an explicit FormatSpec rather than by the writer's flags.
struct FormattedNumber {
    std::uint32_t value;
    FormatSpec spec;
};
// Eight zero-filled lowercase hex digits, no prefix: write "0x" before it for the usual form.
constexpr FormattedNumber Hex8(std::uint32_t value) noexcept {
    return FormattedNumber{value, FormatSpec{8, 16, -1, 1, u'0', false}};
}

// Builds the text of one record in the host's buffer, growing it through the tracer when the
// text outgrows it. Text is bytes: narrow text is copied as is, UTF-16 text is written as UTF-8.
// Formatting follows the standard stream conventions: flags (base, show base, adjustment), a
// width that applies to the next single append only, and a fill character. No append fails
// loudly: a piece that cannot be placed is dropped.
//
// Threading: one thread from construction to Close.
class TraceWriter {
public:
    static constexpr std::size_t kInitialCapacity = 512;

    explicit TraceWriter(TraceRecord& record) noexcept;  // takes over tracer and buffer
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;
    ~TraceWriter();

    TraceWriter& Append(const char* text, std::size_t length) noexcept;
    // The prefix counts toward the width; internal adjustment puts the fill between the two.
    TraceWriter& Append(const char* prefix, std::size_t prefixLength, const char* text,
                        std::size_t length) noexcept;
    TraceWriter& Append(const char16_t* text, std::size_t length) noexcept;  // null: "(null)"
    TraceWriter& Append(std::uint32_t value) noexcept;                       // by the flags
    TraceWriter& Append(std::uint32_t value, const FormatSpec& spec) noexcept;
    TraceWriter& Append(Manip manip) noexcept;
    // Switches to hexadecimal with show base for the rest of the record, then writes the short
    // form of the qualified function name and ": ".
    TraceWriter& WriteFunctionPrefix(const char* qualifiedName) noexcept;

    TraceWriter& operator<<(const char* text) noexcept;  // zero-terminated; null: "(null)"
    TraceWriter& operator<<(const char16_t* text) noexcept;
    TraceWriter& operator<<(std::string_view text) noexcept {
        return Append(text.data(), text.size());
    }
    // An empty view is an empty text, never a null string.
    TraceWriter& operator<<(std::u16string_view text) noexcept {
        return text.empty() ? Append(u"", 0) : Append(text.data(), text.size());
    }
    TraceWriter& operator<<(const wstring_t& text) noexcept {
        return Append(text.data(), text.size());
    }
    TraceWriter& operator<<(const string_t& text) noexcept {
        return Append(text.data(), text.size());
    }
    TraceWriter& operator<<(std::uint32_t value) noexcept { return Append(value); }
    TraceWriter& operator<<(const FormattedNumber& number) noexcept {
        return Append(number.value, number.spec);
    }
    TraceWriter& operator<<(Manip manip) noexcept { return Append(manip); }

    void SetWidth(std::int32_t width) noexcept { m_width = width; }
    void SetFill(char fill) noexcept { m_fill = fill; }
    std::uint32_t Flags() const noexcept { return m_flags; }
    std::int32_t Precision() const noexcept { return m_precision; }
    std::int32_t Width() const noexcept { return m_width; }
    char Fill() const noexcept { return m_fill; }
    std::size_t Length() const noexcept { return m_length; }
    std::size_t Capacity() const noexcept { return m_capacity; }

    // Submits the record (when there is a tracer and a buffer) and releases the tracer. Later
    // calls do nothing.
    void Close() noexcept;

private:
    // Room for n more bytes at the end of the text; the length already counts them. Null when
    // the piece is dropped (length overflow, no buffer, or growth refused).
    char* Reserve(std::size_t n) noexcept;
    void WriteFill(std::size_t count, char fill) noexcept;
    std::size_t FillCount(std::size_t textLength) const noexcept;

    ITracer* m_tracer;
    char* m_buffer;
    std::size_t m_capacity = kInitialCapacity;
    std::size_t m_length = 0;
    std::uint32_t m_flags = fmt_flags::kDec | fmt_flags::kSkipWs;
    std::int32_t m_precision = 6;
    std::int32_t m_width = 0;
    char m_fill = ' ';
};

// The whole trace site in one call: a record at `level` that begins with the short name of
// `function` (no prefix when it is null), the rest appended by `write(TraceWriter&)`. Nothing
// happens when the tracer is null or the host grants no buffer.
template <class Write>
void TraceLine(ITracer* tracer, std::uint32_t level, const char* function, Write&& write) noexcept {
    if (tracer == nullptr) return;
    TraceRecord record;
    OpenTraceRecord(record, tracer, level);
    if (record.buffer == nullptr) return;
    TraceWriter writer(record);
    if (function != nullptr) writer.WriteFunctionPrefix(function);
    write(writer);
}

// The short form of a compiler-spelled qualified function name: its last two components,
// stopping at the parameter list, ignoring separators inside template arguments.
std::string_view ShortFunctionName(std::string_view qualifiedName) noexcept;
// Drops a leading anonymous-namespace component, in each compiler's spelling.
std::string_view StripAnonymousNamespace(std::string_view shortName) noexcept;

namespace detail {

constexpr bool StartsWith(const char* text, const char* prefix) noexcept {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

constexpr bool IsIdentifierChar(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Where the qualified name starts in a GCC/clang pretty function name, which spells the
// declaration: specifiers and the return type ("static ", "virtual ", "const char* "; clang
// binds '*' and '&' to the name) come before the name, the parameter list after it. The
// function name is the last blank-separated word before the parameter list, counting neither
// blanks inside template arguments, nor the blank of clang's "(anonymous namespace)", nor what
// follows an operator keyword ("operator bool", "operator new", "operator<").
constexpr std::size_t QualifiedNameOffset(const char* name) noexcept {
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; name[i] != '\0'; ++i) {
        const char c = name[i];
        if (depth == 0 && c == 'o' && StartsWith(name + i, "operator") &&
            (i == 0 || !IsIdentifierChar(name[i - 1])) && !IsIdentifierChar(name[i + 8])) {
            break;
        }
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            if (depth > 0) --depth;
        } else if (depth == 0 && c == '(') {
            if (!StartsWith(name + i, "(anonymous namespace)")) break;
            i += sizeof("(anonymous namespace)") - 2;
        } else if (depth == 0 && c == ' ') {
            start = i + 1;
        }
    }
    while (name[start] == '*' || name[start] == '&') ++start;
    return name[start] == '\0' ? 0 : start;
}

}  // namespace detail
}  // namespace zef

// The enclosing function's qualified name as the compiler spells it, without return type
// (e.g. "antimalware::trusted_boot::TcgLogProviderImpl::GetRawTcgLog"; GCC and clang keep the
// parameter list, which WriteFunctionPrefix ignores). GCC and clang only offer the full
// declaration, so the return type is skipped at compile time.
#if defined(_MSC_VER) && !defined(__clang__)
#define ZEF_FUNCTION_NAME __FUNCTION__
#else
#define ZEF_FUNCTION_NAME                    \
    (__PRETTY_FUNCTION__ +                   \
     ::std::integral_constant<::std::size_t, \
                              ::zef::detail::QualifiedNameOffset(__PRETTY_FUNCTION__)>::value)
#endif
