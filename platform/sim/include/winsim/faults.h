// Fault injection: make a simulated call fail the way Windows would report it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

enum class FaultMode {
    Once,    // the next call fails
    Nth,     // the n-th call from now (1 = the next) fails, the others succeed
    Always,  // every call fails until the fault is cleared
};

// Makes the named win:: call fail. The error is what the caller sees, through the call's own
// channel: for calls that return BOOL, HANDLE or DWORD it becomes the last error and the call
// returns its failure value (FALSE, INVALID_HANDLE_VALUE or null, INVALID_FILE_SIZE); for
// HRESULT calls (SHGetKnownFolderPath, StringCchPrintfW) it is the returned HRESULT; for
// RegGetValueW the returned status; for RtlGetVersion the returned NTSTATUS; for mbrtowc /
// wcrtomb_s the errno value (mbrtowc returns (size_t)-1, wcrtomb_s the error); HeapAlloc returns
// null and leaves the last error alone. A failing call changes nothing else, and leaves out
// parameters as the failing call on Windows leaves them. One fault per call name; injecting again
// replaces it. Throws std::invalid_argument for a name that is not an injectable call.
void InjectFault(std::string_view call, FaultMode mode, std::uint32_t n, std::uint32_t error);
void ClearFault(std::string_view call);
void ClearFaults();
// The names InjectFault accepts: every simulated call whose failure Windows reports (not
// towlower, CoTaskMemFree or the last-error pair), from the calls' own descriptions.
std::vector<std::string> InjectableCalls();

// Injects a fault for its lifetime; at its end the call's previous fault (or none) is back.
class ScopedFault {
public:
    ScopedFault(std::string_view call, FaultMode mode, std::uint32_t n, std::uint32_t error);
    ~ScopedFault();
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;

    struct Saved {
        FaultMode mode;
        std::uint32_t remaining;
        std::uint32_t error;
    };

private:
    std::string m_call;
    std::optional<Saved> m_previous;
};

// ---- The call sweep ---------------------------------------------------------------------------
//
// A sweep counts every injectable call that any thread makes (the package manager's runtime
// methods included), whatever its name, and can fail the failAt-th counted call from its start
// (1 = the next one): with FaultMode::Once that call alone, with FaultMode::Always it and every
// later one. Each failing call reports a plain failure through its own channel: access denied
// (ERROR_ACCESS_DENIED as last error or LSTATUS, E_ACCESSDENIED as HRESULT,
// STATUS_ACCESS_DENIED as NTSTATUS), EILSEQ for the text calls, null from HeapAlloc. A named
// fault (InjectFault) that fires counts as a call and keeps its own error. Calls a thread's
// hook answers are not counted. One sweep at a time; Reset() and ClearFaults() end it.
//
//     { winsim::ScopedCallSweep count; Operation(); calls = count.Calls(); }
//     for (k = 1..calls) { winsim::ScopedCallSweep fail(k, FaultMode::Once); Operation(); ... }
class ScopedCallSweep {
public:
    // Counts only.
    ScopedCallSweep();
    // Counts and fails from the failAt-th call (failAt >= 1; mode Once or Always, else
    // std::invalid_argument).
    ScopedCallSweep(std::uint64_t failAt, FaultMode mode);
    ~ScopedCallSweep();
    ScopedCallSweep(const ScopedCallSweep&) = delete;
    ScopedCallSweep& operator=(const ScopedCallSweep&) = delete;

    // Injectable calls counted so far.
    std::uint64_t Calls() const;
    // Calls the sweep failed so far, and their names, each once, in the order of their first
    // failure.
    std::uint64_t Failed() const;
    std::vector<std::string> FailedCalls() const;

    struct Saved {
        std::uint64_t failAt;
        bool andLater;
        std::uint64_t calls;
        std::uint64_t failed;
        std::vector<std::string> failedNames;
    };

private:
    std::optional<Saved> m_previous;
};

}  // namespace winsim
