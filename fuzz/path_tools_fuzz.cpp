// libFuzzer target for the path helpers. The input is an environment of up to three variables
// and one text (optionally repeated past the 260-character limit). Checked:
// - NormalizedPath keeps the length, leaves no '/' and no ASCII capital, and is idempotent;
//   NormalizedDirectoryPath is the same text with one '\' added unless it ends in one;
// - MakeLongPath hands back the caller's own text below 260 characters or in the "\\?\" form,
//   and otherwise a copy that grows by at most the prefix it gains; a rewritten drive path has
//   no empty or "." segment after its root (bar a leading "."), and ".." only at the front;
// - ExpandEnvironmentVariables answers what a reference expansion over the same variables
//   answers, text and result code alike.
// Any disagreement traps.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_text.h"
#include "winsim/sim.h"
#include "zef/system/environment.h"
#include "zef/system/path_tools.h"

namespace {

using qorvex::fuzz::ConsumeText;

zef::wstring_t Wide(const std::u16string& text) {
    return zef::wstring_t(text.data(), text.size());
}

void CheckNormalized(const std::u16string& text) {
    const zef::system::NormalizedPath path(Wide(text));
    const std::u16string_view view = path.view();
    if (view.size() != text.size()) __builtin_trap();
    for (const char16_t c : view)
        if (c == u'/' || (c >= u'A' && c <= u'Z')) __builtin_trap();
    if (!(zef::system::NormalizedPath(path.text()) == path)) __builtin_trap();

    const zef::system::NormalizedDirectoryPath folder(Wide(text));
    const std::u16string_view directory = folder.view();
    const bool endsInSeparator = !view.empty() && view.back() == u'\\';
    if (directory.size() != view.size() + (endsInSeparator ? 0 : 1)) __builtin_trap();
    if (directory.substr(0, view.size()) != view || directory.back() != u'\\') __builtin_trap();
}

bool IsDrivePath(std::u16string_view path) {
    return path.size() >= 3 && ((path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z') &&
           path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

void CheckLongPath(const std::u16string& text) {
    const zef::wstring_t path = Wide(text);
    const zef::system::LongPath longPath = zef::system::MakeLongPath(path);
    const std::u16string_view view = longPath.view();
    const bool longForm = text.compare(0, 4, u"\\\\?\\") == 0;
    if (text.size() < 260 || longForm) {
        if (longPath.owned() || longPath.c_str() != path.c_str()) __builtin_trap();
        return;
    }
    if (!longPath.owned() || view.size() > text.size() + 6) __builtin_trap();
    if (!IsDrivePath(text)) return;
    // "\\?\X:\" then the rebuilt segments.
    if (view.substr(0, 4) != u"\\\\?\\" || view.size() < 7 || view[6] != u'\\') __builtin_trap();
    bool first = true;
    bool parentsOnly = true;
    for (std::size_t pos = 7; pos < view.size();) {
        std::size_t end = view.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = view.size();
        const std::u16string_view segment = view.substr(pos, end - pos);
        if (segment.empty() || segment.find(u'/') != std::u16string_view::npos) __builtin_trap();
        if (segment == u"." && !first) __builtin_trap();
        if (segment == u"..") {
            if (!parentsOnly) __builtin_trap();
        } else {
            parentsOnly = false;
        }
        first = false;
        pos = end + 1;
        if (end + 1 == view.size()) __builtin_trap();  // no trailing separator
    }
}

// One %NAME% at a time, as the system expands a lone reference: the value of a defined name,
// else the reference itself (which counts as not expanded, as does a value equal to it).
void CheckExpansion(const std::u16string& raw) {
    const std::u16string text = raw.substr(0, raw.find(u'\0'));
    std::u16string expected;
    bool all = true;
    std::size_t scan = 0;
    for (;;) {
        const std::size_t open = text.find(u'%', scan);
        if (open == std::u16string::npos) break;
        const std::size_t close = text.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            all = false;
            break;
        }
        const std::u16string token = text.substr(open, close - open + 1);
        const std::optional<std::u16string> value =
            winsim::GetEnvironmentVariable(text.substr(open + 1, close - open - 1));
        expected += text.substr(scan, open - scan);
        if (!value || *value == token) {
            all = false;
            expected += token;
        } else {
            expected += *value;
        }
        scan = close + 1;
    }
    expected += text.substr(std::min(scan, text.size()));

    zef::wstring_t expanded(u"untouched");
    const zef::ResultCode code = zef::system::ExpandEnvironmentVariables(Wide(raw), &expanded);
    if (code != (all ? 0 : 1)) __builtin_trap();
    if (expanded.view() != expected) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    static constexpr const char16_t* kNames[] = {u"A", u"b", u"Ab", u"ProgramFiles", u""};
    winsim::Environment environment = winsim::GetEnvironment();
    const std::size_t variables = in.ConsumeIntegralInRange<std::size_t>(0, 3);
    for (std::size_t i = 0; i < variables; ++i) {
        std::u16string name = kNames[in.ConsumeIntegralInRange<std::size_t>(0, 4)];
        if (name.empty()) name = ConsumeText(in, 3);
        std::u16string value = ConsumeText(in, 12);
        value = value.substr(0, value.find(u'\0'));
        if (name.empty() || name.find_first_of(u"=%") != std::u16string::npos ||
            name.find(u'\0') != std::u16string::npos)
            continue;
        winsim::SetEnvironmentVariable(name, value);
    }

    std::u16string text = ConsumeText(in, 64);
    // A short text repeated past 260 characters reaches the long-path rewrite.
    const std::size_t repeats = in.ConsumeIntegralInRange<std::size_t>(0, 40);
    const std::u16string unit = ConsumeText(in, 16);
    for (std::size_t i = 0; i < repeats; ++i) text += unit;

    CheckNormalized(text);
    CheckLongPath(text);
    CheckExpansion(text);

    winsim::SetEnvironment(std::move(environment));
    return 0;
}
