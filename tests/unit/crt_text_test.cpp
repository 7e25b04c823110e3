// The C runtime's text functions in its default "C" locale, as the module relies on them. These
// tests use nothing but win.h, so the same file runs against the simulated machine and, cross
// built, against the real Windows runtime: the simulation cannot drift from Windows unseen.
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

TEST(CrtTextTest, MbrtowcArgumentEdges) {
    win::mbstate_t state{};
    win::WCHAR out = 0xBEEF;
    // No bytes to look at: an incomplete character, nothing stored.
    EXPECT_EQ(kIncomplete, win::mbrtowc(&out, "A", 0, &state));
    EXPECT_EQ(0xBEEF, out);
    // A null text resets the state and converts nothing.
    EXPECT_EQ(0u, win::mbrtowc(&out, nullptr, 1, &state));
    EXPECT_EQ(0xBEEF, out);
    // A null output still consumes and counts the byte.
    EXPECT_EQ(1u, win::mbrtowc(nullptr, "\xE9", 1, &state));
    // Only one byte is taken even when more are offered.
    EXPECT_EQ(1u, win::mbrtowc(&out, "AB", 2, &state));
    EXPECT_EQ(u'A', out);
    // The runtime's internal state stands in for a null one.
    EXPECT_EQ(1u, win::mbrtowc(&out, "\xFF", 1, nullptr));
    EXPECT_EQ(0xFF, out);
    EXPECT_TRUE(IsZero(state));
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

TEST(CrtTextTest, WcrtombRefusesUnitsAboveFFWithEilseq) {
    for (win::WCHAR unit :
         {u'\x100', u'\x20AC', u'\x3A9', char16_t{0xD800}, char16_t{0xDFFF}, char16_t{0xFFFF}}) {
        win::mbstate_t state{};
        char out[8] = {};
        std::size_t written = 12345;
        errno = 0;
        EXPECT_EQ(kEilseq, win::wcrtomb_s(&written, out, sizeof out, unit, &state))
            << "unit " << unsigned{unit};
        EXPECT_EQ(kFailed, written) << "unit " << unsigned{unit};
        EXPECT_EQ(kEilseq, errno) << "unit " << unsigned{unit};
    }
}

TEST(CrtTextTest, TowlowerLowersOnlyAsciiCapitals) {
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
