// A scope in which the calling thread runs as its process rather than as the client it
// impersonates. Work that must reach the system's own services (the package manager, for one)
// fails or sees the wrong user when it runs under a client's token; the scope reverts the
// thread for its duration and puts the client's token back at its end.
#pragma once

#include <win/kernel.h>
#include <win/security.h>

#include "zef/rtl/unique_resource.h"

namespace zef::system {

namespace detail {
struct TokenHandleTraits {
    using pointer = win::HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer token) noexcept { return token != nullptr; }
    static void Close(pointer token) noexcept { (void)win::CloseHandle(token); }
};
}  // namespace detail

// Owns a token handle (CloseHandle).
using unique_token_handle = unique_resource<detail::TokenHandleTraits>;

// Construction takes the thread's impersonation token and reverts the thread to the process;
// on a thread that impersonates nobody it holds nothing and does nothing, now or at its end.
// Construction throws zef::CheckResultFailedException when the thread cannot be reverted (the
// thread then stays as it was) and zef::ResultCodeException when the token cannot be read.
// Destruction impersonates the token again and closes it; it never throws.
//
// Threading: impersonation is a state of the thread, so the scope lives on one thread's stack
// and ends on that thread.
class scoped_revert_impersonation {
public:
    scoped_revert_impersonation();
    ~scoped_revert_impersonation();
    scoped_revert_impersonation(const scoped_revert_impersonation&) = delete;
    scoped_revert_impersonation& operator=(const scoped_revert_impersonation&) = delete;

    // Whether the thread impersonated a client when the scope began.
    bool reverted() const noexcept { return static_cast<bool>(m_token); }

private:
    unique_token_handle m_token;
};

}  // namespace zef::system
