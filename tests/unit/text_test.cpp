// Text conversion (narrow <-> UTF-16 through the runtime's "C" locale, UTF-16 -> UTF-8) and
// FormatSpec rendering. Portable: the expectations hold for the simulated runtime and for the
// Windows C runtime alike.
#include "zef/rtl/text.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <string_view>
#include <typeinfo>

#include "services/host_services.h"

namespace {

using zef::FormatSpec;
using zef::string_t;
using zef::wstring_t;

constexpr zef::ResultCode kInvalidArgument = static_cast<zef::ResultCode>(0x80000046u);
constexpr zef::ResultCode kOutOfMemory = static_cast<zef::ResultCode>(0x80000041u);

std::u16string Text(const wstring_t& s) {
    return std::u16string(s.data(), s.size());
}

// ---- narrow to wide

TEST(WideFromNarrowTest, EveryByteIsOneCharacterInTheCLocale) {
    struct Case {
        std::string_view narrow;
        std::u16string_view wide;
    } const cases[] = {
        {"", u""},
        {"C:\\Windows", u"C:\\Windows"},
        {std::string_view("a\0b", 3), std::u16string_view(u"a\0b", 3)},  // the zero is kept
        {std::string_view("\0\0", 2), std::u16string_view(u"\0\0", 2)},
        {"\x7f\x80\xe9\xff", u"\x7f\x80\xe9\xff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.narrow.size() << " bytes");
        wstring_t out;
        ASSERT_EQ(zef::WideFromNarrow(c.narrow.data(), c.narrow.size(), out, 0), 0);
        EXPECT_EQ(out.view(), c.wide);
        EXPECT_EQ(out.c_str()[out.size()], u'\0');
    }
}

TEST(WideFromNarrowTest, OutputIsResizedToPositionPlusCharacters) {
    struct Case {
        const char16_t* before;
        std::size_t position;
        std::u16string_view after;
    } const cases[] = {
        {u"prefix:", 7, u"prefix:text"},                    // appends
        {u"prefix:old text", 7, u"prefix:text"},            // cuts what followed
        {u"ab", 4, std::u16string_view(u"ab\0\0text", 8)},  // gap filled with zeros
        {u"a long string already on the heap", 0, u"text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position);
        wstring_t out(c.before);
        ASSERT_EQ(zef::WideFromNarrow("text", 4, out, c.position), 0);
        EXPECT_EQ(out.view(), c.after);
    }
}

TEST(WideFromNarrowTest, MemoryFailureIsOutOfMemory) {
    qorvex::host::CountingAllocator allocator;
    allocator.RefuseAll(true);
    wstring_t out(&allocator);
    EXPECT_EQ(zef::WideFromNarrow("more than seven", 15, out, 0), kOutOfMemory);
    EXPECT_EQ(zef::WideFromNarrow("x", 1, out, wstring_t::max_size()), kOutOfMemory);
    EXPECT_EQ(zef::WideFromNarrow("x", 1, out, static_cast<std::size_t>(-1)), kOutOfMemory);
    EXPECT_TRUE(out.empty());
}

TEST(WideFromNarrowTest, ThrowingFormReadsToTheTerminator) {
    EXPECT_EQ(Text(zef::WideFromNarrow("Exception text \xe9")), u"Exception text \xe9");
    EXPECT_TRUE(zef::WideFromNarrow(nullptr).empty());
    EXPECT_TRUE(zef::WideFromNarrow("").empty());
}

// ---- wide to narrow

TEST(NarrowFromWideTest, ConvertsWhatTheCLocaleCanRepresent) {
    struct Case {
        std::u16string_view wide;
        std::string_view narrow;
    } const cases[] = {
        {u"", ""},
        {u"HarddiskVolume1", "HarddiskVolume1"},
        {std::u16string_view(u"a\0b", 3), std::string_view("a\0b", 3)},
        {u"caf\xe9 \xff", "caf\xe9 \xff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.wide.size() << " units");
        string_t out("previous content that is replaced");
        ASSERT_EQ(zef::NarrowFromWide(c.wide.data(), c.wide.size(), out), 0);
        EXPECT_EQ(out.view(), c.narrow);
        EXPECT_EQ(out.c_str()[out.size()], '\0');
    }
}

TEST(NarrowFromWideTest, UnconvertibleCharacterFailsAndWritesNothing) {
    const std::u16string_view cases[] = {
        u"\x0100",              // first character outside the C locale
        u"abc\x20ac",           // euro sign at the end
        u"\xd83d\xde00 smile",  // a code point above U+FFFF
        u"lone high \xd800",    // an unpaired surrogate is a code point of its own
        u"\xdc00 lone low",
    };
    for (std::u16string_view wide : cases) {
        SCOPED_TRACE(testing::Message() << wide.size() << " units");
        string_t out("untouched");
        EXPECT_EQ(zef::NarrowFromWide(wide.data(), wide.size(), out), kInvalidArgument);
        EXPECT_EQ(out.view(), "untouched");
    }
}

TEST(NarrowFromWideTest, MemoryFailureIsOutOfMemory) {
    qorvex::host::CountingAllocator allocator;
    allocator.RefuseAll(true);
    string_t out(&allocator);
    const std::u16string_view wide = u"more than fifteen characters";
    EXPECT_EQ(zef::NarrowFromWide(wide.data(), wide.size(), out), kOutOfMemory);
    EXPECT_TRUE(out.empty());
}

// ---- UTF-8

TEST(Utf8FromWideTest, EncodesCodePointsAndUnpairedSurrogates) {
    struct Case {
        std::u16string_view wide;
        std::string_view utf8;
    } const cases[] = {
        {u"", ""},
        {u"abc", "abc"},
        {std::u16string_view(u"\0", 1), std::string_view("\0", 1)},
        {u"\x7f\x80", "\x7f\xc2\x80"},
        {u"\xe9", "\xc3\xa9"},
        {u"\x7ff\x800", "\xdf\xbf\xe0\xa0\x80"},
        {u"\x20ac", "\xe2\x82\xac"},
        {u"\xffff", "\xef\xbf\xbf"},
        {u"\xd83d\xde00", "\xf0\x9f\x98\x80"},          // U+1F600
        {u"\xd800\xdc00", "\xf0\x90\x80\x80"},          // U+10000
        {u"\xdbff\xdfff", "\xf4\x8f\xbf\xbf"},          // U+10FFFF
        {u"a\xd800", "a\xed\xa0\x80"},                  // lone high surrogate at the end
        {u"\xd800z", "\xed\xa0\x80z"},                  // high surrogate not followed by a low one
        {u"\xdc00\xd800", "\xed\xb0\x80\xed\xa0\x80"},  // reversed pair: two lone surrogates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.utf8.size() << " bytes expected");
        char buffer[16] = {};
        std::size_t size = sizeof(buffer);
        ASSERT_EQ(zef::Utf8FromWide(c.wide.data(), c.wide.size(), buffer, &size), 0);
        EXPECT_EQ(std::string_view(buffer, size), c.utf8);
        EXPECT_EQ(zef::Utf8Length(c.wide.data(), c.wide.size()), c.utf8.size());
    }
}

TEST(Utf8FromWideTest, StopsBeforeACharacterThatDoesNotFit) {
    struct Case {
        std::u16string_view wide;
        std::size_t room;
        zef::ResultCode result;
        std::string_view written;
    } const cases[] = {
        {u"\xe9", 1, kOutOfMemory, ""},
        {u"\xe9", 2, 0, "\xc3\xa9"},
        {u"a\xe9", 2, kOutOfMemory, "a"},
        {u"ab\xd83d\xde00", 5, kOutOfMemory, "ab"},
        {u"ab\xd83d\xde00", 6, 0, "ab\xf0\x9f\x98\x80"},
        {u"abc", 0, kOutOfMemory, ""},
        {u"", 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "room " << c.room);
        char buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), '#');
        std::size_t size = c.room;
        EXPECT_EQ(zef::Utf8FromWide(c.wide.data(), c.wide.size(), buffer, &size), c.result);
        EXPECT_EQ(std::string_view(buffer, size), c.written);
        EXPECT_EQ(buffer[c.written.size()], '#');  // no partial character, no terminator
    }
}

// ---- formatting

std::u16string Unsigned(std::uint32_t value, const FormatSpec& spec,
                        const char16_t* prefix = nullptr) {
    wstring_t out;
    const std::size_t appended = zef::FormatUnsigned(out, value, spec, prefix);
    EXPECT_EQ(appended, out.size());
    return Text(out);
}

FormatSpec Spec(std::int32_t width, std::uint32_t base, std::int32_t alignment, std::uint32_t fill,
                bool showBase = false) {
    FormatSpec spec;
    spec.width = width;
    spec.base = base;
    spec.alignment = alignment;
    spec.fill = fill;
    spec.showBase = showBase;
    return spec;
}

TEST(FormatTest, DefaultSpecIsPlainDecimal) {
    const FormatSpec spec;
    EXPECT_EQ(spec.width, 0);
    EXPECT_EQ(spec.base, 10u);
    EXPECT_EQ(spec.precision, -1);
    EXPECT_EQ(spec.alignment, 1);
    EXPECT_EQ(spec.fill, 0x20u);
    EXPECT_FALSE(spec.showBase);
    EXPECT_EQ(Unsigned(0, spec), u"0");
    EXPECT_EQ(Unsigned(4294967295u, spec), u"4294967295");
}

TEST(FormatTest, UnsignedNumbers) {
    struct Case {
        std::uint32_t value;
        FormatSpec spec;
        const char16_t* prefix;
        const char16_t* expected;
    } const cases[] = {
        {0x9cca5603u, Spec(8, 16, 1, u'0'), nullptr, u"9cca5603"},
        {10, Spec(8, 16, 1, u'0'), nullptr, u"0000000a"},
        {255, Spec(0, 16, 1, u' ', true), nullptr, u"0xff"},
        {255, Spec(6, 16, 0, u'0', true), nullptr, u"0x00ff"},
        {255, Spec(6, 16, 1, u'0', true), nullptr, u"000xff"},
        {255, Spec(6, 16, -1, u'*', true), nullptr, u"0xff**"},
        {8, Spec(0, 8, 1, u' ', true), nullptr, u"010"},
        {8, Spec(0, 2, 1, u' ', true), nullptr, u"1000"},  // no automatic prefix in base 2
        {255, Spec(0, 16, 1, u' ', true), u"#", u"#ff"},   // a given prefix wins
        {255, Spec(0, 16, 1, u' ', false), u"h'", u"h'ff"},
        {255, Spec(0, 16, 1, u' ', true), u"", u"ff"},
        {35, Spec(0, 36, 1, u' '), nullptr, u"z"},
        {4294967295u, Spec(0, 2, 1, u' '), nullptr, u"11111111111111111111111111111111"},
        {123456, Spec(3, 10, 1, u'0'), nullptr, u"123456"},  // width below the length
        {7, Spec(4, 10, 1, 0x10000u), nullptr, u"7"},        // fill 0x10000: none written
        {7, Spec(-4, 10, 1, u'0'), nullptr, u"7"},
        {0, Spec(3, 16, 0, u'0', true), nullptr, u"0x0"},
        {42, Spec(0, 0, 1, u' '), nullptr, u"42"},  // no digits in base 0: decimal
        {42, Spec(0, 99, 1, u' '), nullptr, u"42"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " base " << c.spec.base << " width "
                                        << c.spec.width << " align " << c.spec.alignment);
        EXPECT_EQ(Unsigned(c.value, c.spec, c.prefix), c.expected);
    }
}

TEST(FormatTest, SignedNumbers) {
    struct Case {
        std::int32_t value;
        FormatSpec spec;
        const char16_t* expected;
    } const cases[] = {
        {-42, FormatSpec{}, u"-42"},
        {42, FormatSpec{}, u"42"},
        {-2147483647 - 1, FormatSpec{}, u"-2147483648"},
        {-42, Spec(6, 10, 0, u'0'), u"-00042"},
        {-42, Spec(6, 10, 1, u' '), u"   -42"},
        {-42, Spec(6, 10, -1, u'.'), u"-42..."},
        {-1, Spec(0, 16, 1, u' '), u"ffffffff"},  // other bases: the 32-bit pattern
        {-1, Spec(0, 16, 1, u' ', true), u"0xffffffff"},
        {-8, Spec(0, 8, 1, u' '), u"37777777770"},
        // A base without digits renders in decimal, sign rule included.
        {-1, Spec(0, 0, 1, u' '), u"-1"},
        {-42, Spec(5, 37, 0, u'0'), u"-0042"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " base " << c.spec.base);
        wstring_t out;
        const std::size_t appended = zef::FormatSigned(out, c.value, c.spec);
        EXPECT_EQ(appended, out.size());
        EXPECT_EQ(Text(out), c.expected);
    }
}

TEST(FormatTest, RenderingAppendsAndReturnsTheCharactersAppended) {
    wstring_t out(u"code=");
    EXPECT_EQ(zef::FormatUnsigned(out, 0x80000046u, Spec(0, 16, 1, u' ', true)), 10u);
    EXPECT_EQ(Text(out), u"code=0x80000046");
}

TEST(FormatTest, Texts) {
    auto spec = [](std::int32_t width, std::int32_t precision, std::int32_t alignment) {
        FormatSpec s = Spec(width, 10, alignment, u'.');
        s.precision = precision;
        return s;
    };
    struct Case {
        const char* narrow;
        const char16_t* wide;
        FormatSpec spec;
        const char16_t* expected;
    } const cases[] = {
        {"text", u"text", FormatSpec{}, u"text"},
        {"text", u"text", spec(8, -1, 1), u"....text"},
        {"text", u"text", spec(8, -1, 0), u"....text"},  // empty prefix: same as right
        {"text", u"text", spec(8, -1, -1), u"text...."},
        {"text", u"text", spec(8, 2, -1), u"te......"},
        {"text", u"text", spec(0, 0, 1), u""},
        {"text", u"text", spec(2, 9, 1), u"text"},
        {"caf\xe9", u"caf\xe9", FormatSpec{}, u"caf\xe9"},
        {"", u"", spec(3, -1, 1), u"..."},
        {nullptr, nullptr, spec(2, -1, 1), u".."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "expected " << std::u16string_view(c.expected).size()
                                        << " characters, precision " << c.spec.precision);
        const std::u16string expected = std::u16string(u">") + c.expected;
        wstring_t fromNarrow(u">");
        EXPECT_EQ(zef::FormatText(fromNarrow, c.narrow, c.spec), expected.size() - 1);
        EXPECT_EQ(Text(fromNarrow), expected);

        wstring_t fromWide(u">");
        EXPECT_EQ(zef::FormatText(fromWide, c.wide, c.spec), expected.size() - 1);
        EXPECT_EQ(Text(fromWide), expected);
    }
}

}  // namespace

// ---- Runtime failures, injected into the simulated machine (Linux builds only)
#ifndef _WIN32
#include "winsim/sim.h"

namespace {

constexpr std::uint32_t kEilseq = 42;

TEST(TextOnSimulatedRuntimeTest, ACharacterTheRuntimeRejectsFailsTheNarrowToWideConversion) {
    winsim::ScopedMachine machine;
    for (std::uint32_t n : {1u, 3u}) {
        SCOPED_TRACE(n);
        winsim::ScopedFault fault("mbrtowc", winsim::FaultMode::Nth, n, kEilseq);
        wstring_t out(u"kept");
        EXPECT_EQ(zef::WideFromNarrow("abcd", 4, out, 4), kInvalidArgument);
        EXPECT_EQ(Text(out), u"kept");
    }
    {
        // The zero byte is a character without asking the runtime.
        winsim::ScopedFault fault("mbrtowc", winsim::FaultMode::Always, 0, kEilseq);
        wstring_t out;
        EXPECT_EQ(zef::WideFromNarrow("\0\0", 2, out, 0), 0);
        EXPECT_EQ(out.size(), 2u);
        EXPECT_THROW(zef::WideFromNarrow("x"), std::bad_cast);
    }
}

TEST(TextOnSimulatedRuntimeTest, ACharacterTheRuntimeRejectsFailsTheWideToNarrowConversion) {
    winsim::ScopedMachine machine;
    winsim::ScopedFault fault("wcrtomb_s", winsim::FaultMode::Nth, 2, kEilseq);
    string_t out("kept");
    EXPECT_EQ(zef::NarrowFromWide(u"abc", 3, out), kInvalidArgument);
    EXPECT_EQ(out.view(), "kept");
}

TEST(TextOnSimulatedRuntimeTest, ANarrowTextEndsAtTheFirstByteTheRuntimeRejects) {
    winsim::ScopedMachine machine;
    winsim::ScopedFault fault("mbrtowc", winsim::FaultMode::Nth, 3, kEilseq);
    wstring_t out;
    FormatSpec spec;
    spec.width = 4;
    EXPECT_EQ(zef::FormatText(out, "abcdef", spec), 4u);
    EXPECT_EQ(Text(out), u"  ab");
}

}  // namespace
#endif
