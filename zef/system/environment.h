// Expansion of %NAME% references in a text, one reference at a time, so that the answer says
// whether every reference was defined.
#pragma once

#include "zef/result_code.h"
#include "zef/string.h"

namespace zef::system {

// Expands each %NAME% in text with ExpandEnvironmentStringsW. 0 when every reference was
// expanded, 1 when at least one was not (an undefined variable stays as written, and so does a
// '%' without a partner), both with *expanded set; a failure when the system failed
// (0x80000041 when memory ran out), and *expanded is then left alone. The text ends at its first
// NUL.
ResultCode ExpandEnvironmentVariables(const wstring_t& text, wstring_t* expanded) noexcept;

}  // namespace zef::system
