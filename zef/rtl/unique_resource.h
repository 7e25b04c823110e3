// zef::unique_resource: the one owner template for OS resources. Each kind is a traits type
// naming its pointer type, its invalid value, its validity test and its close call; the named
// owners below are one-line uses of the template, and scope types build on those.
//
// An owner is movable, never copyable. reset() closes what it holds without disturbing the
// thread's last error: cleanup on a failure path runs between the failing call and the
// caller's GetLastError, and the close call may set a last error of its own, so the value is
// read before the close and restored after it.
//
// Threading: an owner is used by one thread at a time.
#pragma once

#include <utility>

#include "win/win.h"

namespace zef {

template <class Traits>
class unique_resource {
public:
    using pointer = typename Traits::pointer;

    unique_resource() noexcept = default;
    explicit unique_resource(pointer value) noexcept : m_value(value) {}
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    unique_resource(unique_resource&& other) noexcept : m_value(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_resource() { reset(); }

    // Closes what is held (keeping the thread's last error) and takes value instead.
    void reset(pointer value = Traits::Invalid()) noexcept {
        const pointer old = std::exchange(m_value, value);
        if (Traits::IsValid(old)) {
            const win::DWORD lastError = win::GetLastError();
            Traits::Close(old);
            win::SetLastError(lastError);
        }
    }
    // Gives up ownership without closing.
    [[nodiscard]] pointer release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return Traits::IsValid(m_value); }
    // For out-parameters; whatever the callee writes is owned, even when it reports failure.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

private:
    pointer m_value = Traits::Invalid();
};

namespace resource_traits {

// A file handle from CreateFileW: INVALID_HANDLE_VALUE when none (null is refused too, as no
// file API hands it out).
struct file_handle {
    using pointer = win::HANDLE;
    static pointer Invalid() noexcept { return win::INVALID_HANDLE_VALUE; }
    static bool IsValid(pointer h) noexcept {
        return h != nullptr && h != win::INVALID_HANDLE_VALUE;
    }
    static void Close(pointer h) noexcept { win::CloseHandle(h); }
};

// A token handle from OpenThreadToken / OpenProcessToken: null when none.
struct token_handle {
    using pointer = win::HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer h) noexcept { return h != nullptr; }
    static void Close(pointer h) noexcept { win::CloseHandle(h); }
};

// Text the OS allocated with the COM task allocator (SHGetKnownFolderPath and the like).
struct cotaskmem_string {
    using pointer = win::PWSTR;
    static pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer p) noexcept { return p != nullptr; }
    static void Close(pointer p) noexcept { win::CoTaskMemFree(p); }
};

// A find handle from FindFirstFileNameW (closed with FindClose): INVALID_HANDLE_VALUE when none.
struct find_handle {
    using pointer = win::HANDLE;
    static pointer Invalid() noexcept { return win::INVALID_HANDLE_VALUE; }
    static bool IsValid(pointer h) noexcept { return h != win::INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { win::FindClose(h); }
};

}  // namespace resource_traits

using unique_file_handle = unique_resource<resource_traits::file_handle>;
using unique_find_handle = unique_resource<resource_traits::find_handle>;
using unique_token_handle = unique_resource<resource_traits::token_handle>;
using unique_cotaskmem_string = unique_resource<resource_traits::cotaskmem_string>;

}  // namespace zef
