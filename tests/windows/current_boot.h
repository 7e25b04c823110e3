// The measured-boot state of the real (or Wine's) machine for one test: a log as the only
// archived log of boot 1, with the counters in HKLM and the file in the Windows folder;
// the values and the file are removed again at the end. Windows builds of the portable tests only.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qorvex::test {

class WindowsCurrentBoot {
public:
    static constexpr std::uint32_t kBootCount = 1;

    explicit WindowsCurrentBoot(const std::vector<std::uint8_t>& log) {
        SetCounter(L"System\\CurrentControlSet\\services\\TPM", L"OsBootCount", kBootCount);
        SetCounter(L"System\\CurrentControlSet\\Control\\IntegrityServices", L"OsResumeCount", 0);
        wchar_t windows[MAX_PATH] = {};
        EXPECT_NE(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
        std::wstring folder = std::wstring(windows) + L"\\Logs";
        CreateDirectoryW(folder.c_str(), nullptr);
        folder += L"\\MeasuredBoot";
        CreateDirectoryW(folder.c_str(), nullptr);
        m_file = folder + L"\\0000000001-0000000000.log";
        HANDLE file = CreateFileW(m_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, log.data(), static_cast<DWORD>(log.size()), &written, nullptr));
        EXPECT_EQ(written, log.size());
        CloseHandle(file);
    }
    WindowsCurrentBoot(const WindowsCurrentBoot&) = delete;
    WindowsCurrentBoot& operator=(const WindowsCurrentBoot&) = delete;
    ~WindowsCurrentBoot() {
        DeleteFileW(m_file.c_str());
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\services\\TPM",
                           L"OsBootCount");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE,
                           L"System\\CurrentControlSet\\Control\\IntegrityServices",
                           L"OsResumeCount");
    }

private:
    static void SetCounter(const wchar_t* subKey, const wchar_t* name, DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::wstring m_file;
};

}  // namespace qorvex::test
