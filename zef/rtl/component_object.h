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
// services as Host(). ComponentObject supplies AddRef, Release and QueryInterface.
template <class T>
class ComponentObject final : private ModuleLock, private InstanceTracker<T>, public T {
public:
    // Component creation: the allocator for the block is asked of the locator first (its
    // failure is returned as is, untraced); any exception during allocation or construction
    // is converted by HandleConstructionException after the block was returned.
    template <class... Args>
    static ResultCode Create(IServiceLocator* locator, ComponentObject** out, Args&&... args) {
        void* rawAllocator = nullptr;
        const ResultCode code = locator->GetInterface(kIidAllocator, 0, &rawAllocator);
        if (code < 0) return code;
        auto allocator = ref_ptr<IAllocator>::Adopt(static_cast<IAllocator*>(rawAllocator));
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

    std::uint32_t AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

    std::uint32_t Release() override {
        const std::uint32_t count = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) {
            // Keep the host allocator alive until its own block is back.
            IAllocator* allocator = this->Host().allocator.get();
            allocator->AddRef();
            this->~ComponentObject();
            allocator->Free(this);
            allocator->Release();
        }
        return count;
    }

    ResultCode QueryInterface(InterfaceId iid, void** out) override {
        if (out == nullptr) return rc::kInvalidArgument;
        if (iid == kIidObject || iid == T::kInterfaceId) {
            *out = static_cast<typename T::Interface*>(this);
            AddRef();
            return 0;
        }
        *out = nullptr;
        return static_cast<ResultCode>(0x80000001u);
    }

private:
    template <class... Args>
    explicit ComponentObject(IServiceLocator* locator, Args&&... args)
        : T(HostServices(locator), std::forward<Args>(args)...) {}
    ~ComponentObject() = default;

    std::atomic<std::uint32_t> m_refs{1};
};

}  // namespace zef
