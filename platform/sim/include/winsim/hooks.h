// Per-thread hooks: replace one simulated call on the calling thread for a scope.
//
//     winsim::ScopedHook<&win::GetFileSize> hook([&](win::HANDLE file, win::DWORD* high) {
//         const win::DWORD size = win::GetFileSize(file, high);  // the simulated call
//         ... act as another writer would, right after the size was taken ...
//         return size;
//     });
//
// While the hook runs, the call it replaces reaches the simulation (not the hook again), so a
// hook can wrap the call. Only the installing thread sees the hook; other threads keep calling
// the simulation. At scope end the previous hook of that call on the thread (or none) is back.
// Faults and the journal apply to the simulated call the hook makes, not to the hook. Every
// simulated call can be hooked except variadic ones (StringCchPrintfW). The hook runs without
// the machine lock, so it may use any control.
#pragma once

#include <functional>
#include <utility>

namespace winsim {

namespace detail {

using FunctionKey = void (*)();
// Installs (hook non-null) or removes the calling thread's hook; returns the previous one.
// Throws std::invalid_argument for a function that is not a simulated call.
void* ExchangeHook(FunctionKey function, void* hook);

template <class F>
struct HookOf;
template <class R, class... A>
struct HookOf<R (*)(A...)> {
    using Type = std::function<R(A...)>;
};
template <class R, class... A>
struct HookOf<R (*)(A..., ...)> {
    static_assert(sizeof(R) == 0, "variadic calls (StringCchPrintfW) cannot be hooked");
};

}  // namespace detail

template <auto Function>
class ScopedHook {
public:
    using Hook = typename detail::HookOf<decltype(Function)>::Type;

    explicit ScopedHook(Hook hook)
        : m_hook(std::move(hook)), m_previous(detail::ExchangeHook(Key(), &m_hook)) {}
    ~ScopedHook() { detail::ExchangeHook(Key(), m_previous); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

private:
    static detail::FunctionKey Key() { return reinterpret_cast<detail::FunctionKey>(Function); }

    Hook m_hook;
    void* m_previous;
};

}  // namespace winsim
