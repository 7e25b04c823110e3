#include "zef/system/security/scoped_revert_impersonation.h"

#include "zef/result_code_texts.h"
#include "zef/rtl/error_handling/exception.h"
#include "zef/rtl/result_codes.h"
#include "zef/rtl/trace.h"

namespace zef::system {

scoped_revert_impersonation::scoped_revert_impersonation(ITracer* tracer) : m_tracer(tracer) {
    constexpr win::DWORD kAccess = win::TOKEN_DUPLICATE | win::TOKEN_IMPERSONATE | win::TOKEN_QUERY;
    // Only a token that the call reports as opened is owned: a failed call may leave anything
    // in its out-parameter.
    win::HANDLE token = nullptr;
    if (!win::OpenThreadToken(win::GetCurrentThread(), kAccess, win::TRUE, &token)) {
        const win::DWORD error = win::GetLastError();
        if (error == win::ERROR_NO_TOKEN) return;
        // Some systems report a thread without a token as "not found".
        const ResultCode code = FailureFromWin32Error(error);
        if (code == rc::kNotFound) return;
        ZEF_THROW(ResultCodeException, code);
    }
    *m_token.put() = token;
    // On failure the token is closed as the half-built scope unwinds; the thread was not changed.
    if (!win::RevertToSelf()) ZEF_THROW(CheckResultFailedException, FailureFromLastError());
}

scoped_revert_impersonation::~scoped_revert_impersonation() {
    if (!m_token) return;
    // Nothing can be done about a failure here but to say so; the token is closed either way.
    if (win::ImpersonateLoggedOnUser(m_token.get())) return;
    const ResultCode failure = FailureFromLastError();
    TraceLine(m_tracer, trace_level::kError, ZEF_FUNCTION_NAME, [failure](TraceWriter& writer) {
        writer << "ImpersonateLoggedOnUser failed: 0x" << Hex8(static_cast<std::uint32_t>(failure))
               << " (" << result_code_texts::Any(failure)
               << "), the thread goes on as the process instead of its client";
    });
}

}  // namespace zef::system
