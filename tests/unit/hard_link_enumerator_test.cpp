// Hard link enumeration: the volume path read into a growing buffer, the names of a file as
// full paths, and the fallback to the given path when the names cannot be listed.
#include "component/antimalware/source/win8_api/source/hard_link_enumerator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <winsim/sim.h>

#include <algorithm>
#include <string>
#include <vector>

#include "services/host_services.h"
#include "zef/rtl/error_handling/exception.h"

namespace {

using antimalware::win8_api::GetHardlinks;
using antimalware::win8_api::GetVolumePathInto;
using antimalware::win8_api::HardLinkEnumerator;
using antimalware::win8_api::PathBuffer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class HardLinkTest : public ::testing::Test {
protected:
    std::vector<std::u16string> Links(const char16_t* path, zef::ITracer* tracer = nullptr) {
        std::vector<std::u16string> out;
        for (const auto& link : GetHardlinks(tracer, path)) out.emplace_back(link.view());
        return out;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (const auto& r : m_host.tracer.Records())
            lines.push_back(std::to_string(r.level) + " " + r.text);
        return lines;
    }

    winsim::ScopedMachine m_machine;
    qorvex::host::HostServicesBundle m_host;
};

TEST_F(HardLinkTest, EveryNameComesBackAsAFullNormalizedPath) {
    winsim::MountVolume(u"D:\\Mnt\\Vol");
    winsim::PutFile(u"D:\\Dir\\File.TXT", {});
    winsim::PutFile(u"D:\\Mnt\\Vol\\Only.txt", {});
    winsim::LinkNames({u"C:\\Users\\Ann\\Notes.EXE", u"C:\\Apps\\Pkg\\notes.exe"});
    winsim::LinkNames({u"D:\\Mnt\\Vol\\A\\x.bin", u"D:\\Mnt\\Vol\\B\\y.bin"});
    struct Case {
        const char16_t* path;
        std::vector<std::u16string> links;
    };
    const Case cases[] = {
        {u"D:\\Dir\\File.TXT", {u"d:\\dir\\file.txt"}},
        {u"d:/dir/file.txt", {u"d:\\dir\\file.txt"}},
        {u"C:\\Apps\\Pkg\\notes.exe", {u"c:\\users\\ann\\notes.exe", u"c:\\apps\\pkg\\notes.exe"}},
        {u"D:\\Mnt\\Vol\\Only.txt", {u"d:\\mnt\\vol\\only.txt"}},
        {u"D:\\Mnt\\Vol\\B\\y.bin", {u"d:\\mnt\\vol\\a\\x.bin", u"d:\\mnt\\vol\\b\\y.bin"}},
        {u"\\\\?\\D:\\Dir\\File.TXT", {u"\\\\?\\d:\\dir\\file.txt"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.links, Links(c.path)) << std::string(c.path, c.path + 8);
        EXPECT_EQ(c.links, Links(c.path, &m_host.tracer));
    }
    m_host.tracer.Clear();
    Links(u"C:\\Apps\\Pkg\\notes.exe", &m_host.tracer);
    EXPECT_THAT(Lines(), ElementsAre("700 GetHardlinks: C:\\Users\\Ann\\Notes.EXE",
                                     "700 GetHardlinks: C:\\Apps\\Pkg\\notes.exe"));
    EXPECT_EQ(0u, winsim::OpenHandleCount());
}

TEST_F(HardLinkTest, NamesThatCannotBeListedFallBackToTheGivenPath) {
    struct Case {
        const char16_t* path;
        std::optional<std::uint32_t> error;  // injected into FindFirstFileNameW
        const char* code;
    };
    const Case cases[] = {
        {u"C:\\Missing.txt", std::nullopt, "0x80010102"},
        {u"C:\\Missing.txt", win::ERROR_CALL_NOT_IMPLEMENTED, "0x80070078"},
        {u"C:\\Missing.txt", win::ERROR_ACCESS_DENIED, "0x80000045"},
        // A failure without a usable last error is still one: the enumerator never opens
        // without a handle, and the line never reads "No error".
        {u"C:\\Missing.txt", 0, "0x80010100"},
        {u"C:\\Missing.txt", 0x70005, "0x80010100"},
    };
    for (const Case& c : cases) {
        m_host.tracer.Clear();
        std::optional<winsim::ScopedFault> fault;
        if (c.error) fault.emplace("FindFirstFileNameW", winsim::FaultMode::Always, 0, *c.error);
        EXPECT_THAT(Links(c.path, &m_host.tracer), ElementsAre(u"c:\\missing.txt"));
        EXPECT_THAT(Lines(), ElementsAre(std::string("300 GetHardlinks: Troubles with hardlink "
                                                     "enumeration (") +
                                         c.code + "), trying to remediate by original path"));
        EXPECT_THAT(Links(c.path), ElementsAre(u"c:\\missing.txt")) << "without a tracer";
    }
}

TEST_F(HardLinkTest, FailuresOfTheVolumePathAndOfLaterNamesLeaveAsExceptions) {
    winsim::LinkNames({u"C:\\a.txt", u"C:\\b.txt"});
    struct Case {
        const char* call;
        std::uint32_t error;
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"GetVolumePathNameW", win::ERROR_ACCESS_DENIED, 0x80000045u,
         "GetVolumePathNameW failed: 0x80000045 (Access denied)"},
        {"FindNextFileNameW", win::ERROR_ACCESS_DENIED, 0x80000045u,
         "FindNextFileNameW failed: 0x80000045 (Access denied)"},
        // Failures without a usable last error: the volume path falls back to its "could not
        // be read" error, a later name to the unspecified platform error; never code 0.
        {"GetVolumePathNameW", 0, 0x8007FFFEu, "GetVolumePathNameW failed: 0x8007fffe"},
        {"GetVolumePathNameW", 0x10000, 0x80010100u,
         "GetVolumePathNameW failed: 0x80010100 (Unspecified platform error)"},
        {"FindNextFileNameW", 0, 0x80010100u,
         "FindNextFileNameW failed: 0x80010100 (Unspecified platform error)"},
    };
    for (const Case& c : cases) {
        winsim::ScopedFault fault(c.call, winsim::FaultMode::Always, 0, c.error);
        try {
            Links(u"C:\\a.txt");
            ADD_FAILURE() << c.call << ": no exception";
        } catch (const zef::SystemException& e) {
            EXPECT_EQ(static_cast<zef::ResultCode>(c.code), e.Code()) << c.call << c.error;
            const std::u16string wide = zef::GetDisplayText(e).c_str();
            const std::string text(wide.begin(), wide.end());
            EXPECT_THAT(text, HasSubstr(c.text));
            EXPECT_THAT(text, Not(HasSubstr("No error")));
            EXPECT_THAT(text, HasSubstr(". At component/antimalware/source/win8_api/source/"
                                        "hard_link_enumerator("));
        }
    }
    EXPECT_EQ(0u, winsim::OpenHandleCount()) << "the find handle closes on the way out";

    HardLinkEnumerator enumerator;
    EXPECT_THROW(enumerator.Next(), zef::CheckFailedException);
    ASSERT_EQ(0, enumerator.Open(u"C:\\a.txt"));
    EXPECT_THROW(enumerator.Open(u"C:\\a.txt"), zef::CheckFailedException);
    EXPECT_EQ(std::u16string(u"C:\\a.txt"), enumerator.Next());
    EXPECT_EQ(std::u16string(u"C:\\b.txt"), enumerator.Next());
    EXPECT_EQ(nullptr, enumerator.Next());
}

// Windows answers a relative name, a drive-relative one and an NT-namespace one with the volume
// of the current folder or drive (Wine's kernel32 volume tests: "relative/path" and
// "\??\M:\NonExistent" give the current volume), while FindFirstFileNameW names the file's
// own volume: the hooks answer the volume path so, and the names of such a path are never
// joined to it.
TEST_F(HardLinkTest, NamesAreJoinedOnlyToAVolumePathThatHoldsTheGivenPath) {
    winsim::MountVolume(u"C:\\Mnt\\Vol");
    winsim::PutFile(u"C:\\Mnt\\Vol\\Apps\\notes.exe", {});
    struct Case {
        const char* what;
        std::u16string path;
        std::u16string volume;  // what GetVolumePathNameW answers
        std::vector<std::u16string> links;
        bool joined;  // the names were asked for and joined to the volume path
    };
    const std::string offVolume = " does not hold the path, trying to remediate by original path";
    const Case cases[] = {
        {"an NT-namespace name on another drive",
         u"\\??\\D:\\Apps\\notes.exe",
         u"C:\\",
         {u"\\??\\d:\\apps\\notes.exe"},
         false},
        {"a global-root device name",
         u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\Apps\\n.exe",
         u"C:\\",
         {u"\\\\?\\globalroot\\device\\harddiskvolume2\\apps\\n.exe"},
         false},
        {"a relative name leaving the current volume",
         u"..\\..\\Apps\\notes.exe",
         u"C:\\Mnt\\Vol\\",
         {u"..\\..\\apps\\notes.exe"},
         false},
        {"a relative name", u"notes.exe", u"C:\\", {u"notes.exe"}, false},
        {"a drive-relative name", u"C:notes.exe", u"C:\\", {u"c:notes.exe"}, false},
        {"a folder that only begins like the volume",
         u"C:\\Mnt\\Volume2\\notes.exe",
         u"C:\\Mnt\\Vol\\",
         {u"c:\\mnt\\volume2\\notes.exe"},
         false},
        // A path on its volume, in another case and with '/', is joined as before.
        {"on its volume",
         u"c:/MNT/vol/Apps/notes.exe",
         u"C:\\Mnt\\Vol\\",
         {u"c:\\mnt\\vol\\apps\\notes.exe"},
         true},
    };
    for (const Case& c : cases) {
        m_host.tracer.Clear();
        std::size_t findCalls = 0;
        winsim::ScopedHook<&win::GetVolumePathNameW> volume(
            [&](win::LPCWSTR, win::LPWSTR out, win::DWORD size) {
                EXPECT_LT(c.volume.size(), size);
                std::copy(c.volume.begin(), c.volume.end(), out);
                out[c.volume.size()] = u'\0';
                return win::TRUE;
            });
        winsim::ScopedHook<&win::FindFirstFileNameW> first(
            [&](win::LPCWSTR name, win::DWORD flags, win::DWORD* length, win::PWSTR out) {
                ++findCalls;
                return win::FindFirstFileNameW(name, flags, length, out);
            });
        EXPECT_EQ(c.links, Links(c.path.c_str(), &m_host.tracer)) << c.what;
        EXPECT_EQ(c.joined ? 1u : 0u, findCalls) << c.what;
        if (c.joined) {
            EXPECT_THAT(Lines(), ElementsAre("700 GetHardlinks: C:\\Mnt\\Vol\\Apps\\notes.exe"));
        } else {
            EXPECT_THAT(Lines(), ElementsAre("300 GetHardlinks: Volume path " +
                                             winsim::Utf8FromUtf16(c.volume) + offVolume))
                << c.what;
        }
    }
    EXPECT_EQ(0u, winsim::OpenHandleCount());
}

TEST_F(HardLinkTest, VolumePathBufferGrowsAsTheSystemAsks) {
    // The buffer sizes GetVolumePathNameW is offered while it answers that the buffer is short.
    struct Case {
        win::DWORD error;
        std::vector<win::DWORD> sizes;
        std::uint32_t result;
    };
    const Case cases[] = {
        {win::ERROR_FILENAME_EXCED_RANGE, {260, 2000, 4000, 8000, 16000, 32000, 32768}, 0xFFFE},
        {win::ERROR_BUFFER_OVERFLOW, {260, 2000, 4000, 8000, 16000, 32000, 32768}, 0xFFFE},
        {win::ERROR_INSUFFICIENT_BUFFER, {260, 2000, 4000, 8000, 16000, 32000, 32768}, 0xFFFE},
        {win::ERROR_ACCESS_DENIED, {260}, win::ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        std::vector<win::DWORD> sizes;
        winsim::ScopedHook<&win::GetVolumePathNameW> hook(
            [&](win::LPCWSTR, win::LPWSTR, win::DWORD size) {
                sizes.push_back(size);
                win::SetLastError(c.error);
                return win::FALSE;
            });
        PathBuffer buffer;
        std::uint32_t error = 0;
        EXPECT_FALSE(GetVolumePathInto(u"C:\\x", buffer, error));
        EXPECT_EQ(c.result, error);
        EXPECT_EQ(c.sizes, sizes);
    }
    // A small buffer is first made the inline size; one that asks for less than 130 characters
    // more starts over at 260.
    PathBuffer small;
    small.resize(10);
    std::uint32_t error = 1;
    EXPECT_TRUE(GetVolumePathInto(u"C:\\x", small, error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(260u, small.size());
    EXPECT_EQ(std::u16string(u"C:\\"), small.data());
}

TEST_F(HardLinkTest, AVolumePathThatFillsTheBufferExactlyIsReadAgainOneLonger) {
    // Windows answers success for a root that the buffer holds only without its trailing
    // backslash: a text that fills the buffer exactly is read again one character longer.
    const std::u16string root = u"C:\\" + std::u16string(256, u'v') + u"\\";
    std::vector<win::DWORD> sizes;
    winsim::ScopedHook<&win::GetVolumePathNameW> hook(
        [&](win::LPCWSTR, win::LPWSTR out, win::DWORD size) {
            sizes.push_back(size);
            const std::size_t n = std::min<std::size_t>(root.size(), size - 1);
            std::copy(root.begin(), root.begin() + static_cast<std::ptrdiff_t>(n), out);
            out[n] = u'\0';
            return win::TRUE;
        });
    PathBuffer buffer;
    std::uint32_t error = 1;
    ASSERT_TRUE(GetVolumePathInto(u"C:\\x", buffer, error));
    EXPECT_THAT(sizes, ElementsAre(260u, 261u));
    EXPECT_EQ(root, buffer.data());
}

TEST_F(HardLinkTest, VolumePathsUpToTheLongestWindowsPathAreReadAndLongerOnesFail) {
    // A volume mounted in a folder so deep that its path takes all but the file's own name of
    // the longest name Windows reads (32,766 characters, in the \\?\ form): the buffer grows to
    // take it. A longer name, or one that long without the \\?\ form, Windows does not read at
    // all (ERROR_PATH_NOT_FOUND), so no volume path is ever longer than that.
    const std::u16string file = u"\\\u00E9.txt";
    const std::u16string folder = u"C:\\" + std::u16string(32766 - 4 - 3 - file.size(), u'm');
    winsim::MountVolume(folder);
    struct Case {
        const char* what;
        std::u16string name;
        bool read;
    };
    const Case cases[] = {
        {"the longest name, in the \\\\?\\ form", u"\\\\?\\" + folder + file, true},
        {"the same name without the \\\\?\\ form", folder + file, false},
        {"one character longer", u"\\\\?\\" + folder + file + u"x", false},
    };
    for (const Case& c : cases) {
        PathBuffer buffer;
        std::uint32_t error = 1;
        EXPECT_EQ(c.read, GetVolumePathInto(c.name.c_str(), buffer, error)) << c.what;
        if (c.read) {
            EXPECT_EQ(0u, error) << c.what;
            EXPECT_TRUE(u"\\\\?\\" + folder + u"\\" == buffer.data()) << c.what;
        } else {
            EXPECT_EQ(win::ERROR_PATH_NOT_FOUND, error) << c.what;
        }
    }
}

TEST_F(HardLinkTest, ASystemThatFillsEveryBufferExactlyEndsAtTheLimit) {
    // Each retry one character longer, as for a root cut short, but the text keeps filling the
    // buffer: the loop stops at the longest volume path instead of growing for ever.
    win::DWORD largest = 0;
    std::size_t calls = 0;
    winsim::ScopedHook<&win::GetVolumePathNameW> hook(
        [&](win::LPCWSTR, win::LPWSTR out, win::DWORD size) {
            ++calls;
            largest = std::max(largest, size);
            std::fill(out, out + size - 1, u'v');
            out[size - 1] = u'\0';
            return win::TRUE;
        });
    PathBuffer buffer;
    std::uint32_t error = 0;
    EXPECT_FALSE(GetVolumePathInto(u"C:\\x", buffer, error));
    EXPECT_EQ(0xFFFEu, error);
    EXPECT_EQ(32768u, largest);
    EXPECT_EQ(32768u - 260u + 1u, calls);
}

TEST_F(HardLinkTest, ALongNameGrowsTheBufferOnceAndKeepsTheVolumeAtItsHead) {
    winsim::MountVolume(u"C:\\Mnt\\Vol");
    const std::u16string folder = u"C:\\Mnt\\Vol\\" + std::u16string(240, u'd');
    const std::u16string file = u"\\\\?\\" + folder + u"\\" + std::u16string(60, u'f') + u".txt";
    winsim::PutFile(file, {});
    std::vector<win::DWORD> firstLengths;
    winsim::ScopedHook<&win::FindFirstFileNameW> hook(
        [&](win::LPCWSTR name, win::DWORD flags, win::DWORD* length, win::PWSTR out) {
            firstLengths.push_back(*length);
            return win::FindFirstFileNameW(name, flags, length, out);
        });
    HardLinkEnumerator enumerator;
    ASSERT_EQ(0, enumerator.Open(file.c_str()));
    const std::u16string expected = file;
    EXPECT_EQ(expected, enumerator.Next());
    // 260 less the volume path's 14 characters, then exactly what the name needs.
    const auto volume = static_cast<win::DWORD>(std::u16string(u"\\\\?\\C:\\Mnt\\Vol").size());
    EXPECT_THAT(firstLengths, ElementsAre(260u - volume, file.size() - volume + 1));
    EXPECT_EQ(nullptr, enumerator.Next());
}

TEST_F(HardLinkTest, PathsUpTo259CharactersNeedNoHeap) {
    const std::u16string file = u"C:\\" + std::u16string(252, u'n') + u".txt";  // 259
    winsim::PutFile(file, {});
    const std::uint64_t before = winsim::GetHeapStats().allocations;
    {
        HardLinkEnumerator enumerator;
        ASSERT_EQ(0, enumerator.Open(file.c_str()));
        EXPECT_EQ(file, enumerator.Next());
        EXPECT_EQ(nullptr, enumerator.Next());
    }
    EXPECT_EQ(before, winsim::GetHeapStats().allocations);
}

}  // namespace
