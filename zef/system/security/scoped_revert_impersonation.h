// A scope in which the calling thread runs as its process rather than as the client it
// impersonates. Work that must reach the system's own services (the package manager, for one)
// fails or sees the wrong user when it runs under a client's token; the scope reverts the
// thread for its duration and puts the client's token back at its end.
#pragma once

#include <win/kernel.h>
#include <win/security.h>

#include "zef/object.h"
#include "zef/rtl/unique_resource.h"

namespace zef::system {

// Construction takes the thread's impersonation token and reverts the thread to the process;
// on a thread that impersonates nobody it holds nothing and does nothing, now or at its end.
// Construction throws zef::CheckResultFailedException when the thread cannot be reverted (the
// thread then stays as it was) and zef::ResultCodeException when the token cannot be read.
// Destruction impersonates the token again and closes it; it never throws. When the thread
// cannot take the client's identity back it goes on as the process, and the destruction
// writes one level-300 record naming the failure to `tracer` (when one is given): the host's
// thread then runs with another identity than its caller gave it, which nothing else reports.
// The tracer is not counted; it must outlive the scope.
//
// Threading: impersonation is a state of the thread, so the scope lives on one thread's stack
// and ends on that thread.
class scoped_revert_impersonation {
public:
    explicit scoped_revert_impersonation(ITracer* tracer = nullptr);
    ~scoped_revert_impersonation();
    scoped_revert_impersonation(const scoped_revert_impersonation&) = delete;
    scoped_revert_impersonation& operator=(const scoped_revert_impersonation&) = delete;

    // Whether the thread impersonated a client when the scope began.
    bool reverted() const noexcept { return static_cast<bool>(m_token); }

private:
    unique_token_handle m_token;
    ITracer* m_tracer;
};

}  // namespace zef::system
