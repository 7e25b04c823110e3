// strsafe's bounded formatting.
#pragma once

#include <win/types.h>

namespace win {

constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
constexpr HRESULT STRSAFE_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057u);

// strsafe's StringCchPrintfW: formats into dest (destUnits UTF-16 units, terminator
// included). S_OK when the whole text fits; STRSAFE_E_INSUFFICIENT_BUFFER (0x8007007A) with the
// output truncated to destUnits - 1 units and terminated when it does not;
// STRSAFE_E_INVALID_PARAMETER for a zero-sized or oversized (> 2147483647 units) buffer, an
// oversized one terminated at dest[0]. The conversions are the Windows C runtime's wide printf:
// %s takes a UTF-16 string (%hs and %S a narrow one), 'l' means 32 bits and I64 / ll 64, '0'
// pads strings and characters too, and a conversion character the runtime does not know is
// printed as itself.
QORVEX_WIN_API HRESULT StringCchPrintfW(WCHAR* dest, std::size_t destUnits, LPCWSTR format, ...);

}  // namespace win
