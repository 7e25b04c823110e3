// GetFileAttributesW and GetVolumePathNameW for the files room, and the reparse points
// (junctions, mount points, symbolic links) the machine carries: which folders and files have
// FILE_ATTRIBUTE_REPARSE_POINT, from winsim::SetReparsePoint and machine.json's "reparsePoints".
// Volumes mounted in folders are volumes.cpp's; reparse points alone mount no volume.
#include <algorithm>
#include <set>
#include <stdexcept>

#include <utf/codec.h>
#include <win/files.h>
#include <win/system_info.h>

#include "core/json.h"
#include "core/paths.h"
#include "files/file_attributes.h"
#include "files/files.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;

// Without the "\\?\" prefix Win32 paths stop at MAX_PATH characters, terminator included.
constexpr std::size_t kMaxPath = 260;

std::set<std::u16string>& ReparsePoints() {
    static auto* points = new std::set<std::u16string>;  // folded canonical paths
    return *points;
}

void ResetReparsePoints() {
    ReparsePoints().clear();
}

QORVEX_SIM_ROOM(reparse_points, 0, ResetReparsePoints);

void LoadReparsePoints(const Value& value, const Loading& loading) {
    loading.Expect(value, Value::Kind::Array, "\"reparsePoints\"");
    for (const Value& item : value.items)
        winsim::files::SetReparsePoint(loading.AbsolutePath(item, "a reparse point"), true);
}

QORVEX_SIM_MACHINE_MEMBER("reparsePoints", 0, LoadReparsePoints);

bool IsLongForm(std::u16string_view path) {
    return path.substr(0, 4) == u"\\\\?\\";
}

}  // namespace

QORVEX_SIM_CALL(GetFileAttributesW, Channel::LastError, INVALID_FILE_ATTRIBUTES);
QORVEX_SIM_CALL(GetVolumePathNameW, Channel::LastError, FALSE);

namespace winsim::files {

void SetReparsePoint(std::u16string_view path, bool reparsePoint) {
    const auto canonical = CanonicalPath(path);
    if (!canonical)
        throw std::invalid_argument("winsim: not an absolute path: " + utf::ToUtf8(path));
    if (!reparsePoint) {
        ReparsePoints().erase(Fold(*canonical));
        return;
    }
    // A reparse point that names nothing yet becomes a folder, as a junction is one.
    if (!FileExists(*canonical) && !DirectoryExists(*canonical)) PutDirectory(*canonical);
    ReparsePoints().insert(Fold(*canonical));
}

bool IsReparsePoint(std::u16string_view path) {
    const auto canonical = CanonicalPath(path);
    return canonical && ReparsePoints().count(Fold(*canonical)) != 0;
}

}  // namespace winsim::files

win::DWORD win::GetFileAttributesW(win::LPCWSTR name) {
    return Simulate<&win::GetFileAttributesW>(
        {name}, [&] { return Quote(name); },
        [&]() -> win::DWORD {
            if (name == nullptr) return Fail(win::ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
            const std::u16string_view path(name);
            if (path.empty()) return Fail(win::ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
            // Windows without long-path support fails such a path as if its folder were missing.
            if (!IsLongForm(path) && path.size() + 1 > kMaxPath)
                return Fail(win::ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
            // The simulated machine has drives only: no network, no devices, no current folder.
            const auto canonical = CanonicalPath(path);
            if (!canonical) {
                const bool network = path.substr(0, 2) == u"\\\\" && !IsLongForm(path);
                return Fail(network ? win::ERROR_BAD_NETPATH : win::ERROR_PATH_NOT_FOUND,
                            INVALID_FILE_ATTRIBUTES);
            }
            const win::DWORD reparse = ReparsePoints().count(Fold(*canonical)) != 0
                                           ? win::FILE_ATTRIBUTE_REPARSE_POINT
                                           : 0;
            if (winsim::files::DirectoryExists(*canonical))
                return win::FILE_ATTRIBUTE_DIRECTORY | reparse;
            if (winsim::files::FileExists(*canonical)) return win::FILE_ATTRIBUTE_ARCHIVE | reparse;
            const auto parent = ParentPath(*canonical);
            if (parent && winsim::files::DirectoryExists(*parent))
                return Fail(win::ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
            return Fail(win::ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
        });
}

win::BOOL win::GetVolumePathNameW(win::LPCWSTR fileName, win::LPWSTR volumePathName,
                                  win::DWORD bufferLength) {
    return Simulate<&win::GetVolumePathNameW>(
        {fileName, volumePathName, bufferLength},
        [&] { return Quote(fileName) + ", " + std::to_string(bufferLength); },
        [&]() -> win::BOOL {
            if (fileName == nullptr || fileName[0] == u'\0' || volumePathName == nullptr ||
                bufferLength == 0)
                return Fail(win::ERROR_INVALID_PARAMETER, win::FALSE);
            std::u16string_view path(fileName);
            std::u16string root;
            if (IsLongForm(path)) {
                root = u"\\\\?\\";
                path.remove_prefix(4);
            }
            const auto canonical = CanonicalPath(path);
            if (!canonical) {
                const bool network = path.substr(0, 2) == u"\\\\";
                return Fail(network ? win::ERROR_BAD_NETPATH : win::ERROR_PATH_NOT_FOUND,
                            win::FALSE);
            }
            // The file need not exist, its drive must.
            const std::u16string drive = canonical->substr(0, 3);
            if (!winsim::files::DirectoryExists(drive))
                return Fail(win::ERROR_FILE_NOT_FOUND, win::FALSE);
            root += winsim::files::VolumeRootOf(*canonical);
            if (root.size() + 1 > bufferLength)
                return Fail(win::ERROR_FILENAME_EXCED_RANGE, win::FALSE);
            std::copy(root.begin(), root.end(), volumePathName);
            volumePathName[root.size()] = u'\0';
            return win::TRUE;
        });
}
