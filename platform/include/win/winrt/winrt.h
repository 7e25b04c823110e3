// The Windows Runtime subset the module uses: functions, HSTRING, the interfaces and IIDs.
#pragma once

#include <win/winrt/collections.h>
#include <win/winrt/deployment.h>
#include <win/winrt/inspectable.h>
#include <win/winrt/roapi.h>
#include <win/winrt/storage.h>
