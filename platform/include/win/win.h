// The operating system as the module sees it: the subset of Win32, the C runtime's text
// functions and (later) the Windows Runtime that qorvex calls, declared with portable types,
// one header per area. Include the area's header where one is enough; this umbrella includes
// them all.
//
// Every function keeps its Windows name, arguments, results and last-error behaviour. Two
// bindings implement these headers: platform/windows forwards to the real OS (one source per
// header), platform/sim is a simulated machine for Linux builds and tests. Module code includes
// them and never <windows.h>. Wide text is UTF-16 (char16_t) on every platform.
//
// Threading: every function may be called from any thread, as on Windows. Per-thread state
// (last error) is per thread in both bindings.
//
// A new area adds its header here, in the list below.
#pragma once

#include <win/types.h>

#include <win/crt_text.h>
#include <win/files.h>
#include <win/kernel.h>
#include <win/registry.h>
#include <win/security.h>
#include <win/shell.h>
#include <win/strsafe.h>
#include <win/system_info.h>
#include <win/winrt/winrt.h>
