// Controls of the files room.
#include <winsim/files.h>

#include "files/files.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

void PutFile(std::u16string_view path, std::vector<std::uint8_t> bytes) {
    Lock lock(MachineLock());
    const std::uint64_t size = bytes.size();
    files::PutFile(path, std::move(bytes), size);
}

void PutSparseFile(std::u16string_view path, std::vector<std::uint8_t> bytes, std::uint64_t size) {
    Lock lock(MachineLock());
    files::PutFile(path, std::move(bytes), size);
}

std::string PutHostFile(std::u16string_view path, const std::string& hostPath) {
    Lock lock(MachineLock());
    return files::PutHostFile(path, hostPath);
}

void PutDirectory(std::u16string_view path) {
    Lock lock(MachineLock());
    files::PutDirectory(path);
}

bool RemoveFile(std::u16string_view path) {
    Lock lock(MachineLock());
    return files::RemoveFile(path);
}

bool FileExists(std::u16string_view path) {
    Lock lock(MachineLock());
    return files::FileExists(path);
}

bool DirectoryExists(std::u16string_view path) {
    Lock lock(MachineLock());
    return files::DirectoryExists(path);
}

std::u16string GetCurrentDirectory() {
    Lock lock(MachineLock());
    return files::CurrentDirectory();
}

void SetCurrentDirectory(std::u16string_view path) {
    Lock lock(MachineLock());
    files::SetCurrentDirectory(path);
}

void MountVolume(std::u16string_view folder) {
    Lock lock(MachineLock());
    files::MountVolume(folder);
}

void LinkNames(const std::vector<std::u16string>& names) {
    Lock lock(MachineLock());
    files::LinkNames(names);
}

}  // namespace winsim
