// The security room: OpenThreadToken, RevertToSelf, ImpersonateLoggedOnUser and GetCurrentThread
// on per-thread impersonation state, token objects closed through CloseHandle, and the
// "threadToken" member of machine.json.
#include "security/security.h"

#include <win/security.h>

#include "core/json.h"
#include "kernel/kernel.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;

// The client a token stands for. Every impersonating thread plays the same client; a token
// remembers it so that impersonating it again restores the thread.
struct Token : winsim::kernel::KernelObject {
    Token() { ++Live(); }
    ~Token() override { --Live(); }
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    static std::size_t& Live() {
        static std::size_t live = 0;
        return live;
    }
};

struct SecurityState {
    bool threadsStartImpersonating = false;
};

SecurityState& State() {
    static auto* state = new SecurityState;
    return *state;
}

void ResetSecurity() {
    State() = SecurityState{};
}

QORVEX_SIM_ROOM(security, 0, ResetSecurity);

struct ThreadSecurity {
    bool impersonating = false;
};

ThreadSecurity FreshThread() {
    return {State().threadsStartImpersonating};
}

thread_local PerThread<ThreadSecurity> t_thread(&FreshThread);

void LoadThreadToken(const Value& value, const Loading& loading) {
    loading.Expect(value, Value::Kind::Bool, "\"threadToken\"");
    winsim::security::SetThreadsStartImpersonating(value.boolean);
}

QORVEX_SIM_MACHINE_MEMBER("threadToken", 0, LoadThreadToken);

}  // namespace

QORVEX_SIM_CALL(GetCurrentThread, Channel::None, nullptr);
QORVEX_SIM_CALL(OpenThreadToken, Channel::LastError, FALSE);
QORVEX_SIM_CALL(RevertToSelf, Channel::LastError, FALSE);
QORVEX_SIM_CALL(ImpersonateLoggedOnUser, Channel::LastError, FALSE);

namespace winsim::security {

bool ThreadsStartImpersonating() {
    return State().threadsStartImpersonating;
}

void SetThreadsStartImpersonating(bool impersonating) {
    State().threadsStartImpersonating = impersonating;
}

bool ThreadImpersonates() {
    return t_thread.Get().impersonating;
}

void SetThreadImpersonates(bool impersonating) {
    t_thread.Get().impersonating = impersonating;
}

std::size_t OpenTokenCount() {
    return Token::Live();
}

}  // namespace winsim::security

win::HANDLE win::GetCurrentThread() {
    return Simulate<&win::GetCurrentThread>(
        {}, [] { return std::string(); },
        []() -> win::HANDLE { return win::kCurrentThreadPseudoHandle; });
}

win::BOOL win::OpenThreadToken(win::HANDLE thread, win::DWORD desiredAccess, win::BOOL openAsSelf,
                               win::HANDLE* token) {
    return Simulate<&win::OpenThreadToken>(
        {thread, desiredAccess, openAsSelf, token},
        [&] {
            return Pointer(thread) + ", " + Hex(desiredAccess) + ", " +
                   (openAsSelf ? "TRUE" : "FALSE");
        },
        [&]() -> win::BOOL {
            // The simulated process has no thread handles of its own, only the pseudo handle.
            if (thread != win::kCurrentThreadPseudoHandle)
                return Fail(win::ERROR_INVALID_HANDLE, win::FALSE);
            if (token == nullptr) return Fail(win::ERROR_NOACCESS, win::FALSE);
            // A failed open leaves no handle behind: the out variable is cleared.
            *token = nullptr;
            if (!t_thread.Get().impersonating) return Fail(win::ERROR_NO_TOKEN, win::FALSE);
            *token = winsim::kernel::AddHandle(std::make_shared<Token>());
            return win::TRUE;
        });
}

win::BOOL win::RevertToSelf() {
    return Simulate<&win::RevertToSelf>(
        {}, [] { return std::string(); },
        []() -> win::BOOL {
            // Reverting a thread that runs as its process is no error.
            t_thread.Get().impersonating = false;
            return win::TRUE;
        });
}

win::BOOL win::ImpersonateLoggedOnUser(win::HANDLE token) {
    return Simulate<&win::ImpersonateLoggedOnUser>(
        {token}, [&] { return Pointer(token); },
        [&]() -> win::BOOL {
            if (winsim::kernel::FindHandleOf<Token>(token) == nullptr)
                return Fail(win::ERROR_INVALID_HANDLE, win::FALSE);
            t_thread.Get().impersonating = true;
            return win::TRUE;
        });
}
