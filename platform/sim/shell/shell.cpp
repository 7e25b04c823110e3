// The shell room: known folders and COM task memory of the simulated machine, and the
// "windowsDirectory" and "knownFolders" members of machine.json.
#include "shell/shell.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include <utf/codec.h>

#include "core/json.h"
#include "core/paths.h"
#include "files/files.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;

struct KnownFolder {
    win::GUID id;
    std::u16string path;
};

struct ShellState {
    std::u16string windowsDirectory;
    std::vector<KnownFolder> knownFolders;
    std::unordered_map<void*, std::size_t> taskBlocks;
    std::uint64_t invalidFrees = 0;
};

ShellState& State() {
    static auto* state = new ShellState;
    return *state;
}

// Windows folder C:\Windows, also FOLDERID_Windows; no other known folder. COM task blocks
// handed out stay valid (and counted) across a reset, as heap blocks do.
void ResetShell() {
    ShellState& state = State();
    state.windowsDirectory.clear();
    state.knownFolders.clear();
    winsim::shell::SetWindowsDirectory(u"C:\\Windows");
}

// After the files room, whose reset empties the file system this one creates a folder in.
QORVEX_SIM_ROOM(shell, 1, ResetShell);

struct NamedFolder {
    const char* name;
    win::GUID id;
};

// Known folders that machine.json may name instead of writing their GUIDs.
constexpr NamedFolder kNamedFolders[] = {
    {"Windows", win::FOLDERID_Windows},
    {"System", {0x1AC14E77, 0x02E7, 0x4E5D, {0xB7, 0x44, 0x2E, 0xB1, 0xAE, 0x51, 0x98, 0xB7}}},
    {"ProgramFiles",
     {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}}},
    {"ProgramData", {0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}}},
};

bool ParseGuid(const std::string& text, win::GUID& id) {
    unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
    int consumed = 0;
    if (text.size() != 38 ||
        std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d1, &d2, &d3, &b[0],
                    &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &consumed) != 11 ||
        consumed != 38)
        return false;
    id.Data1 = d1;
    id.Data2 = static_cast<std::uint16_t>(d2);
    id.Data3 = static_cast<std::uint16_t>(d3);
    for (int i = 0; i < 8; ++i) id.Data4[i] = static_cast<std::uint8_t>(b[i]);
    return true;
}

void LoadWindowsDirectory(const Value& value, const Loading& loading) {
    winsim::shell::SetWindowsDirectory(loading.AbsolutePath(value, "\"windowsDirectory\""));
}

void LoadKnownFolders(const Value& folders, const Loading& loading) {
    loading.Expect(folders, Value::Kind::Object, "\"knownFolders\"");
    for (const auto& [name, value] : folders.members) {
        win::GUID id{};
        bool found = ParseGuid(name, id);
        for (const auto& named : kNamedFolders) {
            if (!found && name == named.name) {
                id = named.id;
                found = true;
            }
        }
        if (!found)
            loading.Fail(value,
                         "unknown known folder \"" + name +
                             "\" (use a GUID like {F38BF404-1D43-42F2-9305-67DE0B28FC23} or one "
                             "of Windows, System, ProgramFiles, ProgramData)");
        if (value.kind == Value::Kind::Null) {
            winsim::shell::SetKnownFolder(id, u"");  // the folder is not set on this machine
            continue;
        }
        winsim::shell::SetKnownFolder(id,
                                      loading.AbsolutePath(value, "known folder \"" + name + "\""));
    }
}

// "knownFolders" applies after "windowsDirectory", so that it can override FOLDERID_Windows.
QORVEX_SIM_MACHINE_MEMBER("windowsDirectory", 0, LoadWindowsDirectory);
QORVEX_SIM_MACHINE_MEMBER("knownFolders", 1, LoadKnownFolders);

std::string GuidText(const win::GUID& id) {
    char guid[40];
    std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.Data1,
                  id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3],
                  id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    return guid;
}

}  // namespace

QORVEX_SIM_CALL(SHGetKnownFolderPath, Channel::HResult, static_cast<HRESULT>(error));
QORVEX_SIM_CALL(CoTaskMemFree, Channel::None, 0);

namespace winsim::shell {

void SetKnownFolder(const win::GUID& id, std::u16string_view path) {
    auto& folders = State().knownFolders;
    std::erase_if(folders, [&](const KnownFolder& f) { return f.id == id; });
    if (!path.empty()) folders.push_back({id, std::u16string(path)});
}

void SetWindowsDirectory(std::u16string_view path) {
    State().windowsDirectory = path;
    SetKnownFolder(win::FOLDERID_Windows, path);
    if (CanonicalPath(path)) files::PutDirectory(path);
}

std::u16string WindowsDirectory() {
    return State().windowsDirectory;
}

TaskMemoryCounters GetTaskMemoryCounters() {
    return {State().taskBlocks.size(), State().invalidFrees};
}

}  // namespace winsim::shell

namespace win {

HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) {
    return Simulate<&SHGetKnownFolderPath>(
        {id, flags, token, path},
        [&] { return GuidText(id) + ", " + Hex(flags) + ", " + Pointer(token); },
        [&]() -> HRESULT {
            // Windows dereferences a null out pointer; the simulation refuses it.
            if (path == nullptr) return E_INVALIDARG;
            *path = nullptr;
            if ((flags & KF_FLAG_NOT_PARENT_RELATIVE) && !(flags & KF_FLAG_DEFAULT_PATH))
                return E_INVALIDARG;
            ShellState& state = State();
            auto it = std::find_if(state.knownFolders.begin(), state.knownFolders.end(),
                                   [&](const KnownFolder& f) { return f.id == id; });
            if (it == state.knownFolders.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            const std::u16string& text = it->path;
            auto* block = new (std::nothrow) char16_t[text.size() + 1];
            if (block == nullptr) return E_OUTOFMEMORY;
            std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(char16_t));
            state.taskBlocks.emplace(block, text.size() + 1);
            *path = block;
            return S_OK;
        },
        [&] {
            if (path != nullptr) *path = nullptr;
        },
        [&](const CallDescriptor&, HRESULT hr, bool) {
            // Built piece by piece: g++ 12 at -O3 misreads `" " + std::string` (-Wrestrict).
            std::string result = Hex(static_cast<std::uint32_t>(hr));
            if (SUCCEEDED(hr) && path != nullptr) {
                result += ' ';
                result += Quote(*path);
            }
            return result;
        });
}

void CoTaskMemFree(LPVOID block) {
    bool invalid = false;
    Simulate<&CoTaskMemFree>(
        {block}, [&] { return Pointer(block); },
        [&] {
            if (block == nullptr) return;
            ShellState& state = State();
            auto it = state.taskBlocks.find(block);
            if (it == state.taskBlocks.end()) {
                // Windows would corrupt its heap; the simulation counts it for tests to see.
                ++state.invalidFrees;
                invalid = true;
                return;
            }
            state.taskBlocks.erase(it);
            delete[] static_cast<char16_t*>(block);
        },
        NoAction{}, [&] { return std::string(invalid ? "invalid block" : ""); });
}

}  // namespace win
