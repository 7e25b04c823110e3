// GetFileAttributesW for the files room, and the reparse points (junctions, mount points,
// symbolic links) the machine carries: which folders and files have FILE_ATTRIBUTE_REPARSE_POINT,
// from winsim::SetReparsePoint and machine.json's "reparsePoints".
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
