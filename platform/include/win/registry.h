// The registry: reading values.
#pragma once

#include <win/types.h>

namespace win {

// RegGetValueW's flags: the value types the caller accepts (one bit per type) and how the value
// is read.
constexpr DWORD RRF_RT_REG_NONE = 0x1;
constexpr DWORD RRF_RT_REG_SZ = 0x2;
constexpr DWORD RRF_RT_REG_EXPAND_SZ = 0x4;
constexpr DWORD RRF_RT_REG_BINARY = 0x8;
constexpr DWORD RRF_RT_REG_DWORD = 0x10;
constexpr DWORD RRF_RT_REG_MULTI_SZ = 0x20;
constexpr DWORD RRF_RT_REG_QWORD = 0x40;
// REG_BINARY is accepted for these two only when it holds exactly 4 (8) bytes.
constexpr DWORD RRF_RT_DWORD = RRF_RT_REG_BINARY | RRF_RT_REG_DWORD;
constexpr DWORD RRF_RT_QWORD = RRF_RT_REG_BINARY | RRF_RT_REG_QWORD;
constexpr DWORD RRF_RT_ANY = 0xFFFF;
constexpr DWORD RRF_SUBKEY_WOW6464KEY = 0x00010000;
constexpr DWORD RRF_SUBKEY_WOW6432KEY = 0x00020000;
constexpr DWORD RRF_NOEXPAND = 0x10000000;
constexpr DWORD RRF_ZEROONFAILURE = 0x20000000;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD ERROR_DATATYPE_MISMATCH = 1629;
// The predefined key's value as Windows defines it (sign-extended on 64-bit).
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001u)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

// Reads one value. Strings come back terminated (a terminator the stored data lacks is added and
// counted in *dataSize); REG_EXPAND_SZ is expanded, and reported as REG_SZ, unless RRF_NOEXPAND.
// A value of a type the flags do not accept fails with ERROR_UNSUPPORTED_TYPE after the type,
// size and data have been written as for a success; a buffer too small fails with
// ERROR_MORE_DATA and the size needed, its contents untouched. RRF_ZEROONFAILURE zeroes the
// caller's buffer on every failure.
QORVEX_WIN_API LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags,
                                    DWORD* type, void* data, DWORD* dataSize);

}  // namespace win
