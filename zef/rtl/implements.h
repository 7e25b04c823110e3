// zef::implements: reference counting and interface query, written once for every object that
// hands out a zef interface (the module's factories, registry object, components and raw log
// object, and the reference host's services).
//
//     class Factory final : public zef::implements<Factory, zef::IObjectFactory,
//                                                  zef::kIidObjectFactory> { ... };
//
// Derived is the most derived class (it decides how the object ends), Interface the one
// interface the object hands out besides IObject, Iid that interface's id. Base is what the
// helper derives from: Interface itself, or a class that derives from Interface and supplies its
// other operations (ComponentObject<T> passes T). Options tunes the few answers in which objects
// differ by contract (see object_options).
//
// AddRef and Release return the count after the change. When Release brings the count to 0 it
// calls Derived's OnFinalRelease(), by default `delete` of the Derived object; an object that
// lives elsewhere (the host allocator's block, a host-owned stack object) declares its own.
// QueryInterface answers 0 (IObject) and Iid with the object itself and one more reference;
// any other id gets 0x80000001 and null in *out; a null out gets 0x80000046, so a caller that
// breaks the calling contract gets an answer rather than a crash.
//
// The Windows Runtime objects follow the same pattern with IInspectable and GUID ids.
//
// Threading: the count changes only by atomic read-modify-write; any thread may AddRef, Release
// or query at any time, and the final release runs on the thread whose Release reached 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "zef/object.h"
#include "zef/result_code.h"

namespace zef {

// The contract choices an object can make about its IObject part.
struct object_options {
    // The count a new object starts with: 1 when the creator holds the first reference, 0 when
    // the creator's holder takes it (the raw TCG log object).
    static constexpr std::uint32_t kInitialReferences = 1;
    // Whether a refused query writes null into *out. Every object does, except the raw TCG log
    // object, whose published contract leaves the caller's pointer as it was.
    static constexpr bool kClearsOutOnNoInterface = true;
};

template <class Derived, class Interface, InterfaceId Iid, class Base = Interface,
          class Options = object_options>
class implements : public Base {
public:
    std::uint32_t AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

    std::uint32_t Release() override {
        const std::uint32_t count = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) static_cast<Derived*>(this)->OnFinalRelease();
        return count;
    }

    ResultCode QueryInterface(InterfaceId iid, void** out) override {
        if (out == nullptr) return rc::kInvalidArgument;
        if (iid == kIidObject || iid == Iid) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return rc::kOk;
        }
        if constexpr (Options::kClearsOutOnNoInterface) *out = nullptr;
        return rc::kNoInterface;
    }

protected:
    template <class... Args>
    explicit implements(Args&&... args) noexcept(std::is_nothrow_constructible_v<Base, Args...>)
        : Base(std::forward<Args>(args)...) {}
    implements(const implements&) = delete;
    implements& operator=(const implements&) = delete;
    ~implements() = default;

    // The current count, for owners that keep the object alive themselves (the host double
    // reports what others still hold).
    std::uint32_t ReferenceCount() const noexcept { return m_refs.load(std::memory_order_acquire); }

    // The default end of an object: it was made with new.
    void OnFinalRelease() noexcept { delete static_cast<Derived*>(this); }

private:
    std::atomic<std::uint32_t> m_refs{Options::kInitialReferences};
};

}  // namespace zef
