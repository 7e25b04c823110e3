// The Windows C runtime's text functions as they behave in its default "C" locale, where the
// runtime has no code page. Observed with a mingw-w64 (msvcrt) program under Wine and checked
// against the runtime's documentation:
// - mbrtowc (mingw-w64 carries its own, driven by the msvcrt code page, which is 0 here): each
//   byte becomes the UTF-16 unit of the same value (0x80..0xFF included, nothing is invalid);
//   the result is 1, or 0 for the zero byte; n == 0 gives (size_t)-2 and leaves *out alone; a
//   null text gives 0; a null out still counts the byte (1). No state is ever carried.
// - wcrtomb_s (msvcrt): units up to 0xFF become that one byte, *written = 1, result 0; any
//   larger unit (surrogates included) fails with EILSEQ (42), *written = (size_t)-1 and errno
//   42. A null written pointer is allowed. The runtimes disagree on the buffer after EILSEQ
//   (Wine zeroes it) and on a zero-sized buffer (the Microsoft runtime stores the byte anyway,
//   Wine reports ERANGE); the simulation leaves the buffer alone and reports ERANGE (34).
// - towlower: only 'A'..'Z' are lowered; every other unit, 0xC0..0xDE and all non-Latin
//   letters included, comes back unchanged.
// Callers depend on exactly this (UTF-16 text with units above 0xFF does not narrow), so the
// simulation does not use the host's locale machinery. tests/unit/crt_text_test.cpp states the
// shared behaviour and runs against the real runtime as well.
#include <win/crt_text.h>

#include "core/core.h"

namespace {

// The Windows runtime's errno values, spelled out so that the results do not depend on the
// host's headers.
constexpr win::errno_t kEilseq = 42;
constexpr win::errno_t kErange = 34;

using winsim::core::Channel;
using winsim::core::Journaling;
using winsim::core::Locking;

// Text functions run in every string operation: no lock, no journal, unless a fault may fire.
std::string NoText() {
    return {};
}

}  // namespace

QORVEX_SIM_CALL(mbrtowc, Channel::Errno, static_cast<std::size_t>(-1), Journaling::Never,
                Locking::ForFaultsOnly);
QORVEX_SIM_CALL(wcrtomb_s, Channel::ErrnoResult, static_cast<errno_t>(error), Journaling::Never,
                Locking::ForFaultsOnly);
QORVEX_SIM_CALL(towlower, Channel::None, 0, Journaling::Never, Locking::ForFaultsOnly);

namespace win {

using winsim::core::Simulate;

std::size_t mbrtowc(WCHAR* out, const char* s, std::size_t n, mbstate_t* state) {
    return Simulate<&mbrtowc>({out, s, n, state}, NoText, [&]() -> std::size_t {
        // A null text restarts the conversion: no character, result 0.
        if (s == nullptr) return 0;
        if (n == 0) return static_cast<std::size_t>(-2);
        const auto byte = static_cast<unsigned char>(*s);
        if (out != nullptr) *out = static_cast<WCHAR>(byte);
        return byte == 0 ? 0 : 1;
    });
}

errno_t wcrtomb_s(std::size_t* written, char* out, std::size_t outSize, WCHAR wc,
                  mbstate_t* state) {
    return Simulate<&wcrtomb_s>(
        {written, out, outSize, wc, state}, NoText,
        [&]() -> errno_t {
            if (out != nullptr && outSize == 0) {
                // The runtime would store the byte anyway; refuse, with the runtime's code for a
                // buffer that is too small.
                if (written != nullptr) *written = static_cast<std::size_t>(-1);
                errno = kErange;
                return kErange;
            }
            if (wc > 0xFF) {
                if (written != nullptr) *written = static_cast<std::size_t>(-1);
                errno = kEilseq;
                return kEilseq;
            }
            // A null output converts into the runtime's own scratch buffer: only the count is
            // reported.
            if (out != nullptr) *out = static_cast<char>(static_cast<unsigned char>(wc));
            if (written != nullptr) *written = 1;
            return 0;
        },
        [&] {
            if (written != nullptr) *written = static_cast<std::size_t>(-1);
        });
}

wint_t towlower(wint_t c) {
    return Simulate<&towlower>({c}, NoText, [&]() -> wint_t {
        if (c >= u'A' && c <= u'Z') return static_cast<wint_t>(c + (u'a' - u'A'));
        return c;
    });
}

}  // namespace win
