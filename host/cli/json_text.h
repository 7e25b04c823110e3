// JSON string literals, as every command of qorvex-host writes them.
#pragma once

#include <string>
#include <string_view>

namespace qorvex::host {

// text as a JSON string literal, quotes included, in UTF-8. Unpaired surrogates keep their
// value as \uXXXX escapes, which JSON allows and UTF-8 cannot carry.
std::string JsonString(std::u16string_view text);
// Narrow text (messages, names, file names from the command line), read as UTF-8; bytes that
// are not UTF-8 become U+FFFD, so the document stays valid JSON.
std::string JsonString(std::string_view text);

}  // namespace qorvex::host
