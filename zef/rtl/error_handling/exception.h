// The zef exception family. Every failure inside the module travels as one of these: it records
// the throw site (file, line), a wide message and, for ResultCodeException and its descendants,
// a ResultCode. Interface boundaries turn them into result codes and one level-300 trace record.
//
// Throw with ZEF_THROW(Type, args...): it is the one place that records a throw site, so every
// exception names its file the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "zef/object.h"
#include "zef/result_code.h"
#include "zef/string.h"

namespace zef {

// The root of the family: where it was thrown, a free message (may be empty) and an optional
// owned cause. Copies are deep (the cause is cloned), as the language's exception machinery
// copies what it throws. Its std::exception part carries no text; what() names the concrete
// class. Threading: an exception belongs to the thread that throws and handles it.
class Exception : public std::exception {
public:
    Exception(const char* file, std::uint32_t line, wstring_t message = {});
    Exception(const Exception& other);
    Exception& operator=(const Exception& other);
    ~Exception() override;

    virtual wstring_t GetDescription() const;
    [[noreturn]] virtual void Rethrow() const = 0;
    virtual Exception* Clone() const = 0;

    const char* File() const noexcept { return m_file; }
    std::uint32_t Line() const noexcept { return m_line; }
    const wstring_t& Message() const noexcept { return m_message; }
    const Exception* Nested() const noexcept { return m_nested; }
    void SetNested(Exception* nested) noexcept;  // takes ownership

    // Appends the decimal text of value to the message (signed, no fill).
    Exception& operator<<(std::int32_t value);

private:
    const char* m_file;
    std::uint32_t m_line;
    wstring_t m_message;
    Exception* m_nested = nullptr;
};

// The layer between a concrete exception class (Derived) and its base that supplies the
// operations needing the most-derived type: Rethrow, Clone, and an insertion that keeps the
// type, so that `throw CheckFailedException(...) << hr;` throws a CheckFailedException.
template <class Derived, class Base>
class ExceptionBase : public Base {
public:
    using Base::Base;
    [[noreturn]] void Rethrow() const override { throw static_cast<const Derived&>(*this); }
    Exception* Clone() const override { return new Derived(static_cast<const Derived&>(*this)); }

    Derived& operator<<(std::int32_t value) & {
        Exception::operator<<(value);
        return static_cast<Derived&>(*this);
    }
    Derived&& operator<<(std::int32_t value) && {
        Exception::operator<<(value);
        return static_cast<Derived&&>(*this);
    }
};

class ResultCodeException : public ExceptionBase<ResultCodeException, Exception> {
public:
    ResultCodeException(const char* file, std::uint32_t line, ResultCode code,
                        wstring_t message = {});
    const char* what() const noexcept override { return "ResultCodeException"; }
    wstring_t GetDescription() const override;
    ResultCode Code() const noexcept { return m_code; }

private:
    ResultCode m_code;
};

class SystemException : public ExceptionBase<SystemException, ResultCodeException> {
public:
    SystemException(const char* file, std::uint32_t line, ResultCode code, wstring_t message);
    const char* what() const noexcept override { return "SystemException"; }
};

class CheckResultFailedException
    : public ExceptionBase<CheckResultFailedException, ResultCodeException> {
public:
    CheckResultFailedException(const char* file, std::uint32_t line, ResultCode code);
    const char* what() const noexcept override { return "CheckResultFailedException"; }
};

class GetInterfaceException : public ExceptionBase<GetInterfaceException, ResultCodeException> {
public:
    // file and line are those of GetInterfaceOrThrow (zef/rtl/objclient.h).
    GetInterfaceException(const char* file, std::uint32_t line, InterfaceId iid, ResultCode code);
    const char* what() const noexcept override { return "GetInterfaceException"; }
    wstring_t GetDescription() const override;
    InterfaceId Iid() const noexcept { return m_iid; }

private:
    InterfaceId m_iid;
};

class CheckFailedException : public ExceptionBase<CheckFailedException, Exception> {
public:
    CheckFailedException(const char* file, std::uint32_t line);
    const char* what() const noexcept override { return "CheckFailedException"; }
};

class RuntimeError : public ExceptionBase<RuntimeError, Exception> {
public:
    RuntimeError(const char* file, std::uint32_t line, wstring_t message);
    const char* what() const noexcept override { return "RuntimeError"; }
};

namespace contract {
class RequireViolation : public ExceptionBase<RequireViolation, Exception> {
public:
    using ExceptionBase::ExceptionBase;
    const char* what() const noexcept override { return "RequireViolation"; }
};
class InvariantViolation : public ExceptionBase<InvariantViolation, Exception> {
public:
    using ExceptionBase::ExceptionBase;
    const char* what() const noexcept override { return "InvariantViolation"; }
};
class EnsureViolation : public ExceptionBase<EnsureViolation, Exception> {
public:
    using ExceptionBase::ExceptionBase;
    const char* what() const noexcept override { return "EnsureViolation"; }
};
}  // namespace contract

// what() widened, " - ", the description, ". At ", the file, "(", the line, ") ".
// Empty when it cannot be built (memory ran out).
wstring_t GetDisplayText(const Exception& exception) noexcept;

// One record at level (tracer may be null, prefix may be null): the prefix, then the display
// text of the exception and of each nested one, joined by ";".
void WriteExceptionToTrace(ITracer* tracer, const char* prefix, std::uint32_t level,
                           const Exception& exception) noexcept;
// One record at level: the prefix, then what() (or "(null)"). A std::bad_alloc reads "bad
// allocation", the system's own text, whichever C++ runtime the module was built with (their
// what() texts differ, and hosts match failure reports by text).
void WriteStdExceptionToTrace(ITracer* tracer, const char* prefix, std::uint32_t level,
                              const std::exception& exception) noexcept;

// Only inside a catch block: classifies the exception being handled, traces it, returns its
// code (0x80000072 when called with no exception being handled).
ResultCode ResultCodeFromCurrentException(ITracer* tracer, const char* prefix,
                                          std::uint32_t level) noexcept;
// From the catch-all of a factory or a component construction.
ResultCode HandleConstructionException(IServiceLocator* locator) noexcept;

namespace detail {

// The name a throw site records for its source file: the path as the build spells it
// (repository-relative, by -fmacro-prefix-map), without its extension: "zef/rtl/objclient",
// ".../win8_api/source/winrt_wrapper". Hosts and support tools match failure reports by these
// names, so a header and its source file report the same one, whichever of them throws.
template <std::size_t N>
struct SourceFileName {
    char text[N] = {};
    consteval SourceFileName(const char (&file)[N]) {
        // A compiler cache may hand the compiler the source path relative to the build folder
        // ("../../zef/rtl/objclient.h"), which the prefix map does not match: the leading "./"
        // and "../" steps are dropped, so an in-tree build records the same name either way.
        std::size_t begin = 0;
        for (;;) {
            if (file[begin] == '.' && IsSeparator(file[begin + 1])) {
                begin += 2;
            } else if (file[begin] == '.' && file[begin + 1] == '.' &&
                       IsSeparator(file[begin + 2])) {
                begin += 3;
            } else {
                break;
            }
        }
        std::size_t end = N - 1;
        for (std::size_t i = N - 1; i-- > 0;) {
            if (IsSeparator(file[i])) break;
            const bool startsTheName = i == begin || IsSeparator(file[i - 1]);
            if (file[i] == '.' && !startsTheName) {
                end = i;
                break;
            }
        }
        for (std::size_t i = begin; i < end; ++i) text[i - begin] = file[i];
    }

private:
    static constexpr bool IsSeparator(char c) { return c == '/' || c == '\\'; }
};

template <SourceFileName Name>
inline constexpr const char* kSourceFile = Name.text;

}  // namespace detail
}  // namespace zef

// The recorded name of the current source file (see detail::SourceFileName).
#define ZEF_SOURCE_FILE (::zef::detail::kSourceFile<::zef::detail::SourceFileName(__FILE__)>)

// Throws Type built from the throw site's file and line, then the given arguments.
#define ZEF_THROW(Type, ...) \
    throw Type(ZEF_SOURCE_FILE, static_cast<std::uint32_t>(__LINE__) __VA_OPT__(, ) __VA_ARGS__)
// A condition that has to hold; throws CheckFailedException when it does not.
#define ZEF_CHECK(condition)                                      \
    do {                                                          \
        if (!(condition)) ZEF_THROW(::zef::CheckFailedException); \
    } while (false)
// A ResultCode that has to be a success; throws CheckResultFailedException with it otherwise.
#define ZEF_CHECK_RESULT(expression)                                              \
    do {                                                                          \
        const ::zef::ResultCode zef_check_result_code_ = (expression);            \
        if (::zef::Failed(zef_check_result_code_))                                \
            ZEF_THROW(::zef::CheckResultFailedException, zef_check_result_code_); \
    } while (false)
