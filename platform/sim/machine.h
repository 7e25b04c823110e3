// The simulated machine's state and the helpers every simulated call shares: the lock, fault
// lookup, the journal and path folding. Internal to libqorvex_winsim.
#pragma once

#include <win/win.h>
#include <winsim/sim.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace winsim::detail {

struct RegistryValue {
    win::DWORD type = win::REG_DWORD;
    std::uint32_t dword = 0;
    std::u16string text;  // REG_SZ, without terminator
};

struct RegistryKey {
    // folded value name -> (name as given, value)
    std::map<std::u16string, std::pair<std::u16string, RegistryValue>> values;
};

struct File {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;  // >= bytes.size(); the tail beyond the stored bytes reads as zeros
};

struct FileEntry {
    std::u16string path;  // as given, normalised separators
    std::shared_ptr<File> file;
};

struct KnownFolder {
    win::GUID id;
    std::u16string path;
};

// Everything that a machine directory describes; replaced as a whole by Reset and the loader.
struct MachineState {
    std::u16string windowsDirectory;
    std::vector<KnownFolder> knownFolders;
    std::map<std::u16string, RegistryKey> registry;        // folded HKLM sub-key path -> key
    std::map<std::u16string, FileEntry> files;             // folded full path -> file
    std::map<std::u16string, std::u16string> directories;  // folded full path -> path as given
};

struct OpenFile {
    std::shared_ptr<File> file;
    std::uint64_t position = 0;
    win::DWORD access = 0;
    std::u16string path;
};

struct Fault {
    FaultMode mode = FaultMode::Once;
    std::uint32_t remaining = 1;  // calls until the failing one (Nth)
    std::uint32_t error = 0;
};

struct HeapState {
    std::unordered_map<void*, std::size_t> blocks;
    HeapStats stats;
    std::uint64_t limit = kDefaultHeapLimit;
    std::unordered_map<void*, std::size_t> coTaskBlocks;
};

struct Machine {
    std::mutex lock;
    MachineState state;
    std::unordered_map<std::uintptr_t, OpenFile> handles;
    std::uintptr_t nextHandle = 0x100;
    HeapState heap;
    std::map<std::string, Fault, std::less<>> faults;
    // Mirrors !faults.empty() so that hot calls skip the lock when nothing is injected.
    std::atomic<bool> anyFault{false};
    bool journalOn = false;
    bool journalHeap = false;
    std::vector<JournalEntry> journal;
};

// The one machine of the process (constructed on first use, never destroyed so that calls made
// during static destruction still find it).
Machine& TheMachine();

MachineState DefaultState();

// Returns the error to fail the call with when a fault fires for it. Caller holds the lock.
std::optional<std::uint32_t> TakeFault(Machine& machine, std::string_view call);

// Lock-free pre-check for hot calls (the C runtime text functions): false means no fault is
// injected for any call. A true answer must be confirmed with TakeFault under the lock.
inline bool MayFault(const Machine& machine) {
    return machine.anyFault.load(std::memory_order_relaxed);
}

// Appends to the journal when it is on. Caller holds the lock.
inline bool Journaling(const Machine& machine) {
    return machine.journalOn;
}
void Record(Machine& machine, std::string_view call, std::string args, std::string result);

// Text for journal entries.
std::string Quote(const char16_t* text);
std::string Quote(std::u16string_view text);
std::string Hex(std::uint64_t value);
std::string Pointer(const void* p);
std::string BoolResult(bool ok, win::DWORD error);

// ---- Paths -----------------------------------------------------------------------------------

// Case folding for names: ASCII, Latin-1, Greek and Cyrillic letters compare without case (the
// letters machine files use); everything else compares exactly.
char16_t FoldChar(char16_t c);
std::u16string Fold(std::u16string_view text);

// The lookup form of a registry sub-key path: case folded, empty components dropped.
std::u16string KeyPath(std::u16string_view subKey);

// Turns a Win32 path into its canonical form: "\\?\" dropped, '/' taken as '\', repeated
// separators collapsed, "." and ".." resolved, no trailing separator except after "X:". Returns
// nullopt for a path that is not absolute with a drive letter.
std::optional<std::u16string> CanonicalPath(std::u16string_view path);
// Parent of a canonical path; nullopt for a drive root.
std::optional<std::u16string> ParentPath(std::u16string_view canonical);

// Adds a directory and its parents to the state (canonical path expected).
void AddDirectoryTree(MachineState& state, const std::u16string& canonical);
void PutFileLocked(MachineState& state, std::u16string_view path, std::vector<std::uint8_t> bytes,
                   std::uint64_t size);

std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);
// Appends one code point (below 0x110000) as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

}  // namespace winsim::detail
