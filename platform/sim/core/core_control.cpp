// The whole-machine controls: reset, machine directories, faults, the journal and hooks.
#include <stdexcept>

#include <winsim/faults.h>
#include <winsim/hooks.h>
#include <winsim/journal.h>
#include <winsim/machine.h>

#include "core/core.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

void Reset() {
    Lock lock(MachineLock());
    core::ResetMachine();
}

std::string LoadMachineDirectory(const std::string& directory) {
    return core::LoadMachineDirectory(directory);
}

ScopedMachine::ScopedMachine() {
    Reset();
}
ScopedMachine::~ScopedMachine() {
    Reset();
}

// ---- Faults ---------------------------------------------------------------------------------

void InjectFault(std::string_view call, FaultMode mode, std::uint32_t n, std::uint32_t error) {
    if (mode == FaultMode::Nth && n == 0)
        throw std::invalid_argument("winsim: FaultMode::Nth counts from 1");
    core::Fault fault;
    fault.mode = static_cast<core::FaultMode>(mode);
    fault.remaining = mode == FaultMode::Nth ? n : 1;
    fault.error = error;
    Lock lock(MachineLock());
    core::SetFault(call, fault);
}

void ClearFault(std::string_view call) {
    Lock lock(MachineLock());
    if (core::FindCall(call) != nullptr && core::FindCall(call)->channel != core::Channel::None)
        core::SetFault(call, std::nullopt);
}

void ClearFaults() {
    Lock lock(MachineLock());
    core::ClearFaults();
}

std::vector<std::string> InjectableCalls() {
    return core::InjectableCalls();
}

ScopedFault::ScopedFault(std::string_view call, FaultMode mode, std::uint32_t n,
                         std::uint32_t error)
    : m_call(call) {
    {
        Lock lock(MachineLock());
        if (auto previous = core::GetFault(call))
            m_previous =
                Saved{static_cast<FaultMode>(previous->mode), previous->remaining, previous->error};
    }
    InjectFault(call, mode, n, error);
}

ScopedFault::~ScopedFault() {
    Lock lock(MachineLock());
    std::optional<core::Fault> previous;
    if (m_previous)
        previous = core::Fault{static_cast<core::FaultMode>(m_previous->mode),
                               m_previous->remaining, m_previous->error};
    core::SetFault(m_call, previous);
}

// ---- The call sweep ---------------------------------------------------------------------------

namespace {

std::optional<ScopedCallSweep::Saved> StartSweep(std::uint64_t failAt, bool andLater) {
    Lock lock(MachineLock());
    std::optional<ScopedCallSweep::Saved> previous;
    const core::CallSweep current = core::GetCallSweep();
    if (current.counting)
        previous = ScopedCallSweep::Saved{current.failAt, current.andLater, current.calls,
                                          current.failed, current.failedNames};
    core::CallSweep sweep;
    sweep.failAt = failAt;
    sweep.andLater = andLater;
    core::SetCallSweep(sweep);
    return previous;
}

}  // namespace

ScopedCallSweep::ScopedCallSweep() : m_previous(StartSweep(0, false)) {}

ScopedCallSweep::ScopedCallSweep(std::uint64_t failAt, FaultMode mode) {
    if (failAt == 0) throw std::invalid_argument("winsim: a call sweep counts from 1");
    if (mode == FaultMode::Nth)
        throw std::invalid_argument("winsim: a call sweep fails once or always");
    m_previous = StartSweep(failAt, mode == FaultMode::Always);
}

ScopedCallSweep::~ScopedCallSweep() {
    Lock lock(MachineLock());
    std::optional<core::CallSweep> previous;
    if (m_previous) {
        core::CallSweep sweep;
        sweep.failAt = m_previous->failAt;
        sweep.andLater = m_previous->andLater;
        sweep.calls = m_previous->calls;
        sweep.failed = m_previous->failed;
        sweep.failedNames = m_previous->failedNames;
        previous = sweep;
    }
    core::SetCallSweep(previous);
}

std::uint64_t ScopedCallSweep::Calls() const {
    Lock lock(MachineLock());
    return core::GetCallSweep().calls;
}

std::uint64_t ScopedCallSweep::Failed() const {
    Lock lock(MachineLock());
    return core::GetCallSweep().failed;
}

std::vector<std::string> ScopedCallSweep::FailedCalls() const {
    Lock lock(MachineLock());
    return core::GetCallSweep().failedNames;
}

// ---- Journal --------------------------------------------------------------------------------

namespace {

std::vector<JournalEntry> Entries(const std::vector<core::JournalRecord>& records) {
    std::vector<JournalEntry> entries;
    entries.reserve(records.size());
    for (const auto& record : records) entries.push_back({record.call, record.args, record.result});
    return entries;
}

}  // namespace

void EnableJournal(bool on, bool includeHeap) {
    Lock lock(MachineLock());
    core::Journal().on = on;
    core::Journal().includeHeap = on && includeHeap;
}

std::vector<JournalEntry> Journal() {
    Lock lock(MachineLock());
    return Entries(core::Journal().entries);
}

std::vector<std::string> JournalCalls() {
    Lock lock(MachineLock());
    std::vector<std::string> calls;
    for (const auto& record : core::Journal().entries) calls.push_back(record.call);
    return calls;
}

void ClearJournal() {
    Lock lock(MachineLock());
    core::Journal().entries.clear();
}

ScopedJournal::ScopedJournal(bool includeHeap) {
    Lock lock(MachineLock());
    core::JournalState& journal = core::Journal();
    m_wasOn = journal.on;
    m_hadHeap = journal.includeHeap;
    m_previous = Entries(journal.entries);
    journal.entries.clear();
    journal.on = true;
    journal.includeHeap = includeHeap;
}

ScopedJournal::~ScopedJournal() {
    Lock lock(MachineLock());
    core::JournalState& journal = core::Journal();
    std::vector<core::JournalRecord> entries;
    entries.reserve(m_previous.size());
    for (auto& entry : m_previous)
        entries.push_back({std::move(entry.call), std::move(entry.args), std::move(entry.result)});
    if (m_wasOn)
        for (auto& record : journal.entries) entries.push_back(std::move(record));
    journal.entries = std::move(entries);
    journal.on = m_wasOn;
    journal.includeHeap = m_hadHeap;
}

// ---- Hooks ----------------------------------------------------------------------------------

void* detail::ExchangeHook(FunctionKey function, void* hook) {
    return core::ExchangeHook(function, hook);
}

}  // namespace winsim
