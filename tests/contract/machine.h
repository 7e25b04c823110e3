// What a contract test needs of the machine it runs on beyond the win:: calls it checks: a place
// to write registry values, and what the machine was given to play (the Windows version and
// architecture, the Windows folder) where the calls report it back. Contract tests run on the
// simulated machine (Linux) and, cross built, against the real binding under Wine; each has its own
// implementation of this header (tests/contract/sim_machine.cpp through the simulation's controls,
// tests/windows/ contract_machine.cpp through the Windows registry), so a table sets up the same
// facts on both.
//
// Threading: one test thread at a time.
#pragma once

#include <win/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace contract {

// Rows that hold on Windows but not under Wine (a todo_wine of its suite, or a Windows version
// Wine does not play) run on the simulated machine only.
#if defined(_WIN32)
inline constexpr bool kSimulatedMachine = false;
#else
inline constexpr bool kSimulatedMachine = true;
#endif

// A key under HKEY_LOCAL_MACHINE that exists for one scope, with the values put into it; the
// key and its values are gone at the end of the scope.
class ScopedRegistryKey {
public:
    explicit ScopedRegistryKey(std::u16string subKey);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    // Writes the bytes as they are (no terminator is added to a string).
    void Put(std::u16string_view name, win::DWORD type, const void* data, std::size_t size);
    const std::u16string& SubKey() const { return m_subKey; }

private:
    std::u16string m_subKey;
    std::vector<std::u16string> m_names;
};

// The Windows a machine plays, as a simulated machine is given it (machine.json's "os").
struct Os {
    win::DWORD major = 10;
    win::DWORD minor = 0;
    win::DWORD build = 19045;
    win::WORD servicePackMajor = 0;
    win::WORD servicePackMinor = 0;
    std::uint8_t productType = 1;  // VER_NT_WORKSTATION
    win::WORD architecture = 9;    // PROCESSOR_ARCHITECTURE_* of the native processor
    bool wow64 = false;            // the process runs 32-bit code on a 64-bit system
};

// What the machine was given to play: the simulated machine's "os" settings. The real system was
// given nothing (nullopt); rows there check only what Windows guarantees.
std::optional<Os> GivenOs();

// Another Windows for one scope, on the simulated machine (the real system stays what it is;
// rows that need one run on the simulated machine only). The previous one is back at its end.
class ScopedOs {
public:
    explicit ScopedOs(const Os& os);
    ~ScopedOs();
    ScopedOs(const ScopedOs&) = delete;
    ScopedOs& operator=(const ScopedOs&) = delete;

private:
    std::function<void()> m_restore;
};

// The Windows folder as the machine was given it: the simulated machine's "windowsDirectory";
// on the real system GetWindowsDirectoryW's, which names the same folder as
// GetSystemWindowsDirectoryW outside a Terminal Services session of its own.
std::u16string GivenWindowsFolder();

}  // namespace contract
