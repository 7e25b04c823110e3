// Files, handles, known folders and COM task memory of the simulated machine.
#include "machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr win::DWORD kGenericAll = 0x10000000;
constexpr win::DWORD kFileReadData = 0x0001;
constexpr win::DWORD kReadAccessMask = win::GENERIC_READ | kGenericAll | kFileReadData;

std::string DwordResult(win::DWORD value, bool ok, win::DWORD error) {
    if (ok) return std::to_string(value);
    return std::to_string(value) + " (error " + std::to_string(error) + ")";
}

}  // namespace

namespace win {

using namespace winsim::detail;

HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto finish = [&](HRESULT hr) {
        if (Journaling(m)) {
            char guid[40];
            std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                          id.Data1, id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2],
                          id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
            // Built piece by piece: g++ 12 at -O3 misreads `" " + std::string` (-Wrestrict).
            std::string result = Hex(static_cast<std::uint32_t>(hr));
            if (SUCCEEDED(hr) && path != nullptr) {
                result += ' ';
                result += Quote(*path);
            }
            Record(m, "SHGetKnownFolderPath",
                   std::string(guid) + ", " + Hex(flags) + ", " + Pointer(token), result);
        }
        return hr;
    };
    if (path == nullptr) return finish(E_INVALIDARG);
    *path = nullptr;
    if (auto error = TakeFault(m, "SHGetKnownFolderPath"))
        return finish(static_cast<HRESULT>(*error));
    auto it = std::find_if(m.state.knownFolders.begin(), m.state.knownFolders.end(),
                           [&](const KnownFolder& f) { return f.id == id; });
    if (it == m.state.knownFolders.end()) return finish(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    const std::u16string& text = it->path;
    auto* block = new (std::nothrow) char16_t[text.size() + 1];
    if (block == nullptr) return finish(E_OUTOFMEMORY);
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    m.heap.coTaskBlocks.emplace(block, text.size() + 1);
    *path = block;
    return finish(S_OK);
}

void CoTaskMemFree(LPVOID block) {
    if (block == nullptr) return;
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto it = m.heap.coTaskBlocks.find(block);
    if (it == m.heap.coTaskBlocks.end()) {
        // Windows would corrupt its heap; the simulation counts it for tests to see.
        ++m.heap.stats.coTaskMemInvalidFrees;
        Record(m, "CoTaskMemFree", Pointer(block), "invalid block");
        return;
    }
    // Journal the address before the block goes: using the pointer after delete is undefined.
    const std::string address = Pointer(block);
    m.heap.coTaskBlocks.erase(it);
    delete[] static_cast<char16_t*>(block);
    Record(m, "CoTaskMemFree", address, "");
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto finish = [&](HANDLE handle, DWORD error) {
        if (handle == INVALID_HANDLE_VALUE) SetLastError(error);
        if (Journaling(m)) {
            Record(m, "CreateFileW",
                   Quote(name) + ", " + Hex(access) + ", " + Hex(shareMode) + ", " +
                       Pointer(security) + ", " + std::to_string(disposition) + ", " +
                       Hex(flagsAndAttributes) + ", " + Pointer(templateFile),
                   handle == INVALID_HANDLE_VALUE
                       ? "INVALID_HANDLE_VALUE (error " + std::to_string(error) + ")"
                       : Pointer(handle));
        }
        return handle;
    };
    if (auto error = TakeFault(m, "CreateFileW")) return finish(INVALID_HANDLE_VALUE, *error);
    if (name == nullptr) return finish(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    // The simulated file system is read-only: it models what the module reads.
    if (disposition != OPEN_EXISTING || (access & ~(kReadAccessMask | 0x00100000u /*SYNCHRONIZE*/ |
                                                    0x00000080u /*FILE_READ_ATTRIBUTES*/)) != 0)
        return finish(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);

    auto canonical = CanonicalPath(name);
    if (!canonical || name[0] == 0) return finish(INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    const std::u16string key = Fold(*canonical);
    auto file = m.state.files.find(key);
    if (file == m.state.files.end()) {
        if (m.state.directories.count(key) != 0) {
            // Opening a directory needs FILE_FLAG_BACKUP_SEMANTICS; the simulated file system
            // hands out no directory handles.
            return finish(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        }
        auto parent = ParentPath(*canonical);
        const bool parentExists = parent && m.state.directories.count(Fold(*parent)) != 0;
        return finish(INVALID_HANDLE_VALUE,
                      parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    const std::uintptr_t value = m.nextHandle;
    m.nextHandle += 4;
    m.handles.emplace(value, OpenFile{file->second.file, 0, access, file->second.path});
    SetLastError(ERROR_SUCCESS);
    return finish(reinterpret_cast<HANDLE>(value), 0);
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto finish = [&](DWORD result, bool ok, DWORD error) {
        if (!ok) SetLastError(error);
        Record(m, "GetFileSize", Pointer(file) + ", " + (high ? "&high" : "null"),
               DwordResult(result, ok, error));
        return result;
    };
    if (auto error = TakeFault(m, "GetFileSize")) return finish(INVALID_FILE_SIZE, false, *error);
    auto it = m.handles.find(reinterpret_cast<std::uintptr_t>(file));
    if (it == m.handles.end()) return finish(INVALID_FILE_SIZE, false, ERROR_INVALID_HANDLE);
    const std::uint64_t size = it->second.file->size;
    if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
    const auto low = static_cast<DWORD>(size);
    // A low part that equals INVALID_FILE_SIZE is told from a failure by a last error of 0.
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return finish(low, true, 0);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto finish = [&](bool ok, DWORD error) {
        if (!ok) SetLastError(error);
        Record(m, "ReadFile",
               Pointer(file) + ", " + Pointer(buffer) + ", " + std::to_string(toRead) + ", " +
                   (read ? "&read" : "null") + ", " + Pointer(overlapped),
               ok && read ? "TRUE (" + std::to_string(*read) + " bytes)" : BoolResult(ok, error));
        return ok ? TRUE : FALSE;
    };
    if (read != nullptr) *read = 0;
    if (auto error = TakeFault(m, "ReadFile")) return finish(false, *error);
    auto it = m.handles.find(reinterpret_cast<std::uintptr_t>(file));
    if (it == m.handles.end()) return finish(false, ERROR_INVALID_HANDLE);
    // Only synchronous reads are modelled, and a synchronous read must report its count.
    if (overlapped != nullptr || read == nullptr) return finish(false, ERROR_INVALID_PARAMETER);
    OpenFile& open = it->second;
    if ((open.access & kReadAccessMask) == 0) return finish(false, ERROR_ACCESS_DENIED);
    if (buffer == nullptr && toRead != 0) return finish(false, ERROR_NOACCESS);
    const File& contents = *open.file;
    const std::uint64_t available =
        open.position < contents.size ? contents.size - open.position : 0;
    const auto count = static_cast<DWORD>(std::min<std::uint64_t>(toRead, available));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (DWORD copied = 0; copied < count;) {
        const std::uint64_t at = open.position + copied;
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
    open.position += count;
    *read = count;
    return finish(true, 0);
}

BOOL CloseHandle(HANDLE handle) {
    Machine& m = TheMachine();
    std::lock_guard guard(m.lock);
    auto finish = [&](bool ok, DWORD error) {
        if (!ok) SetLastError(error);
        Record(m, "CloseHandle", Pointer(handle), BoolResult(ok, error));
        return ok ? TRUE : FALSE;
    };
    if (auto error = TakeFault(m, "CloseHandle")) return finish(false, *error);
    // INVALID_HANDLE_VALUE is also the current-process pseudo handle, which closes successfully.
    if (handle == INVALID_HANDLE_VALUE) return finish(true, 0);
    if (m.handles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0)
        return finish(false, ERROR_INVALID_HANDLE);
    return finish(true, 0);
}

}  // namespace win
