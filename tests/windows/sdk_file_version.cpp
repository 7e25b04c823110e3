// Prints the version resource of a Windows file as Windows' own version API reads it:
//   file_version FILE   ->   fixed 0.2.0.0 / FileVersion 0.2.0.0 / ProductVersion 0.2.0.0
// Exits 1 when the file has no readable version resource.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

void PrintString(const std::vector<BYTE>& data, const wchar_t* name) {
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\040904b0\\%ls", name);
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), query, &value, &length) && length > 0)
        std::printf("%ls %ls\n", name, static_cast<const wchar_t*>(value));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: file_version FILE\n");
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, data.data())) {
        std::fprintf(stderr, "no version resource (error %lu)\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        std::fprintf(stderr, "no fixed version information\n");
        return 1;
    }
    std::printf("fixed %u.%u.%u.%u\n", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));
    PrintString(data, L"FileVersion");
    PrintString(data, L"ProductVersion");
    return 0;
}
