// Every control of the simulated machine. Each area has its own header; see <winsim/machine.h>
// for what the machine is and how it is shared. A new room adds its header here.
#pragma once

#include <win/win.h>

#include <winsim/faults.h>
#include <winsim/file_attributes.h>
#include <winsim/files.h>
#include <winsim/heap.h>
#include <winsim/hooks.h>
#include <winsim/journal.h>
#include <winsim/machine.h>
#include <winsim/registry.h>
#include <winsim/scoped.h>
#include <winsim/security.h>
#include <winsim/shell.h>
#include <winsim/system.h>
#include <winsim/text.h>
#include <winsim/winrt.h>
