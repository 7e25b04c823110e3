// The simulated Windows machine behind win.h on Linux builds: the controls that tests,
// benchmarks and the host use to set the machine up, break it on purpose and watch what the
// module did with it. This header holds the whole-machine controls; each area of the machine
// has its own header beside it, and <winsim/sim.h> includes them all.
//
// There is one machine per process (libqorvex_winsim.so holds it and is shared by the host, the
// tests and the module loaded into them); the controls are a separate library that only tests,
// benchmarks and the host link. Every control may be called from any thread; the machine is
// guarded by one lock. The last error is per thread, as on Windows.
//
// Paths are UTF-16 Windows paths ("C:\Windows\Logs"); '/' is taken as '\' and lookups ignore
// case, as the Win32 path layer does. Text arguments are UTF-16 (std::u16string_view);
// <winsim/text.h> converts from UTF-8.
#pragma once

#include <string>

namespace winsim {

// Returns the machine to its default: Windows folder C:\Windows (also FOLDERID_Windows), no
// registry values, no files, no faults, journal off and empty, heap counters of live blocks kept
// (live blocks stay valid) but the peak reset to the bytes in use. Open handles are closed.
// Per-thread state of every thread starts afresh (the last error is kept, as Windows keeps it).
void Reset();

// Replaces the machine by the one described in a machine directory (machine.json plus drive
// folders such as C/Windows/...); see the machine directory notes of the README. Returns an
// empty string on success, otherwise a message naming the file and what was wrong; on failure
// the machine is left at its default. `directory` is a host path (UTF-8).
std::string LoadMachineDirectory(const std::string& directory);

// Resets the machine on construction and again on destruction, so a test neither sees nor
// leaves behind another test's machine.
class ScopedMachine {
public:
    ScopedMachine();
    ~ScopedMachine();
    ScopedMachine(const ScopedMachine&) = delete;
    ScopedMachine& operator=(const ScopedMachine&) = delete;
};

}  // namespace winsim
