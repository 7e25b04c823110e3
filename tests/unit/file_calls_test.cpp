// The file and volume calls as Windows answers them: GetFileAttributesW, GetVolumePathNameW,
// CreateFileW, GetFileSize, ReadFile, CloseHandle, FindFirstFileNameW, FindNextFileNameW and
// FindClose, with the path rules every one of them shares. Each row is a fact about Windows,
// taken from Wine's conformance suite (only checks that Windows passes; each table names the
// test file) or from Microsoft's documentation of the call. The tables run on the simulated
// machine and, cross-built, against the real system under Wine, on a scratch folder that
// file_fixture.h sets up on either. A row Wine cannot play says so and runs on the simulated
// machine only; a row where the simulated machine deliberately answers otherwise (its file
// system is read-only) carries that answer and its reason beside Windows' own.
#include <win/files.h>
#include <win/kernel.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "unit/file_fixture.h"

namespace qorvex::test {
namespace {

constexpr win::DWORD kInvalid = win::INVALID_FILE_ATTRIBUTES;
constexpr win::DWORD kNone = 0xFFFFFFFFu;  // no alternative answer, no check of the last error
constexpr win::DWORD kRead = win::GENERIC_READ;
constexpr win::DWORD kWrite = win::GENERIC_WRITE;
constexpr win::DWORD kReadWrite = win::GENERIC_READ | win::GENERIC_WRITE;
constexpr win::DWORD kShareReadWrite = win::FILE_SHARE_READ | win::FILE_SHARE_WRITE;
constexpr win::DWORD kBackup = win::FILE_FLAG_BACKUP_SEMANTICS;
constexpr win::DWORD kNoBuffering = 0x20000000u;  // FILE_FLAG_NO_BUFFERING
constexpr win::DWORD kErrorFileExists = win::ERROR_FILE_EXISTS;
constexpr win::DWORD kErrorAlreadyExists = win::ERROR_ALREADY_EXISTS;

// Why a row runs on the simulated machine only.
constexpr const char* kWineTodo = "Wine fails this check of its own suite (todo_wine)";
constexpr const char* kWineNoMaxPath = "Wine keeps no MAX_PATH limit";
constexpr const char* kWineLacksCall = "Wine 8 has no FindFirstFileNameW";
constexpr const char* kNoShareHere = "needs a share that exists; the test machine has none";
constexpr const char* kWineEmptyName = "Wine answers ERROR_INVALID_PARAMETER";
constexpr const char* kWinePathNotFound = "Wine's attribute query answers ERROR_PATH_NOT_FOUND";
constexpr const char* kWineBadDevType = "Wine answers ERROR_BAD_DEV_TYPE";
// Why the simulated machine answers otherwise.
constexpr const char* kReadOnly = "the simulated file system grants reading only";

// Where a row runs: everywhere, or (with the reason) on the simulated machine only.
struct Where {
    const char* simulationOnly = nullptr;
    bool Here() const { return simulationOnly == nullptr || FileFixture::Simulated(); }
};
constexpr Where kEverywhere{};
constexpr Where SimulationOnly(const char* why) {
    return Where{why};
}

std::string Text(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text.substr(0, 120))
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    if (text.size() > 120) out += "... (" + std::to_string(text.size()) + " characters)";
    return out;
}

std::u16string Repeat(char16_t c, std::size_t count) {
    return std::u16string(count, c);
}

// ---- GetFileAttributesW ----------------------------------------------------------------------

struct AttributesRow {
    const char* what;
    std::u16string name;
    win::DWORD attributes;  // kInvalid: fails with `error`
    win::DWORD error = 0;
    Where where = kEverywhere;
};

void CheckAttributes(const std::vector<AttributesRow>& rows) {
    for (const AttributesRow& row : rows) {
        if (!row.where.Here()) continue;
        SCOPED_TRACE(std::string(row.what) + ": " + Text(row.name));
        win::SetLastError(0xDEADBEEF);
        const win::DWORD attributes = win::GetFileAttributesW(row.name.c_str());
        EXPECT_EQ(row.attributes, attributes);
        if (row.attributes == kInvalid) {
            EXPECT_EQ(row.error, win::GetLastError());
        }
    }
}

// How Win32 names are read (ntdll/tests/path.c: RtlGetFullPathName_U and
// RtlDosPathNameToNtPathName_U; kernel32/tests/path.c for names relative to the current folder)
// and what the file system makes of the result (ntdll/tests/path.c: test_nt_names; ntdll/tests/
// file.c; kernel32/tests/file.c: CreateFileA's wildcards, GetFileAttributesExW's names, which
// GetFileAttributesW shares; kernel32/tests/volume.c: the drive root).
TEST(FileCallsTest, GetFileAttributesReadsNamesByWin32Rules) {
    FileFixture fixture;
    fixture.PutFile(u"Dir\\File.txt", "data");
    fixture.PutDirectory(u"Dir\\Sub");
    const std::u16string r = fixture.Root();
    const std::u16string drive = r.substr(0, 2);
    const std::u16string rooted = r.substr(2);                 // \qorvex-files...
    const std::u16string leaf = r.substr(r.rfind(u'\\') + 1);  // qorvex-files...
    const std::u16string file = r + u"\\Dir\\File.txt";
    constexpr win::DWORD kFile = win::FILE_ATTRIBUTE_ARCHIVE;
    constexpr win::DWORD kFolder = win::FILE_ATTRIBUTE_DIRECTORY;
    CheckAttributes({
        {"a file", file, kFile},
        {"a folder", r + u"\\Dir", kFolder},
        {"a folder named with a final separator", r + u"\\Dir\\", kFolder},
        {"the drive root", drive + u"\\", kFolder},
        {"'/' for '\\'", drive + u"/" + r.substr(3) + u"/Dir/File.txt", kFile},
        {"doubled separators", r + u"\\\\Dir\\\\\\File.txt", kFile},
        {"'.' and '..' parts", r + u"\\Dir\\.\\Sub\\..\\File.txt", kFile},
        {"'..' never climbs above the drive", drive + u"\\..\\..\\" + r.substr(3) + u"\\Dir",
         kFolder},
        {"the last part loses its trailing dots and spaces", file + u". .  ..", kFile},
        {"a folder part loses one trailing dot", r + u"\\Dir.\\File.txt", kFile},
        {"a folder part with two trailing dots keeps one", r + u"\\Dir..\\File.txt", kInvalid,
         win::ERROR_PATH_NOT_FOUND},
        {"a folder part keeps a trailing space", r + u"\\Dir \\File.txt", kInvalid,
         win::ERROR_PATH_NOT_FOUND},
        // Relative to the current folder, which the fixture puts at its root.
        {"a relative name", u"Dir\\File.txt", kFile},
        {"'.' alone", u".", kFolder},
        {"'..' out of the current folder and back", u"..\\" + leaf + u"\\Dir", kFolder},
        {"the drive and a name relative to its current folder", drive + u"Dir\\File.txt", kFile},
        {"a name rooted on the current drive", rooted + u"\\Dir\\File.txt", kFile},
        // What is not there.
        {"a missing file", r + u"\\Dir\\None.txt", kInvalid, win::ERROR_FILE_NOT_FOUND},
        {"a missing folder on the way", r + u"\\None\\File.txt", kInvalid,
         win::ERROR_PATH_NOT_FOUND},
        {"missing folders on the way", r + u"\\None\\a\\b\\c", kInvalid, win::ERROR_PATH_NOT_FOUND},
        {"a missing name with a final separator", r + u"\\Dir\\None\\", kInvalid,
         win::ERROR_FILE_NOT_FOUND},
        {"a rooted name of a missing folder", u"\\DosDevices\\", kInvalid,
         win::ERROR_FILE_NOT_FOUND},
        {"a name below a file", file + u"\\x", kInvalid, win::ERROR_PATH_NOT_FOUND},
        // Names no file system takes.
        {"a file named with a final separator", file + u"\\", kInvalid, win::ERROR_INVALID_NAME,
         SimulationOnly(kWinePathNotFound)},
        {"'*' in a name", r + u"\\Dir\\*.*", kInvalid, win::ERROR_INVALID_NAME},
        {"'?' in a name", r + u"\\Dir\\File?.txt", kInvalid, win::ERROR_INVALID_NAME},
        {"'|' in a name", r + u"\\Dir\\a|b", kInvalid, win::ERROR_INVALID_NAME},
        {"a control character in a name", r + u"\\Dir\\sys\x01", kInvalid, win::ERROR_INVALID_NAME},
        {"the \\\\?\\ prefix alone", u"\\\\?\\", kInvalid, win::ERROR_INVALID_NAME},
        {"the \\??\\ prefix alone", u"\\??\\", kInvalid, win::ERROR_INVALID_NAME},
        // The \\?\ and \??\ forms go to the file system as written.
        {"the \\\\?\\ form", u"\\\\?\\" + file, kFile},
        {"the \\??\\ form", u"\\??\\" + file, kFile},
        {"the \\\\?\\ form with '..'", u"\\\\?\\" + r + u"\\Dir\\..\\Dir\\File.txt", kInvalid,
         win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form with '.'", u"\\\\?\\" + r + u"\\Dir\\.\\File.txt", kInvalid,
         win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form with '/'", u"\\\\?\\" + r + u"\\Dir/File.txt", kInvalid,
         win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form with a doubled separator", u"\\\\?\\" + r + u"\\Dir\\\\File.txt",
         kInvalid, win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form keeps trailing dots", u"\\\\?\\" + file + u"..", kInvalid,
         win::ERROR_FILE_NOT_FOUND},
        {"the \\\\?\\ form keeps trailing spaces", u"\\\\?\\" + file + u"   ", kInvalid,
         win::ERROR_FILE_NOT_FOUND},
        {"the \\\\?\\ form keeps a folder's trailing dot", u"\\\\?\\" + r + u"\\Dir.\\File.txt",
         kInvalid, win::ERROR_PATH_NOT_FOUND},
        {"the \\\\?\\ form with '/' after the drive",
         u"\\\\?\\" + drive + u"/" + r.substr(3) + u"\\Dir", kInvalid, win::ERROR_PATH_NOT_FOUND},
        {"the \\\\?\\ form with '/' after the drive, alone", u"\\\\?\\" + drive + u"/", kInvalid,
         win::ERROR_FILE_NOT_FOUND, SimulationOnly(kWineBadDevType)},
    });
}

// kernel32/tests/volume.c: a folder where a volume is mounted is a folder and a reparse point.
TEST(FileCallsTest, AMountFolderIsAReparsePoint) {
    FileFixture fixture;
    if (!fixture.MountVolume(u"Mount")) GTEST_SKIP() << "the system cannot mount a volume here";
    CheckAttributes({
        {"the mount folder", fixture.Path(u"Mount"),
         win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT},
    });
}

// Microsoft, "Naming Files, Paths, and Namespaces": without the \\?\ prefix a path stops at
// MAX_PATH (260) characters with its terminator; with it, at about 32,767.
TEST(FileCallsTest, PathsPastMaxPathNeedTheLongForm) {
    FileFixture fixture;
    std::u16string deep = u"Deep";
    while (deep.size() < 300) deep += u"\\0123456789";
    fixture.PutDirectory(deep);
    fixture.PutFile(deep + u"\\File.txt", "long");
    const std::u16string path = fixture.Path(deep);
    CheckAttributes({
        {"a folder past MAX_PATH in the \\\\?\\ form", u"\\\\?\\" + path,
         win::FILE_ATTRIBUTE_DIRECTORY},
        {"the same folder without it", path, kInvalid, win::ERROR_PATH_NOT_FOUND,
         SimulationOnly(kWineNoMaxPath)},
        {"a relative name whose full path passes MAX_PATH", deep, kInvalid,
         win::ERROR_PATH_NOT_FOUND, SimulationOnly(kWineNoMaxPath)},
    });
    if (FileFixture::Simulated()) {
        win::SetLastError(0);
        const win::HANDLE file =
            win::CreateFileW((path + u"\\File.txt").c_str(), kRead, win::FILE_SHARE_READ, nullptr,
                             win::OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(win::INVALID_HANDLE_VALUE, file);
        EXPECT_EQ(win::ERROR_PATH_NOT_FOUND, win::GetLastError());
        char16_t volume[8] = {};
        EXPECT_FALSE(win::GetVolumePathNameW(path.c_str(), volume, 8));
        EXPECT_EQ(win::ERROR_PATH_NOT_FOUND, win::GetLastError());
    }
    const win::HANDLE file =
        win::CreateFileW((u"\\\\?\\" + path + u"\\File.txt").c_str(), kRead, win::FILE_SHARE_READ,
                         nullptr, win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file) << win::GetLastError();
    EXPECT_EQ(4u, win::GetFileSize(file, nullptr));
    EXPECT_TRUE(win::CloseHandle(file));
}

// ---- GetVolumePathNameW ----------------------------------------------------------------------

struct VolumeRow {
    const char* what;
    std::u16string name;
    win::DWORD length;
    std::u16string volume;  // what the call answers; empty: it fails with `error`
    win::DWORD error = 0;
    Where where = kEverywhere;
};

void CheckVolumePaths(const std::vector<VolumeRow>& rows) {
    for (const VolumeRow& row : rows) {
        if (!row.where.Here()) continue;
        SCOPED_TRACE(std::string(row.what) + ": " + Text(row.name) + " into " +
                     std::to_string(row.length));
        std::vector<char16_t> buffer(row.length + 1, u'#');
        win::SetLastError(0xDEADBEEF);
        const win::BOOL ok = win::GetVolumePathNameW(row.name.c_str(), buffer.data(), row.length);
        EXPECT_EQ(!row.volume.empty(), ok != win::FALSE);
        if (ok) {
            EXPECT_EQ(row.volume, std::u16string(buffer.data()));
        } else {
            EXPECT_EQ(row.error, win::GetLastError());
        }
        // Nothing is written past the buffer.
        EXPECT_EQ(u'#', buffer[row.length]);
    }
}

// kernel32/tests/volume.c: test_GetVolumePathNameA's table (its calls convert to this one) and
// test_GetVolumePathNameW. The machines under test have a drive C: and no drives M: or S:.
TEST(FileCallsTest, GetVolumePathNameAnswersTheVolumeOfAnyName) {
    FileFixture fixture;
    const std::u16string r = fixture.Root();
    CheckVolumePaths({
        {"the drive root", u"C:\\", 260, u"C:\\"},
        {"a lower-case drive in upper case", u"c:\\", 260, u"C:\\"},
        {"a folder that exists", r, 260, u"C:\\"},
        {"a name that does not exist", r + u"\\AnInvalidFolder", 260, u"C:\\"},
        {"'/' for '\\'", u"C:/", 4, u"C:\\"},
        {"'/' in a longer name", u"C:/" + r.substr(3) + u"/x", 260, u"C:\\"},
        {"the \\\\?\\ form keeps its prefix", u"\\\\?\\C:\\AnInvalidFolder", 260, u"\\\\?\\C:\\"},
        // The buffer: the volume path and its terminator, or one character less without the
        // final separator, or failure.
        {"into 4", u"C:\\", 4, u"C:\\"},
        {"into 3: without the final separator", u"C:\\", 3, u"C:"},
        {"into 2", u"C:\\", 2, u"", win::ERROR_FILENAME_EXCED_RANGE},
        {"into 1", u"C:\\", 1, u"", win::ERROR_FILENAME_EXCED_RANGE},
        {"a longer name into 3", r + u"\\AnInvalidFolder", 3, u"C:"},
        {"the drive alone into 3", u"C:", 3, u"C:"},
        {"the drive alone into 2", u"C:", 2, u"", win::ERROR_FILENAME_EXCED_RANGE},
        {"'C::' into 3", u"C::", 3, u"C:"},
        {"'C::' into 2", u"C::", 2, u"", win::ERROR_FILENAME_EXCED_RANGE},
        {"'C::' into 1", u"C::", 1, u"", win::ERROR_FILENAME_EXCED_RANGE},
        {"the \\\\?\\ form into 7", u"\\\\?\\C:\\AnInvalidFolder", 7, u"\\\\?\\C:"},
        {"the \\\\?\\ form keeps the drive letter's case", u"\\\\?\\c:\\AnInvalidFolder", 7,
         u"\\\\?\\c:"},
        {"the \\\\?\\ form into 6", u"\\\\?\\C:\\AnInvalidFolder", 6, u"",
         win::ERROR_FILENAME_EXCED_RANGE},
        {"the \\\\?\\ form into 3", u"\\\\?\\C:\\AnInvalidFolder", 3, u"",
         win::ERROR_FILENAME_EXCED_RANGE},
        // Names that are not relative but name no volume.
        {"a bogus network name (judged before the buffer)", u"\\\\$$$", 1, u"",
         win::ERROR_INVALID_NAME},
        {"an unknown drive in the \\\\?\\ form", u"\\\\?\\InvalidDrive:\\AnInvalidFolder", 260, u"",
         win::ERROR_INVALID_NAME},
        {"a volume GUID name that does not exist",
         u"\\\\?\\Volume{00000000-00-0000-0000-000000000000}\\AnInvalidFolder", 260, u"",
         win::ERROR_INVALID_NAME},
        {"a share named with a colon", u"\\\\ReallyBogus\\InvalidDrive:\\AnInvalidFolder", 260, u"",
         win::ERROR_INVALID_NAME},
        {"a drive that does not exist", u"M::", 4, u"", win::ERROR_FILE_NOT_FOUND},
        {"a drive that does not exist, with '/'", u"M:/", 4, u"", win::ERROR_FILE_NOT_FOUND},
        {"'?' for a drive", u"?:ABC:DEF:\\AnInvalidFolder", 260, u"", win::ERROR_FILE_NOT_FOUND},
        {"a name relative to a drive that does not exist", u"s:omefile", 260, u"",
         win::ERROR_FILE_NOT_FOUND},
        // Relative names answer the volume of the current folder (the fixture's root, on C:).
        {"a relative name with a colon", u"InvalidDrive:\\AnInvalidFolder", 260, u"C:\\"},
        {"a relative name with '/'", u"relative/path", 260, u"C:\\"},
        {"a relative name with a stream", u"somefile:def", 260, u"C:\\"},
        {"'C:.'", u"C:.", 260, u"C:\\"},
        {"'C::'", u"C::", 260, u"C:\\"},
        {"a name relative to C: with colons", u"C:ABC:DEF:\\AnInvalidFolder", 260, u"C:\\"},
        {"\\??\\ is a folder on the current drive", u"\\??\\CdRom0", 260, u"C:\\"},
        {"\\??\\ and a bogus name", u"\\??\\ReallyBogus", 260, u"C:\\"},
        {"\\??\\ and a drive", u"\\??\\C:\\NonExistent", 260, u"C:\\"},
        {"\\??\\ and a drive that does not exist", u"\\??\\M:\\NonExistent", 260, u"C:\\"},
    });
}

// Microsoft's documentation of GetVolumePathNameW (its parameters, remarks and examples; Q: is
// a local drive there, C: here) and "Naming Files, Paths, and Namespaces" for MAX_PATH.
TEST(FileCallsTest, GetVolumePathNameAsDocumented) {
    FileFixture fixture;
    const std::u16string r = fixture.Root();
    CheckVolumePaths({
        {"an empty name fails with the last error 0", u"", 260, u"", win::ERROR_SUCCESS,
         SimulationOnly(kWineEmptyName)},
        {"a local drive", u"C:\\Windows", 260, u"C:\\"},
        {"a local drive in the \\\\?\\ form", u"\\\\?\\C:\\Windows", 260, u"\\\\?\\C:\\"},
        {"a local drive in the \\\\.\\ form", u"\\\\.\\C:\\Windows", 260, u"\\\\.\\C:\\"},
        {"an invalid name after a drive in the \\\\.\\ form", u"\\\\.\\C:\\aaa\\invalid", 260,
         u"\\\\.\\C:\\"},
        {"an invalid trailing part after a drive", u"C:\\invalid", 260, u"C:\\"},
        {"an NT namespace name gets the boot volume", u"\\DosDevices\\H:", 260, u"C:\\"},
        {"an NT device name gets the boot volume", u"\\Device\\HardDiskVolume6", 260, u"C:\\"},
        {"'..' is accepted", u"..", 260, u"C:\\"},
        {"a share", u"\\\\YourComputer\\C$\\Windows", 260, u"\\\\YourComputer\\C$\\", 0,
         SimulationOnly(kNoShareHere)},
        {"a missing folder on a share", u"\\\\YourComputer\\C$\\invalid", 260,
         u"\\\\YourComputer\\C$\\", 0, SimulationOnly(kNoShareHere)},
        {"a share in the \\\\?\\UNC form", u"\\\\?\\UNC\\YourComputer\\C$\\Windows", 260,
         u"\\\\?\\UNC\\YourComputer\\C$\\", 0, SimulationOnly(kNoShareHere)},
        {"a drive letter for a server in the \\\\?\\UNC form", u"\\\\?\\UNC\\W:\\Windows", 260, u"",
         win::ERROR_INVALID_NAME},
        {"a device that does not exist", u"C:\\COM3", 260, u"", win::ERROR_INVALID_NAME},
        {"a name past MAX_PATH", r + u"\\" + Repeat(u'x', 300), 260, u"", win::ERROR_PATH_NOT_FOUND,
         SimulationOnly(kWineNoMaxPath)},
        {"a name past MAX_PATH in the \\\\?\\ form", u"\\\\?\\" + r + u"\\" + Repeat(u'x', 300),
         260, u"\\\\?\\C:\\"},
    });
}

// Arguments the call refuses before it reads the name (volume.c: test_GetVolumePathNameA).
TEST(FileCallsTest, GetVolumePathNameRefusesMissingArguments) {
    char16_t buffer[8] = {u'#'};
    struct Row {
        const char* what;
        const char16_t* name;
        char16_t* buffer;
        win::DWORD length;
    };
    const Row rows[] = {
        {"no name, no buffer", nullptr, nullptr, 0},
        {"an empty name, no buffer", u"", nullptr, 0},
        {"a name, no buffer", u"C:\\", nullptr, 0},
        {"a name, a buffer of length 0", u"C:\\", buffer, 0},
    };
    for (const Row& row : rows) {
        win::SetLastError(0xDEADBEEF);
        EXPECT_FALSE(win::GetVolumePathNameW(row.name, row.buffer, row.length)) << row.what;
        EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError()) << row.what;
    }
    EXPECT_EQ(u'#', buffer[0]);
}

// kernel32/tests/volume.c: a folder where a volume is mounted is the volume path of everything
// inside it, the folder named without its separator included; the documentation's remarks say
// the same of volumes mounted in folders of mounted volumes.
TEST(FileCallsTest, GetVolumePathNameAnswersTheMountFolder) {
    FileFixture fixture;
    if (!fixture.MountVolume(u"Mount")) GTEST_SKIP() << "the system cannot mount a volume here";
    const std::u16string mount = fixture.Path(u"Mount");
    const std::u16string volume = mount + u"\\";
    std::vector<VolumeRow> rows = {
        {"the mount folder", mount, 260, volume},
        {"a folder inside it", mount + u"\\windows", 260, volume},
        {"a missing folder inside it, with a final separator", mount + u"\\nonexistent\\", 260,
         volume},
        {"the mount folder's parent", fixture.Root(), 260, u"C:\\"},
        {"a buffer one character short", mount + u"\\x", static_cast<win::DWORD>(volume.size()),
         mount},
        {"a buffer two characters short", mount + u"\\x",
         static_cast<win::DWORD>(volume.size() - 1), u"", win::ERROR_FILENAME_EXCED_RANGE},
        {"the \\\\?\\ form", u"\\\\?\\" + mount + u"\\x", 260, u"\\\\?\\" + volume},
    };
    // Relative names answer the volume of the current folder, wherever it is.
    fixture.SetCurrentFolder(mount);
    rows.push_back(
        {"a relative name, the current folder on the mounted volume", u"x\\y", 260, volume});
    rows.push_back({"'.' there", u".", 260, volume});
    rows.push_back({"'..' from there", u"..", 260, u"C:\\"});
    CheckVolumePaths(rows);
}

// ---- CreateFileW -----------------------------------------------------------------------------

struct OpenRow {
    const char* what;
    std::u16string name;
    win::DWORD access;
    win::DWORD disposition;
    win::DWORD flags;
    win::DWORD error;                // 0: opens
    win::DWORD lastError = kNone;    // when it opens: the last error, unless kNone
    win::DWORD alternative = kNone;  // another answer Windows gives (0: opens)
    Where where = kEverywhere;
    win::DWORD simulated = kNone;  // the simulated machine's answer where it differs
    const char* simulatedWhy = nullptr;
};

void CheckOpens(const std::vector<OpenRow>& rows) {
    for (const OpenRow& row : rows) {
        if (!row.where.Here()) continue;
        const bool simulated = FileFixture::Simulated() && row.simulated != kNone;
        SCOPED_TRACE(std::string(row.what) + ": " + Text(row.name) +
                     (simulated ? std::string(" (simulated: ") + row.simulatedWhy + ")" : ""));
        const win::DWORD expected = simulated ? row.simulated : row.error;
        win::SetLastError(0xDEADBEEF);
        const win::HANDLE handle = win::CreateFileW(row.name.c_str(), row.access, kShareReadWrite,
                                                    nullptr, row.disposition, row.flags, nullptr);
        const win::DWORD error = win::GetLastError();
        const win::DWORD answer = handle == win::INVALID_HANDLE_VALUE ? error : 0;
        if (answer != expected && !simulated && row.alternative != kNone) {
            EXPECT_EQ(row.alternative, answer) << "nor " << expected;
        } else {
            EXPECT_EQ(expected, answer) << "last error " << error;
        }
        if (handle != win::INVALID_HANDLE_VALUE) {
            if (row.lastError != kNone) {
                EXPECT_EQ(row.lastError, error);
            }
            EXPECT_TRUE(win::CloseHandle(handle));
        }
    }
}

// kernel32/tests/file.c: test_CreateFile's table of dispositions and accesses, on a file and on
// a folder, and test_CreateFileW's answers for existing and new files. Arguments come first: a
// bad disposition fails before the name is looked at.
TEST(FileCallsTest, CreateFileWJudgesDispositionAndAccess) {
    FileFixture fixture;
    fixture.PutFile(u"Dir\\File.txt", "data");
    for (const char16_t* name : {u"Dir\\Write.txt", u"Dir\\Over.txt", u"Dir\\Trunc.txt"})
        fixture.PutFile(name, "data");
    const std::u16string file = fixture.Path(u"Dir\\File.txt");
    const std::u16string folder = fixture.Path(u"Dir");
    constexpr win::DWORD kTruncate = win::TRUNCATE_EXISTING;
    CheckOpens({
        {"disposition 0", file, 0, 0, 0, win::ERROR_INVALID_PARAMETER},
        {"disposition 0, reading", file, kRead, 0, 0, win::ERROR_INVALID_PARAMETER},
        {"disposition 0, reading and writing", file, kReadWrite, 0, 0,
         win::ERROR_INVALID_PARAMETER},
        {"disposition 0 on a folder", folder, kRead, 0, 0, win::ERROR_INVALID_PARAMETER},
        {"disposition 0 on a folder, writing", folder, kWrite, 0, 0, win::ERROR_INVALID_PARAMETER},
        {"TRUNCATE_EXISTING without access", file, 0, kTruncate, 0, win::ERROR_INVALID_PARAMETER,
         kNone, kNone, SimulationOnly(kWineTodo)},
        {"TRUNCATE_EXISTING for reading", file, kRead, kTruncate, 0, win::ERROR_INVALID_PARAMETER,
         kNone, kNone, SimulationOnly(kWineTodo)},
        {"TRUNCATE_EXISTING with FILE_WRITE_DATA", file, win::FILE_WRITE_DATA, kTruncate, 0,
         win::ERROR_INVALID_PARAMETER, kNone, kNone, SimulationOnly(kWineTodo)},
        {"TRUNCATE_EXISTING on a folder for reading", folder, kRead, kTruncate, 0,
         win::ERROR_INVALID_PARAMETER, kNone, kNone, SimulationOnly(kWineTodo)},
        // An existing file.
        {"OPEN_EXISTING without access", file, 0, win::OPEN_EXISTING, 0, 0, 0},
        {"OPEN_EXISTING for reading", file, kRead, win::OPEN_EXISTING, 0, 0, 0},
        {"OPEN_ALWAYS finds it", file, kRead, win::OPEN_ALWAYS, 0, 0, kErrorAlreadyExists},
        {"CREATE_NEW finds it", file, kRead, win::CREATE_NEW, 0, kErrorFileExists},
        {"CREATE_NEW without access finds it", file, 0, win::CREATE_NEW, 0, kErrorFileExists},
        {"OPEN_EXISTING for writing", fixture.Path(u"Dir\\Write.txt"), kWrite, win::OPEN_EXISTING,
         0, 0, 0, kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"CREATE_ALWAYS overwrites it", fixture.Path(u"Dir\\Over.txt"), kRead, win::CREATE_ALWAYS,
         0, 0, kErrorAlreadyExists, kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"TRUNCATE_EXISTING for writing", fixture.Path(u"Dir\\Trunc.txt"), kWrite, kTruncate, 0, 0,
         0, kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        // A name that is not there.
        {"OPEN_EXISTING, missing", fixture.Path(u"Dir\\None.txt"), 0, win::OPEN_EXISTING, 0,
         win::ERROR_FILE_NOT_FOUND},
        {"OPEN_ALWAYS creates it", fixture.Path(u"Dir\\New1.txt"), kRead, win::OPEN_ALWAYS, 0, 0, 0,
         kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"CREATE_NEW creates it", fixture.Path(u"Dir\\New2.txt"), kRead, win::CREATE_NEW, 0, 0, 0,
         kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        // A folder opens as a file for no disposition and no access.
        {"a folder, CREATE_NEW, reading", folder, kRead, win::CREATE_NEW, 0,
         win::ERROR_ACCESS_DENIED, kNone, kNone, SimulationOnly(kWineTodo)},
        {"a folder, CREATE_NEW, writing", folder, kWrite, win::CREATE_NEW, 0,
         win::ERROR_ACCESS_DENIED, kNone, kNone, SimulationOnly(kWineTodo)},
        {"a folder, CREATE_ALWAYS, reading", folder, kRead, win::CREATE_ALWAYS, 0,
         win::ERROR_ACCESS_DENIED},
        {"a folder, CREATE_ALWAYS, writing", folder, kWrite, win::CREATE_ALWAYS, 0,
         win::ERROR_ACCESS_DENIED},
        {"a folder, OPEN_EXISTING, reading", folder, kRead, win::OPEN_EXISTING, 0,
         win::ERROR_ACCESS_DENIED},
        {"a folder, OPEN_EXISTING, writing", folder, kWrite, win::OPEN_EXISTING, 0,
         win::ERROR_ACCESS_DENIED},
        {"a folder, OPEN_ALWAYS, reading", folder, kRead, win::OPEN_ALWAYS, 0,
         win::ERROR_ACCESS_DENIED},
        {"a folder, OPEN_ALWAYS, writing", folder, kWrite, win::OPEN_ALWAYS, 0,
         win::ERROR_ACCESS_DENIED},
        {"a folder, TRUNCATE_EXISTING, writing", folder, kWrite, kTruncate, 0,
         win::ERROR_ACCESS_DENIED},
    });
}

// kernel32/tests/file.c: test_CreateFileA's table of names (each opened for reading and
// writing, OPEN_EXISTING), its folder and volume opens, and test_CreateFileW's names; the
// \\?\ rows are ntdll/tests/path.c's test_nt_names, whose NtOpenFile is what CreateFileW calls.
TEST(FileCallsTest, CreateFileWReadsNamesByWin32Rules) {
    FileFixture fixture;
    fixture.PutFile(u"Dir\\File.txt", "data");
    const std::u16string file = fixture.Path(u"Dir\\File.txt");
    const std::u16string folder = fixture.Path(u"Dir");
    constexpr win::DWORD kOpen = win::OPEN_EXISTING;
    constexpr win::DWORD kNormal = win::FILE_ATTRIBUTE_NORMAL;
    CheckOpens({
        {"a missing file", fixture.Path(u"a"), kReadWrite, kOpen, kNormal,
         win::ERROR_FILE_NOT_FOUND},
        {"a missing folder named with a final separator", fixture.Path(u"a\\"), kReadWrite, kOpen,
         kNormal, win::ERROR_FILE_NOT_FOUND, kNone, win::ERROR_PATH_NOT_FOUND},
        {"a folder", folder, kReadWrite, kOpen, kNormal, win::ERROR_ACCESS_DENIED},
        {"a folder with a final separator", folder + u"\\", kReadWrite, kOpen, kNormal,
         win::ERROR_PATH_NOT_FOUND, kNone, kNone, SimulationOnly(kWineTodo)},
        {"a folder with folder semantics", folder, kRead, kOpen, kBackup, 0, 0},
        {"a folder with a final separator and folder semantics", folder + u"\\", kReadWrite, kOpen,
         kBackup, 0, kNone, kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"OPEN_ALWAYS on a folder with folder semantics", folder, kReadWrite, win::OPEN_ALWAYS,
         kNormal | kBackup, 0, kNone, kNone, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"the current folder by its drive", u"C:", kReadWrite, kOpen, kNormal,
         win::ERROR_ACCESS_DENIED, kNone, win::ERROR_PATH_NOT_FOUND},
        {"the current folder by its drive, folder semantics", u"C:", kReadWrite, kOpen, kBackup, 0,
         kNone, win::ERROR_PATH_NOT_FOUND, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"the drive root as a file", u"C:\\", kReadWrite, kOpen, kNormal, win::ERROR_PATH_NOT_FOUND,
         kNone, win::ERROR_ACCESS_DENIED, SimulationOnly(kWineTodo)},
        {"the drive root with folder semantics", u"C:\\", kReadWrite, kOpen, kBackup, 0, kNone,
         win::ERROR_ACCESS_DENIED, kEverywhere, win::ERROR_ACCESS_DENIED, kReadOnly},
        {"a drive inside a name", u"C:C:\\windows", kReadWrite, kOpen, kNormal,
         win::ERROR_INVALID_NAME, kNone, kNone, SimulationOnly(kWineTodo)},
        {"wildcards", u"C:\\*.*", kRead, kOpen, kNormal, win::ERROR_INVALID_NAME},
        {"an empty name", u"", kRead, win::CREATE_NEW, 0, win::ERROR_PATH_NOT_FOUND},
        {"a device that does not exist", u"\\\\.\\BOGUS", 0, kOpen, kNormal,
         win::ERROR_FILE_NOT_FOUND},
        // A process that is no administrator may not open a volume.
        {"the volume in the \\\\?\\ form", u"\\\\?\\C:", kReadWrite, kOpen, kNormal | kNoBuffering,
         0, kNone, win::ERROR_ACCESS_DENIED},
        {"the volume's root as a file in the \\\\?\\ form", u"\\\\?\\C:\\", kReadWrite, kOpen,
         kNormal | kNoBuffering, win::ERROR_PATH_NOT_FOUND, kNone, kNone,
         SimulationOnly(kWineTodo)},
        {"a folder in the \\\\?\\ form with folder semantics", u"\\\\?\\" + folder + u"\\", kRead,
         kOpen, kBackup, 0, 0},
        {"the \\\\?\\ form", u"\\\\?\\" + file, kRead, kOpen, 0, 0, 0},
        {"the \\\\?\\ form with '..'", u"\\\\?\\" + fixture.Path(u"Dir\\..\\Dir\\File.txt"), kRead,
         kOpen, 0, win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form with '/'", u"\\\\?\\" + fixture.Path(u"Dir/File.txt"), kRead, kOpen, 0,
         win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form keeps trailing dots", u"\\\\?\\" + file + u"..", kRead, kOpen, 0,
         win::ERROR_FILE_NOT_FOUND},
        {"a file named with a final separator", file + u"\\", kRead, kOpen, 0,
         win::ERROR_INVALID_NAME},
        {"a name below a file", file + u"\\foo", kRead, kOpen, 0, win::ERROR_PATH_NOT_FOUND},
        {"a relative name", u"Dir\\File.txt", kRead, kOpen, 0, 0, 0},
        {"trailing dots and spaces", file + u" . ", kRead, kOpen, 0, 0, 0},
        {"a name past MAX_PATH", fixture.Path(Repeat(u'x', 300)), kRead, kOpen, 0,
         win::ERROR_PATH_NOT_FOUND, kNone, kNone, SimulationOnly(kWineNoMaxPath)},
    });
}

// kernel32/tests/file.c: test_file_sharing. Opening succeeds (last error 0) unless the access
// asked for is not shared by an open handle, or an open handle's access is not shared by the
// new one; handles that neither read, write nor delete share everything.
TEST(FileCallsTest, CreateFileWKeepsShareModes) {
    FileFixture fixture;
    fixture.PutFile(u"Shared.txt", "data");
    const std::u16string name = fixture.Path(u"Shared.txt");
    constexpr win::DWORD kShareRead = win::FILE_SHARE_READ;
    constexpr win::DWORD kShareAll =
        win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;
    struct Row {
        const char* what;
        win::DWORD firstAccess, firstShare, secondAccess, secondShare;
        win::DWORD error;
    };
    const Row rows[] = {
        {"read, shared for reading; read, shared for reading", kRead, kShareRead, kRead, kShareRead,
         0},
        {"read, not shared; read", kRead, 0, kRead, kShareAll, win::ERROR_SHARING_VIOLATION},
        {"read, shared; read, not sharing the first's read", kRead, kShareRead, kRead, 0,
         win::ERROR_SHARING_VIOLATION},
        {"read, shared for writing only; read", kRead, win::FILE_SHARE_WRITE, kRead, kShareAll,
         win::ERROR_SHARING_VIOLATION},
        {"no access, not shared; read, not shared", 0, 0, kRead, 0, 0},
        {"attributes only, not shared; read", win::FILE_READ_ATTRIBUTES, 0, kRead, kShareRead, 0},
        {"read, not shared; attributes only", kRead, 0, win::FILE_READ_ATTRIBUTES, 0, 0},
        {"read, not shared; executing", kRead, 0, win::GENERIC_EXECUTE, kShareAll,
         win::ERROR_SHARING_VIOLATION},
        {"FILE_READ_DATA, shared; read, shared", win::FILE_READ_DATA, kShareRead, kRead, kShareRead,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const win::HANDLE first = win::CreateFileW(name.c_str(), row.firstAccess, row.firstShare,
                                                   nullptr, win::OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(win::INVALID_HANDLE_VALUE, first) << win::GetLastError();
        win::SetLastError(0xDEADBEEF);
        const win::HANDLE second = win::CreateFileW(name.c_str(), row.secondAccess, row.secondShare,
                                                    nullptr, win::OPEN_EXISTING, 0, nullptr);
        const win::DWORD error = win::GetLastError();
        EXPECT_EQ(row.error, error);
        EXPECT_EQ(row.error == 0, second != win::INVALID_HANDLE_VALUE);
        if (second != win::INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(win::CloseHandle(second));
        }
        EXPECT_TRUE(win::CloseHandle(first));
    }
}

// Microsoft, "Hard Links and Junctions": the names of a file are one file, so what one name
// opens another name shows, share modes included (kernel32/tests/file.c: test_file_sharing).
TEST(FileCallsTest, HardLinksNameOneFile) {
    FileFixture fixture;
    fixture.PutFile(u"One.txt", "data");
    if (!fixture.LinkNames({u"One.txt", u"Sub\\Two.txt"}))
        GTEST_SKIP() << "the system cannot make hard links here";
    const std::u16string one = fixture.Path(u"One.txt");
    const std::u16string two = fixture.Path(u"Sub\\Two.txt");
    EXPECT_EQ(win::FILE_ATTRIBUTE_ARCHIVE, win::GetFileAttributesW(two.c_str()));
    const win::HANDLE first =
        win::CreateFileW(one.c_str(), kRead, 0, nullptr, win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, first);
    win::SetLastError(0);
    EXPECT_EQ(win::INVALID_HANDLE_VALUE, win::CreateFileW(two.c_str(), kRead, kShareReadWrite,
                                                          nullptr, win::OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(win::ERROR_SHARING_VIOLATION, win::GetLastError());
    EXPECT_TRUE(win::CloseHandle(first));

    const win::HANDLE second = win::CreateFileW(two.c_str(), kRead, win::FILE_SHARE_READ, nullptr,
                                                win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, second);
    EXPECT_EQ(4u, win::GetFileSize(second, nullptr));
    char buffer[8] = {};
    win::DWORD bytes = 0;
    EXPECT_TRUE(win::ReadFile(second, buffer, sizeof buffer, &bytes, nullptr));
    EXPECT_EQ("data", std::string(buffer, bytes));
    EXPECT_TRUE(win::CloseHandle(second));
}

// ---- GetFileSize, ReadFile, CloseHandle ------------------------------------------------------

// kernel32/tests/file.c: test_read_write and test_eof (a read at the end of a file succeeds
// with 0 bytes and leaves the last error alone; a null buffer is refused unless nothing is
// read; a handle without read access cannot read, as one without write access cannot write);
// ntdll/tests/file.c (a folder has no data to read: STATUS_INVALID_DEVICE_REQUEST, whose
// Win32 error is ERROR_INVALID_FUNCTION); Microsoft's documentation of GetFileSize,
// CloseHandle and GetCurrentProcess (a pseudo handle closes without effect).
TEST(FileCallsTest, ReadingSizingAndClosingAFile) {
    FileFixture fixture;
    fixture.PutFile(u"Data.bin", "0123456789");
    const std::u16string name = fixture.Path(u"Data.bin");
    const win::HANDLE file = win::CreateFileW(name.c_str(), kRead, win::FILE_SHARE_READ, nullptr,
                                              win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);

    win::DWORD high = 0xDEAD;
    EXPECT_EQ(10u, win::GetFileSize(file, &high));
    EXPECT_EQ(0u, high);
    EXPECT_EQ(10u, win::GetFileSize(file, nullptr));

    struct Read {
        const char* what;
        bool nullBuffer;
        win::DWORD count;
        win::BOOL ok;
        win::DWORD bytes;
        std::string data;
        win::DWORD error;  // kNone: the last error stays as it was
    };
    const Read reads[] = {
        {"nothing into no buffer", true, 0, win::TRUE, 0, "", kNone},
        {"into no buffer", true, 10, win::FALSE, 0, "", win::ERROR_NOACCESS},
        {"the first four bytes", false, 4, win::TRUE, 4, "0123", kNone},
        {"past the end: what is left", false, 16, win::TRUE, 6, "456789", kNone},
        {"at the end: nothing, and no error", false, 16, win::TRUE, 0, "", kNone},
        {"at the end into no buffer", true, 1, win::FALSE, 0, "", win::ERROR_NOACCESS},
    };
    for (const Read& read : reads) {
        SCOPED_TRACE(read.what);
        char buffer[16] = {};
        win::DWORD bytes = 12345678;
        win::SetLastError(12345678);
        EXPECT_EQ(read.ok, win::ReadFile(file, read.nullBuffer ? nullptr : buffer, read.count,
                                         &bytes, nullptr));
        EXPECT_EQ(read.bytes, bytes);
        EXPECT_EQ(read.data, std::string(buffer, read.ok ? bytes : 0));
        EXPECT_EQ(read.error == kNone ? 12345678u : read.error, win::GetLastError());
    }

    // Closing: once; a handle already closed, a null handle and a bad value are refused.
    EXPECT_TRUE(win::CloseHandle(file));
    for (const win::HANDLE bad :
         {file, static_cast<win::HANDLE>(nullptr), reinterpret_cast<win::HANDLE>(0xdead)}) {
        char buffer[4];
        win::DWORD bytes = 99;
        win::SetLastError(0);
        EXPECT_EQ(win::INVALID_FILE_SIZE, win::GetFileSize(bad, nullptr));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
        win::SetLastError(0);
        EXPECT_FALSE(win::ReadFile(bad, buffer, sizeof buffer, &bytes, nullptr));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
        EXPECT_EQ(0u, bytes);
        win::SetLastError(0);
        EXPECT_FALSE(win::CloseHandle(bad));
        EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    }
    EXPECT_TRUE(win::CloseHandle(win::GetCurrentProcess()));

    // A handle without read access, and a folder.
    const win::HANDLE attributesOnly =
        win::CreateFileW(name.c_str(), win::FILE_READ_ATTRIBUTES, win::FILE_SHARE_READ, nullptr,
                         win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, attributesOnly);
    EXPECT_EQ(10u, win::GetFileSize(attributesOnly, nullptr));
    char buffer[4];
    win::DWORD bytes = 99;
    EXPECT_FALSE(win::ReadFile(attributesOnly, buffer, sizeof buffer, &bytes, nullptr));
    EXPECT_EQ(win::ERROR_ACCESS_DENIED, win::GetLastError());
    EXPECT_EQ(0u, bytes);
    EXPECT_TRUE(win::CloseHandle(attributesOnly));

    const win::HANDLE folder = win::CreateFileW(fixture.Root().c_str(), kRead, kShareReadWrite,
                                                nullptr, win::OPEN_EXISTING, kBackup, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, folder);
    EXPECT_FALSE(win::ReadFile(folder, buffer, sizeof buffer, &bytes, nullptr));
    EXPECT_EQ(win::ERROR_INVALID_FUNCTION, win::GetLastError());
    EXPECT_TRUE(win::CloseHandle(folder));
}

// Microsoft's documentation of GetFileSize: the low part of the size is the answer and the high
// part goes where the caller asks for it; a low part of INVALID_FILE_SIZE (0xFFFFFFFF) is told
// from a failure by the last error NO_ERROR; a handle that opens no file fails with
// INVALID_FILE_SIZE and the last error. kernel32/tests/file.c (test_CopyFileA and others) reads
// the size of a file it wrote. A handle with no right but FILE_READ_ATTRIBUTES still answers
// (the size is an attribute).
TEST(FileCallsTest, GetFileSizeSplitsTheSizeIntoItsTwoParts) {
    FileFixture fixture;
    struct Row {
        const char* what;
        unsigned long long size;
        win::DWORD access;
    };
    constexpr unsigned long long kGiB = 1ull << 30;
    const Row rows[] = {
        {"an empty file", 0, kRead},
        {"ten bytes", 10, kRead},
        {"ten bytes, opened for its attributes only", 10, win::FILE_READ_ATTRIBUTES},
        {"4 GiB less one byte: a low part of INVALID_FILE_SIZE", 4 * kGiB - 1, kRead},
        {"4 GiB: a high part of 1", 4 * kGiB, kRead},
        {"6 GiB and 5 bytes", 6 * kGiB + 5, kRead},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::u16string relative =
            u"Size" + std::u16string(1, static_cast<char16_t>(u'a' + n++));
        fixture.PutFileOfSize(relative, row.size);
        const std::u16string name = fixture.Path(relative);
        const win::HANDLE file = win::CreateFileW(name.c_str(), row.access, win::FILE_SHARE_READ,
                                                  nullptr, win::OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(win::INVALID_HANDLE_VALUE, file) << win::GetLastError();
        const auto low = static_cast<win::DWORD>(row.size);
        win::DWORD high = 0xDEAD;
        win::SetLastError(0xDEADBEEF);
        EXPECT_EQ(low, win::GetFileSize(file, &high));
        EXPECT_EQ(static_cast<win::DWORD>(row.size >> 32), high);
        if (low == win::INVALID_FILE_SIZE) {
            EXPECT_EQ(win::ERROR_SUCCESS, win::GetLastError());
        }
        EXPECT_EQ(low, win::GetFileSize(file, nullptr)) << "without a place for the high part";
        EXPECT_TRUE(win::CloseHandle(file));
    }
}

// ---- FindFirstFileNameW, FindNextFileNameW, FindClose ----------------------------------------

// Every name of a file through a buffer of the given size, growing it as the calls ask.
std::vector<std::u16string> FileNames(const std::u16string& path, win::DWORD size = 64) {
    std::vector<std::u16string> names;
    std::u16string buffer(size, u'#');
    win::DWORD length = size;
    win::HANDLE find = win::FindFirstFileNameW(path.c_str(), 0, &length, buffer.data());
    if (find == win::INVALID_HANDLE_VALUE && win::GetLastError() == win::ERROR_MORE_DATA) {
        buffer.resize(length);
        find = win::FindFirstFileNameW(path.c_str(), 0, &length, buffer.data());
    }
    EXPECT_NE(win::INVALID_HANDLE_VALUE, find) << Text(path) << ": " << win::GetLastError();
    if (find == win::INVALID_HANDLE_VALUE) return names;
    names.emplace_back(buffer.c_str());
    for (;;) {
        length = static_cast<win::DWORD>(buffer.size());
        if (win::FindNextFileNameW(find, &length, buffer.data())) {
            names.emplace_back(buffer.c_str());
            continue;
        }
        if (win::GetLastError() != win::ERROR_MORE_DATA) break;
        buffer.resize(length);
    }
    EXPECT_EQ(win::ERROR_HANDLE_EOF, win::GetLastError()) << "after the last name";
    EXPECT_TRUE(win::FindClose(find));
    return names;
}

// Microsoft's documentation of FindFirstFileNameW, FindNextFileNameW, FindClose and
// CloseHandle: the names of a file by its links, each relative to its volume with a leading
// separator and spelled as the file system stores it; a buffer too short fails with
// ERROR_MORE_DATA and the size it needs; ERROR_HANDLE_EOF ends the names; the handle closes
// with FindClose, once, and CloseHandle does not take it. The name given is read by the Win32
// rules every call shares. Wine has none of the calls, so these run on the simulated machine.
TEST(FileCallsTest, FileNamesOfAFileByItsLinks) {
    if (!FileFixture::Simulated()) GTEST_SKIP() << kWineLacksCall;
    FileFixture fixture;
    fixture.PutFile(u"Data\\One.txt", "1");
    ASSERT_TRUE(fixture.LinkNames({u"Users\\Ann\\Tool.exe", u"Apps\\Pkg\\TOOL.exe"}));
    const std::u16string rel = fixture.Root().substr(2);  // \qorvex-files
    struct Row {
        const char* what;
        std::u16string name;
        std::vector<std::u16string> names;
    };
    const Row rows[] = {
        {"one name", fixture.Path(u"Data\\One.txt"), {rel + u"\\Data\\One.txt"}},
        {"spelled as stored, whatever the name given",
         fixture.Path(u"DATA\\one.TXT"),
         {rel + u"\\Data\\One.txt"}},
        {"trailing dots and spaces of the name given",
         fixture.Path(u"Data\\One.txt. . "),
         {rel + u"\\Data\\One.txt"}},
        {"a relative name", u"Data\\One.txt", {rel + u"\\Data\\One.txt"}},
        {"the \\\\?\\ form",
         u"\\\\?\\" + fixture.Path(u"Data\\One.txt"),
         {rel + u"\\Data\\One.txt"}},
        {"every link, in order",
         fixture.Path(u"apps\\pkg\\tool.exe"),
         {rel + u"\\Users\\Ann\\Tool.exe", rel + u"\\Apps\\Pkg\\TOOL.exe"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.names, FileNames(row.name));
        EXPECT_EQ(row.names, FileNames(row.name, 4)) << "through a short buffer";
    }

    // A short buffer is told the size it needs, terminator included, and keeps its place.
    std::u16string buffer(64, u'#');
    win::DWORD length = 3;
    const std::u16string one = fixture.Path(u"Data\\One.txt");
    EXPECT_EQ(win::INVALID_HANDLE_VALUE,
              win::FindFirstFileNameW(one.c_str(), 0, &length, buffer.data()));
    EXPECT_EQ(win::ERROR_MORE_DATA, win::GetLastError());
    EXPECT_EQ(rel.size() + 14, length);
    EXPECT_EQ(u'#', buffer[0]);

    length = 64;
    const std::u16string linked = fixture.Path(u"Apps\\Pkg\\TOOL.exe");
    const win::HANDLE find = win::FindFirstFileNameW(linked.c_str(), 0, &length, buffer.data());
    ASSERT_NE(win::INVALID_HANDLE_VALUE, find);
    EXPECT_FALSE(win::CloseHandle(find));
    EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    length = 4;
    EXPECT_FALSE(win::FindNextFileNameW(find, &length, buffer.data()));
    EXPECT_EQ(win::ERROR_MORE_DATA, win::GetLastError());
    EXPECT_EQ(rel.size() + 19, length);
    EXPECT_TRUE(win::FindNextFileNameW(find, &length, buffer.data()));
    EXPECT_EQ(rel + u"\\Apps\\Pkg\\TOOL.exe", std::u16string(buffer.c_str()));
    EXPECT_FALSE(win::FindNextFileNameW(find, &length, buffer.data()));
    EXPECT_EQ(win::ERROR_HANDLE_EOF, win::GetLastError());
    EXPECT_TRUE(win::FindClose(find));
    EXPECT_FALSE(win::FindClose(find));
    EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    EXPECT_FALSE(win::FindNextFileNameW(find, &length, buffer.data()));
    EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());

    // A file handle is no find handle.
    const win::HANDLE file = win::CreateFileW(one.c_str(), kRead, win::FILE_SHARE_READ, nullptr,
                                              win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(win::INVALID_HANDLE_VALUE, file);
    EXPECT_FALSE(win::FindClose(file));
    EXPECT_EQ(win::ERROR_INVALID_HANDLE, win::GetLastError());
    EXPECT_TRUE(win::CloseHandle(file));
}

// Microsoft's documentation of FindFirstFileNameW: it fails with INVALID_HANDLE_VALUE and the
// last error for a name it cannot follow, a name read by the same Win32 rules as CreateFileW's
// (the errors of each row are CreateFileW's for the same name in the tables above:
// kernel32/tests/file.c test_CreateFileA and test_CreateFileW for a missing file or folder, a
// final separator on a file, wildcards and the empty name; ntdll/tests/path.c test_nt_names for
// the \\?\ form, which keeps '..' and trailing dots as written; kernel32/tests/file.c and
// ntdll/tests/path.c for a name past MAX_PATH without that form); and the documentation's
// example: a file on a volume mounted in a folder is named relative to that folder.
TEST(FileCallsTest, FileNamesFollowTheSharedPathRules) {
    if (!FileFixture::Simulated()) GTEST_SKIP() << kWineLacksCall;
    FileFixture fixture;
    fixture.PutFile(u"Data\\One.txt", "1");
    const std::u16string file = fixture.Path(u"Data\\One.txt");
    struct Row {
        const char* what;
        std::u16string name;
        win::DWORD error;
    };
    const Row rows[] = {
        {"a missing file", fixture.Path(u"Data\\None.txt"), win::ERROR_FILE_NOT_FOUND},
        {"a missing folder on the way", fixture.Path(u"None\\One.txt"), win::ERROR_PATH_NOT_FOUND},
        {"a file named with a final separator", file + u"\\", win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form with '..'", u"\\\\?\\" + fixture.Path(u"Data\\..\\Data\\One.txt"),
         win::ERROR_INVALID_NAME},
        {"the \\\\?\\ form keeps trailing dots", u"\\\\?\\" + file + u".",
         win::ERROR_FILE_NOT_FOUND},
        {"a wildcard", fixture.Path(u"Data\\*.txt"), win::ERROR_INVALID_NAME},
        {"an empty name", u"", win::ERROR_PATH_NOT_FOUND},
        {"a name past MAX_PATH", fixture.Path(Repeat(u'x', 300)), win::ERROR_PATH_NOT_FOUND},
    };
    for (const Row& row : rows) {
        char16_t name[64];
        win::DWORD length = 64;
        win::SetLastError(0);
        EXPECT_EQ(win::INVALID_HANDLE_VALUE,
                  win::FindFirstFileNameW(row.name.c_str(), 0, &length, name))
            << row.what;
        EXPECT_EQ(row.error, win::GetLastError()) << row.what;
    }

    ASSERT_TRUE(fixture.MountVolume(u"Mnt\\Vol"));
    ASSERT_TRUE(fixture.LinkNames({u"Mnt\\Vol\\f.txt", u"Mnt\\Vol\\Sub\\g.txt"}));
    EXPECT_EQ((std::vector<std::u16string>{u"\\f.txt", u"\\Sub\\g.txt"}),
              FileNames(fixture.Path(u"Mnt\\Vol\\Sub\\g.txt")));
}

}  // namespace
}  // namespace qorvex::test
