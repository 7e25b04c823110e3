// Wow64: whether this process is a 32-bit process on 64-bit Windows, and a scope in which the
// file system redirection of Wow64 (System32 -> SysWOW64 and friends) is off for the calling
// thread, so that a path names what it names for a native process.
#pragma once

#include <win/system_info.h>

#include "zef/result_code.h"

namespace zef::system {

// 0 when the process runs under Wow64, 1 when it does not, a failure when the system could not
// say (kernel32 lacks IsWow64Process, or the call failed). Computed once per process; threads
// that arrive together may both ask, and they get the same answer.
ResultCode IsWow64() noexcept;

// Turns Wow64 file system redirection off for the calling thread while it lives, and back on at
// its end. Outside Wow64 (IsWow64 is 1, or it failed) it makes no call at all. Construction
// throws zef::CheckResultFailedException when the redirection cannot be turned off; destruction
// never throws (a failure to turn it back on is ignored).
//
// Threading: redirection is a state of the thread, so the guard lives on one thread's stack and
// ends on that thread.
class wow64_fs_redirection_guard {
public:
    wow64_fs_redirection_guard();
    ~wow64_fs_redirection_guard();
    wow64_fs_redirection_guard(const wow64_fs_redirection_guard&) = delete;
    wow64_fs_redirection_guard& operator=(const wow64_fs_redirection_guard&) = delete;

private:
    bool m_disabled = false;
    win::PVOID m_oldValue = nullptr;
};

}  // namespace zef::system
