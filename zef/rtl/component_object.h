// The component object model: module-wide object counting, per-class instance tracking, the
// host services every component keeps, and ComponentObject<T>, the concrete class of every
// component created through a class factory.
//
// Threading: counts and trackers change only by atomic read-modify-write; objects may be used
// and released from any thread. A LazyTracer belongs to one call on one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include "zef/object.h"
#include "zef/rtl/error_handling/exception.h"
#include "zef/rtl/implements.h"
#include "zef/rtl/objclient.h"

namespace zef {

// The number of module objects whose construction has begun and whose destruction has not
// ended. zefCanUnloadModule reads it.
std::atomic<std::uint32_t>& ModuleObjectCount() noexcept;

// Counts its owner in ModuleObjectCount for the owner's whole life.
class ModuleLock {
public:
    ModuleLock() noexcept { ModuleObjectCount().fetch_add(1, std::memory_order_relaxed); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
    ~ModuleLock() { ModuleObjectCount().fetch_sub(1, std::memory_order_release); }
};

// Per-class live count and XOR fold of the tracker addresses of the live instances. The module
// never reads them; tests and debuggers do.
template <class Tracked>
class InstanceTracker {
public:
    InstanceTracker() noexcept {
        s_fold.fetch_xor(Address(), std::memory_order_relaxed);
        s_live.fetch_add(1, std::memory_order_relaxed);
    }
    InstanceTracker(const InstanceTracker&) = delete;
    InstanceTracker& operator=(const InstanceTracker&) = delete;
    ~InstanceTracker() {
        s_fold.fetch_xor(Address(), std::memory_order_relaxed);
        s_live.fetch_sub(1, std::memory_order_relaxed);
    }

    static std::uint32_t LiveCount() noexcept { return s_live.load(); }
    static std::uint64_t Fold() noexcept { return s_fold.load(); }

private:
    std::uint64_t Address() const noexcept {
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this));
    }
    static inline std::atomic<std::uint32_t> s_live{0};
    static inline std::atomic<std::uint64_t> s_fold{0};
};

// The host references a component keeps: allocator, tracer, locator (destroyed in reverse).
struct HostServices {
    // Allocator and tracer by GetInterfaceOrThrow, the locator by AddRef.
    explicit HostServices(IServiceLocator* hostLocator)
        : allocator(GetInterfaceOrThrow<IAllocator>(hostLocator, kIidAllocator)),
          tracer(GetInterfaceOrThrow<ITracer>(hostLocator, kIidTracer)),
          locator(ref_ptr<IServiceLocator>::Share(hostLocator)) {}

    ref_ptr<IAllocator> allocator;
    ref_ptr<ITracer> tracer;
    ref_ptr<IServiceLocator> locator;
};

// A tracer fetched from the locator on first use; one failed request is never repeated.
class LazyTracer {
public:
    explicit LazyTracer(IServiceLocator* locator) noexcept : m_locator(locator) {}
    ITracer* Get() noexcept {
        if (m_tracer) return m_tracer.get();
        if (m_locator == nullptr) return nullptr;
        if (m_locator->GetInterface(kIidTracer, 0, m_tracer.put_void()) < 0) {
            m_tracer.reset();
            m_locator = nullptr;
            return nullptr;
        }
        return m_tracer.get();
    }

private:
    IServiceLocator* m_locator;
    ref_ptr<ITracer> m_tracer;
};

// The concrete class of a component T. T derives from its one interface (T::Interface, id
// T::kInterfaceId), is constructible from (HostServices&&, args...) and exposes its host
// services as Host(). implements supplies AddRef, Release and QueryInterface; the object ends by
// returning its block to the host allocator it keeps.
template <class T>
class ComponentObject final
    : private ModuleLock,
      private InstanceTracker<T>,
      public implements<ComponentObject<T>, typename T::Interface, T::kInterfaceId, T> {
    using Object = implements<ComponentObject<T>, typename T::Interface, T::kInterfaceId, T>;
    friend Object;

public:
    // Component creation: the allocator for the block is asked of the locator first (its
    // failure is returned as is, untraced, after releasing whatever the locator left in its
    // output; a success without an allocator is 0x80000040); any exception during allocation or
    // construction is converted by HandleConstructionException after the block was returned.
    template <class... Args>
    static ResultCode Create(IServiceLocator* locator, ComponentObject** out, Args&&... args) {
        void* rawAllocator = nullptr;
        const ResultCode code = locator->GetInterface(kIidAllocator, 0, &rawAllocator);
        auto allocator = ref_ptr<IAllocator>::Adopt(static_cast<IAllocator*>(rawAllocator));
        if (code < 0) return code;
        if (!allocator) return rc::kUnexpected;
        try {
            void* block = allocator->Alloc(sizeof(ComponentObject));
            if (block == nullptr) throw std::bad_alloc();
            try {
                *out = ::new (block) ComponentObject(locator, std::forward<Args>(args)...);
            } catch (...) {
                allocator->Free(block);
                throw;
            }
            return 0;
        } catch (...) {
            return HandleConstructionException(locator);
        }
    }

private:
    template <class... Args>
    explicit ComponentObject(IServiceLocator* locator, Args&&... args)
        : Object(HostServices(locator), std::forward<Args>(args)...) {}
    ~ComponentObject() = default;

    void OnFinalRelease() noexcept {
        // Keep the host allocator alive until its own block is back.
        IAllocator* allocator = this->Host().allocator.get();
        allocator->AddRef();
        this->~ComponentObject();
        allocator->Free(this);
        allocator->Release();
    }
};

// The creation step of a component class's factory: creates one ComponentObject<T>, hands out
// its interface iid through out and drops the local reference, so an object whose query fails
// is destroyed before the call returns. Returns the query's result, or the creation's failure
// with *out unwritten; a creation that yields no object never reads as success (0x80000040).
template <class T, class... Args>
ResultCode CreateComponent(IServiceLocator* locator, InterfaceId iid, void** out, Args&&... args) {
    ComponentObject<T>* object = nullptr;
    const ResultCode created =
        ComponentObject<T>::Create(locator, &object, std::forward<Args>(args)...);
    if (object == nullptr) return created < 0 ? created : rc::kUnexpected;
    const ResultCode queried = object->QueryInterface(iid, out);
    object->Release();
    return queried;
}

}  // namespace zef
