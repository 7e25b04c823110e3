// The registry: reading values.
#pragma once

#include <win/types.h>

namespace win {

constexpr DWORD RRF_RT_REG_SZ = 0x2;
constexpr DWORD RRF_RT_REG_DWORD = 0x10;
constexpr DWORD RRF_RT_ANY = 0xFFFF;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;
// The predefined key's value as Windows defines it (sign-extended on 64-bit).
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001u)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

QORVEX_WIN_API LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags,
                                    DWORD* type, void* data, DWORD* dataSize);

}  // namespace win
