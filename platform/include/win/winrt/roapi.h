// The Windows Runtime as the module sees it: HSTRING handles, apartment initialisation and
// activation by class name, with the exact names, arguments and HRESULTs of combase.
//
// Two bindings implement these functions: platform/windows forwards to combase (through the
// runtimeobject import library), platform/sim runs a small runtime of its own with apartments
// per thread and reference-counted strings.
//
// Threading: any thread; the apartment is a property of the calling thread.
#pragma once

#include <win/types.h>

#include <cstdint>

namespace win {

// An HSTRING is an opaque, immutable, reference-counted string handle. Null is the empty
// string and is valid wherever an HSTRING is taken.
struct HSTRING__;
using HSTRING = HSTRING__*;

using UINT32 = std::uint32_t;
using INT32 = std::int32_t;
using UINT64 = std::uint64_t;
using INT64 = std::int64_t;
using UINT16 = std::uint16_t;
using PCWSTR = const WCHAR*;
using IID = GUID;
using REFIID = const IID&;

// The Windows Runtime's `boolean` is one byte, not the four-byte Win32 BOOL: a callee that
// wrote four bytes would overwrite its caller's neighbouring locals.
using boolean = std::uint8_t;
static_assert(sizeof(boolean) == 1);

enum RO_INIT_TYPE : std::int32_t {
    RO_INIT_SINGLETHREADED = 0,
    RO_INIT_MULTITHREADED = 1,
};

constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_BOUNDS = static_cast<HRESULT>(0x8000000Bu);
constexpr HRESULT E_ILLEGAL_METHOD_CALL = static_cast<HRESULT>(0x8000000Eu);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
// HRESULT_FROM_WIN32(ERROR_INSTALL_PACKAGE_NOT_FOUND): SetPackageState of an unknown package.
constexpr HRESULT HRESULT_INSTALL_PACKAGE_NOT_FOUND = static_cast<HRESULT>(0x80073CF1u);

struct IInspectable;

// S_OK when the thread joins the apartment, S_FALSE when it already was in that apartment (each
// success needs its own RoUninitialize), RPC_E_CHANGED_MODE when it is in the other one.
QORVEX_WIN_API HRESULT RoInitialize(RO_INIT_TYPE initType);
QORVEX_WIN_API void RoUninitialize();
// CO_E_NOTINITIALIZED outside an apartment, REGDB_E_CLASSNOTREG for a class nobody serves.
QORVEX_WIN_API HRESULT RoActivateInstance(HSTRING activatableClassId, IInspectable** instance);

// length counts UTF-16 units; embedded NULs are kept. A zero length gives the null HSTRING.
QORVEX_WIN_API HRESULT WindowsCreateString(PCWSTR sourceString, UINT32 length, HSTRING* string);
QORVEX_WIN_API HRESULT WindowsDuplicateString(HSTRING string, HSTRING* newString);
QORVEX_WIN_API HRESULT WindowsDeleteString(HSTRING string);
// The string's zero-terminated buffer, and its length in *length when length is not null. For
// the null HSTRING an empty text and 0.
QORVEX_WIN_API PCWSTR WindowsGetStringRawBuffer(HSTRING string, UINT32* length);

}  // namespace win
