// Volumes and hard links of the files room: folders that are mount points of further volumes
// (machine.json's "volumes", winsim::MountVolume), files with several names (machine.json's
// "hardLinks", winsim::LinkNames), and FindFirstFileNameW / FindNextFileNameW / FindClose over
// them. Every drive root is a volume of its own.
#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <unordered_map>

#include <utf/codec.h>
#include <win/files.h>

#include "core/json.h"
#include "core/paths.h"
#include "files/files.h"
#include "kernel/kernel.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;

struct VolumesState {
    std::map<std::u16string, std::u16string> mounts;  // folded canonical folder -> as mounted
    // folded canonical name -> every name of that file, canonical, in reporting order
    std::unordered_map<std::u16string, std::shared_ptr<const std::vector<std::u16string>>> links;
};

VolumesState& State() {
    static auto* state = new VolumesState;
    return *state;
}

void ResetVolumes() {
    State() = VolumesState{};
}

QORVEX_SIM_ROOM(volumes, 0, ResetVolumes);

void LoadVolumes(const Value& value, const Loading& loading) {
    loading.Expect(value, Value::Kind::Array, "\"volumes\"");
    for (const Value& item : value.items)
        winsim::files::MountVolume(loading.AbsolutePath(item, "a volume mount folder"));
}

void LoadHardLinks(const Value& value, const Loading& loading) {
    loading.Expect(value, Value::Kind::Array, "\"hardLinks\"");
    for (const Value& item : value.items) {
        loading.Expect(item, Value::Kind::Array, "a list of the names of one file");
        std::vector<std::u16string> names;
        for (const Value& name : item.items)
            names.push_back(loading.AbsolutePath(name, "a file name"));
        if (names.empty()) loading.Fail(item, "a file needs at least one name");
        try {
            winsim::files::LinkNames(names);
        } catch (const std::invalid_argument& e) {
            loading.Fail(item, e.what());
        }
    }
}

// Volumes mount before links are checked against them.
QORVEX_SIM_MACHINE_MEMBER("volumes", 0, LoadVolumes);
QORVEX_SIM_MACHINE_MEMBER("hardLinks", 1, LoadHardLinks);

// A find handle: closed by FindClose, not by CloseHandle.
struct FileNames : winsim::kernel::KernelObject {
    explicit FileNames(std::vector<std::u16string> n) : names(std::move(n)) {}
    bool ClosesWithCloseHandle() const override { return false; }
    std::vector<std::u16string> names;  // volume-relative, leading backslash
    std::size_t next = 1;               // FindFirstFileNameW reported the first
};

// Copies a name with its terminator when it fits, else ERROR_MORE_DATA with the need.
bool CopyName(const std::u16string& name, win::DWORD* length, win::PWSTR buffer) {
    const auto needed = static_cast<win::DWORD>(name.size() + 1);
    if (*length < needed || buffer == nullptr) {
        *length = needed;
        LastError() = win::ERROR_MORE_DATA;
        return false;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *length = needed;
    return true;
}

// A name as FindFirstFileNameW reports it: relative to its volume, spelled as stored.
std::u16string VolumeRelative(const std::u16string& canonical) {
    const std::u16string root = winsim::files::VolumeRootOf(canonical);
    const std::u16string spelled = winsim::files::StoredSpelling(canonical);
    return spelled.substr(root.size() - 1);  // keeps the backslash that ends the root
}

}  // namespace

QORVEX_SIM_CALL(FindFirstFileNameW, Channel::LastError, INVALID_HANDLE_VALUE);
QORVEX_SIM_CALL(FindNextFileNameW, Channel::LastError, FALSE);
QORVEX_SIM_CALL(FindClose, Channel::LastError, FALSE);

namespace winsim::files {

std::u16string VolumeRootOf(std::u16string_view canonical) {
    std::u16string folder(canonical);
    const auto& mounts = State().mounts;
    while (!mounts.empty()) {
        auto mount = mounts.find(Fold(folder));
        if (mount != mounts.end()) return mount->second + u'\\';
        auto parent = ParentPath(folder);
        if (!parent) break;
        folder = *parent;
    }
    return std::u16string(canonical.substr(0, 2)) + u'\\';
}

bool IsMountFolder(std::u16string_view canonical) {
    return State().mounts.count(Fold(canonical)) != 0;
}

void MountVolume(std::u16string_view folder) {
    const auto canonical = CanonicalPath(folder);
    if (!canonical)
        throw std::invalid_argument("winsim: not an absolute path: " + utf::ToUtf8(folder));
    if (canonical->size() <= 3) return;  // a drive root is a volume already
    PutDirectory(*canonical);
    State().mounts.emplace(Fold(*canonical), *canonical);
}

void LinkNames(const std::vector<std::u16string>& names) {
    if (names.empty()) throw std::invalid_argument("winsim: a file needs at least one name");
    std::vector<std::u16string> canonical;
    for (const auto& name : names) {
        auto path = CanonicalPath(name);
        if (!path || path->size() <= 3)
            throw std::invalid_argument("winsim: not an absolute file path: " + utf::ToUtf8(name));
        if (State().links.count(Fold(*path)) != 0)
            throw std::invalid_argument("winsim: already linked: " + utf::ToUtf8(name));
        canonical.push_back(*path);
    }
    const std::u16string volume = Fold(VolumeRootOf(canonical.front()));
    for (const auto& path : canonical)
        if (Fold(VolumeRootOf(path)) != volume)
            throw std::invalid_argument(
                "winsim: hard links cannot cross volumes: " + utf::ToUtf8(canonical.front()) +
                " and " + utf::ToUtf8(path));
    if (!FileExists(canonical.front())) PutFile(canonical.front(), {}, 0);
    for (std::size_t i = 1; i < canonical.size(); ++i)
        if (!FileExists(canonical[i])) AddFileName(canonical.front(), canonical[i]);
    auto shared = std::make_shared<const std::vector<std::u16string>>(canonical);
    for (const auto& path : canonical) State().links[Fold(path)] = shared;
}

}  // namespace winsim::files

namespace win {

using winsim::kernel::FindHandleOf;

HANDLE FindFirstFileNameW(LPCWSTR fileName, DWORD flags, DWORD* stringLength, PWSTR linkName) {
    return Simulate<&FindFirstFileNameW>(
        {fileName, flags, stringLength, linkName},
        [&] {
            return Quote(fileName) + ", " + Hex(flags) + ", " +
                   (stringLength ? std::to_string(*stringLength) : std::string("null"));
        },
        [&]() -> HANDLE {
            if (fileName == nullptr || stringLength == nullptr || flags != 0)
                return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
            const winsim::files::Place place = winsim::files::FindPlace(fileName);
            if (place.error != 0) return Fail(place.error, INVALID_HANDLE_VALUE);
            // Folders answer as they always have here: no fact says what Windows lists for one.
            if (!place.exists || place.directory)
                return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
            const std::u16string& canonical = place.canonical;
            std::vector<std::u16string> names;
            auto linked = State().links.find(Fold(canonical));
            if (linked == State().links.end()) {
                names.push_back(VolumeRelative(canonical));
            } else {
                for (const auto& name : *linked->second) names.push_back(VolumeRelative(name));
            }
            if (!CopyName(names.front(), stringLength, linkName)) return INVALID_HANDLE_VALUE;
            return winsim::kernel::AddHandle(std::make_shared<FileNames>(std::move(names)));
        });
}

BOOL FindNextFileNameW(HANDLE findStream, DWORD* stringLength, PWSTR linkName) {
    return Simulate<&FindNextFileNameW>(
        {findStream, stringLength, linkName},
        [&] {
            return Pointer(findStream) + ", " +
                   (stringLength ? std::to_string(*stringLength) : std::string("null"));
        },
        [&]() -> BOOL {
            auto* names = FindHandleOf<FileNames>(findStream);
            if (names == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
            if (stringLength == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
            if (names->next >= names->names.size()) return Fail(ERROR_HANDLE_EOF, FALSE);
            if (!CopyName(names->names[names->next], stringLength, linkName)) return FALSE;
            ++names->next;
            return TRUE;
        });
}

BOOL FindClose(HANDLE findFile) {
    return Simulate<&FindClose>(
        {findFile}, [&] { return Pointer(findFile); },
        [&]() -> BOOL {
            if (FindHandleOf<FileNames>(findFile) == nullptr)
                return Fail(ERROR_INVALID_HANDLE, FALSE);
            winsim::kernel::RemoveHandle(findFile);
            return TRUE;
        });
}

}  // namespace win
