// Loads a machine directory: machine.json, whose top-level members go to the rooms that
// registered them, plus the folders that rooms read (the drive folders). The format is
// described in the machine directory notes of the README.
#include <algorithm>
#include <fstream>
#include <system_error>

#include <utf/codec.h>

#include "core/core.h"
#include "core/json.h"
#include "core/paths.h"

namespace winsim::core {

namespace {

using detail::json::Value;
namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxJsonBytes = 16u << 20;

struct RegisteredMember {
    std::string_view name;
    int phase;
    MemberLoader load;
};

std::vector<RegisteredMember>& Members() {
    static auto* members = new std::vector<RegisteredMember>;
    return *members;
}

std::vector<FoldersLoader>& FolderLoaders() {
    static auto* loaders = new std::vector<FoldersLoader>;
    return *loaders;
}

// Thrown inside the loader only; LoadMachineDirectory turns it into the returned message.
struct LoadError {
    std::string message;
};

}  // namespace

MemberRegistration::MemberRegistration(std::string_view name, int phase, MemberLoader load) {
    for (const auto& member : Members())
        if (member.name == name) DuplicateRegistration("machine.json member", name);
    Members().push_back({name, phase, load});
}

FoldersRegistration::FoldersRegistration(FoldersLoader load) {
    FolderLoaders().push_back(load);
}

Loading::Loading(std::string jsonName, std::filesystem::path directory)
    : m_jsonName(std::move(jsonName)), m_directory(std::move(directory)) {}

void Loading::Fail(const Value& at, const std::string& message) const {
    throw LoadError{m_jsonName + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) +
                    ": " + message};
}

void Loading::FailWith(std::string message) const {
    throw LoadError{std::move(message)};
}

const Value& Loading::Expect(const Value& value, Value::Kind kind, const std::string& what) const {
    if (value.kind != kind)
        Fail(value, what + " must be " + detail::json::KindName(kind) + ", not " +
                        detail::json::KindName(value.kind));
    return value;
}

std::u16string Loading::AbsolutePath(const Value& value, const std::string& what) const {
    Expect(value, Value::Kind::String, what);
    auto canonical = CanonicalPath(utf::ToUtf16(value.text));
    if (!canonical)
        Fail(value, what + " must be an absolute path with a drive letter, like C:\\\\Windows");
    return *canonical;
}

std::uint32_t Loading::Dword(const Value& value) const {
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

std::vector<std::uint8_t> Loading::ReadHostFile(const fs::path& path, std::uintmax_t limit) const {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) FailWith(path.string() + ": cannot read: " + ec.message());
    if (size > limit)
        FailWith(path.string() + ": file too large (" + std::to_string(size) + " bytes)");
    std::ifstream in(path, std::ios::binary);
    if (!in) FailWith(path.string() + ": cannot open");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size != 0 &&
        !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
        FailWith(path.string() + ": read failed");
    return bytes;
}

std::string LoadMachineDirectory(const std::string& directory) {
    Lock lock(MachineLock());
    ResetMachine();
    const fs::path dir(directory);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return directory + ": not a machine directory (no such folder)";
    const fs::path jsonPath = dir / "machine.json";
    if (!fs::exists(jsonPath, ec)) return jsonPath.string() + ": not found";

    const Loading loading(jsonPath.string(), dir);
    try {
        const std::vector<std::uint8_t> bytes = loading.ReadHostFile(jsonPath, kMaxJsonBytes);
        Value root;
        detail::json::Error parseError;
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (!detail::json::Parse(text, root, parseError))
            loading.FailWith(jsonPath.string() + ":" + std::to_string(parseError.line) + ":" +
                             std::to_string(parseError.column) + ": " + parseError.message);
        loading.Expect(root, Value::Kind::Object, "the machine description");

        // Members in rising phase, file order within a phase; members no room registered are
        // ignored, so that descriptions can carry what later versions read.
        struct Pending {
            const RegisteredMember* member;
            const Value* value;
        };
        std::vector<Pending> pending;
        for (const auto& [name, value] : root.members)
            for (const auto& member : Members())
                if (member.name == name) pending.push_back({&member, &value});
        std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
            return a.member->phase < b.member->phase;
        });
        for (const Pending& p : pending) p.member->load(*p.value, loading);
        for (FoldersLoader load : FolderLoaders()) load(loading);
    } catch (const LoadError& e) {
        ResetMachine();
        return e.message;
    } catch (const std::exception& e) {
        ResetMachine();
        return jsonPath.string() + ": " + e.what();
    }
    return {};
}

}  // namespace winsim::core
