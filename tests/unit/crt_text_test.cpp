// The C runtime's text functions in its default "C" locale, as tables of facts: mbrtowc and
// wcrtomb_s (dlls/msvcrt/tests/string.c test_mbcp and test_wctomb, whose rows that hold in any
// locale are taken here, and Microsoft's documentation of both), towlower
// (dlls/msvcrt/tests/string.c and dlls/ucrtbase/tests/string.c test_C_locale: the "C" locale
// lowers 'A'..'Z' only, over the whole 16-bit range). These tests use nothing but win.h, so the
// same file runs against the simulated machine and, cross built, against the real Windows
// runtime under Wine: the simulation cannot drift from Windows unseen. The rows of bytes and
// units above 0x7F (each byte is the unit of the same value, a unit above 0xFF has no byte)
// are the "C" locale's own, which the runtime keeps without a code page; Wine's runtime answers
// them as the rows say on every run.
#include <win/win.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kIncomplete = static_cast<std::size_t>(-2);
constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
constexpr win::errno_t kEilseq = 42;

bool IsZero(const win::mbstate_t& state) {
    const win::mbstate_t zero{};
    return std::memcmp(&state, &zero, sizeof state) == 0;
}

TEST(CrtTextTest, MbrtowcWidensEveryByteToTheUnitOfTheSameValue) {
    for (unsigned value = 1; value <= 0xFF; ++value) {
        const char byte = static_cast<char>(value);
        win::mbstate_t state{};
        win::WCHAR out = 0xBEEF;
        EXPECT_EQ(1u, win::mbrtowc(&out, &byte, 1, &state)) << "byte " << value;
        EXPECT_EQ(value, out) << "byte " << value;
        EXPECT_TRUE(IsZero(state)) << "byte " << value;
    }
    win::mbstate_t state{};
    win::WCHAR out = 0xBEEF;
    EXPECT_EQ(0u, win::mbrtowc(&out, "", 1, &state));
    EXPECT_EQ(0u, out);
}

// string.c test_mbcp: a one-byte character is 1 whatever the bytes offered, and the runtime's
// own state stands in for a null one. Microsoft's documentation of mbrtowc: the terminator is
// 0, no bytes to look at is an incomplete character ((size_t)-2) with nothing stored, a null
// text is the call with an empty one (0, nothing stored), and a null output still counts the
// character.
TEST(CrtTextTest, MbrtowcByArgument) {
    struct Row {
        const char* what;
        const char* text;
        std::size_t n;
        bool withOut;
        bool withState;
        std::size_t result;
        win::WCHAR out;  // what *out holds after the call (0xBEEF: left alone)
    };
    const Row rows[] = {
        {"a space, two bytes offered", " B", 2, true, true, 1, u' '},
        {"a letter", "A", 1, true, true, 1, u'A'},
        {"a byte above 0x7F", "\xE9", 1, true, true, 1, 0xE9},
        {"the terminator", "", 1, true, true, 0, 0},
        {"no bytes to look at", "A", 0, true, true, kIncomplete, 0xBEEF},
        {"a null text", nullptr, 1, true, true, 0, 0xBEEF},
        {"a null output", "\xE9", 1, false, true, 1, 0xBEEF},
        {"the runtime's own state", "\xFF", 1, true, false, 1, 0xFF},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::mbstate_t state{};
        win::WCHAR out = 0xBEEF;
        EXPECT_EQ(row.result, win::mbrtowc(row.withOut ? &out : nullptr, row.text, row.n,
                                           row.withState ? &state : nullptr));
        EXPECT_EQ(row.out, out);
        EXPECT_TRUE(IsZero(state)) << "a one-byte character leaves no state";
    }
}

TEST(CrtTextTest, WcrtombNarrowsUnitsUpToFFToOneByte) {
    for (unsigned unit = 0; unit <= 0xFF; ++unit) {
        win::mbstate_t state{};
        char out[8];
        std::memset(out, 'x', sizeof out);
        std::size_t written = 12345;
        EXPECT_EQ(0,
                  win::wcrtomb_s(&written, out, sizeof out, static_cast<win::WCHAR>(unit), &state))
            << "unit " << unit;
        EXPECT_EQ(1u, written) << "unit " << unit;
        EXPECT_EQ(unit, static_cast<unsigned char>(out[0])) << "unit " << unit;
        EXPECT_EQ('x', out[1]) << "unit " << unit;
    }
    // The count may be left out.
    char out[4] = {};
    EXPECT_EQ(0, win::wcrtomb_s(nullptr, out, sizeof out, u'B', nullptr));
    EXPECT_EQ('B', out[0]);
}

// string.c test_wctomb: a space is one byte, and nothing after it is written; a unit the locale
// has no byte for is EILSEQ with a count of (size_t)-1 (0xFFFF there, and in the "C" locale
// every unit above 0xFF). Microsoft's documentation of wcrtomb_s: the count may be left out,
// and errno is set to the error returned. (test_wctomb also asks for the count alone, with no
// buffer and no size, in a code-page locale; Wine's runtime answers ERANGE to that in the "C"
// locale, and nothing says what Windows' does there, so it is no row here.)
TEST(CrtTextTest, WcrtombSByUnitAndBuffer) {
    struct Row {
        const char* what;
        win::WCHAR unit;
        bool withCount;
        bool withBuffer;
        win::errno_t error;
        std::size_t count;  // what the count holds after the call
        int byte;           // the byte written, or -1 for none
    };
    const Row rows[] = {
        {"a space", u' ', true, true, 0, 1, ' '},
        {"a letter, no count", u'B', false, true, 0, 12345, 'B'},
        {"the terminator", 0, true, true, 0, 1, 0},
        {"0xFF, the last unit with a byte", 0xFF, true, true, 0, 1, 0xFF},
        {"0x100", 0x100, true, true, kEilseq, kFailed, -1},
        {"the euro sign", 0x20AC, true, true, kEilseq, kFailed, -1},
        {"a capital omega", 0x3A9, true, true, kEilseq, kFailed, -1},
        {"a high surrogate", 0xD800, true, true, kEilseq, kFailed, -1},
        {"a low surrogate", 0xDFFF, true, true, kEilseq, kFailed, -1},
        {"0xFFFF", 0xFFFF, true, true, kEilseq, kFailed, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        win::mbstate_t state{};
        char out[8];
        std::memset(out, 'x', sizeof out);
        std::size_t count = 12345;
        errno = 0;
        EXPECT_EQ(row.error,
                  win::wcrtomb_s(row.withCount ? &count : nullptr, row.withBuffer ? out : nullptr,
                                 row.withBuffer ? sizeof out : 0, row.unit, &state));
        EXPECT_EQ(row.count, count);
        if (row.error != 0) {
            EXPECT_EQ(row.error, errno);
        }
        if (row.byte >= 0) {
            EXPECT_EQ(row.byte, static_cast<unsigned char>(out[0]));
            EXPECT_EQ('x', out[1]) << "one byte only";
        }
    }
}

// string.c (msvcrt and ucrtbase) test_C_locale.
TEST(CrtTextTest, TowlowerLowersOnlyAsciiCapitals) {
    struct Row {
        const char* what;
        win::wint_t unit;
        win::wint_t lowered;
    };
    const Row rows[] = {
        {"'A'", u'A', u'a'},
        {"'Z'", u'Z', u'z'},
        {"'a' stays", u'a', u'a'},
        {"'@', before 'A'", u'@', u'@'},
        {"'[', after 'Z'", u'[', u'['},
        {"a capital A with grave", 0xC0, 0xC0},
        {"a capital I with a dot", 0x130, 0x130},
        {"a capital omega", 0x3A9, 0x3A9},
        {"the Kelvin sign", 0x212A, 0x212A},
        {"a full-width capital A", 0xFF21, 0xFF21},
        {"0xFFFF", 0xFFFF, 0xFFFF},
    };
    for (const Row& row : rows) EXPECT_EQ(row.lowered, win::towlower(row.unit)) << row.what;

    // Over the whole 16-bit range: the "C" locale knows no letters beyond ASCII, so À, Ω, Д,
    // the Kelvin sign and full-width letters stay as they are.
    for (std::uint32_t c = 0; c <= 0xFFFF; ++c) {
        const auto unit = static_cast<win::wint_t>(c);
        const win::wint_t expected =
            c >= 'A' && c <= 'Z' ? static_cast<win::wint_t>(c + 0x20) : unit;
        ASSERT_EQ(expected, win::towlower(unit)) << "unit " << c;
    }
}

}  // namespace
