// Functions that Wine or older Windows versions lack are resolved when first called, never
// imported: an import the loader cannot satisfy would stop qorvex.dll from loading at all,
// while a missing late-bound function fails only its own call, with ERROR_CALL_NOT_IMPLEMENTED
// (120) in the last error and the call's failure value, as Windows' own stubs answer.
//
//     win::BOOL win::FindNextFileNameW(...) {
//         static binding::LateBound<decltype(&::FindNextFileNameW)> next(L"kernel32.dll",
//                                                                         "FindNextFileNameW");
//         return next.Call(FALSE, ...);
//     }
//
// Threading: any thread may call first. The address is looked up at most once per thread that
// races on the first call and cached in an atomic; every lookup finds the same answer, so a
// race only repeats the lookup.
#pragma once

#include "binding.h"

#include <atomic>

namespace win::binding {

template <class Function>
class LateBound {
public:
    LateBound(const wchar_t* module, const char* name) : m_module(module), m_name(name) {}
    LateBound(const LateBound&) = delete;
    LateBound& operator=(const LateBound&) = delete;

    // The function, or null when the system does not have it.
    Function Get() {
        void* address = m_address.load(std::memory_order_acquire);
        if (address == Unresolved()) {
            address = Resolve();
            m_address.store(address, std::memory_order_release);
        }
        return address == nullptr ? nullptr : reinterpret_cast<Function>(address);
    }

    // Calls the function, or fails with ERROR_CALL_NOT_IMPLEMENTED and `failure` without it.
    template <class Result, class... Args>
    Result Call(Result failure, Args... args) {
        if (Function function = Get()) return function(args...);
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return failure;
    }

private:
    static void* Unresolved() { return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1)); }

    void* Resolve() const {
        // System modules only, from the system folder: never a DLL planted beside the host.
        ::HMODULE module = ::GetModuleHandleW(m_module);
        if (module == nullptr)
            module = ::LoadLibraryExW(m_module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) return nullptr;
        return reinterpret_cast<void*>(::GetProcAddress(module, m_name));
    }

    const wchar_t* m_module;
    const char* m_name;
    std::atomic<void*> m_address{Unresolved()};
};

}  // namespace win::binding
