// The security room: each thread's impersonation and the token objects behind token handles.
#pragma once

#include <cstddef>

#include "core/core.h"

namespace winsim::security {

// Lock held.
QORVEX_SIM_SHARED bool ThreadsStartImpersonating();
QORVEX_SIM_SHARED void SetThreadsStartImpersonating(bool impersonating);
QORVEX_SIM_SHARED bool ThreadImpersonates();
QORVEX_SIM_SHARED void SetThreadImpersonates(bool impersonating);
QORVEX_SIM_SHARED std::size_t OpenTokenCount();

}  // namespace winsim::security
