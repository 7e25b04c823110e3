#include "machine.h"

#include <cstdio>
#include <stdexcept>

namespace winsim::detail {

namespace {

// Every call that can be made to fail. Calls whose failure Windows does not report (towlower,
// CoTaskMemFree, the last-error pair) are not in it.
constexpr std::string_view kInjectableCalls[] = {
    "GetProcessHeap",   "HeapAlloc",   "HeapFree",     "DisableThreadLibraryCalls",
    "mbrtowc",          "wcrtomb_s",   "RegGetValueW", "SHGetKnownFolderPath",
    "CreateFileW",      "GetFileSize", "ReadFile",     "CloseHandle",
    "StringCchPrintfW",
};

}  // namespace

Machine& TheMachine() {
    static Machine* machine = [] {
        auto* m = new Machine;
        m->state = DefaultState();
        return m;
    }();
    return *machine;
}

MachineState DefaultState() {
    MachineState state;
    state.windowsDirectory = u"C:\\Windows";
    state.knownFolders.push_back({win::FOLDERID_Windows, state.windowsDirectory});
    AddDirectoryTree(state, state.windowsDirectory);
    return state;
}

std::optional<std::uint32_t> TakeFault(Machine& machine, std::string_view call) {
    if (machine.faults.empty()) return std::nullopt;
    auto it = machine.faults.find(call);
    if (it == machine.faults.end()) return std::nullopt;
    Fault& fault = it->second;
    const std::uint32_t error = fault.error;
    switch (fault.mode) {
        case FaultMode::Always:
            return error;
        case FaultMode::Once:
            machine.faults.erase(it);
            machine.anyFault = !machine.faults.empty();
            return error;
        case FaultMode::Nth:
            if (fault.remaining > 1) {
                --fault.remaining;
                return std::nullopt;
            }
            machine.faults.erase(it);
            machine.anyFault = !machine.faults.empty();
            return error;
    }
    return std::nullopt;
}

void Record(Machine& machine, std::string_view call, std::string args, std::string result) {
    if (!machine.journalOn) return;
    machine.journal.push_back({std::string(call), std::move(args), std::move(result)});
}

std::string Quote(const char16_t* text) {
    if (text == nullptr) return "null";
    return Quote(std::u16string_view(text));
}

std::string Quote(std::u16string_view text) {
    // Appended in place: g++ 12 at -O3 misreads `"\"" + std::string` (-Wrestrict).
    std::string quoted(1, '"');
    quoted += ToUtf8(text);
    quoted += '"';
    return quoted;
}

std::string Hex(std::uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Pointer(const void* p) {
    if (p == nullptr) return "null";
    return Hex(reinterpret_cast<std::uintptr_t>(p));
}

std::string BoolResult(bool ok, win::DWORD error) {
    if (ok) return "TRUE";
    return "FALSE (error " + std::to_string(error) + ")";
}

// ---- Paths -----------------------------------------------------------------------------------

char16_t FoldChar(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
    if (c < 0x80) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    return c;
}

std::u16string Fold(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) c = FoldChar(c);
    return folded;
}

std::optional<std::u16string> CanonicalPath(std::u16string_view path) {
    if (path.substr(0, 4) == u"\\\\?\\" || path.substr(0, 4) == u"\\??\\") path.remove_prefix(4);
    if (path.size() < 2 || path[1] != u':') return std::nullopt;
    const char16_t drive = path[0];
    if (!((drive >= u'A' && drive <= u'Z') || (drive >= u'a' && drive <= u'z')))
        return std::nullopt;
    if (path.size() > 2 && path[2] != u'\\' && path[2] != u'/')
        return std::nullopt;  // drive-relative

    std::vector<std::u16string_view> parts;
    std::size_t pos = 2;
    while (pos < path.size()) {
        while (pos < path.size() && (path[pos] == u'\\' || path[pos] == u'/')) ++pos;
        std::size_t end = pos;
        while (end < path.size() && path[end] != u'\\' && path[end] != u'/') ++end;
        if (end > pos) {
            std::u16string_view part = path.substr(pos, end - pos);
            if (part == u".") {
            } else if (part == u"..") {
                if (!parts.empty()) parts.pop_back();
            } else {
                parts.push_back(part);
            }
        }
        pos = end;
    }
    std::u16string result;
    result += static_cast<char16_t>(drive >= u'a' ? drive - 0x20 : drive);
    result += u':';
    if (parts.empty()) return result + u'\\';
    for (auto part : parts) {
        result += u'\\';
        result += part;
    }
    return result;
}

std::optional<std::u16string> ParentPath(std::u16string_view canonical) {
    if (canonical.size() <= 3) return std::nullopt;
    const std::size_t slash = canonical.rfind(u'\\');
    if (slash == std::u16string_view::npos) return std::nullopt;
    if (slash == 2) return std::u16string(canonical.substr(0, 3));
    return std::u16string(canonical.substr(0, slash));
}

void AddDirectoryTree(MachineState& state, const std::u16string& canonical) {
    std::optional<std::u16string> dir = canonical;
    while (dir) {
        auto [it, inserted] = state.directories.emplace(Fold(*dir), *dir);
        if (!inserted) break;
        dir = ParentPath(*dir);
    }
}

void PutFileLocked(MachineState& state, std::u16string_view path, std::vector<std::uint8_t> bytes,
                   std::uint64_t size) {
    auto canonical = CanonicalPath(path);
    if (!canonical || canonical->size() <= 3)
        throw std::invalid_argument("winsim: not an absolute file path: " + ToUtf8(path));
    if (auto parent = ParentPath(*canonical)) AddDirectoryTree(state, *parent);
    if (size < bytes.size()) size = bytes.size();
    const std::u16string key = Fold(*canonical);
    auto it = state.files.find(key);
    if (it != state.files.end()) {
        // Keep the file's identity so that open handles see the new contents.
        it->second.file->bytes = std::move(bytes);
        it->second.file->size = size;
        return;
    }
    auto file = std::make_shared<File>();
    file->bytes = std::move(bytes);
    file->size = size;
    state.files.emplace(key, FileEntry{*canonical, std::move(file)});
}

std::u16string KeyPath(std::u16string_view subKey) {
    std::u16string path;
    std::size_t pos = 0;
    while (pos < subKey.size()) {
        while (pos < subKey.size() && subKey[pos] == u'\\') ++pos;
        std::size_t end = pos;
        while (end < subKey.size() && subKey[end] != u'\\') ++end;
        if (end > pos) {
            if (!path.empty()) path += u'\\';
            path += Fold(subKey.substr(pos, end - pos));
        }
        pos = end;
    }
    return path;
}

// ---- UTF conversions (invalid input becomes U+FFFD, never an error) ----------------------------

std::u16string ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        auto cont = [&](std::size_t k) {
            return i + k < utf8.size() && (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        };
        auto bits = [&](std::size_t k) { return static_cast<unsigned char>(utf8[i + k]) & 0x3Fu; };
        if (b0 < 0x80) {
            cp = b0;
        } else if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) {
            cp = ((b0 & 0x1Fu) << 6) | bits(1);
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
            cp = ((b0 & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
            len = 3;
            if (cp < 0x800) cp = 0xFFFD;
        } else if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
            cp = ((b0 & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        std::uint32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace winsim::detail

// ---- Public control API ----------------------------------------------------------------------

namespace winsim {

using namespace detail;

void Reset() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    m.state = DefaultState();
    m.handles.clear();
    m.faults.clear();
    m.anyFault = false;
    m.journalOn = false;
    m.journalHeap = false;
    m.journal.clear();
    m.heap.stats.peakBytesInUse = m.heap.stats.bytesInUse;
    m.heap.limit = kDefaultHeapLimit;
}

ScopedMachine::ScopedMachine() {
    Reset();
}
ScopedMachine::~ScopedMachine() {
    Reset();
}

namespace {

void SetRegistryValue(std::u16string_view subKey, std::u16string_view valueName,
                      RegistryValue value) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto& key = m.state.registry[KeyPath(subKey)];
    key.values[Fold(valueName)] = {std::u16string(valueName), std::move(value)};
}

}  // namespace

void SetRegistryDword(std::u16string_view subKey, std::u16string_view valueName,
                      std::uint32_t value) {
    RegistryValue v;
    v.type = win::REG_DWORD;
    v.dword = value;
    SetRegistryValue(subKey, valueName, std::move(v));
}

void SetRegistryString(std::u16string_view subKey, std::u16string_view valueName,
                       std::u16string_view value) {
    RegistryValue v;
    v.type = win::REG_SZ;
    v.text = value;
    SetRegistryValue(subKey, valueName, std::move(v));
}

bool RemoveRegistryValue(std::u16string_view subKey, std::u16string_view valueName) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto key = m.state.registry.find(KeyPath(subKey));
    if (key == m.state.registry.end()) return false;
    return key->second.values.erase(Fold(valueName)) != 0;
}

void SetRegistryDword(const std::string& subKey, const std::string& valueName,
                      std::uint32_t value) {
    SetRegistryDword(ToUtf16(subKey), ToUtf16(valueName), value);
}

void SetRegistryString(const std::string& subKey, const std::string& valueName,
                       const std::string& value) {
    SetRegistryString(ToUtf16(subKey), ToUtf16(valueName), ToUtf16(value));
}

bool RemoveRegistryValue(const std::string& subKey, const std::string& valueName) {
    return RemoveRegistryValue(ToUtf16(subKey), ToUtf16(valueName));
}

void SetKnownFolder(const win::GUID& id, std::u16string_view path) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto& folders = m.state.knownFolders;
    std::erase_if(folders, [&](const KnownFolder& f) { return f.id == id; });
    if (!path.empty()) folders.push_back({id, std::u16string(path)});
}

void SetKnownFolder(const win::GUID& id, const std::string& path) {
    SetKnownFolder(id, ToUtf16(path));
}

void SetWindowsDirectory(std::u16string_view path) {
    {
        Machine& m = TheMachine();
        std::lock_guard guard(m.lock);
        m.state.windowsDirectory = path;
    }
    SetKnownFolder(win::FOLDERID_Windows, path);
}

void SetWindowsDirectory(const std::string& path) {
    SetWindowsDirectory(ToUtf16(path));
}

std::u16string GetWindowsDirectory() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    return m.state.windowsDirectory;
}

void PutFile(std::u16string_view path, std::vector<std::uint8_t> bytes) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    const std::uint64_t size = bytes.size();
    PutFileLocked(m.state, path, std::move(bytes), size);
}

void PutFile(const std::string& path, std::vector<std::uint8_t> bytes) {
    PutFile(ToUtf16(path), std::move(bytes));
}

void PutSparseFile(std::u16string_view path, std::vector<std::uint8_t> bytes, std::uint64_t size) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    PutFileLocked(m.state, path, std::move(bytes), size);
}

void PutDirectory(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    if (!canonical) throw std::invalid_argument("winsim: not an absolute path: " + ToUtf8(path));
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    AddDirectoryTree(m.state, *canonical);
}

void PutDirectory(const std::string& path) {
    PutDirectory(ToUtf16(path));
}

bool RemoveFile(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    if (!canonical) return false;
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    return m.state.files.erase(Fold(*canonical)) != 0;
}

bool RemoveFile(const std::string& path) {
    return RemoveFile(ToUtf16(path));
}

bool FileExists(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    if (!canonical) return false;
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    return m.state.files.count(Fold(*canonical)) != 0;
}

bool FileExists(const std::string& path) {
    return FileExists(ToUtf16(path));
}

bool DirectoryExists(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    if (!canonical) return false;
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    return m.state.directories.count(Fold(*canonical)) != 0;
}

std::size_t OpenHandleCount() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    return m.handles.size();
}

// ---- Faults ----------------------------------------------------------------------------------

void InjectFault(std::string_view call, FaultMode mode, std::uint32_t n, std::uint32_t error) {
    bool known = false;
    for (auto name : kInjectableCalls) known = known || name == call;
    if (!known)
        throw std::invalid_argument("winsim: no injectable call named " + std::string(call));
    if (mode == FaultMode::Nth && n == 0)
        throw std::invalid_argument("winsim: FaultMode::Nth counts from 1");
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    Fault fault;
    fault.mode = mode;
    fault.remaining = mode == FaultMode::Nth ? n : 1;
    fault.error = error;
    m.faults.insert_or_assign(std::string(call), fault);
    m.anyFault = true;
}

void ClearFault(std::string_view call) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto it = m.faults.find(call);
    if (it != m.faults.end()) m.faults.erase(it);
    m.anyFault = !m.faults.empty();
}

void ClearFaults() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    m.faults.clear();
    m.anyFault = false;
}

std::vector<std::string> InjectableCalls() {
    return {std::begin(kInjectableCalls), std::end(kInjectableCalls)};
}

ScopedFault::ScopedFault(std::string_view call, FaultMode mode, std::uint32_t n,
                         std::uint32_t error)
    : m_call(call) {
    InjectFault(call, mode, n, error);
}

ScopedFault::~ScopedFault() {
    ClearFault(m_call);
}

// ---- Journal ---------------------------------------------------------------------------------

void EnableJournal(bool on, bool includeHeap) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    m.journalOn = on;
    m.journalHeap = on && includeHeap;
}

std::vector<JournalEntry> Journal() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    return m.journal;
}

std::vector<std::string> JournalCalls() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    std::vector<std::string> calls;
    calls.reserve(m.journal.size());
    for (const auto& entry : m.journal) calls.push_back(entry.call);
    return calls;
}

void ClearJournal() {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    m.journal.clear();
}

ScopedJournal::ScopedJournal(bool includeHeap) {
    ClearJournal();
    EnableJournal(true, includeHeap);
}

ScopedJournal::~ScopedJournal() {
    EnableJournal(false);
}

std::u16string Utf16FromUtf8(std::string_view text) {
    return ToUtf16(text);
}
std::string Utf8FromUtf16(std::u16string_view text) {
    return ToUtf8(text);
}

}  // namespace winsim
