// The core's state: the lock, the registered calls and rooms, faults, the journal, per-thread
// hooks and the last error.
#include "core/core.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <unordered_map>

#include <utf/codec.h>

namespace winsim::core {

constinit HotFlags g_hotFlags;

namespace {

struct RegisteredCall {
    const CallDescriptor* call;
    FunctionKey function;
};

struct RegisteredRoom {
    std::string_view name;
    int phase;
    ResetFunction reset;
};

// Built on first use: registrations run during the shared library's static initialisation,
// in an order across files that nobody chooses.
struct Registry {
    std::vector<RegisteredCall> calls;
    std::vector<RegisteredRoom> rooms;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

struct FaultTable {
    std::map<std::string, Fault, std::less<>> faults;
    CallSweep sweep;
    // Mirrored in g_hotFlags.mayFault so that hot calls skip the lock when nothing is injected
    // or counted.
    void Update() { g_hotFlags.mayFault = !faults.empty() || sweep.counting; }
};

FaultTable& Faults() {
    static FaultTable* table = new FaultTable;
    return *table;
}

std::atomic<std::uint64_t> g_resetGeneration{1};

thread_local win::DWORD t_lastError = 0;
thread_local std::unordered_map<FunctionKey, HookSlot> t_hooks;

const CallDescriptor* InjectableCall(std::string_view name) {
    const CallDescriptor* call = FindCall(name);
    if (call == nullptr || call->channel == Channel::None)
        throw std::invalid_argument("winsim: no injectable call named " + std::string(name));
    return call;
}

}  // namespace

std::mutex& MachineLock() {
    // Never destroyed, so that calls made during static destruction still find it. The first
    // user of the machine finds the default machine, not the rooms' empty slices: every room
    // has registered by then (registration runs during static initialisation), and no reset
    // takes this lock.
    static std::mutex* lock = [] {
        ResetMachine();
        return new std::mutex;
    }();
    return *lock;
}

// ---- Calls ----------------------------------------------------------------------------------

// Two descriptions of one call would make its faults and hooks ambiguous: refuse at load.
[[noreturn]] void DuplicateRegistration(const char* what, std::string_view name) {
    std::fprintf(stderr, "libqorvex_winsim: %s \"%.*s\" is registered twice\n", what,
                 static_cast<int>(name.size()), name.data());
    std::abort();
}

CallRegistration::CallRegistration(const CallDescriptor& call, FunctionKey function) {
    if (FindCall(call.name) != nullptr || FindCall(function) != nullptr)
        DuplicateRegistration("simulated call", call.name);
    TheRegistry().calls.push_back({&call, function});
}

std::vector<const CallDescriptor*> RegisteredCalls() {
    std::vector<const CallDescriptor*> calls;
    for (const auto& entry : TheRegistry().calls) calls.push_back(entry.call);
    return calls;
}

const CallDescriptor* FindCall(std::string_view name) {
    for (const auto& entry : TheRegistry().calls)
        if (entry.call->name == name) return entry.call;
    return nullptr;
}

const CallDescriptor* FindCall(FunctionKey function) {
    for (const auto& entry : TheRegistry().calls)
        if (entry.function == function) return entry.call;
    return nullptr;
}

std::vector<std::string> InjectableCalls() {
    std::vector<std::string> names;
    for (const auto& entry : TheRegistry().calls)
        if (entry.call->channel != Channel::None) names.emplace_back(entry.call->name);
    return names;
}

// ---- Faults ---------------------------------------------------------------------------------

void SetFault(std::string_view name, std::optional<Fault> fault) {
    InjectableCall(name);
    FaultTable& table = Faults();
    if (fault) {
        if (fault->mode == FaultMode::Nth && fault->remaining == 0)
            throw std::invalid_argument("winsim: FaultMode::Nth counts from 1");
        table.faults.insert_or_assign(std::string(name), *fault);
    } else if (auto it = table.faults.find(name); it != table.faults.end()) {
        table.faults.erase(it);
    }
    table.Update();
}

std::optional<Fault> GetFault(std::string_view name) {
    InjectableCall(name);
    FaultTable& table = Faults();
    auto it = table.faults.find(name);
    if (it == table.faults.end()) return std::nullopt;
    return it->second;
}

void ClearFaults() {
    FaultTable& table = Faults();
    table.faults.clear();
    table.sweep = CallSweep{};
    table.Update();
}

namespace {

std::optional<std::uint32_t> TakeNamedFault(FaultTable& table, std::string_view name) {
    if (table.faults.empty()) return std::nullopt;
    auto it = table.faults.find(name);
    if (it == table.faults.end()) return std::nullopt;
    Fault& fault = it->second;
    const std::uint32_t error = fault.error;
    switch (fault.mode) {
        case FaultMode::Always:
            return error;
        case FaultMode::Nth:
            if (fault.remaining > 1) {
                --fault.remaining;
                return std::nullopt;
            }
            [[fallthrough]];
        case FaultMode::Once:
            table.faults.erase(it);
            table.Update();
            return error;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> TakeFault(std::string_view name) {
    FaultTable& table = Faults();
    const std::optional<std::uint32_t> named = TakeNamedFault(table, name);
    CallSweep& sweep = table.sweep;
    if (!sweep.counting) return named;
    const std::uint64_t call = ++sweep.calls;
    if (named || sweep.failAt == 0) return named;
    if (call != sweep.failAt && !(sweep.andLater && call > sweep.failAt)) return std::nullopt;
    const CallDescriptor* descriptor = FindCall(name);
    if (descriptor == nullptr) return std::nullopt;
    ++sweep.failed;
    if (std::find(sweep.failedNames.begin(), sweep.failedNames.end(), name) ==
        sweep.failedNames.end())
        sweep.failedNames.emplace_back(name);
    return TypicalError(descriptor->channel);
}

void SetCallSweep(std::optional<CallSweep> sweep) {
    FaultTable& table = Faults();
    table.sweep = sweep ? *sweep : CallSweep{};
    table.sweep.counting = sweep.has_value();
    table.Update();
}

CallSweep GetCallSweep() {
    return Faults().sweep;
}

// ---- Journal --------------------------------------------------------------------------------

JournalState& Journal() {
    static JournalState* journal = new JournalState;
    return *journal;
}

void Record(std::string_view call, std::string args, std::string result) {
    JournalState& journal = Journal();
    if (!journal.on) return;
    journal.entries.push_back({std::string(call), std::move(args), std::move(result)});
}

std::string Quote(const char16_t* text) {
    if (text == nullptr) return "null";
    return Quote(std::u16string_view(text));
}

std::string Quote(std::u16string_view text) {
    // Appended in place: g++ 12 at -O3 misreads `"\"" + std::string` (-Wrestrict).
    std::string quoted(1, '"');
    quoted += utf::ToUtf8(text);
    quoted += '"';
    return quoted;
}

std::string Hex(std::uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Pointer(const void* p) {
    if (p == nullptr) return "null";
    return Hex(reinterpret_cast<std::uintptr_t>(p));
}

std::string BoolResult(bool ok, win::DWORD error) {
    if (ok) return "TRUE";
    return "FALSE (error " + std::to_string(error) + ")";
}

// ---- Per-thread state -----------------------------------------------------------------------

win::DWORD& LastError() {
    return t_lastError;
}

std::uint64_t ResetGeneration() {
    return g_resetGeneration.load(std::memory_order_acquire);
}

// ---- Hooks ----------------------------------------------------------------------------------

HookSlot* ActiveHook(FunctionKey function) {
    auto it = t_hooks.find(function);
    if (it == t_hooks.end() || it->second.hook == nullptr || it->second.running) return nullptr;
    return &it->second;
}

void* ExchangeHook(FunctionKey function, void* hook) {
    if (FindCall(function) == nullptr)
        throw std::invalid_argument("winsim: ScopedHook on a function that is not simulated");
    HookSlot& slot = t_hooks[function];
    void* previous = slot.hook;
    slot.hook = hook;
    if (previous == nullptr && hook != nullptr) ++g_hotFlags.hooks;
    if (previous != nullptr && hook == nullptr) --g_hotFlags.hooks;
    if (hook == nullptr) t_hooks.erase(function);
    return previous;
}

// ---- Rooms ----------------------------------------------------------------------------------

RoomRegistration::RoomRegistration(std::string_view name, int phase, ResetFunction reset) {
    auto& rooms = TheRegistry().rooms;
    for (const auto& room : rooms)
        if (room.name == name) DuplicateRegistration("room", name);
    auto at = std::upper_bound(rooms.begin(), rooms.end(), phase,
                               [](int p, const RegisteredRoom& room) { return p < room.phase; });
    rooms.insert(at, {name, phase, reset});
}

void ResetMachine() {
    for (const auto& room : TheRegistry().rooms) room.reset();
    ClearFaults();
    JournalState& journal = Journal();
    journal.on = false;
    journal.includeHeap = false;
    journal.entries.clear();
    g_resetGeneration.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace winsim::core
