// The files room: files, folders and open files of the simulated machine, and the drive
// folders of a machine directory.
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

#include "core/paths.h"
#include "kernel/kernel.h"

namespace {

using namespace winsim::core;

constexpr win::DWORD kGenericAll = 0x10000000;
constexpr win::DWORD kFileReadData = 0x0001;
constexpr win::DWORD kReadAccessMask = win::GENERIC_READ | kGenericAll | kFileReadData;
constexpr win::DWORD kSynchronize = 0x00100000u;
constexpr win::DWORD kFileReadAttributes = 0x00000080u;

constexpr std::uintmax_t kMaxFileBytes = 256u << 20;
constexpr win::DWORD kErrorReadFault = 30;  // ERROR_READ_FAULT

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
};

struct FileEntry {
    std::u16string path;  // as given, normalised separators
    std::shared_ptr<File> file;
};

struct FilesState {
    std::map<std::u16string, FileEntry> files;             // folded full path -> file
    std::map<std::u16string, std::u16string> directories;  // folded full path -> path as given
};

struct OpenFile : winsim::kernel::KernelObject {
    OpenFile(std::shared_ptr<File> f, win::DWORD a, std::u16string p)
        : file(std::move(f)), access(a), path(std::move(p)) {}
    std::shared_ptr<File> file;
    std::uint64_t position = 0;
    win::DWORD access = 0;
    std::u16string path;
};

FilesState& State() {
    static auto* state = new FilesState;
    return *state;
}

void AddDirectoryTree(const std::u16string& canonical) {
    std::optional<std::u16string> dir = canonical;
    while (dir) {
        auto [it, inserted] = State().directories.emplace(Fold(*dir), *dir);
        if (!inserted) break;
        dir = ParentPath(*dir);
    }
}

// The default machine's file system: drive C: with nothing on it. The shell room adds the
// Windows folder.
void ResetFiles() {
    State() = FilesState{};
    AddDirectoryTree(u"C:\\");
}

QORVEX_SIM_ROOM(files, 0, ResetFiles);

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
        if (it->is_directory(ec)) {
            AddDirectoryTree(*canonical);
        } else if (it->is_regular_file(ec)) {
            std::vector<std::uint8_t> bytes = loading.ReadHostFile(it->path(), kMaxFileBytes);
            const std::uint64_t size = bytes.size();
            winsim::files::PutFile(*canonical, std::move(bytes), size);
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
            if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
            // The simulated file system is read-only: it models what the module reads.
            if (disposition != OPEN_EXISTING ||
                (access & ~(kReadAccessMask | kSynchronize | kFileReadAttributes)) != 0)
                return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
            auto canonical = CanonicalPath(name);
            if (!canonical || name[0] == 0) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
            FilesState& state = State();
            const std::u16string key = Fold(*canonical);
            auto file = state.files.find(key);
            if (file == state.files.end()) {
                // Opening a directory needs FILE_FLAG_BACKUP_SEMANTICS; the simulated file
                // system hands out no directory handles.
                if (state.directories.count(key) != 0)
                    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
                auto parent = ParentPath(*canonical);
                const bool parentExists = parent && state.directories.count(Fold(*parent)) != 0;
                return Fail(parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                            INVALID_HANDLE_VALUE);
            }
            HANDLE handle = winsim::kernel::AddHandle(
                std::make_shared<OpenFile>(file->second.file, access, file->second.path));
            SetLastError(ERROR_SUCCESS);
            return handle;
        });
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    return Simulate<&GetFileSize>(
        {file, high}, [&] { return Pointer(file) + ", " + (high ? "&high" : "null"); },
        [&]() -> DWORD {
            OpenFile* open = FindHandleOf<OpenFile>(file);
            if (open == nullptr) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
            const std::uint64_t size = open->file->size;
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
            if ((open->access & kReadAccessMask) == 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
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
