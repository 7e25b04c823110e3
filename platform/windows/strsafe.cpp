// The Windows binding of win/strsafe.h.
#include "binding.h"

#include <cstdarg>

// Last: strsafe.h retires the unsafe string functions by redefining their names.
#include <strsafe.h>

win::HRESULT win::StringCchPrintfW(win::WCHAR* dest, std::size_t destUnits, win::LPCWSTR format,
                                   ...) {
    va_list args;
    va_start(args, format);
    const ::HRESULT hr = ::StringCchVPrintfW(reinterpret_cast<wchar_t*>(dest), destUnits,
                                             binding::Wide(format), args);
    va_end(args);
    return hr;
}
