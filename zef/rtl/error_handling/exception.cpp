#include "zef/rtl/error_handling/exception.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <typeinfo>
#include <utility>

#include "zef/rtl/result_codes.h"
#include "zef/rtl/text.h"
#include "zef/rtl/trace.h"

namespace zef {

namespace {

constexpr char kConversionErrorText[] = "<Exception display text conversion error>";
constexpr char kConstructionPrefix[] = "Exception during object construction: ";
// What the system's C++ runtime says for std::bad_alloc; libstdc++ says "std::bad_alloc".
constexpr char kBadAllocText[] = "bad allocation";

// ": " between a non-empty text and what follows it.
void AppendSeparator(wstring_t& text) {
    if (!text.empty()) text.append(u": ", 2);
}

// "0x" and eight zero-filled lowercase hex digits.
void AppendHex8(wstring_t& text, std::uint32_t value) {
    text.append(u"0x", 2);
    FormatUnsigned(text, value, FormatSpec{8, 16, -1, 1, u'0', false});
}

void AppendNarrow(TraceWriter& writer, const char* text) {
    if (text != nullptr) writer.Append(text, std::strlen(text));
}

}  // namespace

Exception::Exception(const char* file, std::uint32_t line, wstring_t message)
    : m_file(file), m_line(line), m_message(std::move(message)) {}

Exception::Exception(const Exception& other)
    : std::exception(other),
      m_file(other.m_file),
      m_line(other.m_line),
      m_message(other.m_message),
      m_nested(other.m_nested != nullptr ? other.m_nested->Clone() : nullptr) {}

Exception& Exception::operator=(const Exception& other) {
    if (this == &other) return *this;
    // Everything that can fail happens before this object changes.
    wstring_t message(other.m_message);
    Exception* nested = other.m_nested != nullptr ? other.m_nested->Clone() : nullptr;
    std::exception::operator=(other);
    m_file = other.m_file;
    m_line = other.m_line;
    m_message.swap(message);
    delete std::exchange(m_nested, nested);
    return *this;
}

Exception::~Exception() {
    delete m_nested;
}

wstring_t Exception::GetDescription() const {
    return m_message;
}

void Exception::SetNested(Exception* nested) noexcept {
    if (nested == m_nested) return;
    delete std::exchange(m_nested, nested);
}

Exception& Exception::operator<<(std::int32_t value) {
    FormatSigned(m_message, value, FormatSpec{});
    return *this;
}

ResultCodeException::ResultCodeException(const char* file, std::uint32_t line, ResultCode code,
                                         wstring_t message)
    : ExceptionBase(file, line, std::move(message)), m_code(code) {}

wstring_t ResultCodeException::GetDescription() const {
    wstring_t text = Exception::GetDescription();
    AppendSeparator(text);
    AppendHex8(text, static_cast<std::uint32_t>(m_code));
    text.append(u" (", 2);
    text.append(GetResultCodeMessage(m_code));
    text.push_back(u')');
    return text;
}

SystemException::SystemException(const char* file, std::uint32_t line, ResultCode code,
                                 wstring_t message)
    : ExceptionBase(file, line, code, std::move(message)) {}

CheckResultFailedException::CheckResultFailedException(const char* file, std::uint32_t line,
                                                       ResultCode code)
    : ExceptionBase(file, line, code) {}

GetInterfaceException::GetInterfaceException(const char* file, std::uint32_t line, InterfaceId iid,
                                             ResultCode code)
    : ExceptionBase(file, line, code), m_iid(iid) {}

wstring_t GetInterfaceException::GetDescription() const {
    wstring_t text = ResultCodeException::GetDescription();
    AppendSeparator(text);
    text.append(u"iid = ", 6);
    AppendHex8(text, m_iid);
    return text;
}

CheckFailedException::CheckFailedException(const char* file, std::uint32_t line)
    : ExceptionBase(file, line) {}

RuntimeError::RuntimeError(const char* file, std::uint32_t line, wstring_t message)
    : ExceptionBase(file, line, std::move(message)) {}

wstring_t GetDisplayText(const Exception& exception) noexcept {
    try {
        wstring_t text = WideFromNarrow(exception.what());
        text.append(u" - ", 3);
        text.append(exception.GetDescription());
        text.append(u". At ", 5);
        text.append(WideFromNarrow(exception.File()));
        text.push_back(u'(');
        FormatUnsigned(text, exception.Line(), FormatSpec{});
        text.append(u") ", 2);
        return text;
    } catch (...) {
        // Out of memory (or a source path the current locale cannot widen): the report still
        // goes out, without this text.
        return wstring_t();
    }
}

void WriteExceptionToTrace(ITracer* tracer, const char* prefix, std::uint32_t level,
                           const Exception& exception) noexcept {
    if (tracer == nullptr) return;
    TraceRecord record;
    OpenTraceRecord(record, tracer, level);
    if (record.tracer == nullptr) return;
    TraceWriter writer(record);
    try {
        AppendNarrow(writer, prefix);
        for (const Exception* current = &exception; current != nullptr;
             current = current->Nested()) {
            if (current != &exception) writer.Append(";", 1);
            const wstring_t display = GetDisplayText(*current);
            string_t narrow;
            if (NarrowFromWide(display.data(), display.size(), narrow) == rc::kOk) {
                writer.Append(narrow.data(), narrow.size());
            } else {
                writer.Append(kConversionErrorText, sizeof(kConversionErrorText) - 1);
            }
        }
    } catch (...) {
        // Whatever was built so far is still submitted below.
    }
    writer.Close();
}

void WriteStdExceptionToTrace(ITracer* tracer, const char* prefix, std::uint32_t level,
                              const std::exception& exception) noexcept {
    if (tracer == nullptr) return;
    TraceRecord record;
    OpenTraceRecord(record, tracer, level);
    if (record.tracer == nullptr) return;
    TraceWriter writer(record);
    AppendNarrow(writer, prefix);
    const char* what =
        typeid(exception) == typeid(std::bad_alloc) ? kBadAllocText : exception.what();
    AppendNarrow(writer, what != nullptr ? what : "(null)");
    writer.Close();
}

ResultCode ResultCodeFromCurrentException(ITracer* tracer, const char* prefix,
                                          std::uint32_t level) noexcept {
    ResultCode result = rc::kUnknownException;
    // Rethrowing with nothing being handled would terminate the process.
    if (!std::current_exception()) return result;
    try {
        throw;
    } catch (const contract::RequireViolation& e) {
        WriteExceptionToTrace(tracer, prefix, level, e);
        result = rc::kRequireViolation;
    } catch (const contract::InvariantViolation& e) {
        WriteExceptionToTrace(tracer, prefix, level, e);
        result = rc::kInvariantViolation;
    } catch (const contract::EnsureViolation& e) {
        WriteExceptionToTrace(tracer, prefix, level, e);
        result = rc::kEnsureViolation;
    } catch (const ResultCodeException& e) {
        WriteExceptionToTrace(tracer, prefix, level, e);
        result = e.Code() == rc::kOk ? rc::kUnexpected : e.Code();
    } catch (const Exception& e) {
        WriteExceptionToTrace(tracer, prefix, level, e);
        result = rc::kUnknownException;
    } catch (const std::bad_alloc& e) {
        WriteStdExceptionToTrace(tracer, prefix, level, e);
        result = rc::kOutOfMemory;
    } catch (const std::length_error& e) {
        WriteStdExceptionToTrace(tracer, prefix, level, e);
        result = rc::kOutOfMemory;
    } catch (const std::exception& e) {
        WriteStdExceptionToTrace(tracer, prefix, level, e);
        result = rc::kUnknownException;
    } catch (...) {
        result = rc::kUnknownException;
    }
    return result;
}

ResultCode HandleConstructionException(IServiceLocator* locator) noexcept {
    ITracer* tracer = nullptr;
    if (locator != nullptr) {
        void* out = nullptr;
        if (Succeeded(locator->GetInterface(kIidTracer, 0, &out))) {
            tracer = static_cast<ITracer*>(out);
        } else if (out != nullptr) {
            static_cast<IObject*>(out)->Release();
        }
    }
    const ResultCode result =
        ResultCodeFromCurrentException(tracer, kConstructionPrefix, trace_level::kError);
    if (tracer != nullptr) tracer->Release();
    return result;
}

}  // namespace zef
