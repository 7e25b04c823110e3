// IUnknown, IInspectable and IActivationFactory, declared in their published slot order.
//
// Interfaces are abstract classes without a virtual destructor: the vtable is the binary
// contract, so a slot is never added, removed or reordered, and methods nobody calls stay
// declared. x64 Windows has a single calling convention, so no convention is spelled out.
#pragma once

#include <win/winrt/roapi.h>

namespace win {

enum TrustLevel : std::int32_t {
    BaseTrust = 0,
    PartialTrust = 1,
    FullTrust = 2,
};

// {00000000-0000-0000-C000-000000000046}
struct IUnknown {
    static constexpr IID kIid = {
        0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// {AF86E2E0-B12D-4C6A-9C5A-D7AA65101E90}
struct IInspectable : IUnknown {
    static constexpr IID kIid = {
        0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
    // *iids is CoTaskMemAlloc'ed by the callee.
    virtual HRESULT GetIids(ULONG* iidCount, IID** iids) = 0;
    virtual HRESULT GetRuntimeClassName(HSTRING* className) = 0;
    virtual HRESULT GetTrustLevel(TrustLevel* trustLevel) = 0;

protected:
    ~IInspectable() = default;
};

// {00000035-0000-0000-C000-000000000046}
struct IActivationFactory : IInspectable {
    static constexpr IID kIid = {
        0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT ActivateInstance(IInspectable** instance) = 0;

protected:
    ~IActivationFactory() = default;
};

// The IID an interface type answers QueryInterface for.
template <class I>
inline constexpr const IID& IidOf = I::kIid;

}  // namespace win
