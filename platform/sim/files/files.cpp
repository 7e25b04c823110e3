// The files room: files, folders and open files of the simulated machine, the process's current
// folder, the drive folders of a machine directory, and how a file call's name leads to a place.
//
// The simulated file system is read-only: it holds what the module reads. A call that would
// write, create, truncate or delete is judged as Windows judges it (its arguments first, then
// the name, then what the name leads to) and then refused the way a folder and files that grant
// the process read access only refuse it: ERROR_ACCESS_DENIED. That is what this machine has
// always answered for writing, what callers and descriptions may rely on, and what a process
// that is not elevated gets from Windows' own protected folders; a write-protected medium
// (ERROR_WRITE_PROTECT) would fail even opens that Windows grants such a process.
#include "files/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include <utf/codec.h>
#include <win/files.h>
#include <win/system_info.h>

#include "core/paths.h"
#include "kernel/kernel.h"

namespace {

using namespace winsim::core;

// Access rights as the I/O manager checks them, once generic rights are mapped to them.
constexpr win::DWORD kFileReadData = 0x0001;
constexpr win::DWORD kFileWriteData = 0x0002;
constexpr win::DWORD kFileAppendData = 0x0004;
constexpr win::DWORD kFileReadEa = 0x0008;
constexpr win::DWORD kFileWriteEa = 0x0010;
constexpr win::DWORD kFileExecute = 0x0020;
constexpr win::DWORD kFileDeleteChild = 0x0040;
constexpr win::DWORD kFileReadAttributes = 0x0080;
constexpr win::DWORD kFileWriteAttributes = 0x0100;
constexpr win::DWORD kDelete = 0x00010000;
constexpr win::DWORD kReadControl = 0x00020000;
constexpr win::DWORD kWriteDac = 0x00040000;
constexpr win::DWORD kWriteOwner = 0x00080000;
constexpr win::DWORD kSynchronize = 0x00100000;
constexpr win::DWORD kAccessSystemSecurity = 0x01000000;
constexpr win::DWORD kMaximumAllowed = 0x02000000;
constexpr win::DWORD kFileAllAccess = 0x001F01FF;

constexpr win::DWORD kFileGenericRead =
    kReadControl | kFileReadData | kFileReadAttributes | kFileReadEa | kSynchronize;
constexpr win::DWORD kFileGenericWrite = kReadControl | kFileWriteData | kFileWriteAttributes |
                                         kFileWriteEa | kFileAppendData | kSynchronize;
constexpr win::DWORD kFileGenericExecute =
    kReadControl | kFileReadAttributes | kFileExecute | kSynchronize;
// What the read-only file system never grants.
constexpr win::DWORD kWriteRights = kFileWriteData | kFileAppendData | kFileWriteEa |
                                    kFileDeleteChild | kFileWriteAttributes | kDelete | kWriteDac |
                                    kWriteOwner;

constexpr win::DWORD kErrorReadFault = 30;           // ERROR_READ_FAULT
constexpr win::DWORD kErrorPrivilegeNotHeld = 1314;  // ERROR_PRIVILEGE_NOT_HELD
constexpr win::DWORD kValidShareModes =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;
constexpr std::size_t kMaxPath = 260;

constexpr std::uintmax_t kMaxFileBytes = 256u << 20;
constexpr char16_t kDefaultCurrentDirectory[] = u"C:\\Windows\\System32";

// The rights an access mask asks for. MAXIMUM_ALLOWED asks for what is granted: reading.
win::DWORD MappedAccess(win::DWORD access) {
    win::DWORD mapped = access & 0x00FFFFFFu;
    if ((access & win::GENERIC_READ) != 0) mapped |= kFileGenericRead;
    if ((access & win::GENERIC_WRITE) != 0) mapped |= kFileGenericWrite;
    if ((access & win::GENERIC_EXECUTE) != 0) mapped |= kFileGenericExecute;
    if ((access & win::GENERIC_ALL) != 0) mapped |= kFileAllAccess;
    if ((access & kMaximumAllowed) != 0) mapped |= kFileGenericRead | kFileGenericExecute;
    return mapped;
}

// The share access of one file or folder as Windows counts it: the handles that read, write or
// delete, and how many of them let others do the same. Handles that do none of the three (they
// only ask for attributes) neither count nor conflict.
struct ShareAccess {
    unsigned opens = 0;
    unsigned readers = 0;
    unsigned writers = 0;
    unsigned deleters = 0;
    unsigned sharedRead = 0;
    unsigned sharedWrite = 0;
    unsigned sharedDelete = 0;

    static bool Reads(win::DWORD mapped) { return (mapped & (kFileReadData | kFileExecute)) != 0; }
    static bool Writes(win::DWORD mapped) {
        return (mapped & (kFileWriteData | kFileAppendData)) != 0;
    }
    static bool Deletes(win::DWORD mapped) { return (mapped & kDelete) != 0; }
    static bool Counts(win::DWORD mapped) {
        return Reads(mapped) || Writes(mapped) || Deletes(mapped);
    }

    bool Allows(win::DWORD mapped, win::DWORD share) const {
        if (!Counts(mapped)) return true;
        if ((Reads(mapped) && sharedRead < opens) || (Writes(mapped) && sharedWrite < opens) ||
            (Deletes(mapped) && sharedDelete < opens))
            return false;
        return !((readers > 0 && (share & win::FILE_SHARE_READ) == 0) ||
                 (writers > 0 && (share & win::FILE_SHARE_WRITE) == 0) ||
                 (deleters > 0 && (share & win::FILE_SHARE_DELETE) == 0));
    }

    void Change(win::DWORD mapped, win::DWORD share, int by) {
        if (!Counts(mapped)) return;
        const auto step = [by](unsigned& count, bool yes) {
            if (yes) count = static_cast<unsigned>(static_cast<int>(count) + by);
        };
        step(opens, true);
        step(readers, Reads(mapped));
        step(writers, Writes(mapped));
        step(deleters, Deletes(mapped));
        step(sharedRead, (share & win::FILE_SHARE_READ) != 0);
        step(sharedWrite, (share & win::FILE_SHARE_WRITE) != 0);
        step(sharedDelete, (share & win::FILE_SHARE_DELETE) != 0);
    }
};

// A file of the host whose contents a simulated file shows: read where the simulated file is
// read, so a large log is neither held in memory nor copied twice.
class HostFile {
public:
    explicit HostFile(int descriptor) noexcept : m_descriptor(descriptor) {}
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    ~HostFile() { ::close(m_descriptor); }

    // Reads count bytes at offset; a host file that has become shorter reads as zeros past its
    // end. False on a read error of the host.
    bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const noexcept {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got =
                ::pread(m_descriptor, out + done, count - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return false;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        std::memset(out + done, 0, count - done);
        return true;
    }

private:
    int m_descriptor;
};

struct File {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;  // >= bytes.size(); the tail beyond the stored bytes reads as zeros
    std::shared_ptr<const HostFile> host;  // when set, the contents (bytes is empty)
    std::shared_ptr<ShareAccess> share = std::make_shared<ShareAccess>();
};

struct FileEntry {
    std::u16string path;  // canonical, as put
    std::shared_ptr<File> file;
};

struct Directory {
    std::u16string path;  // canonical, as first created
    std::shared_ptr<ShareAccess> share = std::make_shared<ShareAccess>();
};

struct FilesState {
    std::map<std::u16string, FileEntry> files;        // folded full path -> file
    std::map<std::u16string, Directory> directories;  // folded full path -> folder
    std::u16string currentDirectory = kDefaultCurrentDirectory;
};

// An open file or folder (a folder opened with FILE_FLAG_BACKUP_SEMANTICS has no file).
struct OpenFile : winsim::kernel::KernelObject {
    OpenFile(std::shared_ptr<File> f, std::shared_ptr<ShareAccess> s, win::DWORD mapped,
             win::DWORD share, std::u16string p)
        : file(std::move(f)),
          shareAccess(std::move(s)),
          access(mapped),
          shareMode(share),
          path(std::move(p)) {
        shareAccess->Change(access, shareMode, +1);
    }
    ~OpenFile() override { shareAccess->Change(access, shareMode, -1); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    std::shared_ptr<File> file;
    std::shared_ptr<ShareAccess> shareAccess;
    std::uint64_t position = 0;
    win::DWORD access = 0;  // mapped
    win::DWORD shareMode = 0;
    std::u16string path;
};

FilesState& State() {
    static auto* state = new FilesState;
    return *state;
}

void AddDirectoryTree(const std::u16string& canonical) {
    std::optional<std::u16string> dir = canonical;
    while (dir) {
        auto [it, inserted] = State().directories.emplace(Fold(*dir), Directory{*dir});
        if (!inserted) break;
        dir = ParentPath(*dir);
    }
}

// The default machine's file system: drive C: with the current folder on it. The shell room
// adds the Windows folder.
void ResetFiles() {
    State() = FilesState{};
    AddDirectoryTree(u"C:\\");
    AddDirectoryTree(kDefaultCurrentDirectory);
}

QORVEX_SIM_ROOM(files, 0, ResetFiles);

void LoadCurrentDirectory(const winsim::detail::json::Value& value, const Loading& loading) {
    winsim::files::SetCurrentDirectory(loading.AbsolutePath(value, "\"currentDirectory\""));
}

QORVEX_SIM_MACHINE_MEMBER("currentDirectory", 0, LoadCurrentDirectory);

// Copies one drive folder ("C") of the machine directory into the machine as drive C:.
void LoadDrive(const Loading& loading, const std::filesystem::path& folder, char drive) {
    namespace fs = std::filesystem;
    const std::u16string root = std::u16string(1, static_cast<char16_t>(drive)) + u":\\";
    AddDirectoryTree(root);
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) loading.FailWith(folder.string() + ": " + ec.message());
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) loading.FailWith(folder.string() + ": " + ec.message());
        const fs::path relative = it->path().lexically_relative(folder);
        std::u16string path = root;
        bool first = true;
        for (const auto& part : relative) {
            if (!first) path += u'\\';
            path += utf::ToUtf16(part.string());
            first = false;
        }
        auto canonical = CanonicalPath(path);
        if (!canonical) continue;
        // The drive folders spell their names as the disk does, also where a member of
        // machine.json (applied before them) already named the same folder or file otherwise.
        if (it->is_directory(ec)) {
            AddDirectoryTree(*canonical);
            State().directories[Fold(*canonical)].path = *canonical;
        } else if (it->is_regular_file(ec)) {
            std::vector<std::uint8_t> bytes = loading.ReadHostFile(it->path(), kMaxFileBytes);
            const std::uint64_t size = bytes.size();
            winsim::files::PutFile(*canonical, std::move(bytes), size);
            State().files[Fold(*canonical)].path = *canonical;
        }
    }
}

// Every one-letter folder of the machine directory is a drive.
void LoadDrives(const Loading& loading) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(loading.Directory(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const char letter = name.size() == 1 ? name[0] : 0;
        const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
        if (!isLetter || !it->is_directory(ec)) continue;
        LoadDrive(loading, it->path(), static_cast<char>(letter & ~0x20));
    }
    if (ec) loading.FailWith(loading.Directory().string() + ": " + ec.message());
}

QORVEX_SIM_MACHINE_FOLDERS(LoadDrives);

bool IsAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Characters no part of a name may hold; ':' only introduces a stream, in the last part.
bool IsForbiddenInName(char16_t c) {
    return c < 0x20 || c == u'"' || c == u'*' || c == u'/' || c == u'<' || c == u'>' || c == u'?' ||
           c == u'|';
}

}  // namespace

QORVEX_SIM_CALL(CreateFileW, Channel::LastError, INVALID_HANDLE_VALUE);
QORVEX_SIM_CALL(GetFileSize, Channel::LastError, INVALID_FILE_SIZE);
QORVEX_SIM_CALL(ReadFile, Channel::LastError, FALSE);

namespace winsim::files {

namespace {

// Lock held. Creates or replaces the file at path; replacing keeps the file's identity.
void PutContents(std::u16string_view path, std::vector<std::uint8_t> bytes, std::uint64_t size,
                 std::shared_ptr<const HostFile> host) {
    auto canonical = CanonicalPath(path);
    if (!canonical || canonical->size() <= 3)
        throw std::invalid_argument("winsim: not an absolute file path: " + utf::ToUtf8(path));
    if (auto parent = ParentPath(*canonical)) AddDirectoryTree(*parent);
    if (size < bytes.size()) size = bytes.size();
    const std::u16string key = Fold(*canonical);
    auto& files = State().files;
    auto it = files.find(key);
    if (it != files.end()) {
        // Keep the file's identity so that open handles see the new contents.
        it->second.file->bytes = std::move(bytes);
        it->second.file->size = size;
        it->second.file->host = std::move(host);
        return;
    }
    auto file = std::make_shared<File>();
    file->bytes = std::move(bytes);
    file->size = size;
    file->host = std::move(host);
    files.emplace(key, FileEntry{*canonical, std::move(file)});
}

}  // namespace

void PutFile(std::u16string_view path, std::vector<std::uint8_t> bytes, std::uint64_t size) {
    PutContents(path, std::move(bytes), size, nullptr);
}

std::string PutHostFile(std::u16string_view path, const std::string& hostPath) {
    const int descriptor = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::strerror(errno);
    auto host = std::make_shared<const HostFile>(descriptor);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) return std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    PutContents(path, {}, static_cast<std::uint64_t>(status.st_size), std::move(host));
    return {};
}

void PutDirectory(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    if (!canonical)
        throw std::invalid_argument("winsim: not an absolute path: " + utf::ToUtf8(path));
    AddDirectoryTree(*canonical);
}

bool RemoveFile(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    return canonical && State().files.erase(Fold(*canonical)) != 0;
}

bool FileExists(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    return canonical && State().files.count(Fold(*canonical)) != 0;
}

bool DirectoryExists(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    return canonical && State().directories.count(Fold(*canonical)) != 0;
}

void AddFileName(std::u16string_view existing, std::u16string_view name) {
    auto from = CanonicalPath(existing);
    auto to = CanonicalPath(name);
    if (!to || to->size() <= 3)
        throw std::invalid_argument("winsim: not an absolute file path: " + utf::ToUtf8(name));
    auto& files = State().files;
    auto file = from ? files.find(Fold(*from)) : files.end();
    if (file == files.end())
        throw std::invalid_argument("winsim: no file to link: " + utf::ToUtf8(existing));
    const std::u16string key = Fold(*to);
    if (files.count(key) != 0 || State().directories.count(key) != 0)
        throw std::invalid_argument("winsim: the name is taken: " + utf::ToUtf8(name));
    if (auto parent = ParentPath(*to)) AddDirectoryTree(*parent);
    files.emplace(key, FileEntry{*to, file->second.file});
}

std::u16string StoredSpelling(std::u16string_view canonical) {
    if (canonical.size() <= 3) return std::u16string(canonical);
    const FilesState& state = State();
    std::u16string spelled(canonical.substr(0, 2));
    std::size_t pos = 3;
    while (pos <= canonical.size()) {
        std::size_t end = canonical.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = canonical.size();
        const std::u16string key = Fold(canonical.substr(0, end));
        const std::u16string* stored = nullptr;
        if (auto dir = state.directories.find(key); dir != state.directories.end())
            stored = &dir->second.path;
        else if (auto file = state.files.find(key); file != state.files.end())
            stored = &file->second.path;
        spelled += u'\\';
        spelled += stored != nullptr ? std::u16string_view(*stored).substr(stored->rfind(u'\\') + 1)
                                     : canonical.substr(pos, end - pos);
        pos = end + 1;
    }
    return spelled;
}

std::u16string CurrentDirectory() {
    return StoredSpelling(State().currentDirectory);
}

void SetCurrentDirectory(std::u16string_view path) {
    auto canonical = CanonicalPath(path);
    if (!canonical)
        throw std::invalid_argument("winsim: not an absolute path: " + utf::ToUtf8(path));
    AddDirectoryTree(*canonical);
    State().currentDirectory = *canonical;
}

win::DWORD PathLengthError(std::u16string_view text, const Win32Name& name) {
    if (text.size() >= kLongestName) return win::ERROR_PATH_NOT_FOUND;
    if (name.Literal()) return 0;
    if (text.size() + 1 > kMaxPath || name.fullLength + 1 > kMaxPath)
        return win::ERROR_PATH_NOT_FOUND;
    return 0;
}

Place FindPlace(const char16_t* text) {
    Place place;
    const std::u16string_view view(text);
    // An empty name is no path at all; a name no counted string holds is not even read.
    if (view.empty() || view.size() >= kLongestName) {
        place.error = win::ERROR_PATH_NOT_FOUND;
        return place;
    }
    const FilesState& state = State();
    place.name = ReadWin32Name(view, state.currentDirectory, NameReader::FileCall);
    const Win32Name& name = place.name;
    if ((place.error = PathLengthError(view, name)) != 0) return place;
    switch (name.target) {
        case NameTarget::Unc:
            // The simulated machine has no network: no server answers.
            place.error = win::ERROR_BAD_NETPATH;
            return place;
        case NameTarget::Device:
            // Nor devices: a device name names one that does not exist, as \\.\BOGUS does.
            place.error = win::ERROR_FILE_NOT_FOUND;
            return place;
        case NameTarget::Volume:
        case NameTarget::Object:
            // A name of the \?? folder that is no drive: none exists but the drives.
            place.error = name.object.empty() ? win::ERROR_INVALID_NAME
                          : name.more         ? win::ERROR_PATH_NOT_FOUND
                                              : win::ERROR_FILE_NOT_FOUND;
            return place;
        case NameTarget::Drive:
            break;
    }
    const char16_t letter =
        IsAsciiLetter(name.drive) ? static_cast<char16_t>(name.drive & ~0x20) : name.drive;
    const std::u16string root{letter, u':', u'\\'};
    if (!IsAsciiLetter(name.drive) || state.directories.count(Fold(root)) == 0) {
        place.error = name.path.empty() ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
        return place;
    }
    if (name.path.empty()) {
        // The volume itself: opening a volume takes an administrator, which the simulated
        // process is not.
        place.error = win::ERROR_ACCESS_DENIED;
        return place;
    }

    std::u16string_view rest = std::u16string_view(name.path).substr(1);
    // The file systems take one doubled separator right after the drive.
    if (name.Literal() && !rest.empty() && rest[0] == u'\\') rest.remove_prefix(1);
    const bool trailing = !rest.empty() && rest.back() == u'\\';
    if (trailing) rest.remove_suffix(1);
    std::vector<std::u16string_view> parts;
    for (std::size_t pos = 0; !rest.empty() && pos <= rest.size();) {
        std::size_t end = rest.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = rest.size();
        parts.push_back(rest.substr(pos, end - pos));
        pos = end + 1;
    }
    bool stream = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::u16string_view part = parts[i];
        bool invalid = part.empty() || part == u"." || part == u"..";
        for (const char16_t c : part) {
            invalid = invalid || IsForbiddenInName(c) || (c == u':' && i + 1 < parts.size());
            stream = stream || c == u':';
        }
        if (invalid) {
            place.error = win::ERROR_INVALID_NAME;
            return place;
        }
    }

    std::u16string canonical{letter, u':'};
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        canonical += u'\\';
        canonical += parts[i];
        if (state.directories.count(Fold(canonical)) == 0) {
            place.error = win::ERROR_PATH_NOT_FOUND;
            return place;
        }
    }
    canonical += u'\\';
    if (!parts.empty()) canonical += parts.back();
    place.canonical = canonical;
    place.trailingSeparator = trailing || parts.empty();
    // The simulated file system has no alternate data streams: "file:stream" names none.
    if (stream) return place;
    const std::u16string key = Fold(canonical);
    if (state.directories.count(key) != 0) {
        place.exists = true;
        place.directory = true;
    } else if (state.files.count(key) != 0) {
        place.exists = true;
        // A file is no folder to name with a separator after it.
        if (trailing) place.error = win::ERROR_INVALID_NAME;
    }
    return place;
}

}  // namespace winsim::files

namespace win {

using winsim::kernel::FindHandleOf;

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    return Simulate<&CreateFileW>(
        {name, access, shareMode, security, disposition, flagsAndAttributes, templateFile},
        [&] {
            return Quote(name) + ", " + Hex(access) + ", " + Hex(shareMode) + ", " +
                   Pointer(security) + ", " + std::to_string(disposition) + ", " +
                   Hex(flagsAndAttributes) + ", " + Pointer(templateFile);
        },
        [&]() -> HANDLE {
            // CreateFileW judges its own arguments before it reads the name.
            if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
                (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0))
                return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
            // A missing name reads as an empty one, which names no path.
            if (name == nullptr || name[0] == u'\0')
                return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
            // Share modes Windows does not define are refused with the other arguments the
            // system checks before it looks for the name.
            if ((shareMode & ~kValidShareModes) != 0)
                return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
            const winsim::files::Place place = winsim::files::FindPlace(name);
            if (place.error != 0) return Fail(place.error, INVALID_HANDLE_VALUE);
            const bool folderSemantics = (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
            const DWORD mapped = MappedAccess(
                access | ((flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0 ? DELETE : 0));

            if (!place.exists) {
                if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
                    return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
                return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);  // creating is refused
            }
            // A folder opens only for folder semantics; named with a separator after it, it is
            // not found as a file at all.
            if (place.directory && !folderSemantics)
                return Fail(place.trailingSeparator ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED,
                            INVALID_HANDLE_VALUE);
            if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
            // Overwriting and truncating write; so do the rights the file system never grants.
            if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING ||
                (mapped & kWriteRights) != 0)
                return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
            if ((access & kAccessSystemSecurity) != 0)
                return Fail(kErrorPrivilegeNotHeld, INVALID_HANDLE_VALUE);

            FilesState& state = State();
            const std::u16string key = Fold(place.canonical);
            std::shared_ptr<File> file;
            std::shared_ptr<ShareAccess> share;
            std::u16string path;
            if (place.directory) {
                const Directory& folder = state.directories.at(key);
                share = folder.share;
                path = folder.path;
            } else {
                const FileEntry& entry = state.files.at(key);
                file = entry.file;
                share = file->share;
                path = entry.path;
            }
            if (!share->Allows(mapped, shareMode))
                return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
            HANDLE handle = winsim::kernel::AddHandle(std::make_shared<OpenFile>(
                std::move(file), std::move(share), mapped, shareMode, std::move(path)));
            SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
            return handle;
        });
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    return Simulate<&GetFileSize>(
        {file, high}, [&] { return Pointer(file) + ", " + (high ? "&high" : "null"); },
        [&]() -> DWORD {
            OpenFile* open = FindHandleOf<OpenFile>(file);
            if (open == nullptr) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
            // A folder's size is 0.
            const std::uint64_t size = open->file != nullptr ? open->file->size : 0;
            if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
            const auto low = static_cast<DWORD>(size);
            // A low part that equals INVALID_FILE_SIZE is told from a failure by a last error
            // of 0.
            if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
            return low;
        });
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped) {
    return Simulate<&ReadFile>(
        {file, buffer, toRead, read, overlapped},
        [&] {
            return Pointer(file) + ", " + Pointer(buffer) + ", " + std::to_string(toRead) + ", " +
                   (read ? "&read" : "null") + ", " + Pointer(overlapped);
        },
        [&]() -> BOOL {
            if (read != nullptr) *read = 0;
            OpenFile* open = FindHandleOf<OpenFile>(file);
            if (open == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
            // Only synchronous reads are modelled, and a synchronous read must report its
            // count.
            if (overlapped != nullptr || read == nullptr)
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            if ((open->access & kFileReadData) == 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
            // A folder has no data to read: the file system does not take the request.
            if (open->file == nullptr) return Fail(ERROR_INVALID_FUNCTION, FALSE);
            if (buffer == nullptr && toRead != 0) return Fail(ERROR_NOACCESS, FALSE);
            const File& contents = *open->file;
            const std::uint64_t available =
                open->position < contents.size ? contents.size - open->position : 0;
            const auto count = static_cast<DWORD>(std::min<std::uint64_t>(toRead, available));
            auto* out = static_cast<std::uint8_t*>(buffer);
            if (contents.host != nullptr) {
                if (!contents.host->Read(open->position, out, count))
                    return Fail(kErrorReadFault, FALSE);
                open->position += count;
                *read = count;
                return TRUE;
            }
            for (DWORD copied = 0; copied < count;) {
                const std::uint64_t at = open->position + copied;
                if (at < contents.bytes.size()) {
                    const auto chunk = static_cast<DWORD>(
                        std::min<std::uint64_t>(count - copied, contents.bytes.size() - at));
                    std::memcpy(out + copied, contents.bytes.data() + at, chunk);
                    copied += chunk;
                } else {
                    std::memset(out + copied, 0, count - copied);
                    copied = count;
                }
            }
            open->position += count;
            *read = count;
            return TRUE;
        },
        [&] {
            if (read != nullptr) *read = 0;
        },
        [&](const CallDescriptor&, BOOL ok, bool) {
            return ok && read ? "TRUE (" + std::to_string(*read) + " bytes)"
                              : BoolResult(ok, GetLastError());
        });
}

}  // namespace win
