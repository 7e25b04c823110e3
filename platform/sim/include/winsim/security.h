// The simulated thread tokens: whether threads impersonate a client, and the token handles
// OpenThreadToken hands out.
#pragma once

#include <cstddef>

#include <winsim/scoped.h>

namespace winsim {

// Whether threads start impersonating a client (machine.json "threadToken"; default false).
bool GetThreadsStartImpersonating();
void SetThreadsStartImpersonating(bool impersonating);

// Whether the calling thread impersonates a client now (OpenThreadToken then succeeds).
bool ThreadImpersonates();
void SetThreadImpersonates(bool impersonating);

// Token handles OpenThreadToken returned that were not closed yet.
std::size_t OpenTokenCount();

// For a scope: threads start impersonating (or not), and so does the calling thread from now;
// both are back as they were at the end.
struct ThreadTokenSlice {
    bool threadsStartImpersonating = false;
    bool callingThreadImpersonates = false;
};
ThreadTokenSlice GetThreadTokenSlice();
void SetThreadTokenSlice(ThreadTokenSlice slice);

class ScopedThreadToken : public ScopedOverride<ThreadTokenSlice> {
public:
    explicit ScopedThreadToken(bool impersonating = true)
        : ScopedOverride(&GetThreadTokenSlice, &SetThreadTokenSlice,
                         ThreadTokenSlice{impersonating, impersonating}) {}
};

}  // namespace winsim
