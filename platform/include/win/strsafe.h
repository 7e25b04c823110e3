// strsafe's bounded formatting.
#pragma once

#include <win/types.h>

namespace win {

constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
constexpr HRESULT STRSAFE_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057u);

// strsafe's StringCchPrintfW: formats into dest (destUnits UTF-16 units, terminator
// included). S_OK when the whole text fits; STRSAFE_E_INSUFFICIENT_BUFFER (0x8007007A) with the
// output truncated and zero-terminated when it does not; STRSAFE_E_INVALID_PARAMETER for a
// zero-sized or oversized (> 2147483647 units) buffer, leaving dest alone. As in every Windows
// wide printf, %s takes a UTF-16 string (%hs a narrow one) and 'l' means 32 bits. The simulated
// binding implements %s %hs %S %c %d %i %u %x %X %o %% with the flags '-' '0' '+' ' ' '#', a width,
// a precision and the sizes h l ll I I32 I64 z; it refuses any other conversion with
// STRSAFE_E_INVALID_PARAMETER rather than guess.
QORVEX_WIN_API HRESULT StringCchPrintfW(WCHAR* dest, std::size_t destUnits, LPCWSTR format, ...);

}  // namespace win
