// Controls of the security room.
#include <winsim/security.h>

#include "security/security.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

bool GetThreadsStartImpersonating() {
    Lock lock(MachineLock());
    return security::ThreadsStartImpersonating();
}

void SetThreadsStartImpersonating(bool impersonating) {
    Lock lock(MachineLock());
    security::SetThreadsStartImpersonating(impersonating);
}

bool ThreadImpersonates() {
    Lock lock(MachineLock());
    return security::ThreadImpersonates();
}

void SetThreadImpersonates(bool impersonating) {
    Lock lock(MachineLock());
    security::SetThreadImpersonates(impersonating);
}

std::size_t OpenTokenCount() {
    Lock lock(MachineLock());
    return security::OpenTokenCount();
}

ThreadTokenSlice GetThreadTokenSlice() {
    Lock lock(MachineLock());
    return {security::ThreadsStartImpersonating(), security::ThreadImpersonates()};
}

void SetThreadTokenSlice(ThreadTokenSlice slice) {
    Lock lock(MachineLock());
    security::SetThreadsStartImpersonating(slice.threadsStartImpersonating);
    security::SetThreadImpersonates(slice.callingThreadImpersonates);
}

}  // namespace winsim
