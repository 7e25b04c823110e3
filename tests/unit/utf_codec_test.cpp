// The one UTF-8 / UTF-16 codec: well-formed text converts both ways unchanged, and every kind of
// ill-formed input becomes U+FFFD without reading past the end.
#include <utf/codec.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

TEST(UtfCodecTest, Utf8ToUtf16ReplacesEachIllFormedSequence) {
    struct Case {
        const char* name;
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"ascii", "C:\\Windows", u"C:\\Windows"},
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         u"\u00E9\u20AC\U0001F600"},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"overlong slash",
         "a\xC0\xAF"
         "b",
         u"a\uFFFD\uFFFDb"},
        {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
        {"lone continuation", "\x80x", u"\uFFFDx"},
        {"cut at the end", "x\xE2\x82", u"x\uFFFD\uFFFD"},
        {"cut by a new lead",
         "\xE2\x82"
         "A",
         u"\uFFFD\uFFFDA"},
        {"invalid lead", "\xFF\xFE", u"\uFFFD\uFFFD"},
        {"embedded zero", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.utf16, utf::ToUtf16(c.utf8));
    }
}

TEST(UtfCodecTest, Utf16ToUtf8PairsSurrogatesAndReplacesUnpairedOnes) {
    struct Case {
        const char* name;
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone high in the middle", std::u16string{u'a', 0xD800, u'b'},
         "a\xEF\xBF\xBD"
         "b"},
        {"lone high at the end", std::u16string{u'a', 0xDBFF}, "a\xEF\xBF\xBD"},
        {"lone low", std::u16string{0xDC00, u'a'},
         "\xEF\xBF\xBD"
         "a"},
        {"reversed pair", std::u16string{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"BMP edge", u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.utf8, utf::ToUtf8(c.utf16));
    }
}

TEST(UtfCodecTest, NextCodePointKeepsAnUnpairedSurrogateAsItsOwnValue) {
    const char16_t text[] = {u'a', 0xD83D, 0xDE00, 0xD800, 0xDC01};
    std::size_t i = 0;
    EXPECT_EQ(U'a', utf::NextCodePoint(text, 5, i));
    EXPECT_EQ(U'\U0001F600', utf::NextCodePoint(text, 5, i));
    EXPECT_EQ(3u, i);
    // A high surrogate at the end of the counted text is not paired with what lies beyond.
    EXPECT_EQ(char32_t{0xD800}, utf::NextCodePoint(text, 4, i));
    EXPECT_EQ(4u, i);
}

}  // namespace
