// The C runtime's text functions, as the Windows C runtime behaves in its default "C" locale.
#pragma once

#include <win/types.h>

namespace win {

// The conversion state of mbrtowc / wcrtomb_s. Only its size matters to callers, which
// zero-initialise it; the bindings keep their own representation inside.
struct mbstate_t {
    std::uint64_t opaque[2];
};

QORVEX_WIN_API std::size_t mbrtowc(WCHAR* out, const char* s, std::size_t n, mbstate_t* state);
QORVEX_WIN_API errno_t wcrtomb_s(std::size_t* written, char* out, std::size_t outSize, WCHAR wc,
                                 mbstate_t* state);
QORVEX_WIN_API wint_t towlower(wint_t c);

}  // namespace win
