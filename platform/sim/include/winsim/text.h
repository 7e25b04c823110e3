// UTF-8 / UTF-16 conversion for code that sets the machine up from UTF-8 text (host paths,
// command lines). Ill-formed input becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include <utf/codec.h>

namespace winsim {

inline std::u16string Utf16FromUtf8(std::string_view text) {
    return utf::ToUtf16(text);
}
inline std::string Utf8FromUtf16(std::u16string_view text) {
    return utf::ToUtf8(text);
}

}  // namespace winsim
