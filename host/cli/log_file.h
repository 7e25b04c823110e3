// Log files as the analyst names them on the command line: a path, or "-" for standard input.
// Pipes, process substitution (/dev/fd/N) and standard input are read like files, to their end;
// folders and devices are refused with what they are, and a file that cannot be opened says why
// in the words analysts know ("no such file", "permission denied", "is a folder").
//
// Threading: plain functions; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qorvex::host {

// Larger than any measured-boot log by orders of magnitude; a larger input (a disk image given
// by mistake, an endless pipe) is refused instead of read into memory.
inline constexpr std::uint64_t kMaxLogFileSize = std::uint64_t{1} << 30;

// The bytes of a log: held in memory (pipes, standard input, bytes at hand), or, for a regular
// file on Linux, mapped from it read-only. A mapped log costs no copy and no memory of its own
// beyond the file's cached pages; a file cut shorter by another program while it is mapped
// raises SIGBUS on the next read of what is gone, which qorvex-host turns into an error message.
// Move-only; a mapping ends with its owner.
class LogBytes {
public:
    LogBytes() = default;
    explicit LogBytes(std::vector<std::uint8_t> bytes) noexcept : m_owned(std::move(bytes)) {}
    LogBytes(LogBytes&& other) noexcept;
    LogBytes& operator=(LogBytes&& other) noexcept;
    LogBytes(const LogBytes&) = delete;
    LogBytes& operator=(const LogBytes&) = delete;
    ~LogBytes();

    // Maps `size` bytes (more than 0) of an open file; false when the system refuses.
    bool Map(int descriptor, std::uint64_t size) noexcept;

    const std::uint8_t* data() const noexcept { return m_mapped ? m_mapped : m_owned.data(); }
    std::size_t size() const noexcept { return m_mapped ? m_mappedSize : m_owned.size(); }
    bool empty() const noexcept { return size() == 0; }
    const std::uint8_t* begin() const noexcept { return data(); }
    const std::uint8_t* end() const noexcept { return data() + size(); }
    operator std::span<const std::uint8_t>() const noexcept { return {data(), size()}; }
    std::span<const std::uint8_t> first(std::size_t count) const noexcept {
        return {data(), count};
    }
    // The bytes as a vector, copied out of a mapping; the LogBytes is empty afterwards.
    std::vector<std::uint8_t> Take();

private:
    void Unmap() noexcept;

    std::vector<std::uint8_t> m_owned;
    const std::uint8_t* m_mapped = nullptr;
    std::size_t m_mappedSize = 0;
};

struct LogFileContents {
    LogBytes bytes;            // the file, or its first bytes (ReadLogFilePrefix)
    std::uint64_t size = 0;    // the whole file's size
    bool regularFile = false;  // a file that can be read again by its path
};

// Reads the whole file (on Linux a regular file is mapped). Returns an empty string, or the
// message: "cannot read log file 'NAME': no such file" (standard input is named as such).
std::string ReadLogFile(const std::string& name, LogFileContents& contents);
// The same, but always read into memory, never mapped: for runs over many files, where a file
// that another program cuts shorter while it is read must cost that file, not the run.
std::string ReadLogFileUnmapped(const std::string& name, LogFileContents& contents);
// The same, but of a regular file only the first `prefix` bytes are read (its size is the whole
// file's); anything else is read whole, since it cannot be read again.
std::string ReadLogFilePrefix(const std::string& name, std::uint64_t prefix,
                              LogFileContents& contents);

// "standard input" for "-", else 'NAME' in quotes: how messages name a log file.
std::string LogFileDisplayName(const std::string& name);

}  // namespace qorvex::host
