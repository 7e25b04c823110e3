// Paths as the Store-app code compares and tests them: the comparable (normalized) form, the
// long form that lifts the MAX_PATH limit, and whether a path names a plain directory.
#pragma once

#include <string_view>

#include "zef/result_code.h"
#include "zef/string.h"

namespace zef::system {

// The comparable form of a path: every '/' turned into '\', every other character lowered
// with the runtime's towlower, then the letters beyond ASCII folded as Windows folds names when
// it compares them ignoring case (Latin, Greek, Cyrillic, Armenian), so two names that Windows
// takes for the same one compare equal in this form.
class NormalizedPath {
public:
    explicit NormalizedPath(wstring_t text);
    const wstring_t& text() const noexcept { return m_text; }
    std::u16string_view view() const noexcept { return m_text.view(); }
    const char16_t* c_str() const noexcept { return m_text.c_str(); }

    friend bool operator==(const NormalizedPath& a, const NormalizedPath& b) noexcept {
        return a.m_text == b.m_text;
    }

protected:
    struct AsDirectory {};
    NormalizedPath(wstring_t text, AsDirectory);

private:
    wstring_t m_text;
};

// A normalized path that ends in '\' (an empty text becomes "\"), so that a prefix test against
// it matches whole folder names only: "c:\apps\" is no prefix of "c:\apps2\x".
class NormalizedDirectoryPath : public NormalizedPath {
public:
    explicit NormalizedDirectoryPath(wstring_t text);
};

// Whether `path` is the folder `folder` or lies below it, compared in the normalized form
// (ignoring case as Windows compares names, '/' and '\' alike) and by whole names: "C:\Mnt\Vol\"
// and "C:\Mnt\Vol" hold "c:/mnt/vol/x", "C:\Mnt\Vol2\x" lies in neither. Nothing is resolved:
// "." and ".." are names like any other, and a relative path lies in no absolute folder. An
// empty folder holds nothing. Makes no allocation.
bool PathLiesInFolder(std::u16string_view path, std::u16string_view folder) noexcept;

// The path to hand to a Win32 call: the caller's own text when it is short enough (259
// characters or fewer) or already in the "\\?\" form, else an owned "\\?\" copy with "." and
// ".." resolved (Windows resolves nothing behind that prefix). A path that is neither a drive
// path nor a UNC path, or that is a "\\.\" device path, comes back unchanged.
//
// The result may point into the caller's string: it must not outlive it.
class LongPath {
public:
    const char16_t* c_str() const noexcept { return m_rewritten ? m_owned.c_str() : m_caller; }
    std::u16string_view view() const noexcept {
        return m_rewritten ? m_owned.view() : std::u16string_view(m_caller);
    }
    // Whether the text is an owned copy rather than the caller's text.
    bool owned() const noexcept { return m_rewritten; }

private:
    friend LongPath MakeLongPath(const wstring_t& path);
    const char16_t* m_caller = nullptr;
    wstring_t m_owned;
    bool m_rewritten = false;
};

LongPath MakeLongPath(const wstring_t& path);

// 0 when path names a directory that is not a reparse point (a junction or a mount point are
// reparse points), 1 for anything else that exists, otherwise the failure GetFileAttributesW
// reported (0x80010102 for a missing file, 0x80010103 for a missing folder on the way;
// 0x80010100 when it gave no usable last error). Wow64
// file system redirection is off during the test, so the path means what it means to a native
// process. Throws what wow64_fs_redirection_guard throws, and std::bad_alloc.
ResultCode IsPlainDirectory(const wstring_t& path);

}  // namespace zef::system
