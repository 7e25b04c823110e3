#include "cli/log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "utf/codec.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qorvex::host {

namespace {

constexpr std::size_t kStreamChunk = 64 * 1024;
constexpr std::uint64_t kUnlimited = ~std::uint64_t{0};

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxLogFileSize >> 20) +
           " MiB, far beyond any event log";
}

bool IsStandardInput(const std::string& name) {
    return name == "-";
}

#if defined(_WIN32)

// A handle this reader opened, closed at scope end; standard input's is not ours to close.
class FileHandle {
public:
    FileHandle(HANDLE handle, bool owned) : m_handle(handle), m_owned(owned) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (m_owned && m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
    bool m_owned;
};

std::string WindowsReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return "no such file";
        case ERROR_ACCESS_DENIED:
            return "permission denied";
        case ERROR_SHARING_VIOLATION:
            return "in use by another program";
        default:
            return "Windows error " + std::to_string(error);
    }
}

// Reads until the end of the input or `limit` bytes, whichever comes first; a pipe ends at
// ERROR_BROKEN_PIPE.
std::string ReadAll(HANDLE handle, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    while (bytes.size() < limit) {
        std::size_t want = std::max<std::size_t>(kStreamChunk, bytes.capacity() - bytes.size());
        want = static_cast<std::size_t>(std::min<std::uint64_t>(want, limit - bytes.size()));
        want = static_cast<std::size_t>(
            std::min<std::uint64_t>(want, kMaxLogFileSize + 1 - bytes.size()));
        const std::size_t at = bytes.size();
        if (bytes.capacity() < at + want) bytes.reserve(std::max(at + want, 2 * bytes.capacity()));
        bytes.resize(at + want);
        DWORD read = 0;
        const BOOL ok =
            ReadFile(handle, bytes.data() + at, static_cast<DWORD>(want), &read, nullptr);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        bytes.resize(at + read);
        if (!ok && error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF)
            return WindowsReason(error);
        if (bytes.size() > kMaxLogFileSize) return TooLarge();
        if (read == 0) break;
    }
    return {};
}

std::string Read(const std::string& name, std::uint64_t prefix, LogFileContents& contents) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool owned = true;
    if (IsStandardInput(name)) {
        handle = GetStdHandle(STD_INPUT_HANDLE);
        owned = false;
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return "no standard input";
        if (GetFileType(handle) == FILE_TYPE_CHAR) return "a console, not a log";
    } else {
        const std::u16string wide = utf::ToUtf16(name);
        const auto* path = reinterpret_cast<const wchar_t*>(wide.c_str());
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return "is a folder";
        handle =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return WindowsReason(GetLastError());
    }
    FileHandle file(handle, owned);
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_CHAR) return "is a device, not a file";
    if (type == FILE_TYPE_DISK) {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle, &size)) return WindowsReason(GetLastError());
        contents.size = static_cast<std::uint64_t>(size.QuadPart);
        if (contents.size > kMaxLogFileSize) return TooLarge();
        contents.regularFile = !IsStandardInput(name);
        const std::uint64_t limit = prefix != 0 ? std::min(prefix, contents.size) : contents.size;
        std::vector<std::uint8_t> bytes;
        bytes.reserve(static_cast<std::size_t>(limit));
        std::string why = ReadAll(handle, limit, bytes);
        if (bytes.size() < limit) contents.size = bytes.size();
        contents.bytes = LogBytes(std::move(bytes));
        return why;
    }
    std::vector<std::uint8_t> bytes;
    std::string why = ReadAll(handle, kUnlimited, bytes);
    contents.size = bytes.size();
    contents.bytes = LogBytes(std::move(bytes));
    return why;
}

#else

std::string PosixReason(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return "no such file";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EISDIR:
            return "is a folder";
        default:
            return std::strerror(error);
    }
}

// Reads until the end of the input or `limit` bytes, whichever comes first.
std::string ReadAll(int descriptor, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    while (bytes.size() < limit) {
        std::size_t want = std::max<std::size_t>(kStreamChunk, bytes.capacity() - bytes.size());
        want = static_cast<std::size_t>(std::min<std::uint64_t>(want, limit - bytes.size()));
        want = static_cast<std::size_t>(
            std::min<std::uint64_t>(want, kMaxLogFileSize + 1 - bytes.size()));
        const std::size_t at = bytes.size();
        // Room for the read; grows geometrically, so a pipe costs as many copies as doublings.
        if (bytes.capacity() < at + want) bytes.reserve(std::max(at + want, 2 * bytes.capacity()));
        bytes.resize(at + want);
        const ssize_t read = ::read(descriptor, bytes.data() + at, want);
        const int error = errno;
        bytes.resize(at + static_cast<std::size_t>(std::max<ssize_t>(read, 0)));
        if (read < 0) {
            if (error == EINTR) continue;
            return PosixReason(error);
        }
        if (bytes.size() > kMaxLogFileSize) return TooLarge();
        if (read == 0) break;
    }
    return {};
}

std::string Read(const std::string& name, std::uint64_t prefix, LogFileContents& contents) {
    const bool standardInput = IsStandardInput(name);
    int descriptor = STDIN_FILENO;
    if (!standardInput) {
        do {
            descriptor = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        } while (descriptor < 0 && errno == EINTR);
        if (descriptor < 0) return PosixReason(errno);
    }
    struct Closer {
        int descriptor;
        bool owned;
        ~Closer() {
            if (owned) ::close(descriptor);
        }
    } closer{descriptor, !standardInput};

    struct stat status {};
    if (::fstat(descriptor, &status) != 0) return PosixReason(errno);
    if (S_ISDIR(status.st_mode)) return "is a folder";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
        if (standardInput && ::isatty(descriptor)) return "a terminal, not a log";
        return "is a device, not a file";
    }
    // Files of /proc and /sys (the kernel's own event log, binary_bios_measurements, among
    // them) report no size: they are read to their end, as a stream.
    if (S_ISREG(status.st_mode) && status.st_size > 0) {
        contents.size = static_cast<std::uint64_t>(status.st_size);
        if (contents.size > kMaxLogFileSize) return TooLarge();
        contents.regularFile = !standardInput;
        // A whole file is mapped: fresh memory costs more than the file's cached pages.
        if (prefix == 0 && contents.bytes.Map(descriptor, contents.size)) return {};
        // Otherwise it is read into one buffer of its size: no copy on growth. A file that
        // shrinks while it is read is what was read; what it grows by afterwards is not read.
        const std::uint64_t limit = prefix != 0 ? std::min(prefix, contents.size) : contents.size;
        std::vector<std::uint8_t> bytes;
        bytes.reserve(static_cast<std::size_t>(limit));
        std::string why = ReadAll(descriptor, limit, bytes);
        if (bytes.size() < limit) contents.size = bytes.size();
        contents.bytes = LogBytes(std::move(bytes));
        return why;
    }
    std::vector<std::uint8_t> bytes;
    std::string why = ReadAll(descriptor, kUnlimited, bytes);
    contents.size = bytes.size();
    contents.bytes = LogBytes(std::move(bytes));
    return why;
}

#endif

std::string ReadInto(const std::string& name, std::uint64_t prefix, LogFileContents& contents) {
    contents = LogFileContents{};
    std::string why = Read(name, prefix, contents);
    if (why.empty()) return {};
    contents = LogFileContents{};
    return IsStandardInput(name) ? "cannot read standard input: " + why
                                 : "cannot read log file " + LogFileDisplayName(name) + ": " + why;
}

}  // namespace

LogBytes::LogBytes(LogBytes&& other) noexcept
    : m_owned(std::move(other.m_owned)),
      m_mapped(std::exchange(other.m_mapped, nullptr)),
      m_mappedSize(std::exchange(other.m_mappedSize, 0)) {}

LogBytes& LogBytes::operator=(LogBytes&& other) noexcept {
    if (this != &other) {
        Unmap();
        m_owned = std::move(other.m_owned);
        m_mapped = std::exchange(other.m_mapped, nullptr);
        m_mappedSize = std::exchange(other.m_mappedSize, 0);
    }
    return *this;
}

LogBytes::~LogBytes() {
    Unmap();
}

std::vector<std::uint8_t> LogBytes::Take() {
    std::vector<std::uint8_t> bytes =
        m_mapped ? std::vector<std::uint8_t>(m_mapped, m_mapped + m_mappedSize)
                 : std::move(m_owned);
    Unmap();
    m_owned.clear();
    return bytes;
}

#if defined(_WIN32)

bool LogBytes::Map(int, std::uint64_t) noexcept {
    return false;
}

void LogBytes::Unmap() noexcept {}

#else

bool LogBytes::Map(int descriptor, std::uint64_t size) noexcept {
    if (size == 0 || size > kMaxLogFileSize) return false;
    void* view =
        ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (view == MAP_FAILED) return false;
    // Read front to back, once: let the system read ahead.
    ::madvise(view, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
    ::madvise(view, static_cast<std::size_t>(size), MADV_WILLNEED);
    Unmap();
    m_owned.clear();
    m_mapped = static_cast<const std::uint8_t*>(view);
    m_mappedSize = static_cast<std::size_t>(size);
    return true;
}

void LogBytes::Unmap() noexcept {
    if (m_mapped == nullptr) return;
    ::munmap(const_cast<std::uint8_t*>(m_mapped), m_mappedSize);
    m_mapped = nullptr;
    m_mappedSize = 0;
}

#endif

std::string ReadLogFile(const std::string& name, LogFileContents& contents) {
    return ReadInto(name, 0, contents);
}

std::string ReadLogFileUnmapped(const std::string& name, LogFileContents& contents) {
    // A prefix as long as any file reads the whole file into memory, never mapped.
    return ReadInto(name, kMaxLogFileSize + 1, contents);
}

std::string ReadLogFilePrefix(const std::string& name, std::uint64_t prefix,
                              LogFileContents& contents) {
    return ReadInto(name, prefix == 0 ? 1 : prefix, contents);
}

std::string LogFileDisplayName(const std::string& name) {
    return IsStandardInput(name) ? "standard input" : "'" + name + "'";
}

}  // namespace qorvex::host
