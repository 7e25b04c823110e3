// SHGetKnownFolderPath and CoTaskMemFree as Windows answers them, as a table of facts from Wine's
// conformance suite (dlls/shell32/tests/shellpath.c, test_SHGetFolderPathEx). The rows use the
// one known folder every machine has, the Windows folder, so the same table runs on the
// simulated machine and, cross built, against the real shell under Wine.
#include <win/shell.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    return text;
}

std::u16string WindowsFolder() {
    char16_t buffer[300] = {};
    const win::UINT length = win::GetSystemWindowsDirectoryW(buffer, 300);
    return std::u16string(buffer, length);
}

// {00000112-0000-0000-C000-000000000046}, IID_IOleObject: an id that names no known folder.
constexpr win::GUID kNotAFolder = {
    0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

TEST(ShellCallsTest, KnownFolderPathByFlags) {
    const std::u16string windows = Upper(WindowsFolder());
    struct Row {
        const char* what;
        const win::GUID* id;
        win::DWORD flags;
        win::HRESULT hr;
    };
    const win::HRESULT notFound = win::HRESULT_FROM_WIN32(win::ERROR_FILE_NOT_FOUND);
    const Row rows[] = {
        {"KF_FLAG_DEFAULT", &win::FOLDERID_Windows, win::KF_FLAG_DEFAULT, win::S_OK},
        {"KF_FLAG_SIMPLE_IDLIST", &win::FOLDERID_Windows, win::KF_FLAG_SIMPLE_IDLIST, win::S_OK},
        {"KF_FLAG_DONT_UNEXPAND", &win::FOLDERID_Windows, win::KF_FLAG_DONT_UNEXPAND, win::S_OK},
        {"KF_FLAG_SIMPLE_IDLIST | KF_FLAG_DONT_UNEXPAND", &win::FOLDERID_Windows,
         win::KF_FLAG_SIMPLE_IDLIST | win::KF_FLAG_DONT_UNEXPAND, win::S_OK},
        {"KF_FLAG_DEFAULT_PATH", &win::FOLDERID_Windows, win::KF_FLAG_DEFAULT_PATH, win::S_OK},
        {"KF_FLAG_NOT_PARENT_RELATIVE alone", &win::FOLDERID_Windows,
         win::KF_FLAG_NOT_PARENT_RELATIVE, win::E_INVALIDARG},
        {"KF_FLAG_DEFAULT_PATH | KF_FLAG_NOT_PARENT_RELATIVE", &win::FOLDERID_Windows,
         win::KF_FLAG_DEFAULT_PATH | win::KF_FLAG_NOT_PARENT_RELATIVE, win::S_OK},
        {"an id that is no known folder", &kNotAFolder, 0, notFound},
        {"an id that is no known folder, with flags", &kNotAFolder, win::KF_FLAG_DEFAULT_PATH,
         notFound},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::PWSTR path = reinterpret_cast<win::PWSTR>(std::uintptr_t{0xdeadbeef});
        EXPECT_EQ(row.hr, win::SHGetKnownFolderPath(*row.id, row.flags, nullptr, &path));
        if (win::SUCCEEDED(row.hr)) {
            ASSERT_NE(nullptr, path);
            // The path is the Windows folder, letters in any case.
            EXPECT_EQ(windows, Upper(path));
            win::CoTaskMemFree(path);
        } else {
            EXPECT_EQ(nullptr, path) << "no path after a failure";
        }
    }
    // Freeing nothing is no error.
    win::CoTaskMemFree(nullptr);
}

}  // namespace
