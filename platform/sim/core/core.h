// The core of the simulated machine: the one lock, per-thread state, fault injection, the call
// journal, per-thread hooks and the one call skeleton that every simulated call runs through.
// Everything else lives in rooms, one per area of the OS (platform/sim/<room>/), each owning its
// slice of the machine state and the plain functions that change it. The core knows no room:
// rooms register with it.
//
// Internal to the simulated machine; module code never sees this header (the module's targets
// do not have platform/sim/include on their include path, and the format stage refuses any
// include of platform/sim from module/, zef/ or component/).
//
// A room is a folder platform/sim/<room>/ with <room>.h (its functions for other rooms and the
// controls), <room>.cpp (its state, calls, reset and machine.json members; built into
// libqorvex_winsim.so) and <room>_control.cpp (its winsim:: controls; built into the controls
// library). platform/CMakeLists.txt finds new folders by itself.
//
// ---- How a room grows ---------------------------------------------------------------------
//
// A call. Declare it in its platform/include/win/<area>.h header, then in the room's .cpp,
// at global scope, describe it once:
//
//     QORVEX_SIM_CALL(GetFileSize, winsim::core::Channel::LastError, win::INVALID_FILE_SIZE);
//
// (name, how the caller learns of an error, the value returned on failure; the failure value
// may use `error`, the injected error, as RegGetValueW's `static_cast<win::LSTATUS>(error)`
// does; options may follow: a Journaling and a Locking). The description registers the call:
// winsim::InjectableCalls() lists it (unless its channel is Channel::None), InjectFault
// accepts its name, and ScopedHook<&win::GetFileSize> can replace it. Then write the call
// through the skeleton, which takes the lock, runs a thread's hook, applies an injected fault
// through the call's channel and journals the call:
//
//     win::DWORD win::GetFileSize(win::HANDLE file, win::DWORD* high) {
//         return winsim::core::Simulate<&win::GetFileSize>(
//             {file, high},                                    // the arguments, for a hook
//             [&] { return Pointer(file) + ", " + ...; },      // journal text of the arguments
//             [&]() -> win::DWORD { ... });                    // the body, lock held
//     }
//
// Optional further arguments: an OnFault action run (lock held) when a fault fires, to leave
// out parameters as Windows leaves them on failure (SHGetKnownFolderPath nulls *path), and a
// ResultText `(const CallDescriptor&, Result, bool failed) -> std::string` (`() -> std::string`
// for a void call) replacing the default journal text of the result. The body reports its own
// failures the Windows way (core::Fail sets the last error and returns the failure value). A
// hook runs instead of everything else and without the lock; the simulated call it makes
// comes back through the skeleton. A call that hands out a handle (a token, a process) adds a
// kernel::KernelObject of its own type to the kernel room's handle table (kernel::AddHandle),
// so CloseHandle and winsim::OpenHandleCount() cover it.
//
// Per-thread state. Keep it in a `thread_local core::PerThread<State>` in the room, built by
// a function that returns the state a new thread starts with. Get() (lock held) hands out the
// calling thread's state, rebuilt fresh the first time a thread touches it after
// winsim::Reset(), so a reset reaches threads that already exist. The last error lives in the
// core (core::LastError()).
//
// A reset. Register the room once, with the function that puts its slice back to the default
// machine (called by winsim::Reset() and before loading a machine directory, lock held):
//
//     QORVEX_SIM_ROOM(registry, 0, ResetRegistry);
//
// The number is the phase: rooms reset in rising phase. A room whose default reaches into
// another room's slice resets after it (the shell room, phase 1, creates the Windows folder in
// the files room, phase 0).
//
// A machine.json member. Register the top-level member name with the function that applies its
// value (lock held) by calling the room's own functions, the same ones the room's controls call:
//
//     QORVEX_SIM_MACHINE_MEMBER("registry", 0, LoadRegistryMember);
//
// The number is the phase: members apply in rising phase, in file order within one phase (so
// "knownFolders", phase 1, overrides what "windowsDirectory", phase 0, set). A loader reports a
// bad value with loading.Fail(value, "what was expected"), which names the file, line and column.
// Members that no room registered are ignored, so descriptions can carry what later versions
// read. A room that reads files of the machine directory besides machine.json registers
// QORVEX_SIM_MACHINE_FOLDERS(function) (the files room reads the drive folders).
//
// A control. Controls are the winsim:: functions of platform/sim/include/winsim/<room>.h,
// built into the controls library (qorvex_winsim_controls) from the room's <room>_control.cpp.
// A control takes the lock (core::Lock lock(core::MachineLock())) and calls the room's
// functions; room functions that controls call are declared QORVEX_SIM_SHARED in the room's
// header. A control that changes one slice for a scope derives from winsim::ScopedOverride
// (winsim/scoped.h), as winsim::ScopedRegistryValue does. A new control header joins the
// umbrella <winsim/sim.h>; a new machine.json member joins the README's member table.
#pragma once

#include <win/kernel.h>

#include "core/json.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

// Room and core functions that the controls library calls are exported from
// libqorvex_winsim.so; everything else stays inside it.
#define QORVEX_SIM_SHARED __attribute__((visibility("default")))

namespace winsim::core {

// ---- The lock -----------------------------------------------------------------------------

// The machine's one lock. Call bodies, room functions, resets and member loaders run with it
// held; controls take it.
QORVEX_SIM_SHARED std::mutex& MachineLock();
using Lock = std::unique_lock<std::mutex>;

// ---- Calls ----------------------------------------------------------------------------------

// How a call tells its caller that it failed, and so how an injected fault reaches the caller.
enum class Channel {
    LastError,    // the failure value, the error in the thread's last error (BOOL, HANDLE, DWORD)
    HResult,      // the error is the returned HRESULT
    Status,       // the error is the returned LSTATUS
    NtStatus,     // the error is the returned NTSTATUS (RtlGetVersion)
    Errno,        // the failure value, the error in errno (mbrtowc)
    ErrnoResult,  // the error both in errno and returned as errno_t (wcrtomb_s)
    NullOnly,     // the failure value (null) and nothing else: HeapAlloc leaves the last error
    None,         // Windows reports no failure (towlower, CoTaskMemFree): not injectable
};

enum class Journaling {
    Always,    // whenever the journal is on
    WithHeap,  // only when the journal includes heap calls (string code makes many of them)
    Never,     // hot text functions
};

enum class Locking {
    Always,         // the body runs under the machine lock
    ForFaultsOnly,  // the lock is taken only when a fault may be injected or the call may be
                    // journaled: pure functions, and bodies that guard their own state (the heap)
};

struct CallDescriptor {
    std::string_view name;
    Channel channel;
    Journaling journaling = Journaling::Always;
    Locking locking = Locking::Always;
};

using FunctionKey = void (*)();

template <class F>
FunctionKey KeyOf(F* function) {
    return reinterpret_cast<FunctionKey>(function);
}

// Filled by QORVEX_SIM_CALL: `descriptor` and `Failure(error)`.
template <auto Function>
struct CallOf;

// Ends the process with a message: a call, room or member registered twice is a build mistake.
[[noreturn]] QORVEX_SIM_SHARED void DuplicateRegistration(const char* what, std::string_view name);

class QORVEX_SIM_SHARED CallRegistration {
public:
    CallRegistration(const CallDescriptor& call, FunctionKey function);
};

// Every registered call, in registration order.
QORVEX_SIM_SHARED std::vector<const CallDescriptor*> RegisteredCalls();
QORVEX_SIM_SHARED const CallDescriptor* FindCall(std::string_view name);
QORVEX_SIM_SHARED const CallDescriptor* FindCall(FunctionKey function);
// The names of the calls a fault can be injected into.
QORVEX_SIM_SHARED std::vector<std::string> InjectableCalls();

// ---- Faults ---------------------------------------------------------------------------------

enum class FaultMode { Once, Nth, Always };

struct Fault {
    FaultMode mode = FaultMode::Once;
    std::uint32_t remaining = 1;  // calls until the failing one (Nth)
    std::uint32_t error = 0;
};

// A plain failure that a call of the channel can report, for faults that name no error of their
// own (the call sweep): access denied in the channel's own terms, EILSEQ for the text calls.
constexpr std::uint32_t TypicalError(Channel channel) {
    switch (channel) {
        case Channel::LastError:
        case Channel::Status:
            return 5;  // ERROR_ACCESS_DENIED
        case Channel::HResult:
            return 0x80070005u;  // E_ACCESSDENIED
        case Channel::NtStatus:
            return 0xC0000022u;  // STATUS_ACCESS_DENIED
        case Channel::Errno:
        case Channel::ErrnoResult:
            return EILSEQ;
        case Channel::NullOnly:
        case Channel::None:
            break;
    }
    return 0;
}

// Lock held. An empty fault clears. Throws std::invalid_argument for a call that is not
// injectable.
QORVEX_SIM_SHARED void SetFault(std::string_view call, std::optional<Fault> fault);
QORVEX_SIM_SHARED std::optional<Fault> GetFault(std::string_view call);
// Lock held: the named faults and the call sweep.
QORVEX_SIM_SHARED void ClearFaults();
// Lock held: the error to fail the call with when its fault fires now. Every injectable call
// of the machine, the runtime methods of the package manager's objects included, passes here
// once, so the call sweep counts it here.
QORVEX_SIM_SHARED std::optional<std::uint32_t> TakeFault(std::string_view call);
// What every simulated call looks at before anything else, read without a call or a lock: the
// heap calls of string code are the machine's hottest path.
struct HotFlags {
    // False means no fault is injected for any call and no sweep counts them.
    std::atomic<bool> mayFault{false};
    // How many hooks are installed, on all threads.
    std::atomic<int> hooks{0};
};
QORVEX_SIM_SHARED extern HotFlags g_hotFlags;

// Lock-free: false means no fault is injected for any call and no sweep counts them.
inline bool MayFault() {
    return g_hotFlags.mayFault.load(std::memory_order_relaxed);
}

// The call sweep: one process-wide count of injectable calls, whatever their names, and
// optionally a failure from the failAt-th counted call on (1 = the next): that call alone, or
// (andLater) it and every later one, each with its channel's TypicalError. A named fault that
// fires counts as a call and keeps its own error.
struct CallSweep {
    bool counting = false;
    std::uint64_t failAt = 0;  // 0: count only
    bool andLater = false;
    std::uint64_t calls = 0;
    std::uint64_t failed = 0;              // calls the sweep failed
    std::vector<std::string> failedNames;  // their names, each once, first failure first
};
// Lock held. Starting replaces the sweep in force; an empty one stops counting.
QORVEX_SIM_SHARED void SetCallSweep(std::optional<CallSweep> sweep);
QORVEX_SIM_SHARED CallSweep GetCallSweep();

// ---- Journal --------------------------------------------------------------------------------

struct JournalRecord {
    std::string call;
    std::string args;
    std::string result;
};

struct JournalState {
    bool on = false;
    // Also read without the lock, by heap calls deciding whether they need it.
    std::atomic<bool> includeHeap{false};
    std::vector<JournalRecord> entries;
};

// Lock held.
QORVEX_SIM_SHARED JournalState& Journal();
inline bool Journals(const CallDescriptor& call) {
    const JournalState& journal = Journal();
    if (!journal.on) return false;
    return call.journaling == Journaling::Always ||
           (call.journaling == Journaling::WithHeap && journal.includeHeap);
}
QORVEX_SIM_SHARED void Record(std::string_view call, std::string args, std::string result);
// Lock-free: whether heap calls may be journaled now (the journal lives as long as the process).
inline bool JournalsHeapCalls() {
    static const JournalState& journal = Journal();
    return journal.includeHeap.load(std::memory_order_relaxed);
}

// Journal text.
QORVEX_SIM_SHARED std::string Quote(const char16_t* text);
QORVEX_SIM_SHARED std::string Quote(std::u16string_view text);
QORVEX_SIM_SHARED std::string Hex(std::uint64_t value);
QORVEX_SIM_SHARED std::string Pointer(const void* p);
QORVEX_SIM_SHARED std::string BoolResult(bool ok, win::DWORD error);

// ---- Per-thread state -----------------------------------------------------------------------

// The thread's last error.
QORVEX_SIM_SHARED win::DWORD& LastError();

// Sets the last error and returns the call's failure value: `return core::Fail(ERROR_X, FALSE);`.
template <class R>
R Fail(win::DWORD error, R failure) {
    LastError() = error;
    return failure;
}

// Counts resets; per-thread state built before the current count is stale.
QORVEX_SIM_SHARED std::uint64_t ResetGeneration();

// One State per thread, rebuilt by `fresh` on a thread's first use and on its first use after
// each winsim::Reset(). Declare it `thread_local`; call Get() with the lock held.
template <class State>
class PerThread {
public:
    using Fresh = State (*)();
    explicit PerThread(Fresh fresh) : m_fresh(fresh) {}

    State& Get() {
        const std::uint64_t generation = ResetGeneration();
        if (!m_state || m_generation != generation) {
            m_state = m_fresh();
            m_generation = generation;
        }
        return *m_state;
    }

private:
    Fresh m_fresh;
    std::optional<State> m_state;
    std::uint64_t m_generation = 0;
};

// ---- Hooks ----------------------------------------------------------------------------------

// A hook installed on one thread for one call. `hook` points at the std::function of the
// call's signature that winsim::ScopedHook owns.
struct HookSlot {
    void* hook = nullptr;
    bool running = false;  // inside the hook the call reaches the simulation
};

// Lock-free: false when no thread has a hook installed.
inline bool AnyHook() {
    return g_hotFlags.hooks.load(std::memory_order_acquire) != 0;
}
// The calling thread's hook for the function, unless none is installed or it is running.
QORVEX_SIM_SHARED HookSlot* ActiveHook(FunctionKey function);
// Installs (hook non-null) or removes a hook on the calling thread; returns the previous one.
// Throws std::invalid_argument for a function that is not a simulated call.
QORVEX_SIM_SHARED void* ExchangeHook(FunctionKey function, void* hook);

template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
    using Result = R;
    using Arguments = std::tuple<A...>;
    using Hook = std::function<R(A...)>;
    static constexpr bool kHookable = true;
};
// Variadic calls (StringCchPrintfW) cannot be forwarded to a hook.
template <class R, class... A>
struct Signature<R (*)(A..., ...)> {
    using Result = R;
    using Arguments = std::tuple<A...>;
    using Hook = void;
    static constexpr bool kHookable = false;
};

// ---- The call skeleton ----------------------------------------------------------------------

struct NoAction {
    void operator()() const {}
};

// The journal text of a result when the call gives none: by channel and result type.
struct DefaultResultText {
    std::string operator()() const { return {}; }
    template <class R>
    std::string operator()(const CallDescriptor& call, const R& result, bool failed) const {
        const win::DWORD error = LastError();
        if constexpr (std::is_pointer_v<R>) {
            if (!failed) return Pointer(result);
            std::string text =
                result == win::INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : "null";
            if (call.channel == Channel::LastError)
                text += " (error " + std::to_string(error) + ")";
            return text;
        } else if constexpr (std::is_integral_v<R>) {
            switch (call.channel) {
                case Channel::HResult:
                    return Hex(static_cast<std::uint32_t>(result));
                case Channel::LastError:
                    if constexpr (std::is_same_v<R, win::BOOL>) return BoolResult(!failed, error);
                    if (failed)
                        return std::to_string(result) + " (error " + std::to_string(error) + ")";
                    return std::to_string(result);
                default:
                    return std::to_string(result);
            }
        } else {
            return {};
        }
    }
};

namespace internal {

template <class R>
R Report(const CallDescriptor& call, std::uint32_t error, R failure) {
    switch (call.channel) {
        case Channel::LastError:
            LastError() = error;
            break;
        case Channel::Errno:
        case Channel::ErrnoResult:
            errno = static_cast<int>(error);
            break;
        default:
            break;
    }
    return failure;
}

}  // namespace internal

// Runs one simulated call: the thread's hook if one is installed (and not already running),
// else under the lock: the injected fault (reported through the call's channel, OnFault run)
// or the body, then the journal entry.
template <auto Function, class ArgsText, class Body, class OnFault = NoAction,
          class ResultText = DefaultResultText>
typename Signature<decltype(Function)>::Result Simulate(
    typename Signature<decltype(Function)>::Arguments arguments, ArgsText&& argsText, Body&& body,
    OnFault&& onFault = {}, ResultText&& resultText = {}) {
    using Traits = Signature<decltype(Function)>;
    using R = typename Traits::Result;
    using Spec = CallOf<Function>;
    const CallDescriptor& call = Spec::descriptor;

    if constexpr (Traits::kHookable) {
        if (AnyHook()) {
            if (HookSlot* slot = ActiveHook(KeyOf(Function))) {
                using Hook = typename Traits::Hook;
                slot->running = true;
                struct Done {
                    HookSlot* slot;
                    ~Done() { slot->running = false; }
                } done{slot};
                return std::apply(*static_cast<Hook*>(slot->hook), arguments);
            }
        }
    } else {
        (void)arguments;
    }

    Lock lock;
    std::optional<std::uint32_t> fault;
    if (call.locking == Locking::Always || (call.channel != Channel::None && MayFault()) ||
        (call.journaling == Journaling::WithHeap && JournalsHeapCalls())) {
        lock = Lock(MachineLock());
        if (call.channel != Channel::None) fault = TakeFault(call.name);
    }
    // The arguments' text is taken before the body runs: a block the call frees is gone after.
    std::optional<std::string> args;
    if (lock.owns_lock() && Journals(call)) args = argsText();
    // A call being journaled keeps the lock until its record is written.
    const bool unlockForBody = call.locking == Locking::ForFaultsOnly && !args;
    if constexpr (std::is_void_v<R>) {
        if (unlockForBody && lock.owns_lock()) lock.unlock();
        body();
        if (args) Record(call.name, std::move(*args), resultText());
    } else {
        R result;
        bool failed = false;
        if (fault) {
            onFault();
            result = internal::Report<R>(call, *fault, Spec::Failure(*fault));
            failed = true;
        } else {
            if (unlockForBody && lock.owns_lock()) lock.unlock();
            result = body();
            if constexpr (std::is_same_v<R, win::BOOL> || std::is_pointer_v<R> ||
                          std::is_same_v<R, win::DWORD>) {
                if (call.channel == Channel::LastError || call.channel == Channel::NullOnly)
                    failed = result == Spec::Failure(0);
            }
        }
        if (args) Record(call.name, std::move(*args), resultText(call, result, failed));
        return result;
    }
}

// ---- Rooms ----------------------------------------------------------------------------------

using ResetFunction = void (*)();

class QORVEX_SIM_SHARED RoomRegistration {
public:
    RoomRegistration(std::string_view name, int phase, ResetFunction reset);
};

// Lock held: every room's reset, the faults and the journal cleared, per-thread state stale.
QORVEX_SIM_SHARED void ResetMachine();

// ---- The machine directory -------------------------------------------------------------------

// What a member loader needs: where it is, and how to point at a wrong value.
class QORVEX_SIM_SHARED Loading {
public:
    Loading(std::string jsonName, std::filesystem::path directory);

    [[noreturn]] void Fail(const detail::json::Value& at, const std::string& message) const;
    // A message that names its own file (a drive folder that cannot be read).
    [[noreturn]] void FailWith(std::string message) const;
    const detail::json::Value& Expect(const detail::json::Value& value,
                                      detail::json::Value::Kind kind,
                                      const std::string& what) const;
    // An absolute Win32 path with a drive letter, canonical.
    std::u16string AbsolutePath(const detail::json::Value& value, const std::string& what) const;
    // A number from 0 to 4294967295, or "0x" and 1 to 8 hex digits.
    std::uint32_t Dword(const detail::json::Value& value) const;
    // A file of the machine directory, whole; fails (naming the file) past `limit` bytes.
    std::vector<std::uint8_t> ReadHostFile(const std::filesystem::path& path,
                                           std::uintmax_t limit) const;
    const std::filesystem::path& Directory() const { return m_directory; }

private:
    std::string m_jsonName;
    std::filesystem::path m_directory;
};

using MemberLoader = void (*)(const detail::json::Value& value, const Loading& loading);
using FoldersLoader = void (*)(const Loading& loading);

class QORVEX_SIM_SHARED MemberRegistration {
public:
    MemberRegistration(std::string_view name, int phase, MemberLoader load);
};

class QORVEX_SIM_SHARED FoldersRegistration {
public:
    explicit FoldersRegistration(FoldersLoader load);
};

// Resets the machine and applies the directory; an empty string on success, else the message
// (and the machine back at its default). Takes the lock.
QORVEX_SIM_SHARED std::string LoadMachineDirectory(const std::string& directory);

}  // namespace winsim::core

#define QORVEX_SIM_CONCAT_INNER(a, b) a##b
#define QORVEX_SIM_CONCAT(a, b) QORVEX_SIM_CONCAT_INNER(a, b)

// Describes and registers the simulated call win::fn (at global scope). See the top of this file.
#define QORVEX_SIM_CALL(fn, channel, failure, ...)                                               \
    template <>                                                                                  \
    struct winsim::core::CallOf<&::win::fn> {                                                    \
        static constexpr ::winsim::core::CallDescriptor descriptor{#fn, channel, ##__VA_ARGS__}; \
        using Result = ::winsim::core::Signature<decltype(&::win::fn)>::Result;                  \
        static Result Failure([[maybe_unused]] std::uint32_t error) {                            \
            using namespace ::win;                                                               \
            return static_cast<Result>(failure);                                                 \
        }                                                                                        \
    };                                                                                           \
    static const ::winsim::core::CallRegistration QORVEX_SIM_CONCAT(qorvexSimCall_, fn) {        \
        ::winsim::core::CallOf<&::win::fn>::descriptor, ::winsim::core::KeyOf(&::win::fn)        \
    }

// Registers a room's reset (at namespace scope).
#define QORVEX_SIM_ROOM(name, phase, reset)                              \
    static const ::winsim::core::RoomRegistration qorvexSimRoom_##name { \
#name, phase, reset                                              \
    }

// Registers a top-level machine.json member (at namespace scope).
#define QORVEX_SIM_MACHINE_MEMBER(member, phase, load)                                  \
    static const ::winsim::core::MemberRegistration QORVEX_SIM_CONCAT(qorvexSimMember_, \
                                                                      __LINE__) {       \
        member, phase, load                                                             \
    }

// Registers a reader of the machine directory's folders (at namespace scope).
#define QORVEX_SIM_MACHINE_FOLDERS(load)                                                  \
    static const ::winsim::core::FoldersRegistration QORVEX_SIM_CONCAT(qorvexSimFolders_, \
                                                                       __LINE__) {        \
        load                                                                              \
    }
