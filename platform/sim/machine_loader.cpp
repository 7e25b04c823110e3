// Loads a machine directory: machine.json plus drive folders (C/Windows/... becomes
// C:\Windows\...). The format is described in the machine directory notes of the README.
#include "json.h"
#include "machine.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace winsim {

namespace {

using detail::MachineState;
using detail::json::Value;
namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxJsonBytes = 16u << 20;
constexpr std::uintmax_t kMaxFileBytes = 256u << 20;

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

// Thrown inside the loader only; LoadMachineDirectory turns it into the returned message.
struct LoadError {
    std::string message;
};

class Loader {
public:
    explicit Loader(std::string jsonName) : m_jsonName(std::move(jsonName)) {}

    [[noreturn]] void Fail(const Value& at, const std::string& message) const {
        throw LoadError{m_jsonName + ":" + std::to_string(at.line) + ":" +
                        std::to_string(at.column) + ": " + message};
    }

    const Value& Expect(const Value& value, Value::Kind kind, const std::string& what) const {
        if (value.kind != kind)
            Fail(value, what + " must be " + detail::json::KindName(kind) + ", not " +
                            detail::json::KindName(value.kind));
        return value;
    }

    std::u16string AbsolutePath(const Value& value, const std::string& what) const {
        Expect(value, Value::Kind::String, what);
        auto canonical = detail::CanonicalPath(detail::ToUtf16(value.text));
        if (!canonical)
            Fail(value, what + " must be an absolute path with a drive letter, like C:\\\\Windows");
        return *canonical;
    }

    void Apply(const Value& root, MachineState& state) const {
        Expect(root, Value::Kind::Object, "the machine description");
        // Unknown members are ignored: later versions of the format add to it.
        if (const Value* dir = root.Find("windowsDirectory")) {
            const std::u16string path = AbsolutePath(*dir, "\"windowsDirectory\"");
            state.windowsDirectory = path;
            SetFolder(state, win::FOLDERID_Windows, path);
            detail::AddDirectoryTree(state, path);
        }
        if (const Value* folders = root.Find("knownFolders")) ApplyKnownFolders(*folders, state);
        if (const Value* registry = root.Find("registry")) ApplyRegistry(*registry, state);
    }

private:
    static void SetFolder(MachineState& state, const win::GUID& id, const std::u16string& path) {
        std::erase_if(state.knownFolders, [&](const detail::KnownFolder& f) { return f.id == id; });
        if (!path.empty()) state.knownFolders.push_back({id, path});
    }

    static bool ParseGuid(const std::string& text, win::GUID& id) {
        unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
        int consumed = 0;
        if (text.size() != 38 ||
            std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d1, &d2, &d3,
                        &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &consumed) != 11 ||
            consumed != 38)
            return false;
        id.Data1 = d1;
        id.Data2 = static_cast<std::uint16_t>(d2);
        id.Data3 = static_cast<std::uint16_t>(d3);
        for (int i = 0; i < 8; ++i) id.Data4[i] = static_cast<std::uint8_t>(b[i]);
        return true;
    }

    void ApplyKnownFolders(const Value& folders, MachineState& state) const {
        Expect(folders, Value::Kind::Object, "\"knownFolders\"");
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
                Fail(value,
                     "unknown known folder \"" + name +
                         "\" (use a GUID like {F38BF404-1D43-42F2-9305-67DE0B28FC23} or one of "
                         "Windows, System, ProgramFiles, ProgramData)");
            if (value.kind == Value::Kind::Null) {
                SetFolder(state, id, u"");  // the folder is not set on this machine
                continue;
            }
            SetFolder(state, id, AbsolutePath(value, "known folder \"" + name + "\""));
        }
    }

    std::uint32_t Dword(const Value& value) const {
        if (value.kind == Value::Kind::String && value.text.size() > 2 &&
            (value.text.substr(0, 2) == "0x" || value.text.substr(0, 2) == "0X")) {
            std::uint64_t n = 0;
            for (std::size_t i = 2; i < value.text.size(); ++i) {
                const char c = value.text[i];
                int digit = -1;
                if (c >= '0' && c <= '9') digit = c - '0';
                if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
                if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
                if (digit < 0 || i > 9)
                    Fail(value, "a DWORD in hexadecimal is 0x and 1 to 8 hex digits");
                n = n * 16 + static_cast<std::uint64_t>(digit);
            }
            return static_cast<std::uint32_t>(n);
        }
        if (value.kind != Value::Kind::Number)
            Fail(value, "a DWORD value must be a number or a \"0x...\" string, not " +
                            std::string(detail::json::KindName(value.kind)));
        std::uint64_t n = 0;
        for (char c : value.text) {
            if (c < '0' || c > '9')
                Fail(value, "a DWORD value must be a whole number from 0 to 4294967295");
            n = n * 10 + static_cast<std::uint64_t>(c - '0');
            if (n > 0xFFFFFFFFu)
                Fail(value, "a DWORD value must be a whole number from 0 to 4294967295");
        }
        return static_cast<std::uint32_t>(n);
    }

    void ApplyRegistry(const Value& registry, MachineState& state) const {
        Expect(registry, Value::Kind::Object, "\"registry\"");
        for (const auto& [keyName, values] : registry.members) {
            std::string_view path = keyName;
            bool hklm = false;
            for (std::string_view root : {"HKLM\\", "HKEY_LOCAL_MACHINE\\"}) {
                if (path.size() >= root.size() &&
                    detail::Fold(detail::ToUtf16(path.substr(0, root.size()))) ==
                        detail::Fold(detail::ToUtf16(root))) {
                    path.remove_prefix(root.size());
                    hklm = true;
                    break;
                }
            }
            if (!hklm)
                Fail(values,
                     "registry key \"" + keyName +
                         "\" must start with HKLM\\\\ (only HKEY_LOCAL_MACHINE is simulated)");
            Expect(values, Value::Kind::Object, "registry key \"" + keyName + "\"");
            auto& key = state.registry[detail::KeyPath(detail::ToUtf16(path))];
            for (const auto& [valueName, value] : values.members) {
                detail::RegistryValue stored;
                if (value.kind == Value::Kind::Number) {
                    stored.type = win::REG_DWORD;
                    stored.dword = Dword(value);
                } else if (value.kind == Value::Kind::String) {
                    stored.type = win::REG_SZ;
                    stored.text = detail::ToUtf16(value.text);
                } else if (value.kind == Value::Kind::Object && value.members.size() == 1 &&
                           value.Find("dword") != nullptr) {
                    stored.type = win::REG_DWORD;
                    stored.dword = Dword(*value.Find("dword"));
                } else if (value.kind == Value::Kind::Object && value.members.size() == 1 &&
                           value.Find("string") != nullptr) {
                    stored.type = win::REG_SZ;
                    stored.text = detail::ToUtf16(
                        Expect(*value.Find("string"), Value::Kind::String, "\"string\"").text);
                } else {
                    Fail(
                        value,
                        "registry value \"" + valueName +
                            "\" must be a number (REG_DWORD), a string (REG_SZ), {\"dword\": n} or "
                            "{\"string\": \"...\"}");
                }
                const std::u16string name = detail::ToUtf16(valueName);
                key.values[detail::Fold(name)] = {name, std::move(stored)};
            }
        }
    }

    std::string m_jsonName;
};

std::string ReadWholeFile(const fs::path& path, std::uintmax_t limit,
                          std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return path.string() + ": cannot read: " + ec.message();
    if (size > limit)
        return path.string() + ": file too large (" + std::to_string(size) + " bytes)";
    std::ifstream in(path, std::ios::binary);
    if (!in) return path.string() + ": cannot open";
    bytes.resize(static_cast<std::size_t>(size));
    if (size != 0 &&
        !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
        return path.string() + ": read failed";
    return {};
}

// Copies one drive folder ("C") of the machine directory into the state as drive C:.
std::string LoadDrive(const fs::path& folder, char drive, MachineState& state) {
    const std::u16string root = std::u16string(1, static_cast<char16_t>(drive)) + u":\\";
    detail::AddDirectoryTree(state, root);
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return folder.string() + ": " + ec.message();
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) return folder.string() + ": " + ec.message();
        const fs::path relative = it->path().lexically_relative(folder);
        std::u16string path = root;
        bool first = true;
        for (const auto& part : relative) {
            if (!first) path += u'\\';
            path += detail::ToUtf16(part.string());
            first = false;
        }
        auto canonical = detail::CanonicalPath(path);
        if (!canonical) continue;
        if (it->is_directory(ec)) {
            detail::AddDirectoryTree(state, *canonical);
        } else if (it->is_regular_file(ec)) {
            std::vector<std::uint8_t> bytes;
            std::string error = ReadWholeFile(it->path(), kMaxFileBytes, bytes);
            if (!error.empty()) return error;
            const std::uint64_t size = bytes.size();
            detail::PutFileLocked(state, *canonical, std::move(bytes), size);
        }
    }
    return {};
}

}  // namespace

std::string LoadMachineDirectory(const std::string& directory) {
    Reset();
    const fs::path dir(directory);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return directory + ": not a machine directory (no such folder)";
    const fs::path jsonPath = dir / "machine.json";
    if (!fs::exists(jsonPath, ec)) return jsonPath.string() + ": not found";

    std::vector<std::uint8_t> bytes;
    std::string error = ReadWholeFile(jsonPath, kMaxJsonBytes, bytes);
    if (!error.empty()) return error;

    Value root;
    detail::json::Error parseError;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!detail::json::Parse(text, root, parseError))
        return jsonPath.string() + ":" + std::to_string(parseError.line) + ":" +
               std::to_string(parseError.column) + ": " + parseError.message;

    MachineState state = detail::DefaultState();
    try {
        Loader(jsonPath.string()).Apply(root, state);
    } catch (const LoadError& e) {
        return e.message;
    }

    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 1 || !std::isalpha(static_cast<unsigned char>(name[0])) ||
            !it->is_directory(ec))
            continue;
        error =
            LoadDrive(it->path(),
                      static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))), state);
        if (!error.empty()) return error;
    }
    if (ec) return directory + ": " + ec.message();

    detail::Machine& m = detail::TheMachine();
    std::lock_guard guard(m.lock);
    m.state = std::move(state);
    return {};
}

}  // namespace winsim
