// The simulated Windows machine behind win.h on Linux builds: the control surface that tests,
// benchmarks and the host use to set the machine up, break it on purpose and watch what the
// module did with it.
//
// There is one machine per process (libqorvex_winsim.so is shared by the host, the tests and the
// module loaded into them). Every function here may be called from any thread; the machine is
// guarded by one lock. The last error is per thread, as on Windows.
//
// Paths are UTF-16 Windows paths ("C:\Windows\Logs"); '/' is taken as '\' and lookups ignore
// case, as the Win32 path layer does. The std::string overloads take UTF-8.
#pragma once

#include <win/win.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#define QORVEX_WINSIM_API __attribute__((visibility("default")))

namespace winsim {

// ---- The whole machine --------------------------------------------------------------------

// Returns the machine to its default: Windows folder C:\Windows (also FOLDERID_Windows), no
// registry values, no files, no faults, journal off and empty, heap counters of live blocks kept
// (live blocks stay valid) but the peak reset to the bytes in use. Open handles are closed.
QORVEX_WINSIM_API void Reset();

// Replaces the machine by the one described in a machine directory (machine.json plus drive
// folders such as C/Windows/...); see the machine directory format notes. Returns an empty
// string on success, otherwise a message naming the file and what was wrong; on failure the
// machine is left at its default.
QORVEX_WINSIM_API std::string LoadMachineDirectory(const std::string& directory);

// Resets the machine on construction and again on destruction, so a test neither sees nor
// leaves behind another test's machine.
class QORVEX_WINSIM_API ScopedMachine {
public:
    ScopedMachine();
    ~ScopedMachine();
    ScopedMachine(const ScopedMachine&) = delete;
    ScopedMachine& operator=(const ScopedMachine&) = delete;
};

// ---- Registry (HKEY_LOCAL_MACHINE) -------------------------------------------------------------

// subKey is relative to HKLM ("System\CurrentControlSet\services\TPM"); missing keys are created.
QORVEX_WINSIM_API void SetRegistryDword(std::u16string_view subKey, std::u16string_view valueName,
                                        std::uint32_t value);
QORVEX_WINSIM_API void SetRegistryString(std::u16string_view subKey, std::u16string_view valueName,
                                         std::u16string_view value);
// Returns whether the value existed.
QORVEX_WINSIM_API bool RemoveRegistryValue(std::u16string_view subKey,
                                           std::u16string_view valueName);
QORVEX_WINSIM_API void SetRegistryDword(const std::string& subKey, const std::string& valueName,
                                        std::uint32_t value);
QORVEX_WINSIM_API void SetRegistryString(const std::string& subKey, const std::string& valueName,
                                         const std::string& value);
QORVEX_WINSIM_API bool RemoveRegistryValue(const std::string& subKey, const std::string& valueName);

// ---- Folders ------------------------------------------------------------------------------

// An empty path removes the folder (SHGetKnownFolderPath then fails with 0x80070002).
QORVEX_WINSIM_API void SetKnownFolder(const win::GUID& id, std::u16string_view path);
QORVEX_WINSIM_API void SetKnownFolder(const win::GUID& id, const std::string& path);
// Sets the Windows directory and FOLDERID_Windows together.
QORVEX_WINSIM_API void SetWindowsDirectory(std::u16string_view path);
QORVEX_WINSIM_API void SetWindowsDirectory(const std::string& path);
QORVEX_WINSIM_API std::u16string GetWindowsDirectory();

// ---- Files --------------------------------------------------------------------------------

// Creates or replaces a file (its folders come into being with it). Replacing keeps the file's
// identity: handles already open read the new contents, as handles on Windows see a file that
// another writer changed. PutFile, PutSparseFile and PutDirectory throw std::invalid_argument
// for a path that is not absolute with a drive letter.
QORVEX_WINSIM_API void PutFile(std::u16string_view path, std::vector<std::uint8_t> bytes);
QORVEX_WINSIM_API void PutFile(const std::string& path, std::vector<std::uint8_t> bytes);
// A file whose size is `size` but whose stored bytes are only `bytes`; the rest reads as zeros.
// For files larger than anything worth allocating (sizes of 4 GiB and more included).
QORVEX_WINSIM_API void PutSparseFile(std::u16string_view path, std::vector<std::uint8_t> bytes,
                                     std::uint64_t size);
// Creates an (empty) folder and its parents.
QORVEX_WINSIM_API void PutDirectory(std::u16string_view path);
QORVEX_WINSIM_API void PutDirectory(const std::string& path);
// Returns whether the file existed. Handles already open keep reading the removed file.
QORVEX_WINSIM_API bool RemoveFile(std::u16string_view path);
QORVEX_WINSIM_API bool RemoveFile(const std::string& path);
QORVEX_WINSIM_API bool FileExists(std::u16string_view path);
QORVEX_WINSIM_API bool FileExists(const std::string& path);
QORVEX_WINSIM_API bool DirectoryExists(std::u16string_view path);
// Number of handles CreateFileW returned that were not closed yet.
QORVEX_WINSIM_API std::size_t OpenHandleCount();

// ---- Process heap and COM task memory ---------------------------------------------------------

struct HeapStats {
    std::uint64_t bytesInUse = 0;
    std::uint64_t peakBytesInUse = 0;  // since the last ResetHeapPeak() (or Reset())
    std::uint64_t allocations = 0;     // successful HeapAlloc calls, ever
    std::uint64_t frees = 0;           // successful HeapFree calls of a block, ever
    std::uint64_t failedAllocations = 0;
    std::uint64_t invalidFrees = 0;  // HeapFree of a block the heap does not know (double free)
    std::uint64_t liveBlocks = 0;
    std::uint64_t coTaskMemLiveBlocks = 0;  // SHGetKnownFolderPath results not freed yet
    std::uint64_t coTaskMemInvalidFrees = 0;
};
QORVEX_WINSIM_API HeapStats GetHeapStats();
QORVEX_WINSIM_API void ResetHeapPeak();
// HeapAlloc returns null once the bytes in use would pass this limit (default 1 GiB), the way a
// machine that ran out of memory answers. Reset() restores the default.
QORVEX_WINSIM_API void SetHeapLimit(std::uint64_t bytes);
inline constexpr std::uint64_t kDefaultHeapLimit = std::uint64_t{1} << 30;

// ---- Fault injection ------------------------------------------------------------------------

enum class FaultMode {
    Once,    // the next call fails
    Nth,     // the n-th call from now (1 = the next) fails, the others succeed
    Always,  // every call fails until the fault is cleared
};

// Makes the named win:: call fail. The error is what the caller sees: for calls that return
// BOOL, HANDLE or DWORD it becomes the last error and the call returns its failure value
// (FALSE, INVALID_HANDLE_VALUE or null, INVALID_FILE_SIZE); for HRESULT calls
// (SHGetKnownFolderPath, StringCchPrintfW) it is the returned HRESULT; for RegGetValueW the
// returned status; for mbrtowc / wcrtomb_s the errno value (mbrtowc returns (size_t)-1);
// HeapAlloc returns null and leaves the last error alone. A failing call changes nothing else.
// One fault per call name; injecting again replaces it. Throws std::invalid_argument for a
// name that is not an injectable call.
QORVEX_WINSIM_API void InjectFault(std::string_view call, FaultMode mode, std::uint32_t n,
                                   std::uint32_t error);
QORVEX_WINSIM_API void ClearFault(std::string_view call);
QORVEX_WINSIM_API void ClearFaults();
// The names InjectFault accepts.
QORVEX_WINSIM_API std::vector<std::string> InjectableCalls();

// Injects a fault for its lifetime and clears it (that call's fault) on destruction.
class QORVEX_WINSIM_API ScopedFault {
public:
    ScopedFault(std::string_view call, FaultMode mode, std::uint32_t n, std::uint32_t error);
    ~ScopedFault();
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;

private:
    std::string m_call;
};

// ---- Call journal ---------------------------------------------------------------------------

struct JournalEntry {
    std::string call;  // "RegGetValueW"
    std::string args;  // short UTF-8 text of the arguments: HKLM, "System\...", "OsBootCount", 0x10
    std::string result;  // "0", "FALSE (error 2)", "0x80070002", a handle value ...
};

// Off by default. Heap calls (GetProcessHeap, HeapAlloc, HeapFree) are journaled only when
// includeHeap is set, because string code makes many of them.
QORVEX_WINSIM_API void EnableJournal(bool on, bool includeHeap = false);
QORVEX_WINSIM_API std::vector<JournalEntry> Journal();
// The names of the journaled calls, in order; handy for EXPECT_THAT(..., ElementsAre(...)).
QORVEX_WINSIM_API std::vector<std::string> JournalCalls();
QORVEX_WINSIM_API void ClearJournal();

// Clears and turns the journal on for its lifetime; turns it off on destruction.
class QORVEX_WINSIM_API ScopedJournal {
public:
    explicit ScopedJournal(bool includeHeap = false);
    ~ScopedJournal();
    ScopedJournal(const ScopedJournal&) = delete;
    ScopedJournal& operator=(const ScopedJournal&) = delete;
};

// ---- Text helpers ---------------------------------------------------------------------------

QORVEX_WINSIM_API std::u16string Utf16FromUtf8(std::string_view text);
QORVEX_WINSIM_API std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace winsim
