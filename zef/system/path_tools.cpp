#include "zef/system/path_tools.h"

#include <win/crt_text.h>
#include <win/files.h>

#include <vector>

#include "zef/rtl/result_codes.h"
#include "zef/system/detail/windows/wow64_tools.h"

namespace zef::system {
namespace {

constexpr std::size_t kMaxPath = 260;
constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
constexpr std::u16string_view kDevicePrefix = u"\\\\.\\";

bool IsSeparator(char16_t c) noexcept {
    return c == u'\\' || c == u'/';
}

bool IsAsciiLetter(char16_t c) noexcept {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsDrivePath(std::u16string_view path) noexcept {
    return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == u':' && IsSeparator(path[2]);
}

bool IsUncPath(std::u16string_view path) noexcept {
    return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

// The length of the root of an absolute path, its ending separator included when there is one:
// "X:\" or "\\server\share\".
std::size_t RootLength(std::u16string_view path) noexcept {
    if (IsDrivePath(path)) return 3;
    std::size_t pos = 2;  // after the two backslashes
    for (int part = 0; part < 2; ++part) {
        while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
        if (pos == path.size()) return pos;
        ++pos;  // the separator after the server, then after the share
    }
    return pos;
}

// The root in place (its ending separator as '\'), then the segments after it joined with '\',
// with empty and "." segments dropped (a leading "." stays) and each ".." taking the segment
// before it along; ".." with nothing left to take stays in front.
void Canonicalize(wstring_t& path) {
    const std::u16string_view text = path.view();
    const std::size_t rootLength = RootLength(text);

    std::vector<std::u16string_view> kept;
    std::size_t unmatchedParents = 0;
    bool first = true;
    std::size_t pos = rootLength;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        const std::u16string_view segment = text.substr(pos, end - pos);
        pos = end + 1;
        if (segment.empty()) continue;
        if (segment == u".") {
            if (first) kept.push_back(segment);
        } else if (segment == u"..") {
            if (!kept.empty())
                kept.pop_back();
            else
                ++unmatchedParents;
        } else {
            kept.push_back(segment);
        }
        first = false;
    }

    wstring_t rebuilt(path.allocator());
    rebuilt.reserve(path.capacity());
    rebuilt.append(text.substr(0, rootLength));
    if (rootLength > 0 && IsSeparator(rebuilt[rootLength - 1])) rebuilt[rootLength - 1] = u'\\';
    bool needSeparator = false;
    for (std::size_t i = 0; i < unmatchedParents; ++i) {
        if (needSeparator) rebuilt.push_back(u'\\');
        rebuilt.append(u"..");
        needSeparator = true;
    }
    for (const std::u16string_view segment : kept) {
        if (needSeparator) rebuilt.push_back(u'\\');
        rebuilt.append(segment);
        needSeparator = true;
    }
    path = std::move(rebuilt);
}

bool StartsWithLongPrefix(std::u16string_view path) noexcept {
    return path.substr(0, kLongPrefix.size()) == kLongPrefix;
}

// Folds the letters beyond ASCII that the runtime's "C" locale leaves alone, so that two names
// the file system takes for the same one compare equal: Windows compares names by upper-casing
// both (ordinal, ignoring case), so each letter becomes the lower case of its upper case ("\u00C4"
// and "\u00E4" meet, and so do the Greek final and medial sigma). Covered: Latin-1, Latin
// Extended-A, Greek, Cyrillic, Armenian and the full-width Latin letters; the Turkish dotted and
// dotless i, which Windows does not pair with I, stay as they are.
char16_t FoldBeyondAscii(char16_t c) noexcept {
    const auto plus = [c](int offset) { return static_cast<char16_t>(c + offset); };
    const bool even = (c & 1u) == 0;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : plus(0x20);  // not the multiplication sign
    if (c == 0x178) return u'\u00FF';
    if (c >= 0x100 && c <= 0x17E) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149) return c;
        const bool upperIsEven = c < 0x139 || (c >= 0x14A && c <= 0x177);
        return upperIsEven == even ? plus(1) : c;
    }
    if (c >= 0x386 && c <= 0x3AB) {
        if (c == 0x386) return u'\u03AC';
        if (c >= 0x388 && c <= 0x38A) return plus(0x25);
        if (c == 0x38C) return u'\u03CC';
        if (c == 0x38E || c == 0x38F) return plus(0x3F);
        if (c >= 0x391 && c != 0x3A2) return plus(0x20);
        return c;
    }
    if (c == 0x3C2) return u'\u03C3';  // final sigma upper-cases to the same capital
    if (c >= 0x400 && c <= 0x40F) return plus(0x50);
    if (c >= 0x410 && c <= 0x42F) return plus(0x20);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return even ? plus(1) : c;
    if (c == 0x4C0) return u'\u04CF';
    if (c >= 0x4C1 && c <= 0x4CE) return even ? c : plus(1);
    if (c >= 0x531 && c <= 0x556) return plus(0x30);
    if (c >= 0xFF21 && c <= 0xFF3A) return plus(0x20);
    return c;
}

char16_t NormalizedUnit(char16_t c) noexcept {
    return c == u'/' ? u'\\' : FoldBeyondAscii(static_cast<char16_t>(win::towlower(c)));
}

wstring_t Normalized(wstring_t text) {
    for (char16_t& c : text) c = NormalizedUnit(c);
    return text;
}

}  // namespace

NormalizedPath::NormalizedPath(wstring_t text) : m_text(Normalized(std::move(text))) {}

NormalizedPath::NormalizedPath(wstring_t text, AsDirectory) : m_text(Normalized(std::move(text))) {
    if (m_text.empty() || m_text[m_text.size() - 1] != u'\\') m_text.push_back(u'\\');
}

NormalizedDirectoryPath::NormalizedDirectoryPath(wstring_t text)
    : NormalizedPath(std::move(text), AsDirectory{}) {}

bool PathLiesInFolder(std::u16string_view path, std::u16string_view folder) noexcept {
    if (!folder.empty() && IsSeparator(folder.back())) folder.remove_suffix(1);
    if (folder.empty() || path.size() < folder.size()) return false;
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (NormalizedUnit(path[i]) != NormalizedUnit(folder[i])) return false;
    }
    return path.size() == folder.size() || IsSeparator(path[folder.size()]);
}

LongPath MakeLongPath(const wstring_t& path) {
    LongPath result;
    result.m_caller = path.c_str();
    const std::u16string_view text = path.view();
    // "\\?\" is all punctuation, so comparing it without regard to case is comparing it.
    if (text.size() + 1 < kMaxPath + 1 || StartsWithLongPrefix(text)) return result;

    result.m_owned.reserve(text.size() + 10);
    result.m_owned.append(text);
    result.m_rewritten = true;
    const bool unc = IsUncPath(text);
    if (!unc && !IsDrivePath(text)) return result;  // relative: Windows resolves it
    if (text.substr(0, kDevicePrefix.size()) == kDevicePrefix) return result;

    Canonicalize(result.m_owned);
    if (unc)
        result.m_owned.insert(1, u"\\?\\UNC");  // \\server\share -> \\?\UNC\server\share
    else
        result.m_owned.insert(0, kLongPrefix);
    return result;
}

ResultCode IsPlainDirectory(const wstring_t& path) {
    const wow64_fs_redirection_guard redirectionOff;
    const LongPath longPath = MakeLongPath(path);
    const win::DWORD attributes = win::GetFileAttributesW(longPath.c_str());
    // A failed call answers a failure, never "exists, but no plain directory": a missing folder
    // must not pass for something that exists, whatever the last error says.
    if (attributes == win::INVALID_FILE_ATTRIBUTES) return FailureFromLastError();
    const bool directory = (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool reparsePoint = (attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return directory && !reparsePoint ? rc::kOk : rc::kFalse;
}

}  // namespace zef::system
