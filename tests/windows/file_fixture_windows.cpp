// The file fixture on the real system (under Wine): a fresh folder under C:\ made through the
// Windows file calls, each in its \\?\ form so that folders past MAX_PATH can be made too, and
// removed with everything in it at the end.
#include "unit/file_fixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace qorvex::test {

namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Narrow(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

std::wstring Long(std::u16string_view absolute) {
    return L"\\\\?\\" + Wide(absolute);
}

// Makes every folder of an absolute path, the path itself included.
void MakeFolders(std::u16string_view absolute) {
    for (std::size_t at = absolute.find(u'\\', 3); at != std::u16string_view::npos;
         at = absolute.find(u'\\', at + 1))
        ::CreateDirectoryW(Long(absolute.substr(0, at)).c_str(), nullptr);
    ::CreateDirectoryW(Long(absolute).c_str(), nullptr);
}

void RemoveTree(const std::wstring& longPath) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((longPath + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = longPath + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(longPath.c_str());
}

}  // namespace

struct FileFixture::Impl {
    std::u16string root;
    std::wstring previousDirectory;
    std::vector<std::wstring> mounts;
};

FileFixture::FileFixture() : m_impl(std::make_unique<Impl>()) {
    m_impl->root = u"C:\\qorvex-files-" + Narrow(std::to_wstring(::GetCurrentProcessId()));
    RemoveTree(Long(m_impl->root));
    EXPECT_TRUE(::CreateDirectoryW(Wide(m_impl->root).c_str(), nullptr)) << ::GetLastError();
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    m_impl->previousDirectory = current;
    SetCurrentFolder(m_impl->root);
}

FileFixture::~FileFixture() {
    ::SetCurrentDirectoryW(m_impl->previousDirectory.c_str());
    for (const auto& mount : m_impl->mounts) ::DeleteVolumeMountPointW(mount.c_str());
    RemoveTree(Long(m_impl->root));
}

bool FileFixture::Simulated() {
    return false;
}

const std::u16string& FileFixture::Root() const {
    return m_impl->root;
}

std::u16string FileFixture::Path(std::u16string_view relative) const {
    return m_impl->root + u"\\" + std::u16string(relative);
}

void FileFixture::PutFile(std::u16string_view relative, std::string_view bytes) {
    const std::u16string path = Path(relative);
    MakeFolders(path.substr(0, path.rfind(u'\\')));
    HANDLE file = ::CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << ::GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ::CloseHandle(file);
}

void FileFixture::PutFileOfSize(std::u16string_view relative, unsigned long long size) {
    const std::u16string path = Path(relative);
    MakeFolders(path.substr(0, path.rfind(u'\\')));
    HANDLE file = ::CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << ::GetLastError();
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    EXPECT_TRUE(::SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) << ::GetLastError();
    EXPECT_TRUE(::SetEndOfFile(file)) << ::GetLastError();
    ::CloseHandle(file);
}

void FileFixture::PutDirectory(std::u16string_view relative) {
    MakeFolders(Path(relative));
}

bool FileFixture::LinkNames(const std::vector<std::u16string>& relativeNames) {
    if (relativeNames.empty()) return false;
    const std::u16string first = Path(relativeNames.front());
    if (::GetFileAttributesW(Long(first).c_str()) == INVALID_FILE_ATTRIBUTES)
        PutFile(relativeNames.front(), {});
    for (std::size_t i = 1; i < relativeNames.size(); ++i) {
        const std::u16string link = Path(relativeNames[i]);
        MakeFolders(link.substr(0, link.rfind(u'\\')));
        if (!::CreateHardLinkW(Long(link).c_str(), Long(first).c_str(), nullptr)) return false;
    }
    return true;
}

bool FileFixture::MountVolume(std::u16string_view relativeFolder) {
    wchar_t volume[64] = {};
    if (!::GetVolumeNameForVolumeMountPointW(L"C:\\", volume, 64)) return false;
    const std::wstring folder = Wide(Path(relativeFolder)) + L"\\";
    MakeFolders(Path(relativeFolder));
    if (!::SetVolumeMountPointW(folder.c_str(), volume)) return false;
    m_impl->mounts.push_back(folder);
    return true;
}

void FileFixture::SetCurrentFolder(std::u16string_view path) {
    EXPECT_TRUE(::SetCurrentDirectoryW(Wide(path).c_str())) << ::GetLastError();
}

}  // namespace qorvex::test
