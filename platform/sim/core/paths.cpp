// Name and path folding of the simulated machine, and the reading of Win32 names.
#include "core/paths.h"

#include <vector>

namespace winsim::core {

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

char16_t UpperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && Fold(a) == Fold(b);
}

// The parts of a path being read, and whether the text ends with a separator.
struct Parts {
    std::vector<std::u16string> items;
    bool trailingSeparator = false;

    std::u16string Joined() const {
        std::u16string text;
        for (const auto& item : items) {
            text += u'\\';
            text += item;
        }
        if (items.empty() || trailingSeparator) text += u'\\';
        return text;
    }
};

// Adds the parts of `rest` the way Windows reads a path that is not in the \\?\ form. Parts at
// or below `floor` are the root (a share's server and name) and ".." never removes them.
// Windows 7 and later drop one trailing '.' of a part that a separator follows ("a..\" reads as
// "a.\") and every trailing '.' and ' ' of the last part; a last part made only of them leaves
// the separator before it ("x\. ." reads as "x\").
void AddParts(Parts& parts, std::u16string_view rest, std::size_t floor = 0) {
    std::size_t pos = 0;
    while (pos < rest.size()) {
        if (IsSeparator(rest[pos])) {
            parts.trailingSeparator = true;
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        std::u16string part(rest.substr(pos, end - pos));
        const bool followed = end < rest.size();
        pos = end;
        if (part == u".") {
            parts.trailingSeparator = followed;
            continue;
        }
        if (part == u"..") {
            if (parts.items.size() > floor) parts.items.pop_back();
            parts.trailingSeparator = followed;
            continue;
        }
        if (followed) {
            if (part.back() == u'.') part.pop_back();
            parts.items.push_back(std::move(part));
            continue;
        }
        while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
        parts.trailingSeparator = part.empty();
        if (!part.empty()) parts.items.push_back(std::move(part));
    }
}

// A name in the \\?\ form: what follows the prefix goes to the object manager as written.
void ReadLiteral(Win32Name& name, std::u16string_view rest) {
    if (rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == u':' &&
        (rest.size() == 2 || rest[2] == u'\\')) {
        name.target = NameTarget::Drive;
        name.drive = rest[0];
        name.path = std::u16string(rest.substr(2));
        return;
    }
    const auto component = [&rest](std::size_t from, std::size_t* next) {
        std::size_t end = from;
        while (end < rest.size() && rest[end] != u'\\') ++end;
        *next = end < rest.size() ? end + 1 : end;
        return std::u16string(rest.substr(from, end - from));
    };
    if (rest.size() >= 4 && EqualsIgnoringCase(rest.substr(0, 4), u"UNC\\")) {
        name.target = NameTarget::Unc;
        name.prefix += rest.substr(0, 4);
        std::size_t next = 0;
        name.server = component(4, &next);
        std::size_t after = 0;
        name.share = component(next, &after);
        const std::size_t shareEnd = next + name.share.size();
        name.path = shareEnd < rest.size() ? std::u16string(rest.substr(shareEnd)) : u"";
        return;
    }
    std::size_t next = 0;
    name.object = component(0, &next);
    name.more = next > name.object.size();
    name.target =
        name.object.size() >= 7 && EqualsIgnoringCase(name.object.substr(0, 7), u"Volume{")
            ? NameTarget::Volume
            : NameTarget::Object;
}

// The parts of a canonical absolute path after its "X:".
Parts PartsOf(std::u16string_view canonical) {
    Parts parts;
    if (canonical.size() > 3) AddParts(parts, canonical.substr(3));
    parts.trailingSeparator = false;
    return parts;
}

}  // namespace

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

bool IsDosDeviceName(std::u16string_view part) {
    part = part.substr(0, part.find(u':'));
    part = part.substr(0, part.find(u'.'));
    while (!part.empty() && part.back() == u' ') part.remove_suffix(1);
    const std::u16string folded = Fold(part);
    if (folded == u"con" || folded == u"prn" || folded == u"aux" || folded == u"nul" ||
        folded == u"conin$" || folded == u"conout$")
        return true;
    return folded.size() == 4 && (folded.substr(0, 3) == u"com" || folded.substr(0, 3) == u"lpt") &&
           folded[3] >= u'1' && folded[3] <= u'9';
}

Win32Name ReadWin32Name(std::u16string_view text, std::u16string_view currentDirectory,
                        NameReader reader) {
    Win32Name name;
    const auto startsWith = [&text](std::u16string_view prefix) {
        return text.substr(0, prefix.size()) == prefix;
    };
    if (startsWith(u"\\\\?\\") || (reader == NameReader::FileCall && startsWith(u"\\??\\"))) {
        name.form = NameForm::Literal;
        name.prefix = std::u16string(text.substr(0, 4));
        ReadLiteral(name, text.substr(4));
        name.fullLength = text.size();
        return name;
    }

    Parts parts;
    std::u16string root;  // what the parts follow: "X:", "\\server\share", "\\.\"
    if (text.size() >= 3 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
        (text[2] == u'.' || text[2] == u'?') && (text.size() == 3 || IsSeparator(text[3]))) {
        name.form = NameForm::LocalDevice;
        name.prefix = std::u16string(u"\\\\") + text[2] + u"\\";
        if (text.size() > 3) AddParts(parts, text.substr(4));
        name.fullLength = name.prefix.size() + parts.Joined().size() - 1;
        if (parts.items.empty()) {
            name.target = NameTarget::Object;
            return name;
        }
        const std::u16string& first = parts.items.front();
        if (first.size() == 2 && first[1] == u':') {
            name.target = NameTarget::Drive;
            name.drive = first[0];
            parts.items.erase(parts.items.begin());
            name.path = parts.items.empty() && !parts.trailingSeparator ? u"" : parts.Joined();
            return name;
        }
        name.target = NameTarget::Device;
        name.object = first;
        name.more = parts.items.size() > 1 || parts.trailingSeparator;
        return name;
    }
    if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        name.form = NameForm::Unc;
        name.target = NameTarget::Unc;
        name.prefix = u"\\\\";
        std::u16string_view rest = text.substr(2);
        std::size_t end = 0;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        name.server = std::u16string(rest.substr(0, end));
        rest = end < rest.size() ? rest.substr(end + 1) : std::u16string_view{};
        end = 0;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        name.share = std::u16string(rest.substr(0, end));
        if (end < rest.size()) AddParts(parts, rest.substr(end));
        name.path = parts.items.empty() && !parts.trailingSeparator ? u"" : parts.Joined();
        name.fullLength = 2 + name.server.size() + 1 + name.share.size() + name.path.size();
        return name;
    }

    // The drive forms and the forms relative to the current folder.
    if (text.size() >= 2 && text[1] == u':') {
        name.drive = text[0];
        if (text.size() >= 3 && IsSeparator(text[2])) {
            name.form = NameForm::DriveAbsolute;
            AddParts(parts, text.substr(3));
        } else {
            name.form = NameForm::DriveRelative;
            // Windows keeps a current folder per drive; the simulated process has one only on
            // the drive of its current folder, and another drive's is that drive's root.
            if (!currentDirectory.empty() && FoldChar(currentDirectory[0]) == FoldChar(text[0]))
                parts = PartsOf(currentDirectory);
            if (text.size() > 2) {
                parts.trailingSeparator = false;
                AddParts(parts, text.substr(2));
            }
        }
    } else if (!text.empty() && IsSeparator(text[0])) {
        name.form = NameForm::Rooted;
        name.drive = currentDirectory.empty() ? u'C' : currentDirectory[0];
        AddParts(parts, text.substr(1));
    } else {
        name.form = NameForm::Relative;
        name.drive = currentDirectory.empty() ? u'C' : currentDirectory[0];
        parts = PartsOf(currentDirectory);
        AddParts(parts, text);
    }
    name.path = parts.Joined();
    name.fullLength = 2 + name.path.size();
    name.target = NameTarget::Drive;
    if (!parts.items.empty() && !parts.trailingSeparator && IsDosDeviceName(parts.items.back())) {
        name.target = NameTarget::Device;
        name.object = parts.items.back();
    }
    return name;
}

std::optional<std::u16string> CanonicalPath(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    const Win32Name name = ReadWin32Name(path, u"", NameReader::FileCall);
    if (name.target != NameTarget::Drive || !IsAsciiLetter(name.drive)) return std::nullopt;
    std::u16string result{UpperAscii(name.drive), u':'};
    if (name.Literal()) {
        if (name.path.empty() || name.path[0] != u'\\') return std::nullopt;
        std::u16string_view rest = std::u16string_view(name.path).substr(1);
        if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
        std::size_t pos = 0;
        while (!rest.empty() && pos <= rest.size()) {
            std::size_t end = rest.find(u'\\', pos);
            if (end == std::u16string_view::npos) end = rest.size();
            const std::u16string_view part = rest.substr(pos, end - pos);
            if (part.empty() || part == u"." || part == u".." ||
                part.find(u'/') != std::u16string_view::npos)
                return std::nullopt;
            pos = end + 1;
        }
        result += u'\\';
        result += rest;
        return result;
    }
    if (name.form != NameForm::DriveAbsolute) return std::nullopt;
    result += name.path;
    if (result.size() > 3 && result.back() == u'\\') result.pop_back();
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
