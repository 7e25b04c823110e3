#include "zef/system/detail/windows/wow64_tools.h"

#include <atomic>

#include "zef/rtl/error_handling/exception.h"
#include "zef/rtl/result_codes.h"
#include "zef/system/detail/system_caches.h"
#include "zef/system/detail/system_functions.h"

namespace zef::system {
namespace {

// 0xFFFFFFFF: not asked yet.
constexpr ResultCode kNotAskedYet = static_cast<ResultCode>(0xFFFFFFFFu);

std::atomic<ResultCode> g_isWow64{kNotAskedYet};
std::atomic<win::Wow64DisableWow64FsRedirectionFunction> g_disableRedirection{nullptr};
std::atomic<win::Wow64RevertWow64FsRedirectionFunction> g_revertRedirection{nullptr};

ResultCode AskIsWow64() noexcept {
    win::FARPROC proc = nullptr;
    const ResultCode found = detail::LookUpFunction(u"kernel32", "IsWow64Process", &proc);
    if (Failed(found)) return found;
    win::BOOL wow64 = win::FALSE;
    if (!win::ProcAs<win::IsWow64ProcessFunction>(proc)(win::GetCurrentProcess(), &wow64))
        return FailureFromLastError();
    return wow64 ? rc::kOk : rc::kFalse;
}

// The function, looked up once it is found; a failed lookup is tried again next time.
template <class F>
ResultCode CachedFunction(std::atomic<F>& slot, const char* name, F* function) noexcept {
    if (F cached = slot.load(std::memory_order_acquire)) {
        *function = cached;
        return rc::kOk;
    }
    win::FARPROC proc = nullptr;
    const ResultCode found = detail::LookUpFunction(u"kernel32", name, &proc);
    if (Failed(found)) return found;
    *function = win::ProcAs<F>(proc);
    slot.store(*function, std::memory_order_release);
    return rc::kOk;
}

}  // namespace

ResultCode IsWow64() noexcept {
    ResultCode answer = g_isWow64.load(std::memory_order_acquire);
    if (answer == kNotAskedYet) {
        answer = AskIsWow64();
        g_isWow64.store(answer, std::memory_order_release);
    }
    return answer;
}

wow64_fs_redirection_guard::wow64_fs_redirection_guard() {
    if (IsWow64() != rc::kOk) return;
    win::Wow64DisableWow64FsRedirectionFunction disable = nullptr;
    const ResultCode found =
        CachedFunction(g_disableRedirection, "Wow64DisableWow64FsRedirection", &disable);
    if (Failed(found)) ZEF_THROW(CheckResultFailedException, found);
    if (!disable(&m_oldValue)) ZEF_THROW(CheckResultFailedException, FailureFromLastError());
    m_disabled = true;
}

wow64_fs_redirection_guard::~wow64_fs_redirection_guard() {
    if (!m_disabled) return;
    win::Wow64RevertWow64FsRedirectionFunction revert = nullptr;
    if (Failed(CachedFunction(g_revertRedirection, "Wow64RevertWow64FsRedirection", &revert)))
        return;
    // Nothing to be done about a failure here; the thread keeps redirection off.
    (void)revert(m_oldValue);
}

namespace detail {

void ResetWow64Caches() noexcept {
    g_isWow64.store(kNotAskedYet);
    g_disableRedirection.store(nullptr);
    g_revertRedirection.store(nullptr);
}

}  // namespace detail
}  // namespace zef::system
