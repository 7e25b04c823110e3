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

bool IsAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// A server or share name Windows can look for.
bool IsShareNamePart(std::u16string_view part) {
    if (part.empty()) return false;
    for (const char16_t c : part)
        if (c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
            c == u'>' || c == u'|')
            return false;
    return true;
}

// The volume path GetVolumePathNameW answers for a name, or the error it fails with.
struct VolumePath {
    std::u16string path;
    win::DWORD error = 0;
};

VolumePath VolumePathOf(const Win32Name& name) {
    switch (name.target) {
        case NameTarget::Unc: {
            // Every well-formed share answers as its own volume; the simulated machine has no
            // network to ask whether it exists.
            if (!IsShareNamePart(name.server) || !IsShareNamePart(name.share))
                return {{}, win::ERROR_INVALID_NAME};
            return {name.prefix + name.server + u'\\' + name.share + u'\\'};
        }
        case NameTarget::Device:
        case NameTarget::Volume:
            // A device or a volume GUID name that does not exist (the machine has none).
            return {{}, win::ERROR_INVALID_NAME};
        case NameTarget::Object: {
            // Names in the NT namespace get the volume of the current folder, as relative names
            // do; any other name of the \?? folder is malformed for a volume path.
            if (Fold(name.object) != u"globalroot") return {{}, win::ERROR_INVALID_NAME};
            return {winsim::files::VolumeRootOf(winsim::files::CurrentDirectory())};
        }
        case NameTarget::Drive:
            break;
    }
    const char16_t upper = static_cast<char16_t>(name.drive & ~0x20);
    if (!IsAsciiLetter(name.drive) ||
        !winsim::files::DirectoryExists(std::u16string{upper, u':', u'\\'}))
        return {{}, win::ERROR_FILE_NOT_FOUND};
    std::u16string canonical{upper, u':'};
    canonical += name.path.empty() ? u"\\" : name.path;
    if (canonical.size() > 3 && canonical.back() == u'\\') canonical.pop_back();
    std::u16string root = winsim::files::VolumeRootOf(canonical);
    // Names written with a prefix keep their drive letter as written; the others answer it
    // in upper case.
    if (!name.prefix.empty()) root[0] = name.drive;
    return {name.prefix + root};
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
            const winsim::files::Place place = winsim::files::FindPlace(name);
            if (place.error != 0) return Fail(place.error, INVALID_FILE_ATTRIBUTES);
            if (!place.exists) return Fail(win::ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
            const std::u16string key = Fold(place.canonical);
            // A folder where a volume is mounted is a reparse point (a mount point).
            const bool reparse = ReparsePoints().count(key) != 0 ||
                                 (place.directory && winsim::files::IsMountFolder(place.canonical));
            return (place.directory ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_ARCHIVE) |
                   (reparse ? win::FILE_ATTRIBUTE_REPARSE_POINT : 0);
        });
}

win::BOOL win::GetVolumePathNameW(win::LPCWSTR fileName, win::LPWSTR volumePathName,
                                  win::DWORD bufferLength) {
    return Simulate<&win::GetVolumePathNameW>(
        {fileName, volumePathName, bufferLength},
        [&] { return Quote(fileName) + ", " + std::to_string(bufferLength); },
        [&]() -> win::BOOL {
            if (fileName == nullptr || volumePathName == nullptr || bufferLength == 0)
                return Fail(win::ERROR_INVALID_PARAMETER, win::FALSE);
            const std::u16string_view text(fileName);
            // An empty name fails without an error, as Microsoft documents it.
            if (text.empty()) return Fail(win::ERROR_SUCCESS, win::FALSE);
            if (text.size() >= winsim::files::kLongestName)
                return Fail(win::ERROR_PATH_NOT_FOUND, win::FALSE);
            const Win32Name name =
                ReadWin32Name(text, winsim::files::CurrentDirectory(), NameReader::FullPath);
            if (const win::DWORD error = winsim::files::PathLengthError(text, name))
                return Fail(error, win::FALSE);
            const VolumePath volume = VolumePathOf(name);
            if (volume.error != 0) return Fail(volume.error, win::FALSE);
            // A buffer one character short gets the volume path without its final separator.
            std::u16string_view answer = volume.path;
            if (answer.size() + 1 > bufferLength) answer.remove_suffix(1);
            if (answer.size() + 1 > bufferLength)
                return Fail(win::ERROR_FILENAME_EXCED_RANGE, win::FALSE);
            std::copy(answer.begin(), answer.end(), volumePathName);
            volumePathName[answer.size()] = u'\0';
            return win::TRUE;
        });
}
