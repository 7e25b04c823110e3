// The simulated machine behind win.h: the results, last errors and HRESULTs that callers rely
// on, and the controls (faults, journal, heap counters, machine directories) that tests use.
#include <win/win.h>
#include <winsim/sim.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char16_t kBootKey[] = u"System\\CurrentControlSet\\services\\TPM";
constexpr char16_t kResumeKey[] = u"System\\CurrentControlSet\\Control\\IntegrityServices";
constexpr char16_t kLogPath[] = u"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000000.log";
constexpr win::GUID kUnknownFolder = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

win::HANDLE Open(const char16_t* path, win::DWORD access = win::GENERIC_READ) {
    return win::CreateFileW(path, access, win::FILE_SHARE_READ, nullptr, win::OPEN_EXISTING,
                            win::FILE_ATTRIBUTE_NORMAL, nullptr);
}

class PlatformSimTest : public ::testing::Test {
protected:
    winsim::ScopedMachine m_machine;
};

// ---- Last error ------------------------------------------------------------------------------

TEST_F(PlatformSimTest, LastErrorIsPerThread) {
    win::SetLastError(5);
    win::DWORD seenByOther = 1;
    std::thread other([&] {
        seenByOther = win::GetLastError();
        win::SetLastError(7);
    });
    other.join();
    EXPECT_EQ(0u, seenByOther);
    EXPECT_EQ(5u, win::GetLastError());
}

// ---- Process heap ----------------------------------------------------------------------------

TEST_F(PlatformSimTest, HeapCountsBlocksBytesAndPeak) {
    const win::HANDLE heap = win::GetProcessHeap();
    ASSERT_NE(nullptr, heap);
    winsim::ResetHeapPeak();
    const winsim::HeapStats before = winsim::GetHeapStats();

    void* a = win::HeapAlloc(heap, 0, 100);
    void* b = win::HeapAlloc(heap, 0, 50);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    winsim::HeapStats now = winsim::GetHeapStats();
    EXPECT_EQ(before.bytesInUse + 150, now.bytesInUse);
    EXPECT_EQ(before.liveBlocks + 2, now.liveBlocks);
    EXPECT_EQ(before.allocations + 2, now.allocations);

    EXPECT_EQ(win::TRUE, win::HeapFree(heap, 0, a));
    now = winsim::GetHeapStats();
    EXPECT_EQ(before.bytesInUse + 50, now.bytesInUse);
    EXPECT_EQ(before.bytesInUse + 150, now.peakBytesInUse);
    EXPECT_EQ(before.frees + 1, now.frees);

    winsim::ResetHeapPeak();
    EXPECT_EQ(before.bytesInUse + 50, winsim::GetHeapStats().peakBytesInUse);
    EXPECT_EQ(win::TRUE, win::HeapFree(heap, 0, b));
    EXPECT_EQ(before.liveBlocks, winsim::GetHeapStats().liveBlocks);
}

TEST_F(PlatformSimTest, HeapBlocksAreAlignedDistinctAndZeroedOnRequest) {
    const win::HANDLE heap = win::GetProcessHeap();
    std::vector<void*> blocks;
    for (std::size_t size : {0, 0, 1, 3, 16, 17, 1000}) {
        void* block = win::HeapAlloc(heap, 0, size);
        ASSERT_NE(nullptr, block) << size;
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % 16) << size;
        for (void* other : blocks) EXPECT_NE(other, block);
        blocks.push_back(block);
    }
    auto* zeroed = static_cast<unsigned char*>(win::HeapAlloc(heap, win::HEAP_ZERO_MEMORY, 64));
    ASSERT_NE(nullptr, zeroed);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(0, zeroed[i]);
    blocks.push_back(zeroed);
    for (void* block : blocks) EXPECT_EQ(win::TRUE, win::HeapFree(heap, 0, block));
}

TEST_F(PlatformSimTest, HeapRefusesDoubleAndForeignFreesWithoutCrashing) {
    const win::HANDLE heap = win::GetProcessHeap();
    const winsim::HeapStats before = winsim::GetHeapStats();
    void* block = win::HeapAlloc(heap, 0, 8);
    ASSERT_EQ(win::TRUE, win::HeapFree(heap, 0, block));

    win::SetLastError(0);
    EXPECT_EQ(win::FALSE, win::HeapFree(heap, 0, block));
    EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError());
    int local = 0;
    EXPECT_EQ(win::FALSE, win::HeapFree(heap, 0, &local));
    EXPECT_EQ(before.invalidFrees + 2, winsim::GetHeapStats().invalidFrees);
    EXPECT_EQ(before.liveBlocks, winsim::GetHeapStats().liveBlocks);

    // A null block is accepted, as RtlFreeHeap accepts it.
    EXPECT_EQ(win::TRUE, win::HeapFree(heap, 0, nullptr));
    // A heap handle that is not the process heap gives nothing.
    EXPECT_EQ(nullptr, win::HeapAlloc(&local, 0, 8));
}

TEST_F(PlatformSimTest, HeapLimitMakesLargeAllocationsFailLikeAnExhaustedMachine) {
    const win::HANDLE heap = win::GetProcessHeap();
    const winsim::HeapStats before = winsim::GetHeapStats();
    win::SetLastError(0);
    EXPECT_EQ(nullptr, win::HeapAlloc(heap, 0, std::size_t{1} << 62));
    EXPECT_EQ(win::ERROR_NOT_ENOUGH_MEMORY, win::GetLastError());

    winsim::SetHeapLimit(winsim::GetHeapStats().bytesInUse + 1000);
    void* fits = win::HeapAlloc(heap, 0, 1000);
    EXPECT_NE(nullptr, fits);
    EXPECT_EQ(nullptr, win::HeapAlloc(heap, 0, 1));
    EXPECT_EQ(before.failedAllocations + 2, winsim::GetHeapStats().failedAllocations);
    win::HeapFree(heap, 0, fits);
}

TEST_F(PlatformSimTest, DisableThreadLibraryCallsSucceedsAndIsJournaled) {
    winsim::ScopedJournal journal;
    int module = 0;
    EXPECT_EQ(win::TRUE, win::DisableThreadLibraryCalls(&module));
    EXPECT_THAT(winsim::JournalCalls(), ElementsAre("DisableThreadLibraryCalls"));
}

// ---- Registry --------------------------------------------------------------------------------

struct RegistryCase {
    const char* name;
    win::HKEY root;
    const char16_t* subKey;
    const char16_t* value;
    win::DWORD flags;
    bool withData;
    win::DWORD size;
    win::LSTATUS status;
    win::DWORD sizeAfter;
    win::DWORD typeAfter;  // 0xEE: left alone
};

TEST_F(PlatformSimTest, RegGetValueWResultsForDwordReads) {
    winsim::SetRegistryDword(kBootKey, u"OsBootCount", 17);
    winsim::SetRegistryString(kBootKey, u"Name", u"hello");
    const auto hkcu = win::HKEY_CURRENT_USER;
    const auto bogus = reinterpret_cast<win::HKEY>(std::intptr_t{0x1234});
    const auto hklm = win::HKEY_LOCAL_MACHINE;
    const win::DWORD dword = win::RRF_RT_REG_DWORD;
    const RegistryCase cases[] = {
        {"present", hklm, kBootKey, u"OsBootCount", dword, true, 4, 0, 4, 4},
        {"names ignore case", hklm, u"SYSTEM\\currentcontrolset\\SERVICES\\tpm", u"osbootcount",
         dword, true, 4, 0, 4, 4},
        {"extra separators", hklm, u"System\\\\CurrentControlSet\\services\\TPM\\", u"OsBootCount",
         dword, true, 4, 0, 4, 4},
        {"size query", hklm, kBootKey, u"OsBootCount", dword, false, 0, 0, 4, 4},
        {"buffer too small", hklm, kBootKey, u"OsBootCount", dword, true, 2, 234, 4, 4},
        {"missing value", hklm, kBootKey, u"OsResumeCount", dword, true, 4, 2, 4, 0xEE},
        {"missing key", hklm, kResumeKey, u"OsResumeCount", dword, true, 4, 2, 4, 0xEE},
        {"leading separator", hklm, u"\\System\\CurrentControlSet\\services\\TPM", u"OsBootCount",
         dword, true, 4, win::ERROR_BAD_PATHNAME, 4, 0xEE},
        {"string read as dword", hklm, kBootKey, u"Name", dword, true, 4, 1630, 12, 1},
        {"no type accepted", hklm, kBootKey, u"OsBootCount", 0, true, 4, 1630, 4, 4},
        {"other predefined root", hkcu, kBootKey, u"OsBootCount", dword, true, 4, 2, 4, 0xEE},
        {"not a key", bogus, kBootKey, u"OsBootCount", dword, true, 4, 6, 4, 0xEE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        win::DWORD type = 0xEE;
        std::uint32_t data = 0xCCCCCCCC;
        win::DWORD size = c.size;
        EXPECT_EQ(c.status, win::RegGetValueW(c.root, c.subKey, c.value, c.flags, &type,
                                              c.withData ? &data : nullptr, &size));
        EXPECT_EQ(c.sizeAfter, size);
        EXPECT_EQ(c.typeAfter, type);
        // A value of a refused type is still read when the buffer holds it.
        const bool read =
            (c.status == 0 || c.status == 1630) && c.withData && c.size >= 4 && c.typeAfter == 4;
        EXPECT_EQ(read ? 17u : 0xCCCCCCCCu, data);
    }
}

// RRF_ZEROONFAILURE zeroes the caller's buffer on failure: the bytes the caller said it has,
// never the larger size a too-small buffer is told it needs.
TEST_F(PlatformSimTest, RegGetValueWZeroOnFailureZeroesOnlyTheCallersBuffer) {
    constexpr win::DWORD kZeroOnFailure = 0x20000000;
    winsim::SetRegistryString(kBootKey, u"Name", u"a longer text");
    struct Case {
        const char* name;
        const char16_t* value;
        win::DWORD status;
    };
    const Case cases[] = {
        {"buffer too small", u"Name", win::ERROR_MORE_DATA},
        {"missing value", u"Missing", win::ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char buffer[16];
        std::memset(buffer, 0xAB, sizeof buffer);
        win::DWORD size = 4;  // the caller offers the first 4 bytes only
        EXPECT_EQ(static_cast<win::LSTATUS>(c.status),
                  win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, c.value,
                                    win::RRF_RT_REG_SZ | kZeroOnFailure, nullptr, buffer, &size));
        for (std::size_t i = 0; i < sizeof buffer; ++i)
            EXPECT_EQ(i < 4 ? 0 : 0xAB, buffer[i]) << "byte " << i;
    }
}

TEST_F(PlatformSimTest, RegGetValueWReadsStringsAndRefusesDataWithoutSize) {
    winsim::SetRegistryString(kBootKey, u"Name", u"hello");
    char16_t text[16];
    win::DWORD size = sizeof text;
    ASSERT_EQ(0, win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"Name", win::RRF_RT_REG_SZ,
                                   nullptr, text, &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(std::u16string(u"hello"), text);

    std::uint32_t data = 0;
    EXPECT_EQ(87, win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"Name", win::RRF_RT_REG_SZ,
                                    nullptr, &data, nullptr));

    EXPECT_TRUE(winsim::RemoveRegistryValue(kBootKey, u"NAME"));
    EXPECT_FALSE(winsim::RemoveRegistryValue(kBootKey, u"Name"));
    size = sizeof text;
    EXPECT_EQ(2, win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"Name", win::RRF_RT_REG_SZ,
                                   nullptr, text, &size));
}

// ---- Known folders ---------------------------------------------------------------------------

TEST_F(PlatformSimTest, KnownFolderPathIsCoTaskMemoryAndUnknownFoldersFail) {
    const std::uint64_t liveBefore = winsim::GetHeapStats().coTaskMemLiveBlocks;
    win::PWSTR path = nullptr;
    ASSERT_EQ(win::S_OK, win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, &path));
    EXPECT_EQ(std::u16string(u"C:\\Windows"), path);
    EXPECT_EQ(liveBefore + 1, winsim::GetHeapStats().coTaskMemLiveBlocks);
    win::CoTaskMemFree(path);
    win::CoTaskMemFree(nullptr);
    EXPECT_EQ(liveBefore, winsim::GetHeapStats().coTaskMemLiveBlocks);

    path = reinterpret_cast<win::PWSTR>(std::intptr_t{1});
    EXPECT_EQ(win::HRESULT_FROM_WIN32(win::ERROR_FILE_NOT_FOUND),
              win::SHGetKnownFolderPath(kUnknownFolder, 0, nullptr, &path));
    EXPECT_EQ(nullptr, path);

    winsim::SetKnownFolder(win::FOLDERID_Windows, u"");
    path = reinterpret_cast<win::PWSTR>(std::intptr_t{1});
    EXPECT_EQ(static_cast<win::HRESULT>(0x80070002u),
              win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, &path));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(win::E_INVALIDARG,
              win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, nullptr));
}

TEST_F(PlatformSimTest, SetWindowsDirectoryMovesTheKnownFolderAndResetRestoresIt) {
    winsim::SetWindowsDirectory(u"D:\\WinNT");
    win::PWSTR path = nullptr;
    ASSERT_EQ(win::S_OK, win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, &path));
    EXPECT_EQ(std::u16string(u"D:\\WinNT"), path);
    win::CoTaskMemFree(path);

    winsim::Reset();
    EXPECT_EQ(u"C:\\Windows", winsim::GetWindowsDirectory());
    ASSERT_EQ(win::S_OK, win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, &path));
    EXPECT_EQ(std::u16string(u"C:\\Windows"), path);
    win::CoTaskMemFree(path);
}

TEST_F(PlatformSimTest, CoTaskMemFreeOfForeignBlockIsCountedNotFatal) {
    const std::uint64_t before = winsim::GetHeapStats().coTaskMemInvalidFrees;
    int local = 0;
    win::CoTaskMemFree(&local);
    EXPECT_EQ(before + 1, winsim::GetHeapStats().coTaskMemInvalidFrees);
}

// ---- Files -----------------------------------------------------------------------------------

TEST_F(PlatformSimTest, CreateFileWErrorsTellMissingFileFromMissingFolder) {
    winsim::PutFile(kLogPath, Bytes("log"));
    struct Case {
        const char16_t* path;
        win::DWORD access;
        win::DWORD error;  // 0: opens
    } cases[] = {
        {kLogPath, win::GENERIC_READ, 0},
        {u"c:/windows/LOGS/measuredboot/0000000017-0000000000.LOG", win::GENERIC_READ, 0},
        {u"C:\\Windows\\.\\Temp\\..\\Logs\\\\MeasuredBoot\\0000000017-0000000000.log",
         win::GENERIC_READ, 0},
        {u"\\\\?\\C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000000.log", win::GENERIC_READ,
         0},
        {u"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000001.log", win::GENERIC_READ, 2},
        {u"C:\\Windows\\Logs\\Missing\\0000000017-0000000000.log", win::GENERIC_READ, 3},
        {u"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000000.log\\x", win::GENERIC_READ, 3},
        {u"Q:\\file.txt", win::GENERIC_READ, 3},
        {u"relative.log", win::GENERIC_READ, 2},  // in the current folder, System32
        {u"", win::GENERIC_READ, 3},
        {u"C:\\Windows\\Logs", win::GENERIC_READ, 5},
        {kLogPath, win::GENERIC_WRITE, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(winsim::Utf8FromUtf16(c.path));
        win::SetLastError(0xDEAD);
        const win::HANDLE file = Open(c.path, c.access);
        EXPECT_EQ(c.error, win::GetLastError());
        if (c.error == 0) {
            ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
            EXPECT_EQ(win::TRUE, win::CloseHandle(file));
        } else {
            EXPECT_EQ(win::INVALID_HANDLE_VALUE, file);
        }
    }
    // What the machine refuses beyond the file and volume tables: share modes Windows does not
    // define (the I/O manager's own check, before the name is looked up), and what asks for
    // more than a read-only file system grants.
    struct Refusal {
        const char* what;
        const char16_t* path;
        win::DWORD access, share, flags, error;
    };
    const Refusal refusals[] = {
        {"an undefined share mode", kLogPath, win::GENERIC_READ, 0x8, 0,
         win::ERROR_INVALID_PARAMETER},
        {"an undefined share mode, missing file", u"C:\\None\\x.log", win::GENERIC_READ, 0x8, 0,
         win::ERROR_INVALID_PARAMETER},
        {"deleting on close", kLogPath, win::GENERIC_READ, win::FILE_SHARE_READ,
         win::FILE_FLAG_DELETE_ON_CLOSE, win::ERROR_ACCESS_DENIED},
        {"all access", kLogPath, win::GENERIC_ALL, win::FILE_SHARE_READ, 0,
         win::ERROR_ACCESS_DENIED},
        {"the system security descriptor", kLogPath, win::GENERIC_READ | 0x01000000u,
         win::FILE_SHARE_READ, 0, 1314},  // ERROR_PRIVILEGE_NOT_HELD
    };
    for (const Refusal& r : refusals) {
        win::SetLastError(0);
        EXPECT_EQ(win::INVALID_HANDLE_VALUE, win::CreateFileW(r.path, r.access, r.share, nullptr,
                                                              win::OPEN_EXISTING, r.flags, nullptr))
            << r.what;
        EXPECT_EQ(r.error, win::GetLastError()) << r.what;
    }
    EXPECT_EQ(0u, winsim::OpenHandleCount());
}

TEST_F(PlatformSimTest, ReadFileReadsFromTheHandlePositionUntilTheEnd) {
    winsim::PutFile(kLogPath, Bytes("0123456789"));
    const win::HANDLE file = Open(kLogPath);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    win::DWORD high = 0xDEAD;
    EXPECT_EQ(10u, win::GetFileSize(file, &high));
    EXPECT_EQ(0u, high);
    EXPECT_EQ(10u, win::GetFileSize(file, nullptr));

    char buffer[16] = {};
    win::DWORD read = 99;
    ASSERT_EQ(win::TRUE, win::ReadFile(file, buffer, 4, &read, nullptr));
    EXPECT_EQ(4u, read);
    EXPECT_EQ("0123", std::string(buffer, read));
    ASSERT_EQ(win::TRUE, win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ("456789", std::string(buffer, read));
    ASSERT_EQ(win::TRUE, win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(0u, read);  // the end of a file is a successful read of nothing
    EXPECT_EQ(win::TRUE, win::CloseHandle(file));
}

TEST_F(PlatformSimTest, HandlesSeeTheFileAsItIsNow) {
    winsim::PutFile(kLogPath, Bytes("short"));
    const win::HANDLE file = Open(kLogPath);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(5u, win::GetFileSize(file, nullptr));

    // The file grows between the size query and the read.
    winsim::PutFile(u"C:\\WINDOWS\\Logs\\MeasuredBoot\\0000000017-0000000000.log",
                    Bytes("longer text"));
    char buffer[32];
    win::DWORD read = 0;
    ASSERT_EQ(win::TRUE, win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ("longer text", std::string(buffer, read));
    EXPECT_EQ(11u, win::GetFileSize(file, nullptr));

    // A removed file stays readable through a handle that was open before.
    EXPECT_TRUE(winsim::RemoveFile(kLogPath));
    EXPECT_FALSE(winsim::FileExists(kLogPath));
    EXPECT_EQ(11u, win::GetFileSize(file, nullptr));
    EXPECT_EQ(win::TRUE, win::CloseHandle(file));
    win::SetLastError(0);
    EXPECT_EQ(win::INVALID_HANDLE_VALUE, Open(kLogPath));
    EXPECT_EQ(win::ERROR_FILE_NOT_FOUND, win::GetLastError());
}

TEST_F(PlatformSimTest, SparseFilesReportSizesBeyondFourGigabytes) {
    const std::uint64_t size = (std::uint64_t{1} << 32) + 0x20;
    winsim::PutSparseFile(kLogPath, Bytes("head"), size);
    const win::HANDLE file = Open(kLogPath);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    win::DWORD high = 0;
    EXPECT_EQ(0x20u, win::GetFileSize(file, &high));
    EXPECT_EQ(1u, high);
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    win::DWORD read = 0;
    ASSERT_EQ(win::TRUE, win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(8u, read);
    EXPECT_EQ(std::string("head\0\0\0\0", 8), std::string(buffer, 8));
    win::CloseHandle(file);

    // A low part of 0xFFFFFFFF is a size, told from a failure by a last error of 0.
    winsim::PutSparseFile(kLogPath, {}, 0xFFFFFFFFu);
    const win::HANDLE big = Open(kLogPath);
    win::SetLastError(1234);
    EXPECT_EQ(win::INVALID_FILE_SIZE, win::GetFileSize(big, nullptr));
    EXPECT_EQ(0u, win::GetLastError());
    win::CloseHandle(big);
}

TEST_F(PlatformSimTest, BadHandlesFailWithInvalidHandle) {
    winsim::PutFile(kLogPath, Bytes("x"));
    const win::HANDLE closed = Open(kLogPath);
    ASSERT_EQ(win::TRUE, win::CloseHandle(closed));
    for (win::HANDLE handle :
         {closed, static_cast<win::HANDLE>(nullptr), reinterpret_cast<win::HANDLE>(0x4444)}) {
        char buffer[4];
        win::DWORD read = 99;
        win::SetLastError(0);
        EXPECT_EQ(win::INVALID_FILE_SIZE, win::GetFileSize(handle, nullptr));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
        win::SetLastError(0);
        EXPECT_EQ(win::FALSE, win::ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
        EXPECT_EQ(0u, read);
        win::SetLastError(0);
        EXPECT_EQ(win::FALSE, win::CloseHandle(handle));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    }
    // INVALID_HANDLE_VALUE doubles as the current-process pseudo handle, which closes fine.
    EXPECT_EQ(win::TRUE, win::CloseHandle(win::INVALID_HANDLE_VALUE));
}

TEST_F(PlatformSimTest, ReadFileRefusesUnmodelledAndUnsafeArguments) {
    winsim::PutFile(kLogPath, Bytes("data"));
    const win::HANDLE file = Open(kLogPath);
    char buffer[4];
    int overlapped = 0;
    win::DWORD read = 0;
    EXPECT_EQ(win::FALSE, win::ReadFile(file, buffer, 4, nullptr, nullptr));
    EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError());
    EXPECT_EQ(win::FALSE, win::ReadFile(file, buffer, 4, &read, &overlapped));
    EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError());
    EXPECT_EQ(win::FALSE, win::ReadFile(file, nullptr, 4, &read, nullptr));
    EXPECT_EQ(win::ERROR_NOACCESS, win::GetLastError());
    win::CloseHandle(file);
}

// A file that shows a host file reads the host's bytes at each read, from where the handle
// stands; a host file that became shorter reads as zeros up to the size it had when put.
TEST_F(PlatformSimTest, HostFileIsReadWhereTheSimulatedFileIsRead) {
    const std::filesystem::path host =
        std::filesystem::temp_directory_path() / ("qorvex-host-file-" + std::to_string(getpid()));
    std::ofstream(host, std::ios::binary) << "0123456789";
    ASSERT_EQ("", winsim::PutHostFile(kLogPath, host.string()));

    char buffer[16] = {};
    win::DWORD read = 0;
    win::HANDLE file = Open(kLogPath);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(10u, win::GetFileSize(file, nullptr));
    ASSERT_TRUE(win::ReadFile(file, buffer, 4, &read, nullptr));
    EXPECT_EQ("0123", std::string(buffer, read));
    ASSERT_TRUE(win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ("456789", std::string(buffer, read));
    win::CloseHandle(file);

    std::filesystem::resize_file(host, 3);
    file = Open(kLogPath);
    ASSERT_TRUE(win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string("012\0\0\0\0\0\0\0", 10), std::string(buffer, read));
    win::CloseHandle(file);
    std::filesystem::remove(host);

    // What cannot be shown leaves the machine as it was.
    const char16_t* other = u"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000001.log";
    EXPECT_THAT(winsim::PutHostFile(other, host.string()), HasSubstr("No such file"));
    EXPECT_EQ("not a regular file",
              winsim::PutHostFile(other, std::filesystem::temp_directory_path().string()));
    EXPECT_FALSE(winsim::FileExists(other));
}

// ---- StringCchPrintfW ------------------------------------------------------------------------

TEST_F(PlatformSimTest, StringCchPrintfWFormatsLikeTheWindowsRuntime) {
    char16_t buffer[260];
    ASSERT_EQ(win::S_OK,
              win::StringCchPrintfW(buffer, 260, u"%s\\Logs\\MeasuredBoot\\%010u-%010u.log",
                                    u"C:\\Windows", 17u, 0u));
    EXPECT_EQ(std::u16string(kLogPath), buffer);

    // Expected text taken from the Windows runtime.
    ASSERT_EQ(win::S_OK,
              win::StringCchPrintfW(buffer, 64, u"[%-5d|%05d|%x|%X|%5s|%-5s|%%|%hs|%.2s|%08x]", -12,
                                    -12, 0xABCu, 0xABCu, u"ab", u"ab", "nar", u"xyz", 0x1Fu));
    EXPECT_EQ(std::u16string(u"[-12  |-0012|abc|ABC|   ab|ab   |%|nar|xy|0000001f]"), buffer);
    ASSERT_EQ(win::S_OK, win::StringCchPrintfW(buffer, 64, u"%s|%u|%d", nullptr, 4294967295u,
                                               -2147483647 - 1));
    EXPECT_EQ(std::u16string(u"(null)|4294967295|-2147483648"), buffer);
}

TEST_F(PlatformSimTest, StringCchPrintfWTruncatesAndTerminatesWhatDoesNotFit) {
    struct Case {
        std::size_t units;
        win::HRESULT result;
        const char16_t* text;
    } cases[] = {
        {8, win::STRSAFE_E_INSUFFICIENT_BUFFER, u"abcdef-"},
        {10, win::STRSAFE_E_INSUFFICIENT_BUFFER, u"abcdef-12"},
        {11, win::S_OK, u"abcdef-123"},  // exactly fits with the terminator
        {1, win::STRSAFE_E_INSUFFICIENT_BUFFER, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        char16_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(c.result, win::StringCchPrintfW(buffer, c.units, u"%s-%u", u"abcdef", 123u));
        EXPECT_EQ(std::u16string(c.text), buffer);
        EXPECT_EQ(u'#', buffer[c.units]);  // nothing written past the buffer
    }
    // A zero size leaves the buffer alone; an oversized one is still terminated.
    char16_t untouched[4] = {u'Q', 0};
    EXPECT_EQ(win::STRSAFE_E_INVALID_PARAMETER, win::StringCchPrintfW(untouched, 0, u"x"));
    EXPECT_EQ(u'Q', untouched[0]);
    EXPECT_EQ(win::STRSAFE_E_INVALID_PARAMETER,
              win::StringCchPrintfW(untouched, std::size_t{2147483648u}, u"x"));
    EXPECT_EQ(0, untouched[0]);
}

// ---- Text functions beyond the shared runtime behaviour ----------------------------------------

TEST_F(PlatformSimTest, WcrtombSimulatesTheScratchBufferAndRefusesAnEmptyBuffer) {
    std::size_t written = 0;
    // A null output converts into the runtime's own buffer.
    EXPECT_EQ(0, win::wcrtomb_s(&written, nullptr, 0, u'A', nullptr));
    EXPECT_EQ(1u, written);
    // The Microsoft runtime would store the byte into a zero-sized buffer; the simulation refuses.
    char out[1] = {'x'};
    EXPECT_EQ(34, win::wcrtomb_s(&written, out, 0, u'A', nullptr));
    EXPECT_EQ(static_cast<std::size_t>(-1), written);
    EXPECT_EQ('x', out[0]);
}

// ---- Fault injection -------------------------------------------------------------------------

TEST_F(PlatformSimTest, FaultModesFailTheChosenCalls) {
    winsim::PutFile(kLogPath, Bytes("x"));
    auto opens = [] {
        const win::HANDLE file = Open(kLogPath);
        if (file == win::INVALID_HANDLE_VALUE) return false;
        win::CloseHandle(file);
        return true;
    };

    winsim::InjectFault("CreateFileW", winsim::FaultMode::Once, 0, win::ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(opens());
    EXPECT_EQ(win::ERROR_SHARING_VIOLATION, win::GetLastError());
    EXPECT_TRUE(opens());

    winsim::InjectFault("CreateFileW", winsim::FaultMode::Nth, 3, win::ERROR_ACCESS_DENIED);
    std::vector<bool> results;
    for (int i = 0; i < 5; ++i) results.push_back(opens());
    EXPECT_THAT(results, ElementsAre(true, true, false, true, true));

    {
        winsim::ScopedFault fault("CreateFileW", winsim::FaultMode::Always, 0,
                                  win::ERROR_IO_DEVICE);
        EXPECT_FALSE(opens());
        EXPECT_FALSE(opens());
        EXPECT_EQ(win::ERROR_IO_DEVICE, win::GetLastError());
    }
    EXPECT_TRUE(opens());

    winsim::InjectFault("CreateFileW", winsim::FaultMode::Always, 0, 5);
    winsim::Reset();
    winsim::PutFile(kLogPath, Bytes("x"));
    EXPECT_TRUE(opens());

    EXPECT_THROW(winsim::InjectFault("CreateFile", winsim::FaultMode::Once, 0, 5),
                 std::invalid_argument);
    EXPECT_THROW(winsim::InjectFault("ReadFile", winsim::FaultMode::Nth, 0, 5),
                 std::invalid_argument);
}

// The call sweep counts calls of every name in one count and fails by position, each call
// through its own channel.
TEST_F(PlatformSimTest, CallSweepCountsEveryInjectableCallAndFailsFromTheChosenOne) {
    winsim::PutFile(kLogPath, Bytes("abc"));
    winsim::SetRegistryDword(kBootKey, u"OsBootCount", 17);
    // Six injectable calls (towlower is not one); each entry tells the error the call saw, 0
    // when it succeeded.
    const auto run = [] {
        std::vector<std::int64_t> errors;
        win::SetLastError(0);
        const win::HANDLE file = Open(kLogPath);
        errors.push_back(file == win::INVALID_HANDLE_VALUE ? win::GetLastError() : 0);
        win::SetLastError(0);
        errors.push_back(
            win::GetFileSize(file, nullptr) == win::INVALID_FILE_SIZE ? win::GetLastError() : 0);
        EXPECT_EQ(u'a', win::towlower(u'A'));
        win::DWORD data = 0;
        win::DWORD size = sizeof data;
        errors.push_back(win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"OsBootCount",
                                           win::RRF_RT_REG_DWORD, nullptr, &data, &size));
        win::RTL_OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof info;
        errors.push_back(static_cast<std::uint32_t>(win::RtlGetVersion(&info)));
        win::WCHAR unit = 0;
        errno = 0;
        errors.push_back(win::mbrtowc(&unit, "A", 1, nullptr) == 1 ? 0 : errno);
        win::SetLastError(0);
        errors.push_back(win::CloseHandle(file) ? 0 : win::GetLastError());
        return errors;
    };
    constexpr std::int64_t kDenied = win::ERROR_ACCESS_DENIED;
    constexpr std::int64_t kNtDenied = 0xC0000022;
    {
        winsim::ScopedCallSweep count;
        EXPECT_THAT(run(), ElementsAre(0, 0, 0, 0, 0, 0));
        EXPECT_EQ(6u, count.Calls());
        EXPECT_EQ(0u, count.Failed());
    }
    {
        winsim::ScopedCallSweep once(2, winsim::FaultMode::Once);
        EXPECT_THAT(run(), ElementsAre(0, kDenied, 0, 0, 0, 0));
        EXPECT_EQ(1u, once.Failed());
        EXPECT_THAT(once.FailedCalls(), ElementsAre("GetFileSize"));
    }
    {
        winsim::ScopedCallSweep always(3, winsim::FaultMode::Always);
        // The file stays open: its CloseHandle failed too.
        EXPECT_THAT(run(), ElementsAre(0, 0, kDenied, kNtDenied, EILSEQ, kDenied));
        EXPECT_EQ(4u, always.Failed());
        EXPECT_THAT(always.FailedCalls(),
                    ElementsAre("RegGetValueW", "RtlGetVersion", "mbrtowc", "CloseHandle"));
        EXPECT_EQ(1u, winsim::OpenHandleCount());
    }
    // A named fault fires first and counts as a call; the sweep's own failure still comes at
    // its position.
    winsim::ClearFaults();
    winsim::Reset();
    winsim::PutFile(kLogPath, Bytes("abc"));
    winsim::SetRegistryDword(kBootKey, u"OsBootCount", 17);
    {
        winsim::ScopedFault named("RegGetValueW", winsim::FaultMode::Once, 0, 1117);
        winsim::ScopedCallSweep once(4, winsim::FaultMode::Once);
        EXPECT_THAT(run(), ElementsAre(0, 0, 1117, kNtDenied, 0, 0));
        EXPECT_EQ(6u, once.Calls());
        EXPECT_THAT(once.FailedCalls(), ElementsAre("RtlGetVersion"));
    }
    // Outside a sweep nothing is counted or failed.
    EXPECT_THAT(run(), ElementsAre(0, 0, 0, 0, 0, 0));
    EXPECT_THROW(winsim::ScopedCallSweep(0, winsim::FaultMode::Once), std::invalid_argument);
    EXPECT_THROW(winsim::ScopedCallSweep(1, winsim::FaultMode::Nth), std::invalid_argument);
}

// One row per injectable call: how to call it with its fault injected, and what its caller
// must see. The rows must name exactly the calls InjectableCalls() lists, so a call added
// without a row fails here.
struct FaultRow {
    const char* call;
    std::uint32_t error;
    // Makes the call (the fault is armed for exactly one call) and checks what the caller saw.
    std::function<void(std::uint32_t error)> callAndCheck;
};

// The log file the rows read, open while the rows run.
win::HANDLE g_openLog = nullptr;

class FaultReachTest : public PlatformSimTest {
protected:
    void SetUp() override {
        winsim::PutFile(kLogPath, Bytes("abc"));
        winsim::SetRegistryDword(kBootKey, u"OsBootCount", 17);
        g_openLog = Open(kLogPath);
        ASSERT_NE(win::INVALID_HANDLE_VALUE, g_openLog);
    }
    void TearDown() override { win::CloseHandle(g_openLog); }
};

constexpr win::DWORD kUntouched = 0xC0FFEE;

const FaultRow kFaultRows[] = {
    {"GetProcessHeap", 1117,
     [](std::uint32_t error) {
         EXPECT_EQ(nullptr, win::GetProcessHeap());
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"HeapAlloc", win::ERROR_NOT_ENOUGH_MEMORY,
     [](std::uint32_t) {
         const win::HANDLE heap = win::GetProcessHeap();
         const std::uint64_t failedBefore = winsim::GetHeapStats().failedAllocations;
         win::SetLastError(kUntouched);
         EXPECT_EQ(nullptr, win::HeapAlloc(heap, 0, 8));
         // HeapAlloc reports failure by null alone.
         EXPECT_EQ(kUntouched, win::GetLastError());
         EXPECT_EQ(failedBefore + 1, winsim::GetHeapStats().failedAllocations);
     }},
    {"HeapFree", 1117,
     [](std::uint32_t error) {
         const win::HANDLE heap = win::GetProcessHeap();
         void* block = win::HeapAlloc(heap, 0, 8);
         EXPECT_EQ(win::FALSE, win::HeapFree(heap, 0, block));
         EXPECT_EQ(error, win::GetLastError());
         // The block is still the caller's: freeing it again succeeds.
         EXPECT_EQ(win::TRUE, win::HeapFree(heap, 0, block));
     }},
    {"DisableThreadLibraryCalls", win::ERROR_INVALID_PARAMETER,
     [](std::uint32_t error) {
         EXPECT_EQ(win::FALSE, win::DisableThreadLibraryCalls(nullptr));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"CloseHandle", 1117,
     [](std::uint32_t error) {
         EXPECT_EQ(win::FALSE, win::CloseHandle(g_openLog));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(1u, winsim::OpenHandleCount());  // still open
     }},
    {"CreateFileW", win::ERROR_SHARING_VIOLATION,
     [](std::uint32_t error) {
         EXPECT_EQ(win::INVALID_HANDLE_VALUE, Open(kLogPath));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(1u, winsim::OpenHandleCount());
     }},
    {"GetFileSize", 1117,
     [](std::uint32_t error) {
         win::DWORD high = 77;
         EXPECT_EQ(win::INVALID_FILE_SIZE, win::GetFileSize(g_openLog, &high));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"ReadFile", 1117,
     [](std::uint32_t error) {
         char buffer[4];
         win::DWORD read = 99;
         EXPECT_EQ(win::FALSE, win::ReadFile(g_openLog, buffer, 3, &read, nullptr));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(0u, read);
         // The failed read moved nothing: the next one starts at the beginning.
         ASSERT_EQ(win::TRUE, win::ReadFile(g_openLog, buffer, 3, &read, nullptr));
         EXPECT_EQ("abc", std::string(buffer, read));
     }},
    {"RegGetValueW", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         std::uint32_t data = 0;
         win::DWORD size = 4;
         win::SetLastError(kUntouched);
         EXPECT_EQ(static_cast<win::LSTATUS>(error),
                   win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"OsBootCount",
                                     win::RRF_RT_REG_DWORD, nullptr, &data, &size));
         EXPECT_EQ(0u, data);
         EXPECT_EQ(kUntouched, win::GetLastError());
     }},
    {"SHGetKnownFolderPath", 0x80004005u,
     [](std::uint32_t error) {
         win::PWSTR path = reinterpret_cast<win::PWSTR>(std::intptr_t{1});
         const std::uint64_t blocksBefore = winsim::GetHeapStats().coTaskMemLiveBlocks;
         win::SetLastError(kUntouched);
         EXPECT_EQ(static_cast<win::HRESULT>(error),
                   win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, &path));
         EXPECT_EQ(nullptr, path);
         EXPECT_EQ(kUntouched, win::GetLastError());
         EXPECT_EQ(blocksBefore, winsim::GetHeapStats().coTaskMemLiveBlocks);
     }},
    {"StringCchPrintfW", 0x8007007Au,
     [](std::uint32_t error) {
         char16_t text[8] = {u'Q'};
         EXPECT_EQ(static_cast<win::HRESULT>(error), win::StringCchPrintfW(text, 8, u"x"));
         EXPECT_EQ(0, text[0]);
     }},
    {"mbrtowc", 42,
     [](std::uint32_t error) {
         win::WCHAR unit = u'Q';
         errno = 0;
         EXPECT_EQ(static_cast<std::size_t>(-1), win::mbrtowc(&unit, "A", 1, nullptr));
         EXPECT_EQ(static_cast<int>(error), errno);
         EXPECT_EQ(u'Q', unit);
         EXPECT_EQ(1u, win::mbrtowc(&unit, "A", 1, nullptr));
     }},
    {"wcrtomb_s", 42,
     [](std::uint32_t error) {
         std::size_t written = 0;
         char buffer[4] = {'Q'};
         errno = 0;
         EXPECT_EQ(static_cast<win::errno_t>(error),
                   win::wcrtomb_s(&written, buffer, sizeof buffer, u'A', nullptr));
         EXPECT_EQ(static_cast<int>(error), errno);
         EXPECT_EQ(static_cast<std::size_t>(-1), written);
         EXPECT_EQ('Q', buffer[0]);
     }},
    {"GetFileAttributesW", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         EXPECT_EQ(win::INVALID_FILE_ATTRIBUTES, win::GetFileAttributesW(kLogPath));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"GetVolumePathNameW", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         char16_t volume[8] = {u'Q'};
         EXPECT_EQ(win::FALSE, win::GetVolumePathNameW(kLogPath, volume, 8));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(u'Q', volume[0]);
     }},
    {"FindFirstFileNameW", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         char16_t name[8] = {u'Q'};
         win::DWORD length = 8;
         EXPECT_EQ(win::INVALID_HANDLE_VALUE, win::FindFirstFileNameW(kLogPath, 0, &length, name));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(u'Q', name[0]);
     }},
    {"FindNextFileNameW", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         win::DWORD length = 8;
         char16_t name[8] = {u'Q'};
         EXPECT_EQ(win::FALSE, win::FindNextFileNameW(win::INVALID_HANDLE_VALUE, &length, name));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(u'Q', name[0]);
     }},
    {"FindClose", win::ERROR_INVALID_HANDLE,
     [](std::uint32_t error) {
         EXPECT_EQ(win::FALSE, win::FindClose(win::INVALID_HANDLE_VALUE));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"GetModuleHandleW", win::ERROR_MOD_NOT_FOUND,
     [](std::uint32_t error) {
         EXPECT_EQ(nullptr, win::GetModuleHandleW(u"kernel32.dll"));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"GetProcAddress", win::ERROR_PROC_NOT_FOUND,
     [](std::uint32_t error) {
         const win::HMODULE kernel32 = win::GetModuleHandleW(u"kernel32.dll");
         EXPECT_EQ(nullptr, win::GetProcAddress(kernel32, "GetSystemInfo"));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"RtlGetVersion", 0xC0000001u,
     [](std::uint32_t error) {
         win::RTL_OSVERSIONINFOEXW info{};
         info.dwOSVersionInfoSize = sizeof info;
         // The status is the channel; the record is not filled.
         EXPECT_EQ(static_cast<win::NTSTATUS>(error), win::RtlGetVersion(&info));
         EXPECT_EQ(0u, info.dwMajorVersion);
     }},
    {"GetProductInfo", win::ERROR_INVALID_PARAMETER,
     [](std::uint32_t error) {
         win::DWORD product = kUntouched;
         EXPECT_EQ(win::FALSE, win::GetProductInfo(10, 0, 0, 0, &product));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(kUntouched, product);
     }},
    {"IsWow64Process", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         win::BOOL wow64 = 7;
         EXPECT_EQ(win::FALSE, win::IsWow64Process(win::GetCurrentProcess(), &wow64));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(7, wow64);
     }},
    {"Wow64DisableWow64FsRedirection", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         void* old = &g_openLog;
         EXPECT_EQ(win::FALSE, win::Wow64DisableWow64FsRedirection(&old));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(static_cast<void*>(&g_openLog), old);
         EXPECT_FALSE(winsim::ThreadRedirectionDisabled());
     }},
    {"Wow64RevertWow64FsRedirection", win::ERROR_INVALID_PARAMETER,
     [](std::uint32_t error) {
         EXPECT_EQ(win::FALSE, win::Wow64RevertWow64FsRedirection(nullptr));
         EXPECT_EQ(error, win::GetLastError());
     }},
    {"ExpandEnvironmentStringsW", win::ERROR_NOT_ENOUGH_MEMORY,
     [](std::uint32_t error) {
         char16_t buffer[4] = {u'Q'};
         EXPECT_EQ(0u, win::ExpandEnvironmentStringsW(u"x", buffer, 4));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(u'Q', buffer[0]);
     }},
    {"GetSystemWindowsDirectoryW", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         char16_t buffer[64] = {u'Q'};
         EXPECT_EQ(0u, win::GetSystemWindowsDirectoryW(buffer, 64));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(u'Q', buffer[0]);
     }},
    {"OpenThreadToken", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         const winsim::ScopedThreadToken impersonating;
         win::HANDLE token = nullptr;
         EXPECT_EQ(win::FALSE, win::OpenThreadToken(win::GetCurrentThread(), win::TOKEN_QUERY,
                                                    win::TRUE, &token));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_EQ(nullptr, token);
         EXPECT_EQ(0u, winsim::OpenTokenCount());
     }},
    {"RevertToSelf", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         const winsim::ScopedThreadToken impersonating;
         EXPECT_EQ(win::FALSE, win::RevertToSelf());
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_TRUE(winsim::ThreadImpersonates());
     }},
    {"ImpersonateLoggedOnUser", win::ERROR_ACCESS_DENIED,
     [](std::uint32_t error) {
         EXPECT_EQ(win::FALSE, win::ImpersonateLoggedOnUser(nullptr));
         EXPECT_EQ(error, win::GetLastError());
         EXPECT_FALSE(winsim::ThreadImpersonates());
     }},
};

TEST_F(FaultReachTest, EveryInjectableCallHasARow) {
    std::vector<std::string> rows;
    for (const FaultRow& row : kFaultRows) rows.emplace_back(row.call);
    // The Windows Runtime room's calls (Ro*, Windows*String*, the runtime objects' methods)
    // have their own table beside the runtime's tests (winrt_wrapper_test.cpp).
    std::vector<std::string> calls;
    for (const std::string& call : winsim::InjectableCalls()) {
        const bool runtime = call.rfind("Ro", 0) == 0 || call.rfind("Windows", 0) == 0 ||
                             call.find("::") != std::string::npos;
        if (!runtime) calls.push_back(call);
    }
    EXPECT_THAT(rows, ::testing::UnorderedElementsAreArray(calls));
}

TEST_F(FaultReachTest, EachFaultReachesTheCallerThroughTheCallsOwnChannel) {
    for (const FaultRow& row : kFaultRows) {
        SCOPED_TRACE(row.call);
        winsim::InjectFault(row.call, winsim::FaultMode::Once, 0, row.error);
        row.callAndCheck(row.error);
        winsim::ClearFaults();
    }
}

// ---- Scoped overrides and hooks ---------------------------------------------------------------

TEST_F(PlatformSimTest, ScopedFaultAndScopedJournalRestoreWhatWasThereBefore) {
    winsim::PutFile(kLogPath, Bytes("x"));
    auto openError = [] {
        win::SetLastError(0);
        const win::HANDLE file = Open(kLogPath);
        if (file == win::INVALID_HANDLE_VALUE) return win::GetLastError();
        win::CloseHandle(file);
        return win::DWORD{0};
    };
    winsim::InjectFault("CreateFileW", winsim::FaultMode::Always, 0, win::ERROR_ACCESS_DENIED);
    {
        winsim::ScopedFault inner("CreateFileW", winsim::FaultMode::Always, 0,
                                  win::ERROR_SHARING_VIOLATION);
        EXPECT_EQ(win::ERROR_SHARING_VIOLATION, openError());
    }
    EXPECT_EQ(win::ERROR_ACCESS_DENIED, openError());  // the outer fault, not none
    winsim::ClearFault("CreateFileW");
    { winsim::ScopedFault once("CreateFileW", winsim::FaultMode::Once, 0, win::ERROR_IO_DEVICE); }
    EXPECT_EQ(0u, openError());  // no fault before the scope, none after it

    winsim::EnableJournal(true);
    win::CloseHandle(Open(kLogPath));
    {
        winsim::ScopedJournal inner(/*includeHeap=*/true);
        EXPECT_TRUE(winsim::Journal().empty());
        win::HeapFree(win::GetProcessHeap(), 0, nullptr);
    }
    // The outer journal is still on, without heap calls, and kept what it had.
    win::HeapFree(win::GetProcessHeap(), 0, nullptr);
    win::DisableThreadLibraryCalls(nullptr);
    EXPECT_THAT(winsim::JournalCalls(), ElementsAre("CreateFileW", "CloseHandle", "GetProcessHeap",
                                                    "HeapFree", "DisableThreadLibraryCalls"));
    winsim::EnableJournal(false);
    { winsim::ScopedJournal inner; }
    win::DisableThreadLibraryCalls(nullptr);
    EXPECT_EQ(5u, winsim::Journal().size());  // off again, as before the scope
}

TEST_F(PlatformSimTest, ScopedRegistryValueRestoresTheValueOrItsAbsence) {
    auto read = [] {
        std::uint32_t data = 0;
        win::DWORD size = 4;
        const win::LSTATUS status =
            win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"OsBootCount",
                              win::RRF_RT_REG_DWORD, nullptr, &data, &size);
        return status == 0 ? static_cast<std::int64_t>(data) : -status;
    };
    {
        winsim::ScopedRegistryValue value(kBootKey, u"OsBootCount",
                                          winsim::RegistryValue::Dword(5));
        EXPECT_EQ(5, read());
        {
            winsim::ScopedRegistryValue none(kBootKey, u"OsBootCount", std::nullopt);
            EXPECT_EQ(-2, read());
        }
        EXPECT_EQ(5, read());
    }
    EXPECT_EQ(-2, read());
    EXPECT_EQ(std::nullopt, winsim::GetRegistryValue(kBootKey, u"osbootcount"));
    winsim::SetRegistryString(kBootKey, u"OsBootCount", u"seventeen");
    EXPECT_EQ(winsim::RegistryValue::String(u"seventeen"),
              winsim::GetRegistryValue(kBootKey, u"OSBOOTCOUNT"));
}

TEST_F(PlatformSimTest, ScopedHookReplacesACallOnItsThreadAndMayCallTheSimulation) {
    winsim::PutFile(kLogPath, Bytes("abcd"));
    const win::HANDLE file = Open(kLogPath);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    int calls = 0;
    {
        winsim::ScopedHook<&win::GetFileSize> hook([&](win::HANDLE f, win::DWORD* high) {
            ++calls;
            return win::GetFileSize(f, high) + 100;  // the simulated call, not the hook again
        });
        EXPECT_EQ(104u, win::GetFileSize(file, nullptr));
        {
            winsim::ScopedHook<&win::GetFileSize> inner(
                [](win::HANDLE, win::DWORD*) { return win::DWORD{7}; });
            EXPECT_EQ(7u, win::GetFileSize(file, nullptr));
        }
        EXPECT_EQ(104u, win::GetFileSize(file, nullptr));  // the outer hook is back
        win::DWORD other = 0;
        std::thread([&] { other = win::GetFileSize(file, nullptr); }).join();
        EXPECT_EQ(4u, other);  // other threads reach the simulation
        {
            // Faults apply to the simulated call the hook makes.
            winsim::ScopedFault fault("GetFileSize", winsim::FaultMode::Once, 0, 1117);
            EXPECT_EQ(win::INVALID_FILE_SIZE + 100, win::GetFileSize(file, nullptr));
            EXPECT_EQ(1117u, win::GetLastError());
        }
    }
    EXPECT_EQ(4u, win::GetFileSize(file, nullptr));
    EXPECT_EQ(3, calls);

    // Any simulated call can be hooked, whatever its result type.
    winsim::ScopedHook<&win::RegGetValueW> registry([](win::HKEY, win::LPCWSTR, win::LPCWSTR,
                                                       win::DWORD, win::DWORD*, void*,
                                                       win::DWORD*) { return win::LSTATUS{5}; });
    EXPECT_EQ(5, win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"OsBootCount",
                                   win::RRF_RT_REG_DWORD, nullptr, nullptr, nullptr));
    win::CloseHandle(file);
}

// ---- Journal ---------------------------------------------------------------------------------

TEST_F(PlatformSimTest, JournalRecordsCallsAndArgumentsInOrderWhenOn) {
    winsim::PutFile(kLogPath, Bytes("abc"));
    Open(kLogPath);  // not journaled: the journal is off by default
    EXPECT_TRUE(winsim::Journal().empty());

    winsim::ScopedJournal journal;
    std::uint32_t data = 0;
    win::DWORD size = 4;
    win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kBootKey, u"OsBootCount", win::RRF_RT_REG_DWORD,
                      nullptr, &data, &size);
    const win::HANDLE file = Open(kLogPath);
    void* block = win::HeapAlloc(win::GetProcessHeap(), 0, 4);  // heap calls are left out
    win::HeapFree(win::GetProcessHeap(), 0, block);
    win::CloseHandle(file);

    const auto entries = winsim::Journal();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ("RegGetValueW", entries[0].call);
    EXPECT_EQ("HKLM, \"System\\CurrentControlSet\\services\\TPM\", \"OsBootCount\", 0x10",
              entries[0].args);
    EXPECT_EQ("2", entries[0].result);
    EXPECT_EQ("CreateFileW", entries[1].call);
    EXPECT_THAT(entries[1].args, HasSubstr("0000000017-0000000000.log"));
    EXPECT_EQ("CloseHandle", entries[2].call);
    EXPECT_EQ("TRUE", entries[2].result);

    winsim::ClearJournal();
    winsim::EnableJournal(true, /*includeHeap=*/true);
    const win::HANDLE heap = win::GetProcessHeap();
    win::HeapFree(heap, 0, win::HeapAlloc(heap, 0, 4));
    EXPECT_THAT(winsim::JournalCalls(), ElementsAre("GetProcessHeap", "HeapAlloc", "HeapFree"));
}

// ---- Machine directories ---------------------------------------------------------------------

class MachineDirectoryTest : public PlatformSimTest {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        m_dir = std::filesystem::temp_directory_path() /
                ("qorvex-machine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    void Write(const std::string& relative, std::string_view contents) {
        const auto path = m_dir / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(contents.data(), static_cast<std::streamsize>(contents.size()));
    }
    std::string Load() { return winsim::LoadMachineDirectory(m_dir.string()); }
    static std::uint32_t Dword(const char16_t* key, const char16_t* value) {
        std::uint32_t data = 0xFFFFFFFF;
        win::DWORD size = 4;
        win::RegGetValueW(win::HKEY_LOCAL_MACHINE, key, value, win::RRF_RT_REG_DWORD, nullptr,
                          &data, &size);
        return data;
    }

    std::filesystem::path m_dir;
};

TEST_F(MachineDirectoryTest, LoadsRegistryFoldersAndDriveFiles) {
    Write("machine.json", R"({
        "windowsDirectory": "C:\\Windows",
        "registry": {
            "HKLM\\System\\CurrentControlSet\\services\\TPM": {"OsBootCount": 17},
            "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\IntegrityServices": {
                "OsResumeCount": {"dword": "0x2"},
                "Note": "text",
                "Other": {"string": "more"}
            }
        },
        "knownFolders": {"ProgramData": "C:\\ProgramData"},
        "os": {"version": "10.0.19045", "productType": 1},
        "packages": []
    })");
    Write("C/Windows/Logs/MeasuredBoot/0000000017-0000000000.log", "boot");
    std::filesystem::create_directories(m_dir / "C" / "Empty");

    ASSERT_EQ("", Load());
    EXPECT_EQ(17u, Dword(kBootKey, u"OsBootCount"));
    EXPECT_EQ(2u, Dword(kResumeKey, u"OsResumeCount"));
    char16_t text[16];
    win::DWORD size = sizeof text;
    ASSERT_EQ(0, win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kResumeKey, u"Other",
                                   win::RRF_RT_REG_SZ, nullptr, text, &size));
    EXPECT_EQ(std::u16string(u"more"), text);

    const win::GUID programData = {
        0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};
    win::PWSTR path = nullptr;
    ASSERT_EQ(win::S_OK, win::SHGetKnownFolderPath(programData, 0, nullptr, &path));
    EXPECT_EQ(std::u16string(u"C:\\ProgramData"), path);
    win::CoTaskMemFree(path);

    const win::HANDLE file = Open(kLogPath);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    char buffer[8];
    win::DWORD read = 0;
    ASSERT_EQ(win::TRUE, win::ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ("boot", std::string(buffer, read));
    win::CloseHandle(file);
    EXPECT_TRUE(winsim::DirectoryExists(u"C:\\Empty"));
}

TEST_F(MachineDirectoryTest, KnownFoldersCanBeMovedOrRemoved) {
    // "knownFolders" applies after "windowsDirectory" wherever each stands in the file.
    for (const char* json : {R"({"windowsDirectory": "D:\\WinNT",
        "knownFolders": {"{F38BF404-1D43-42F2-9305-67DE0B28FC23}": null}})",
                             R"({"knownFolders": {"Windows": null},
        "windowsDirectory": "D:\\WinNT"})"}) {
        SCOPED_TRACE(json);
        Write("machine.json", json);
        ASSERT_EQ("", Load());
        EXPECT_EQ(u"D:\\WinNT", winsim::GetWindowsDirectory());
        // The loader makes the Windows folder exist, as winsim::SetWindowsDirectory does.
        EXPECT_TRUE(winsim::DirectoryExists(u"d:\\winnt"));
        win::PWSTR path = nullptr;
        EXPECT_EQ(win::HRESULT_FROM_WIN32(win::ERROR_FILE_NOT_FOUND),
                  win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, &path));
    }
}

TEST_F(MachineDirectoryTest, BadDescriptionsGiveAPositionedMessageAndADefaultMachine) {
    struct Case {
        const char* json;
        const char* message;
    } cases[] = {
        {"{\"registry\": }", "machine.json:1:14: expected a value, found '}'"},
        {"{\n  \"a\": 1,\n}",
         "machine.json:3:1: expected a member name in double quotes, found '}'"},
        {"{\"a\": \"open", "machine.json:1:12: unterminated string"},
        {"{\"a\": 1} x", "machine.json:1:10: unexpected text after the JSON value"},
        {"{\"a\": 1, \"a\": 2}", "duplicate member name \"a\""},
        {"{\"a\": 01}", "leading zeros"},
        {"{\"a\": \"\\ud800\"}", "without its low surrogate"},
        {"", "machine.json:1:1: expected a value, found end of file"},
        {"[1]", "machine.json:1:1: the machine description must be an object, not an array"},
        {"{\"windowsDirectory\": 5}",
         "machine.json:1:22: \"windowsDirectory\" must be a string, not a number"},
        {"{\"windowsDirectory\": \"Windows\"}", "must be an absolute path"},
        {"{\"registry\": {\"HKCU\\\\Software\": {}}}", "only HKEY_LOCAL_MACHINE is simulated"},
        {"{\"registry\": {\"HKLM\\\\A\": {\"v\": 4294967296}}}", "from 0 to 4294967295"},
        {"{\"registry\": {\"HKLM\\\\A\": {\"v\": -1}}}", "from 0 to 4294967295"},
        {"{\"registry\": {\"HKLM\\\\A\": {\"v\": true}}}", "registry value \"v\" must be"},
        {"{\"knownFolders\": {\"Desktopish\": \"C:\\\\x\"}}",
         "unknown known folder \"Desktopish\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        winsim::SetRegistryDword(kBootKey, u"OsBootCount", 1);
        Write("machine.json", c.json);
        const std::string error = Load();
        EXPECT_THAT(error, HasSubstr(c.message));
        EXPECT_THAT(error, HasSubstr((m_dir / "machine.json").string()));
        // The machine is back at its default: no registry values.
        EXPECT_EQ(0xFFFFFFFFu, Dword(kBootKey, u"OsBootCount"));
        EXPECT_EQ(u"C:\\Windows", winsim::GetWindowsDirectory());
    }
    Write("machine.json", std::string(100, '[') + std::string(100, ']'));
    EXPECT_THAT(Load(), HasSubstr("nested too deeply"));

    std::filesystem::remove(m_dir / "machine.json");
    EXPECT_THAT(Load(), HasSubstr("machine.json: not found"));
    EXPECT_THAT(winsim::LoadMachineDirectory((m_dir / "nothing").string()),
                HasSubstr("no such folder"));
}

// ---- Threads ---------------------------------------------------------------------------------

TEST_F(PlatformSimTest, ConcurrentCallersKeepTheMachineConsistent) {
    winsim::PutFile(kLogPath, Bytes("0123456789"));
    const winsim::HeapStats before = winsim::GetHeapStats();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                void* block = win::HeapAlloc(win::GetProcessHeap(), 0, 32);
                const win::HANDLE file = Open(kLogPath);
                char buffer[16];
                win::DWORD read = 0;
                if (block == nullptr || file == win::INVALID_HANDLE_VALUE ||
                    !win::ReadFile(file, buffer, sizeof buffer, &read, nullptr) || read != 10)
                    ++failures;
                win::CloseHandle(file);
                win::HeapFree(win::GetProcessHeap(), 0, block);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
    const winsim::HeapStats after = winsim::GetHeapStats();
    EXPECT_EQ(before.allocations + 2000, after.allocations);
    EXPECT_EQ(before.liveBlocks, after.liveBlocks);
    EXPECT_EQ(before.bytesInUse, after.bytesInUse);
    EXPECT_EQ(0u, winsim::OpenHandleCount());
}

// Thousands of live blocks at once, freed by other threads than the ones that took them, in
// an order unlike the allocation order, each freed twice: every first free is accepted, every
// second refused and counted, and the counters come back to where they were.
TEST_F(PlatformSimTest, HeapKeepsManyBlocksAcrossThreadsAndRefusesEverySecondFree) {
    constexpr int kThreads = 4;
    constexpr int kBlocks = 3000;
    const win::HANDLE heap = win::GetProcessHeap();
    const winsim::HeapStats before = winsim::GetHeapStats();
    std::vector<std::vector<void*>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kBlocks; ++i)
                taken[t].push_back(win::HeapAlloc(heap, 0, 1 + (i * 7 + t) % 300));
        });
    }
    for (auto& thread : threads) thread.join();
    threads.clear();
    EXPECT_EQ(before.liveBlocks + kThreads * kBlocks, winsim::GetHeapStats().liveBlocks);

    std::atomic<int> accepted{0};
    std::atomic<int> refused{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::vector<void*>& blocks = taken[(t + 1) % kThreads];
            for (int i = 0; i < kBlocks; ++i) {
                void* block = blocks[(i * 17) % kBlocks];
                (win::HeapFree(heap, 0, block) ? accepted : refused)++;
                (win::HeapFree(heap, 0, block) ? accepted : refused)++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(kThreads * kBlocks, accepted.load());
    EXPECT_EQ(kThreads * kBlocks, refused.load());
    const winsim::HeapStats after = winsim::GetHeapStats();
    EXPECT_EQ(before.liveBlocks, after.liveBlocks);
    EXPECT_EQ(before.bytesInUse, after.bytesInUse);
    EXPECT_EQ(before.invalidFrees + kThreads * kBlocks, after.invalidFrees);
    EXPECT_EQ(before.frees + kThreads * kBlocks, after.frees);
}

}  // namespace
