// Name and path folding of the simulated machine.
#include "core/paths.h"

#include <vector>

namespace winsim::core {

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

}  // namespace winsim::core
