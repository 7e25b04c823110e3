// Trace records: one line of text at a numeric level, built directly in the host tracer's
// buffer and submitted to it.
//
// A trace site: if the tracer is null skip; OpenTraceRecord at the level; if no buffer was
// granted skip; build a TraceWriter from the record, optionally WriteFunctionPrefix, append,
// Close (the destructor closes too). Tracing never throws to the traced operation.
//
// Threading: a record and its writer belong to one thread from open to close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zef/object.h"
#include "zef/rtl/text.h"
#include "zef/string.h"

namespace zef {

namespace trace_level {
constexpr std::uint32_t kError = 300;
constexpr std::uint32_t kDetail = 700;
constexpr std::uint32_t kGrow = 1000;
}  // namespace trace_level

struct TraceRecord {
    ITracer* tracer = nullptr;  // owning once granted
    char* buffer = nullptr;
};

// Asks for 512 bytes at level; on status 0 stores an AddRef'ed tracer in record.
void OpenTraceRecord(TraceRecord& record, ITracer* tracer, std::uint32_t level) noexcept;

namespace fmt_flags {
constexpr std::uint32_t kShowBase = 0x8, kLeft = 0x40, kRight = 0x80, kInternal = 0x100,
                        kAdjustField = 0x1c0, kDec = 0x200, kOct = 0x400, kHex = 0x800,
                        kBaseField = 0xe00, kScientific = 0x1000, kFixed = 0x2000,
                        kSkipWs = 0x1;
}  // namespace fmt_flags

enum class Manip { hex, oct, dec, showbase, left, right, internal, fixed, scientific, other };

class TraceWriter {
public:
    static constexpr std::size_t kInitialCapacity = 512;

    explicit TraceWriter(TraceRecord& record) noexcept;  // takes over tracer and buffer
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;
    ~TraceWriter();

    TraceWriter& Append(const char* text, std::size_t length) noexcept;
    TraceWriter& Append(const char* prefix, std::size_t prefixLength, const char* text,
                        std::size_t length) noexcept;
    TraceWriter& Append(const char16_t* text, std::size_t length) noexcept;  // null: "(null)"
    TraceWriter& Append(std::uint32_t value) noexcept;                       // by the flags
    TraceWriter& Append(std::uint32_t value, const FormatSpec& spec) noexcept;
    TraceWriter& Append(Manip manip) noexcept;
    TraceWriter& WriteFunctionPrefix(const char* qualifiedName) noexcept;

    TraceWriter& operator<<(std::string_view text) noexcept {
        return Append(text.data(), text.size());
    }
    TraceWriter& operator<<(std::u16string_view text) noexcept {
        return Append(text.data(), text.size());
    }
    TraceWriter& operator<<(const wstring_t& text) noexcept {
        return Append(text.data(), text.size());
    }
    TraceWriter& operator<<(std::uint32_t value) noexcept { return Append(value); }
    TraceWriter& operator<<(Manip manip) noexcept { return Append(manip); }

    void SetWidth(std::int32_t width) noexcept { m_width = width; }
    void SetFill(char fill) noexcept { m_fill = fill; }
    std::uint32_t Flags() const noexcept { return m_flags; }
    std::size_t Length() const noexcept { return m_length; }

    // Submits the record (when there is a tracer and a buffer) and releases the tracer.
    void Close() noexcept;

private:
    char* Reserve(std::size_t n) noexcept;  // null: piece dropped

    ITracer* m_tracer;
    char* m_buffer;
    std::size_t m_capacity = kInitialCapacity;
    std::size_t m_length = 0;
    std::uint32_t m_flags = 0x201;
    std::int32_t m_precision = 6;
    std::int32_t m_width = 0;
    char m_fill = ' ';
};

// The short form of a compiler-spelled qualified function name (last two components, stopping
// at the parameter list, ignoring separators inside template arguments).
std::string_view ShortFunctionName(std::string_view qualifiedName) noexcept;
std::string_view StripAnonymousNamespace(std::string_view shortName) noexcept;

}  // namespace zef

// The enclosing function's qualified name, as the compiler spells it.
#if defined(__GNUC__)
#define ZEF_FUNCTION_NAME __PRETTY_FUNCTION__
#else
#define ZEF_FUNCTION_NAME __FUNCSIG__
#endif
