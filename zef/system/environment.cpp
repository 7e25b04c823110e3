#include "zef/system/environment.h"

#include <win/system_info.h>

#include <exception>

#include "zef/rtl/result_codes.h"

namespace zef::system {
namespace {

// Expands one "%NAME%" token: 0 with *expansion set, 1 when the variable is not defined (the
// system hands the token back unchanged), or a failure.
ResultCode ExpandToken(const wstring_t& token, wstring_t* expansion) {
    const win::DWORD needed = win::ExpandEnvironmentStringsW(token.c_str(), nullptr, 0);
    if (needed == 0) return FailureFromLastError();
    wstring_t buffer(needed, u'\0');
    const win::DWORD written = win::ExpandEnvironmentStringsW(token.c_str(), buffer.data(), needed);
    if (written == 0) return FailureFromLastError();
    // The variable changed between the two calls; the text in the buffer is cut short.
    if (written > needed) return rc::kUnexpected;
    buffer.resize(written - 1);
    if (buffer == token) return rc::kFalse;
    *expansion = std::move(buffer);
    return rc::kOk;
}

}  // namespace

ResultCode ExpandEnvironmentVariables(const wstring_t& text, wstring_t* expanded) noexcept {
    try {
        const std::u16string_view original = text.view();
        wstring_t copy(original.substr(0, original.find(u'\0')));
        bool allExpanded = true;
        std::size_t scan = 0;
        for (;;) {
            const std::size_t open = copy.view().find(u'%', scan);
            if (open == std::u16string_view::npos) break;
            const std::size_t close = copy.view().find(u'%', open + 1);
            if (close == std::u16string_view::npos) {
                allExpanded = false;
                break;
            }
            const wstring_t token(copy.view().substr(open, close - open + 1));
            wstring_t expansion;
            const ResultCode answer = ExpandToken(token, &expansion);
            if (Failed(answer)) return answer;
            if (answer == rc::kFalse) {
                allExpanded = false;
                scan = close + 1;
            } else {
                copy.replace(open, token.size(), expansion.data(), expansion.size());
                scan = open + expansion.size();
            }
        }
        *expanded = std::move(copy);
        return allExpanded ? rc::kOk : rc::kFalse;
    } catch (const std::exception&) {
        return rc::kOutOfMemory;
    }
}

}  // namespace zef::system
