// Owning interface pointers and GetInterfaceOrThrow.
#pragma once

#include <utility>

#include "zef/object.h"
#include "zef/rtl/error_handling/exception.h"

namespace zef {

// An owning reference to a zef interface (Release on destruction).
template <class I>
class ref_ptr {
public:
    ref_ptr() noexcept = default;
    // Adopts a reference the caller already owns.
    static ref_ptr Adopt(I* p) noexcept {
        ref_ptr r;
        r.m_p = p;
        return r;
    }
    // Takes a new reference (AddRef).
    static ref_ptr Share(I* p) noexcept {
        if (p != nullptr) p->AddRef();
        return Adopt(p);
    }
    ref_ptr(const ref_ptr& other) noexcept : m_p(other.m_p) {
        if (m_p != nullptr) m_p->AddRef();
    }
    ref_ptr(ref_ptr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ref_ptr& operator=(ref_ptr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ref_ptr() { reset(); }

    void reset() noexcept {
        if (I* p = std::exchange(m_p, nullptr)) p->Release();
    }
    I* get() const noexcept { return m_p; }
    I* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    I* detach() noexcept { return std::exchange(m_p, nullptr); }
    // For out-parameters of GetInterface-style calls; releases what was held first.
    void** put_void() noexcept {
        reset();
        return reinterpret_cast<void**>(&m_p);
    }

private:
    I* m_p = nullptr;
};

// Asks the locator for an interface (GetInterface with iid and reserved 0). A negative result
// throws GetInterfaceException carrying the iid and the locator's code unchanged, after
// releasing whatever the locator left in its output. A success that leaves no interface throws
// it with 0x80000040: the caller would otherwise hold a null host service it relies on, and a
// carried success code would read as success at the interface boundary. The exception records
// this header's position ("zef/rtl/objclient") as its throw site.
template <class I>
ref_ptr<I> GetInterfaceOrThrow(IServiceLocator* locator, InterfaceId iid) {
    void* out = nullptr;
    const ResultCode code = locator->GetInterface(iid, 0, &out);
    auto held = ref_ptr<I>::Adopt(static_cast<I*>(out));
    if (code < 0 || !held) {
        held.reset();
        const ResultCode carried = code < 0 ? code : rc::kUnexpected;
        ZEF_THROW(GetInterfaceException, iid, carried);
    }
    return held;
}

}  // namespace zef
