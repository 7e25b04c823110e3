// StringCchPrintfW as Windows answers it, as tables of facts. Conversions: the Windows C runtime's
// printf as Wine's conformance suite records it (dlls/msvcrt/tests/printf.c, test_sprintf: its
// rows in the wide form, where %s is wide and %S narrow). Buffer rules: Microsoft's documentation
// of StringCchPrintf (0 or more than STRSAFE_MAX_CCH units is STRSAFE_E_INVALID_PARAMETER, a
// result that does not fit is truncated, terminated and STRSAFE_E_INSUFFICIENT_BUFFER, and every
// buffer of non-zero length is terminated). The same table runs on the simulated machine and,
// cross built, against the real runtime under Wine.
#include <win/strsafe.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "contract/machine.h"

namespace {

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

struct Result {
    win::HRESULT hr;
    std::u16string text;
};

template <class... A>
Result Print(const char16_t* format, A... args) {
    char16_t buffer[160];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    const win::HRESULT hr = win::StringCchPrintfW(buffer, 160, format, args...);
    return {hr, std::u16string(buffer)};
}

struct Row {
    const char16_t* format;
    Result result;
    const char16_t* expected;
};

void Check(const Row* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(Narrow(rows[i].format));
        EXPECT_EQ(win::S_OK, rows[i].result.hr);
        EXPECT_EQ(Narrow(rows[i].expected), Narrow(rows[i].result.text));
    }
}

TEST(StrsafeCallsTest, IntegersByFlagsWidthPrecisionAndSize) {
    const long long big = static_cast<long long>(0xffffffffull * 0xffffffffull);
    const Row rows[] = {
        {u"%d", Print(u"%d", -5), u"-5"},
        {u"%i", Print(u"%i", 42), u"42"},
        {u"%u", Print(u"%u", -1), u"4294967295"},
        {u"%+d", Print(u"%+d", 5), u"+5"},
        {u"% d", Print(u"% d", 1), u" 1"},
        {u"%+ d", Print(u"%+ d", 1), u"+1"},
        {u"%-i", Print(u"%-i", -1), u"-1"},
        {u"%+i", Print(u"%+i", 1), u"+1"},
        {u"%05d", Print(u"%05d", -100), u"-0100"},
        {u"%-5d", Print(u"%-5d", 100), u"100  "},
        {u"%5d", Print(u"%5d", -100), u" -100"},
        {u"%.5d", Print(u"%.5d", -100), u"-00100"},
        {u"%8.5d", Print(u"%8.5d", 100), u"   00100"},
        {u"%-8.5d", Print(u"%-8.5d", -100), u"-00100  "},
        {u"% .5d", Print(u"% .5d", 100), u" 00100"},
        {u"%.0d", Print(u"%.0d", 0), u""},
        {u"%3d", Print(u"%3d", 1234), u"1234"},
        {u"%-1d", Print(u"%-1d", 2), u"2"},
        {u"%*d", Print(u"%*d", 5, 42), u"   42"},
        {u"%*d negative width", Print(u"%*d", -5, 42), u"42   "},
        {u"%x", Print(u"%x", 255), u"ff"},
        {u"%X", Print(u"%X", 255), u"FF"},
        {u"%o", Print(u"%o", 10), u"12"},
        {u"%#x", Print(u"%#x", 255), u"0xff"},
        {u"%#X", Print(u"%#X", 255), u"0XFF"},
        {u"%#x of 0", Print(u"%#x", 0), u"0"},
        {u"%#012x", Print(u"%#012x", 1), u"0x0000000001"},
        {u"%#012x of 0", Print(u"%#012x", 0), u"000000000000"},
        {u"%#04.8x", Print(u"%#04.8x", 1), u"0x00000001"},
        {u"%#04.8x of 0", Print(u"%#04.8x", 0), u"00000000"},
        {u"%#-08.2x", Print(u"%#-08.2x", 1), u"0x01    "},
        {u"%#-08.2x of 0", Print(u"%#-08.2x", 0), u"00      "},
        {u"%#.0x", Print(u"%#.0x", 1), u"0x1"},
        {u"%#.0x of 0", Print(u"%#.0x", 0), u""},
        {u"%#o", Print(u"%#o", 1), u"01"},
        {u"%#o of 0", Print(u"%#o", 0), u"0"},
        {u"%#08o", Print(u"%#08o", 1), u"00000001"},
        {u"%hx", Print(u"%hx", 0x12345), u"2345"},
        {u"%hhx", Print(u"%hhx", 0x12345), u"2345"},
        {u"%hd", Print(u"%hd", 0x18000), u"-32768"},
        {u"%lx", Print(u"%lx", 0xFFFFFFFFu), u"ffffffff"},
        {u"%I64d", Print(u"%I64d", big), u"-8589934591"},
        {u"%I64u", Print(u"%I64u", ~0ull), u"18446744073709551615"},
        {u"%I64X", Print(u"%I64X", 0x0123456789ABCDEFull), u"123456789ABCDEF"},
        {u"%lld", Print(u"%lld", big), u"-8589934591"},
        {u"%llx", Print(u"%llx", 0x1122334455667788ull), u"1122334455667788"},
        {u"%I32d", Print(u"%I32d", -7), u"-7"},
        {u"%Iu", Print(u"%Iu", std::size_t{1} << 40), u"1099511627776"},
        {u"%+8I64d", Print(u"%+8I64d", 100ll), u"    +100"},
        {u"%+.8I64d", Print(u"%+.8I64d", 100ll), u"+00000100"},
        {u"%#-8.5I64o", Print(u"%#-8.5I64o", 100ll), u"00144   "},
        {u"%#-+ 08.5I64d", Print(u"%#-+ 08.5I64d", 100ll), u"+00100  "},
    };
    Check(rows, std::size(rows));
    // Wine 8's runtime writes past its own buffer on precisions of 18 digits and more (it
    // crashes at once or at exit); Windows prints them.
    if (contract::kSimulatedMachine) {
        const Row longPrecisions[] = {
            {u"%#+21.18I64x", Print(u"%#+21.18I64x", -100ll), u" 0x00ffffffffffffff9c"},
            {u"%#+25.22I64u", Print(u"%#+25.22I64u", -1ll), u"   0018446744073709551615"},
            {u"%+#25.22I64d", Print(u"%+#25.22I64d", -1ll), u"  -0000000000000000000001"},
            {u"%#.25I64o", Print(u"%#.25I64o", -100ll), u"0001777777777777777777634"},
        };
        Check(longPrecisions, std::size(longPrecisions));
    }
}

TEST(StrsafeCallsTest, StringsAndCharactersWideAndNarrow) {
    const Row rows[] = {
        {u"%s", Print(u"%s", u"wide"), u"wide"},
        {u"%ls", Print(u"%ls", u"wide"), u"wide"},
        {u"%ws", Print(u"%ws", u"wide"), u"wide"},
        {u"%S", Print(u"%S", "narrow"), u"narrow"},
        {u"%hs", Print(u"%hs", "narrow"), u"narrow"},
        {u"%-10s", Print(u"%-10s", u"wide"), u"wide      "},
        {u"%10s", Print(u"%10s", u"wide"), u"      wide"},
        {u"%.2s", Print(u"%.2s", u"wide"), u"wi"},
        {u"%.1hs", Print(u"%.1hs", "foo"), u"f"},
        {u"%04s: '0' pads strings too", Print(u"%04s", u"foo"), u"0foo"},
        {u"%*.*s", Print(u"%*.*s", 6, 3, u"abcdef"), u"   abc"},
        {u"%s of null", Print(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)"},
        {u"%s of percent signs", Print(u"%s", u"%%%%"), u"%%%%"},
        {u"%c", Print(u"%c", u'x'), u"x"},
        {u"%hc", Print(u"%hc", 0x100 + 'X'), u"X"},
        {u"%C", Print(u"%C", 'y'), u"y"},
        {u"%3c", Print(u"%3c", u'a'), u"  a"},
        {u"%04c: '0' pads characters too", Print(u"%04c", u'1'), u"0001"},
        {u"%-04c", Print(u"%-04c", u'1'), u"1   "},
        {u"%%", Print(u"%%"), u"%"},
        {u"%%0", Print(u"%%0"), u"%0"},
        {u"plain text", Print(u"hello"), u"hello"},
    };
    Check(rows, std::size(rows));
}

TEST(StrsafeCallsTest, ConversionsTheRuntimeDoesNotKnowArePrintedAsThemselves) {
    const Row rows[] = {
        {u"%k%m%q%r%v%y", Print(u"%k%m%q%r%v%y"), u"kmqrvy"},
        {u"%b", Print(u"%b"), u"b"},
        {u"%H", Print(u"%H", -1), u"H"},
        {u"%I alone", Print(u"%I", 1), u"I"},
        {u"%Iq", Print(u"%Iq", 1), u"Iq"},
        {u"%I0d", Print(u"%I0d", 1), u"I0d"},
        {u"%I64D", Print(u"%I64D", -1ll), u"D"},
        {u"%w0s", Print(u"%w0s", u"wide"), u"0s"},
        {u"%w-s", Print(u"%w-s", u"wide"), u"-s"},
        // A size prefix that ends the format prints nothing.
        {u"%h at the end", Print(u"%h", -1), u""},
        {u"%w at the end", Print(u"%w", -1), u""},
        {u"%3h at the end", Print(u"%3h"), u""},
        {u"%F at the end", Print(u"%F", -1), u""},
        {u"%N at the end", Print(u"%N", -1), u""},
    };
    Check(rows, std::size(rows));
}

TEST(StrsafeCallsTest, BufferSizesAndTruncation) {
    struct Case {
        std::size_t units;
        win::HRESULT hr;
        const char16_t* text;
    };
    const Case cases[] = {
        {11, win::S_OK, u"abcdef-123"},  // exactly the text and its terminator
        {12, win::S_OK, u"abcdef-123"},
        {10, win::STRSAFE_E_INSUFFICIENT_BUFFER, u"abcdef-12"},
        {8, win::STRSAFE_E_INSUFFICIENT_BUFFER, u"abcdef-"},
        {2, win::STRSAFE_E_INSUFFICIENT_BUFFER, u"a"},
        {1, win::STRSAFE_E_INSUFFICIENT_BUFFER, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        char16_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(c.hr, win::StringCchPrintfW(buffer, c.units, u"%s-%u", u"abcdef", 123u));
        EXPECT_EQ(std::u16string(c.text), std::u16string(buffer));
        EXPECT_EQ(u'#', buffer[c.units]) << "nothing past the buffer";
    }

    // No length: refused, the buffer left alone.
    char16_t buffer[4] = {u'Q', u'Q', 0, 0};
    EXPECT_EQ(win::STRSAFE_E_INVALID_PARAMETER, win::StringCchPrintfW(buffer, 0, u"x"));
    EXPECT_EQ(u'Q', buffer[0]);
    // A length past STRSAFE_MAX_CCH: refused, and (as every buffer of non-zero length)
    // terminated. strsafe.h headers older than the documentation only refuse.
    EXPECT_EQ(win::STRSAFE_E_INVALID_PARAMETER,
              win::StringCchPrintfW(buffer, std::size_t{2147483648u}, u"x"));
    if (contract::kSimulatedMachine) {
        EXPECT_EQ(0, buffer[0]);
    }
    // A result far longer than the buffer: cut at the buffer, whatever the width asks for.
    char16_t small[8];
    std::fill(std::begin(small), std::end(small), u'#');
    EXPECT_EQ(win::STRSAFE_E_INSUFFICIENT_BUFFER, win::StringCchPrintfW(small, 6, u"%100000d|", 7));
    EXPECT_EQ(u"     ", std::u16string(small));
    EXPECT_EQ(u'#', small[6]);
}

}  // namespace
