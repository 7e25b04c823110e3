// What a contract test needs of the machine it runs on beyond the win:: calls it checks: a place
// to write registry values. Contract tests run on the simulated machine (Linux) and, cross
// built, against the real binding under Wine; each has its own implementation of this header
// (tests/contract/sim_machine.cpp through the simulation's controls, tests/windows/
// contract_machine.cpp through the Windows registry), so a table sets up the same facts on both.
//
// Threading: one test thread at a time.
#pragma once

#include <win/types.h>

#include <cstddef>
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

}  // namespace contract
