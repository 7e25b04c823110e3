#include "zef/rtl/trace.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "win/win.h"

namespace zef {

namespace {

constexpr char kNullText[] = "(null)";
constexpr std::size_t kNullTextLength = sizeof(kNullText) - 1;
constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

struct ManipEffect {
    std::uint32_t clear;
    std::uint32_t set;
};

constexpr ManipEffect EffectOf(Manip manip) noexcept {
    switch (manip) {
        case Manip::hex:
            return {0x600, 0x800};
        case Manip::oct:
            return {0xa00, 0x400};
        case Manip::dec:
            return {0xc00, 0x200};
        case Manip::showbase:
            return {0, 0x8};
        case Manip::left:
            return {0x180, 0x40};
        case Manip::right:
            return {0x140, 0x80};
        case Manip::internal:
            return {0xc0, 0x100};
        case Manip::fixed:
            return {0x1000, 0x2000};
        case Manip::scientific:
            return {0x2000, 0x1000};
        case Manip::other:
            break;
    }
    return {0, 0};
}

// Digits of value in base (2..36), most significant first, into the end of out; returns the
// first digit.
char* RenderDigits(std::uint32_t value, std::uint32_t base, char* end) noexcept {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char* p = end;
    do {
        *--p = kDigits[value % base];
        value /= base;
    } while (value != 0);
    return p;
}

// The fill character of a FormatSpec as one narrow byte, if it has one in the current locale.
bool NarrowFill(std::uint32_t fill, char& out) noexcept {
    if (fill >= 0x10000) return false;
    char bytes[8] = {};
    std::size_t written = 0;
    win::mbstate_t state{};
    if (win::wcrtomb_s(&written, bytes, sizeof(bytes), static_cast<win::WCHAR>(fill), &state) !=
            0 ||
        written != 1) {
        return false;
    }
    out = bytes[0];
    return true;
}

}  // namespace

void OpenTraceRecord(TraceRecord& record, ITracer* tracer, std::uint32_t level) noexcept {
    if (tracer == nullptr) return;
    // The host gets its own copy of the pointer, so a refusal cannot leave anything behind in
    // the record.
    char* buffer = record.buffer;
    if (tracer->AcquireRecordBuffer(level, &buffer, TraceWriter::kInitialCapacity) != 0) return;
    tracer->AddRef();
    record.tracer = tracer;
    record.buffer = buffer;
}

TraceWriter::TraceWriter(TraceRecord& record) noexcept
    : m_tracer(record.tracer), m_buffer(record.buffer) {
    record.tracer = nullptr;
    record.buffer = nullptr;
}

TraceWriter::~TraceWriter() {
    Close();
}

void TraceWriter::Close() noexcept {
    if (m_tracer != nullptr && m_buffer != nullptr) {
        m_tracer->SubmitRecord(m_buffer, static_cast<std::uint64_t>(m_length));
    }
    m_buffer = nullptr;
    m_length = 0;
    m_capacity = 0;
    if (ITracer* tracer = m_tracer) {
        m_tracer = nullptr;
        tracer->Release();
    }
}

char* TraceWriter::Reserve(std::size_t n) noexcept {
    if (n > kMaxSize - m_length) return nullptr;
    // Without a buffer there is no open record the host could grow.
    if (m_buffer == nullptr || m_tracer == nullptr) return nullptr;
    const std::size_t needed = m_length + n;
    if (needed > m_capacity) {
        const std::size_t doubled = m_capacity > kMaxSize / 2 ? kMaxSize : 2 * m_capacity;
        const std::size_t grown = std::max(doubled, needed);
        // The buffer pointer is in/out for the host even when it refuses: a host that takes
        // the buffer back leaves null, and the record then has nothing left to submit.
        if (m_tracer->AcquireRecordBuffer(trace_level::kGrow, &m_buffer,
                                          static_cast<std::uint64_t>(grown)) != 0 ||
            m_buffer == nullptr) {
            // Later pieces start again from an empty record.
            m_length = 0;
            m_capacity = 0;
            return nullptr;
        }
        m_capacity = grown;
    }
    char* at = m_buffer + m_length;
    m_length = needed;
    return at;
}

void TraceWriter::WriteFill(std::size_t count, char fill) noexcept {
    if (count == 0) return;
    if (char* at = Reserve(count)) std::memset(at, static_cast<unsigned char>(fill), count);
}

std::size_t TraceWriter::FillCount(std::size_t textLength) const noexcept {
    if (m_width <= 0) return 0;
    const auto width = static_cast<std::size_t>(m_width);
    return width > textLength ? width - textLength : 0;
}

TraceWriter& TraceWriter::Append(const char* text, std::size_t length) noexcept {
    return Append(nullptr, 0, text, length);
}

TraceWriter& TraceWriter::Append(const char* prefix, std::size_t prefixLength, const char* text,
                                 std::size_t length) noexcept {
    if (prefix == nullptr) prefixLength = 0;
    if (text == nullptr && length != 0) {
        text = kNullText;
        length = kNullTextLength;
    }
    const std::size_t total = prefixLength > kMaxSize - length ? kMaxSize : prefixLength + length;
    const std::size_t fill = FillCount(total);
    const std::uint32_t adjust = m_flags & fmt_flags::kAdjustField;
    if (adjust != fmt_flags::kLeft && adjust != fmt_flags::kInternal) WriteFill(fill, m_fill);
    if (prefixLength != 0) {
        if (char* at = Reserve(prefixLength)) std::memcpy(at, prefix, prefixLength);
    }
    if (adjust == fmt_flags::kInternal) WriteFill(fill, m_fill);
    if (length != 0) {
        if (char* at = Reserve(length)) std::memcpy(at, text, length);
    }
    if (adjust == fmt_flags::kLeft) WriteFill(fill, m_fill);
    m_width = 0;
    return *this;
}

TraceWriter& TraceWriter::Append(const char16_t* text, std::size_t length) noexcept {
    if (text == nullptr) return Append(kNullText, kNullTextLength);
    const std::size_t fill = FillCount(length);
    const bool left = (m_flags & fmt_flags::kAdjustField) == fmt_flags::kLeft;
    if (!left) WriteFill(fill, m_fill);
    // Measured first, then encoded straight into the record: no intermediate string.
    const std::size_t bytes = Utf8Length(text, length);
    if (bytes != 0) {
        if (char* at = Reserve(bytes)) {
            std::size_t written = bytes;
            if (Utf8FromWide(text, length, at, &written) != 0 || written > bytes) written = 0;
            // Keep only what was encoded (the measure and the encoder agree, so normally all).
            m_length -= bytes - written;
        }
    }
    if (left) WriteFill(fill, m_fill);
    m_width = 0;
    return *this;
}

TraceWriter& TraceWriter::Append(std::uint32_t value) noexcept {
    const std::uint32_t baseField = m_flags & fmt_flags::kBaseField;
    const std::uint32_t base = baseField == fmt_flags::kOct   ? 8
                               : baseField == fmt_flags::kHex ? 16
                                                              : 10;
    const char* prefix = "";
    if ((m_flags & fmt_flags::kShowBase) != 0) {
        if (base == 16) prefix = "0x";
        if (base == 8) prefix = "0";
    }
    char digits[32];
    char* const end = digits + sizeof(digits);
    const char* first = RenderDigits(value, base, end);
    return Append(prefix, std::strlen(prefix), first, static_cast<std::size_t>(end - first));
}

TraceWriter& TraceWriter::Append(std::uint32_t value, const FormatSpec& spec) noexcept {
    // A base outside 2..36 has no digits; decimal is the only sensible reading of it.
    const std::uint32_t base = spec.base >= 2 && spec.base <= 36 ? spec.base : 10;
    const char* prefix = "";
    if (spec.showBase) {
        if (base == 16) prefix = "0x";
        if (base == 8) prefix = "0";
    }
    const std::size_t prefixLength = std::strlen(prefix);
    char digits[40];
    char* const end = digits + sizeof(digits);
    const char* first = RenderDigits(value, base, end);
    const auto digitCount = static_cast<std::size_t>(end - first);

    std::size_t fill = 0;
    char fillChar = ' ';
    if (spec.width > 0 && static_cast<std::size_t>(spec.width) > prefixLength + digitCount) {
        fill = static_cast<std::size_t>(spec.width) - (prefixLength + digitCount);
        if (!NarrowFill(spec.fill, fillChar)) fill = 0;
    }
    if (spec.alignment > 0) WriteFill(fill, fillChar);
    if (prefixLength != 0) {
        if (char* at = Reserve(prefixLength)) std::memcpy(at, prefix, prefixLength);
    }
    if (spec.alignment == 0) WriteFill(fill, fillChar);
    if (char* at = Reserve(digitCount)) std::memcpy(at, first, digitCount);
    if (spec.alignment < 0) WriteFill(fill, fillChar);
    m_width = 0;  // the writer's width is for one append, whichever kind it was
    return *this;
}

TraceWriter& TraceWriter::Append(Manip manip) noexcept {
    const ManipEffect effect = EffectOf(manip);
    m_flags = (m_flags & ~effect.clear) | effect.set;
    return *this;
}

TraceWriter& TraceWriter::operator<<(const char* text) noexcept {
    if (text == nullptr) return Append(kNullText, kNullTextLength);
    return Append(text, std::strlen(text));
}

TraceWriter& TraceWriter::operator<<(const char16_t* text) noexcept {
    if (text == nullptr) return Append(text, 0);
    return Append(text, std::char_traits<char16_t>::length(text));
}

TraceWriter& TraceWriter::WriteFunctionPrefix(const char* qualifiedName) noexcept {
    Append(Manip::hex);
    Append(Manip::showbase);
    const std::string_view name =
        qualifiedName != nullptr ? std::string_view(qualifiedName) : std::string_view();
    const std::string_view shortName = StripAnonymousNamespace(ShortFunctionName(name));
    Append(shortName.data(), shortName.size());
    return Append(": ", 2);
}

std::string_view ShortFunctionName(std::string_view name) noexcept {
    constexpr std::string_view kAnonymous = "(anonymous namespace)::";
    int depth = 0;
    std::size_t end = name.size();
    // Positions just behind the last two separators, 0 while there are fewer.
    std::size_t last = 0;
    std::size_t secondToLast = 0;
    std::size_t separators = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        } else if (c == '(') {
            if (name.substr(i).starts_with(kAnonymous)) continue;
            end = i;
            break;
        } else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
            secondToLast = last;
            last = i + 2;
            ++separators;
            ++i;
        }
    }
    const std::size_t start = separators >= 2 ? secondToLast : 0;
    return name.substr(start, end - start);
}

std::string_view StripAnonymousNamespace(std::string_view name) noexcept {
    // The three spellings compilers give an anonymous namespace (GCC, clang, MSVC). The short
    // name is a view ending where the function name ended, so stripping never passes that end.
    for (std::string_view spelling :
         {std::string_view("{anonymous}::"), std::string_view("(anonymous namespace)::"),
          std::string_view("`anonymous-namespace'::")}) {
        if (name.starts_with(spelling)) name.remove_prefix(spelling.size());
    }
    return name;
}

}  // namespace zef
