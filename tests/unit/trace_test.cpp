// Trace records: opening a record at a level, the writer's formatting (flags, width, fill,
// FormatSpec numbers, UTF-16 to UTF-8), growth through the host, and the function-name prefix.
// Portable: runs against the simulated runtime and the Windows C runtime alike.
#include "zef/rtl/trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/host_services.h"
#include "zef/rtl/error_handling/exception.h"

namespace {

using qorvex::host::CapturingTracer;
using zef::FormatSpec;
using zef::Manip;
using zef::TraceRecord;
using zef::TraceWriter;

// Sits in front of a CapturingTracer and remembers every AcquireRecordBuffer request, so tests
// can see the sizes the writer asks for; the inner tracer grants and captures as usual.
class LoggingTracer final : public zef::ITracer {
public:
    struct Request {
        std::uint32_t level;
        std::uint64_t size;
        bool operator==(const Request&) const = default;
    };

    explicit LoggingTracer(CapturingTracer& inner) : m_inner(inner) {}

    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override { return --m_refs; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    std::uint32_t AcquireRecordBuffer(std::uint32_t level, char** buffer,
                                      std::uint64_t size) override {
        requests.push_back({level, size});
        return m_inner.AcquireRecordBuffer(level, buffer, size);
    }
    std::uint32_t SubmitRecord(char* buffer, std::uint64_t length) override {
        return m_inner.SubmitRecord(buffer, length);
    }

    std::uint32_t refs() const { return m_refs; }
    std::vector<Request> requests;

private:
    CapturingTracer& m_inner;
    std::uint32_t m_refs = 0;
};

void PrintTo(const LoggingTracer::Request& r, std::ostream* os) {
    *os << "{level " << r.level << ", size " << r.size << "}";
}

class TraceTest : public testing::Test {
protected:
    // One trace site at level: opens the record, lets build write into it, closes it.
    void Site(const std::function<void(TraceWriter&)>& build,
              std::uint32_t level = zef::trace_level::kDetail) {
        TraceRecord record;
        zef::OpenTraceRecord(record, &logger, level);
        ASSERT_NE(record.buffer, nullptr);
        TraceWriter writer(record);
        build(writer);
    }

    // The text of the one record that was submitted.
    std::string Text() {
        const auto records = tracer.Records();
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? std::string("<no record>") : records.front().text;
    }

    std::string TextOf(const std::function<void(TraceWriter&)>& build) {
        tracer.Clear();
        Site(build);
        return Text();
    }

    void TearDown() override {
        EXPECT_EQ(tracer.OpenBuffers(), 0u) << "a record was never submitted";
        EXPECT_EQ(logger.refs(), 0u) << "a tracer reference was not released";
    }

    CapturingTracer tracer;
    LoggingTracer logger{tracer};
};

// ---- opening and closing a record

TEST_F(TraceTest, OpenAsksFor512BytesAtTheLevelAndTakesAReferenceOnlyWhenGranted) {
    TraceRecord record;
    zef::OpenTraceRecord(record, &logger, 700);
    EXPECT_THAT(logger.requests, testing::ElementsAre(LoggingTracer::Request{700, 512}));
    ASSERT_NE(record.buffer, nullptr);
    EXPECT_EQ(record.tracer, &logger);
    EXPECT_EQ(logger.refs(), 1u);
    { TraceWriter writer(record); }  // gives both back

    tracer.RefuseRecords(true);
    TraceRecord refused;
    zef::OpenTraceRecord(refused, &logger, 300);
    EXPECT_EQ(refused.buffer, nullptr);
    EXPECT_EQ(refused.tracer, nullptr);
    EXPECT_EQ(logger.refs(), 0u);
    EXPECT_EQ(logger.requests.size(), 2u);  // a refused record costs exactly one call
}

// A host that grants records (status 0) without handing out a buffer.
class BufferlessTracer final : public zef::ITracer {
public:
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    zef::ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    std::uint32_t AcquireRecordBuffer(std::uint32_t, char** buffer, std::uint64_t) override {
        *buffer = nullptr;
        return 0;
    }
    std::uint32_t SubmitRecord(char*, std::uint64_t) override {
        ++submits;
        return 0;
    }

    std::uint32_t refs = 0;
    std::uint32_t submits = 0;
};

TEST_F(TraceTest, ARecordGrantedWithoutABufferGivesItsReferenceBackWhereverTheSiteStops) {
    BufferlessTracer bufferless;
    {
        // The usual site: no buffer, so no writer is built.
        TraceRecord record;
        zef::OpenTraceRecord(record, &bufferless, zef::trace_level::kDetail);
        EXPECT_EQ(record.buffer, nullptr);
    }
    EXPECT_EQ(bufferless.refs, 0u);
    {
        // A writer over it releases the reference and submits nothing.
        TraceRecord record;
        zef::OpenTraceRecord(record, &bufferless, zef::trace_level::kDetail);
        TraceWriter writer(record);
        writer << "dropped";
    }
    EXPECT_EQ(bufferless.refs, 0u);
    EXPECT_EQ(bufferless.submits, 0u);
    // The boundary conversion and the construction report open records the same way.
    try {
        throw std::bad_alloc();
    } catch (...) {
        EXPECT_EQ(zef::ResultCodeFromCurrentException(&bufferless, nullptr, 300),
                  zef::rc::kOutOfMemory);
    }
    EXPECT_EQ(bufferless.refs, 0u);
}

TEST_F(TraceTest, TheHostsLevelThresholdDecidesWhichRecordsAreGranted) {
    tracer.SetMaxLevel(zef::trace_level::kError);
    TraceRecord detail;
    zef::OpenTraceRecord(detail, &logger, zef::trace_level::kDetail);
    EXPECT_EQ(detail.buffer, nullptr);
    Site([](TraceWriter& w) { w << "failure"; }, zef::trace_level::kError);
    const auto records = tracer.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 300u);
    EXPECT_EQ(records[0].text, "failure");
}

TEST_F(TraceTest, NullTracerIsNeverCalled) {
    TraceRecord record;
    zef::OpenTraceRecord(record, nullptr, 700);
    EXPECT_EQ(record.buffer, nullptr);
    EXPECT_EQ(record.tracer, nullptr);
    // A writer over an empty record writes and submits nothing.
    TraceWriter writer(record);
    writer << "text" << 5u;
    writer.Close();
    EXPECT_EQ(tracer.AcquireCalls(), 0u);
    EXPECT_TRUE(tracer.Records().empty());
}

TEST_F(TraceTest, WriterStartsWithTheStreamDefaultsAndSubmitsOnceWhenClosed) {
    TraceRecord record;
    zef::OpenTraceRecord(record, &logger, 700);
    TraceWriter writer(record);
    EXPECT_EQ(record.buffer, nullptr);  // taken over
    EXPECT_EQ(record.tracer, nullptr);
    EXPECT_EQ(writer.Capacity(), 512u);
    EXPECT_EQ(writer.Length(), 0u);
    EXPECT_EQ(writer.Flags(), 0x201u);
    EXPECT_EQ(writer.Precision(), 6);
    EXPECT_EQ(writer.Width(), 0);
    EXPECT_EQ(writer.Fill(), ' ');

    writer << "one line";
    writer.Close();
    writer << "ignored after close";
    writer.Close();
    EXPECT_EQ(Text(), "one line");
    EXPECT_EQ(logger.refs(), 0u);
}

TEST_F(TraceTest, AnEmptyRecordIsStillSubmitted) {
    Site([](TraceWriter&) {});
    EXPECT_EQ(Text(), "");
}

// ---- narrow text, width, fill and adjustment

TEST_F(TraceTest, NarrowTextIsPaddedToTheWidthOnceByAdjustment) {
    struct Case {
        Manip adjust;
        std::int32_t width;
        char fill;
        std::string_view prefix;
        std::string_view text;
        std::string expected;
    } const cases[] = {
        {Manip::other, 10, ' ', "", "abc", "       abc"},  // default: right
        {Manip::right, 10, ' ', "", "abc", "       abc"},
        {Manip::left, 10, ' ', "", "abc", "abc       "},
        {Manip::internal, 10, '*', "", "abc", "*******abc"},
        {Manip::right, 8, '_', "0x", "ff", "____0xff"},
        {Manip::left, 8, '_', "0x", "ff", "0xff____"},
        {Manip::internal, 8, '0', "0x", "ff", "0x0000ff"},
        {Manip::right, 4, '_', "0x", "ff", "0xff"},  // exactly the width: no fill
        {Manip::right, 2, '_', "", "abc", "abc"},    // narrower than the text
        {Manip::right, -5, '_', "", "abc", "abc"},
        {Manip::right, 0, '_', "pre", "", "pre"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const std::string text = TextOf([&](TraceWriter& w) {
            w << c.adjust;
            w.SetWidth(c.width);
            w.SetFill(c.fill);
            w.Append(c.prefix.data(), c.prefix.size(), c.text.data(), c.text.size());
            EXPECT_EQ(w.Width(), 0);
            w << "|"
              << "abc";  // the width applied to one append only
        });
        EXPECT_EQ(text, c.expected + "|abc");
    }
}

TEST_F(TraceTest, NullNarrowTextReadsAsNull) {
    EXPECT_EQ(TextOf([](TraceWriter& w) {
                  w << static_cast<const char*>(nullptr) << ",";
                  w.Append(static_cast<const char*>(nullptr), 3);
                  w << "," << std::string_view();  // an empty view is just empty
              }),
              "(null),(null),");
}

// ---- numbers by the format flags, and the manipulators

TEST_F(TraceTest, ManipulatorsClearAndSetExactlyTheirFlags) {
    struct Case {
        std::vector<Manip> manips;
        std::uint32_t flags;
    } const cases[] = {
        {{}, 0x201},
        {{Manip::hex}, 0x801},
        {{Manip::oct}, 0x401},
        {{Manip::hex, Manip::dec}, 0x201},
        {{Manip::hex, Manip::oct}, 0x401},
        {{Manip::oct, Manip::hex}, 0x801},
        {{Manip::showbase}, 0x209},
        {{Manip::left}, 0x241},
        {{Manip::left, Manip::right}, 0x281},
        {{Manip::right, Manip::internal}, 0x301},
        {{Manip::internal, Manip::left}, 0x241},
        {{Manip::fixed}, 0x2201},
        {{Manip::fixed, Manip::scientific}, 0x1201},
        {{Manip::scientific, Manip::fixed}, 0x2201},
        {{Manip::hex, Manip::showbase, Manip::other}, 0x809},
    };
    for (const Case& c : cases) {
        TraceRecord record;
        TraceWriter writer(record);  // no record needed to watch the flags
        for (Manip m : c.manips) writer << m;
        EXPECT_EQ(writer.Flags(), c.flags) << c.manips.size() << " manipulators";
    }
}

TEST_F(TraceTest, UnsignedNumbersFollowBaseShowBaseAndWidth) {
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    struct Case {
        std::vector<Manip> manips;
        std::uint32_t value;
        std::int32_t width;
        std::string expected;
    } const cases[] = {
        {{}, 0, 0, "0"},
        {{}, 2, 0, "2"},
        {{}, kMax, 0, "4294967295"},
        {{Manip::showbase}, 10, 0, "10"},  // decimal has no base prefix
        {{Manip::hex}, 0x9cca5603, 0, "9cca5603"},
        {{Manip::hex, Manip::showbase}, 255, 0, "0xff"},
        {{Manip::hex, Manip::showbase}, 0, 0, "0x0"},
        {{Manip::hex, Manip::showbase}, kMax, 0, "0xffffffff"},
        {{Manip::oct}, 8, 0, "10"},
        {{Manip::oct, Manip::showbase}, 8, 0, "010"},
        {{Manip::oct, Manip::showbase}, 0, 0, "00"},
        {{Manip::hex, Manip::showbase, Manip::internal}, 255, 8, "0x    ff"},
        {{Manip::hex, Manip::showbase}, 255, 8, "    0xff"},
        {{Manip::left}, 42, 5, "42   "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(TextOf([&](TraceWriter& w) {
                      for (Manip m : c.manips) w << m;
                      w.SetWidth(c.width);
                      w << c.value;
                  }),
                  c.expected);
    }
}

TEST_F(TraceTest, NumbersByFormatSpecUseTheirOwnWidthFillAndAlignment) {
    const auto spec = [](std::int32_t width, std::uint32_t base, std::int32_t alignment,
                         std::uint32_t fill, bool showBase) {
        return FormatSpec{width, base, -1, alignment, fill, showBase};
    };
    struct Case {
        std::uint32_t value;
        FormatSpec spec;
        std::string expected;
    } const cases[] = {
        {0x9cca5603, zef::Hex8(0).spec, "9cca5603"},
        {10, zef::Hex8(0).spec, "0000000a"},
        {0, zef::Hex8(0).spec, "00000000"},
        {255, spec(0, 16, 1, ' ', true), "0xff"},
        {255, spec(6, 16, 0, '0', true), "0x00ff"},
        {255, spec(6, 16, 1, '*', true), "**0xff"},
        {255, spec(6, 16, -1, '*', true), "0xff**"},
        {8, spec(0, 8, 1, ' ', true), "010"},
        {10, spec(0, 10, 1, ' ', true), "10"},
        {5, spec(0, 2, 1, ' ', false), "101"},
        {35, spec(0, 36, 1, ' ', false), "z"},
        {123, spec(2, 10, 1, ' ', false), "123"},
        {7, spec(4, 10, 1, 0x4e2d, false), "7"},   // fill with no one-byte form: none
        {7, spec(4, 10, 1, 0x10000, false), "7"},  // fill out of range: none
        {7, spec(4, 10, 1, 0xe9, false),
         "\xe9\xe9\xe9"
         "7"},                                    // one byte in the "C" locale
        {255, spec(0, 0, 1, ' ', false), "255"},  // no such base: decimal
        {255, spec(0, 37, 1, ' ', false), "255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(TextOf([&](TraceWriter& w) { w.Append(c.value, c.spec); }), c.expected);
    }
    // The usual form of a result code; a FormatSpec append ignores the writer's width but, like
    // every append, uses it up, so it does not pad the append after it.
    EXPECT_EQ(TextOf([](TraceWriter& w) {
                  w << "0x" << zef::Hex8(0x80070005u) << " ";
                  w.SetWidth(3);
                  w.Append(1u, FormatSpec{});
                  w << 2u;
              }),
              "0x80070005 12");
}

// ---- UTF-16 text

TEST_F(TraceTest, WideTextIsWrittenAsUtf8) {
    struct Case {
        std::u16string_view text;
        std::string expected;
    } const cases[] = {
        {u"", ""},
        {u"C:\\Windows", "C:\\Windows"},
        {u"\u00e9", "\xc3\xa9"},
        {u"\u4e2d", "\xe4\xb8\xad"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},                  // a surrogate pair is one character
        {std::u16string_view(u"\xd800", 1), "\xed\xa0\x80"},  // unpaired surrogates stand alone
        {std::u16string_view(u"\xdc00\xd800", 2), "\xed\xb0\x80\xed\xa0\x80"},
        {std::u16string_view(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(TextOf([&](TraceWriter& w) { w.Append(c.text.data(), c.text.size()); }),
                  c.expected);
    }
}

TEST_F(TraceTest, WideFillCountsUtf16UnitsAndGoesAfterOnlyWhenLeft) {
    struct Case {
        Manip adjust;
        std::u16string_view text;
        std::string expected;
    } const cases[] = {
        {Manip::right, u"\u00e9\u00e9", "...\xc3\xa9\xc3\xa9"},  // 2 units, 4 bytes
        {Manip::internal, u"\u00e9\u00e9", "...\xc3\xa9\xc3\xa9"},
        {Manip::left, u"\u00e9\u00e9", "\xc3\xa9\xc3\xa9..."},
        {Manip::right, u"\U0001F600", "...\xf0\x9f\x98\x80"},  // 2 units
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(TextOf([&](TraceWriter& w) {
                      w << c.adjust;
                      w.SetWidth(5);
                      w.SetFill('.');
                      w << c.text << u"|";
                  }),
                  c.expected + "|");
    }
}

TEST_F(TraceTest, NullWideTextReadsAsNull) {
    EXPECT_EQ(TextOf([](TraceWriter& w) {
                  w.Append(static_cast<const char16_t*>(nullptr), 4);
                  w << "," << static_cast<const char16_t*>(nullptr);
                  w << "," << std::u16string_view() << zef::wstring_t();  // empty, not null
              }),
              "(null),(null),");
}

// ---- growth

TEST_F(TraceTest, TextLongerThan512BytesGrowsTheRecordThroughTheHost) {
    const std::string first(600, 'a');
    const std::string second(3000, 'b');
    Site([&](TraceWriter& w) {
        w << std::string_view(first.data(), 512);  // fits exactly: no growth yet
        EXPECT_EQ(w.Capacity(), 512u);
        w << first.substr(512);  // 600 in all: max(2 * 512, 600)
        EXPECT_EQ(w.Capacity(), 1024u);
        w << second;  // 3600 in all: max(2 * 1024, 3600)
        EXPECT_EQ(w.Capacity(), 3600u);
        w << "c";  // max(7200, 3601)
    });
    EXPECT_THAT(logger.requests, testing::ElementsAre(LoggingTracer::Request{700, 512},
                                                      LoggingTracer::Request{1000, 1024},
                                                      LoggingTracer::Request{1000, 3600},
                                                      LoggingTracer::Request{1000, 7200}));
    EXPECT_EQ(Text(), first + second + "c");
}

TEST_F(TraceTest, WideTextIsMeasuredBeforeItIsEncodedIntoTheRecord) {
    // 300 characters of three UTF-8 bytes each: the host grants exactly what was asked, so an
    // encoder that wrote before growing would be caught by the sanitizers.
    const std::u16string wide(300, u'\u4e2d');
    std::string expected = "x";
    for (int i = 0; i < 300; ++i) expected += "\xe4\xb8\xad";
    Site([&](TraceWriter& w) { w << "x" << wide; });
    EXPECT_THAT(logger.requests, testing::ElementsAre(LoggingTracer::Request{700, 512},
                                                      LoggingTracer::Request{1000, 1024}));
    EXPECT_EQ(Text(), expected);
}

TEST_F(TraceTest, RefusedGrowthForgetsTheTextAndLaterAppendsStartAgain) {
    Site([&](TraceWriter& w) {
        w << "lost ";
        tracer.RefuseGrowth(true);
        w << std::string(600, 'x');  // asks for max(1024, 605): refused
        EXPECT_EQ(w.Length(), 0u);
        EXPECT_EQ(w.Capacity(), 0u);
        w << "also lost";  // asks for 9 from an empty record: refused again
        tracer.RefuseGrowth(false);
        w << "kept";       // asks for 4: granted
        w << " and more";  // max(8, 13)
    });
    EXPECT_THAT(
        logger.requests,
        testing::ElementsAre(LoggingTracer::Request{700, 512}, LoggingTracer::Request{1000, 1024},
                             LoggingTracer::Request{1000, 9}, LoggingTracer::Request{1000, 4},
                             LoggingTracer::Request{1000, 13}));
    EXPECT_EQ(Text(), "kept and more");
}

TEST_F(TraceTest, RecordWhoseGrowthStaysRefusedIsSubmittedEmpty) {
    tracer.RefuseGrowth(true);
    Site([](TraceWriter& w) { w << std::string(513, 'x') << "y"; });
    EXPECT_EQ(Text(), "");
}

TEST_F(TraceTest, APieceWhoseLengthWouldOverflowIsDroppedWithoutAskingTheHost) {
    Site([](TraceWriter& w) {
        w << "abc";
        // The text is never read: the length check comes first.
        w.Append("x", std::numeric_limits<std::size_t>::max() - 1);
        w.Append("0x", std::numeric_limits<std::size_t>::max(), "y", 1);
        w << "def";
    });
    EXPECT_EQ(logger.requests.size(), 1u);
    EXPECT_EQ(Text(), "abcydef");
}

// ---- the function-name prefix

TEST(ShortFunctionNameTest, KeepsTheLastTwoComponentsOfTheName) {
    struct Case {
        std::string_view name;
        std::string_view shortName;
    } const cases[] = {
        {"antimalware::trusted_boot::TcgLogProviderImpl::GetRawTcgLog",
         "TcgLogProviderImpl::GetRawTcgLog"},
        {"Class::Method", "Class::Method"},
        {"Function", "Function"},
        {"", ""},
        {"a::b::c(int x::y::z)", "b::c"},  // the parameter list ends the name
        {"Function(a::b::c)", "Function"},
        {"ns::Holder<std::map<a::b, c::d>>::Get", "Holder<std::map<a::b, c::d>>::Get"},
        {"ns::Holder<a::b>::Get<c::d>", "Holder<a::b>::Get<c::d>"},
        {"ns::(anonymous namespace)::Helper(int)", "(anonymous namespace)::Helper"},
        {"(anonymous namespace)::Helper(int)", "(anonymous namespace)::Helper"},
        {"ns::Class::Method() const::<lambda(int)>", "Class::Method"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zef::ShortFunctionName(c.name), c.shortName) << c.name;
    }
}

TEST(ShortFunctionNameTest, DropsOneAnonymousNamespaceOfEachSpellingInOrder) {
    struct Case {
        std::string_view name;
        std::string_view stripped;
    } const cases[] = {
        {"{anonymous}::GetHardlinks", "GetHardlinks"},
        {"(anonymous namespace)::GetHardlinks", "GetHardlinks"},
        {"`anonymous-namespace'::GetHardlinks", "GetHardlinks"},
        {"{anonymous}::(anonymous namespace)::`anonymous-namespace'::f", "f"},
        {"(anonymous namespace)::{anonymous}::f", "{anonymous}::f"},  // order matters
        {"{anonymous}::{anonymous}::f", "{anonymous}::f"},            // once each
        {"Class::{anonymous}::f", "Class::{anonymous}::f"},           // only at the start
        {"{anonymous}:", "{anonymous}:"},
        {"{anonymous}::", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zef::StripAnonymousNamespace(c.name), c.stripped) << c.name;
    }
}

TEST_F(TraceTest, FunctionPrefixIsTheShortNameAndSwitchesTheRecordToHex) {
    struct Case {
        const char* name;
        std::string prefix;
    } const cases[] = {
        {"antimalware::trusted_boot::TcgLogProviderImpl::GetRawTcgLog",
         "TcgLogProviderImpl::GetRawTcgLog: "},
        {"antimalware::win8_api::`anonymous-namespace'::GetHardlinks", "GetHardlinks: "},
        {"antimalware::win8_api::{anonymous}::GetHardlinks", "GetHardlinks: "},
        {"antimalware::win8_api::(anonymous namespace)::GetHardlinks(const char16_t*)",
         "GetHardlinks: "},
        {"Class::Method", "Class::Method: "},
        {"Method", "Method: "},
        {nullptr, ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        EXPECT_EQ(TextOf([&](TraceWriter& w) {
                      w.WriteFunctionPrefix(c.name);
                      EXPECT_EQ(w.Flags(), 0x809u);
                      w << 2u << " " << 0u;
                  }),
                  c.prefix + "0x2 0x0");
    }
    // Without the prefix the same values stay decimal.
    EXPECT_EQ(TextOf([](TraceWriter& w) { w << 2u << " " << 0u; }), "2 0");
}

// The name a trace site passes is what the compiler calls the function, with the return type
// and specifiers dropped; these are the spellings GCC and clang give.
TEST(QualifiedNameOffsetTest, SkipsReturnTypeAndSpecifiers) {
    using zef::detail::QualifiedNameOffset;
    static_assert(QualifiedNameOffset("int f()") == 4);  // usable at compile time
    struct Case {
        const char* pretty;
        std::string_view name;
    } const cases[] = {
        {"zef::ResultCode antimalware::trusted_boot::TcgLogProviderImpl::GetRawTcgLog("
         "qorvex::IRawTcgLog**)",
         "antimalware::trusted_boot::TcgLogProviderImpl::GetRawTcgLog(qorvex::IRawTcgLog**)"},
        {"int Class::Method(int)", "Class::Method(int)"},
        {"static std::vector<T> ns::C<T>::g(T) [with T = int]", "ns::C<T>::g(T) [with T = int]"},
        {"virtual const char *ns::C<int>::h() const [T = int]", "ns::C<int>::h() const [T = int]"},
        {"std::map<int, std::basic_string<char> > ns::f()", "ns::f()"},
        {"const std::pair<int, int>& ns::f()", "ns::f()"},
        {"int &&ns::f()", "ns::f()"},
        {"unsigned int ns::{anonymous}::f(int)", "ns::{anonymous}::f(int)"},
        {"int ns::(anonymous namespace)::f(int)", "ns::(anonymous namespace)::f(int)"},
        {"(anonymous namespace)::Type ns::f(int x)", "ns::f(int x)"},
        {"ns::C<int>::C() [T = int]", "ns::C<int>::C() [T = int]"},
        {"ns::C<T>::operator bool() const [with T = int]",
         "ns::C<T>::operator bool() const [with T = int]"},
        {"bool ns::C<int>::operator bool() const", "ns::C<int>::operator bool() const"},
        {"bool ns::C<T>::operator<(const ns::C<T>&) const",
         "ns::C<T>::operator<(const ns::C<T>&) const"},
        {"void* ns::C::operator new(std::size_t)", "ns::C::operator new(std::size_t)"},
        {"void ns::operator_like_name(int a, int b)", "ns::operator_like_name(int a, int b)"},
        {"ns::C<int>::h() const::<lambda(int)>", "ns::C<int>::h() const::<lambda(int)>"},
        {"main", "main"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string_view(c.pretty + QualifiedNameOffset(c.pretty)), c.name) << c.pretty;
    }
}

}  // namespace

// Functions whose ZEF_FUNCTION_NAME is checked: shapes that trace sites of the module have.
namespace antimalware::trusted_boot {
class TcgLogProviderImpl {
public:
    explicit TcgLogProviderImpl(const char** name) { *name = ZEF_FUNCTION_NAME; }
    zef::ResultCode GetRawTcgLog(const char** name) const {
        *name = ZEF_FUNCTION_NAME;
        return 0;
    }
    static const char* StaticMember(const char** name) {
        *name = ZEF_FUNCTION_NAME;
        return nullptr;
    }
    virtual const char* VirtualMember(const char** name) {
        *name = ZEF_FUNCTION_NAME;
        return nullptr;
    }
    template <class T>
    std::vector<T> MemberTemplate(const char** name, T) {
        *name = ZEF_FUNCTION_NAME;
        return {};
    }
    bool operator<(const char** name) const {
        *name = ZEF_FUNCTION_NAME;
        return false;
    }
    void Lambda(const char** name) const {
        [name] { *name = ZEF_FUNCTION_NAME; }();
    }
    virtual ~TcgLogProviderImpl() = default;
};

template <class T>
struct Holder {
    std::pair<T, int> Get(const char** name) const {
        *name = ZEF_FUNCTION_NAME;
        return {};
    }
};

unsigned long long FreeFunction(const char** name) {
    *name = ZEF_FUNCTION_NAME;
    return 0;
}
}  // namespace antimalware::trusted_boot

namespace antimalware::win8_api {
namespace {
std::map<int, std::string> GetHardlinks(const char** name) {
    *name = ZEF_FUNCTION_NAME;
    return {};
}
}  // namespace
}  // namespace antimalware::win8_api

const char* GlobalFunction(const char** name) {
    *name = ZEF_FUNCTION_NAME;
    return nullptr;
}

namespace {

TEST_F(TraceTest, FunctionNameMacroGivesTheIntendedPrefix) {
    using antimalware::trusted_boot::Holder;
    using antimalware::trusted_boot::TcgLogProviderImpl;
    const char* name = nullptr;
    TcgLogProviderImpl provider(&name);
    const std::string constructor = name;
    struct Case {
        std::function<void(const char**)> call;
        std::vector<std::string> prefixes;  // the spellings compilers may give
    } const cases[] = {
        {[&](const char** n) { provider.GetRawTcgLog(n); }, {"TcgLogProviderImpl::GetRawTcgLog"}},
        {[&](const char** n) { TcgLogProviderImpl::StaticMember(n); },
         {"TcgLogProviderImpl::StaticMember"}},
        {[&](const char** n) { provider.VirtualMember(n); }, {"TcgLogProviderImpl::VirtualMember"}},
        {[&](const char** n) { provider.MemberTemplate(n, 1); },
         {"TcgLogProviderImpl::MemberTemplate", "TcgLogProviderImpl::MemberTemplate<int>"}},
        {[&](const char** n) { (void)(provider < n); }, {"TcgLogProviderImpl::operator<"}},
        {[&](const char** n) { provider.Lambda(n); }, {"TcgLogProviderImpl::Lambda"}},
        {[&](const char** n) { Holder<int>().Get(n); }, {"Holder<T>::Get", "Holder<int>::Get"}},
        {[&](const char** n) { antimalware::trusted_boot::FreeFunction(n); },
         {"trusted_boot::FreeFunction"}},
        {[&](const char** n) { antimalware::win8_api::GetHardlinks(n); }, {"GetHardlinks"}},
        {[&](const char** n) { GlobalFunction(n); }, {"GlobalFunction"}},
        {[&](const char** n) { *n = constructor.c_str(); },
         {"TcgLogProviderImpl::TcgLogProviderImpl"}},
    };
    for (const Case& c : cases) {
        name = nullptr;
        c.call(&name);
        ASSERT_NE(name, nullptr);
        SCOPED_TRACE(name);
        const std::string text = TextOf([&](TraceWriter& w) { w.WriteFunctionPrefix(name); });
        std::vector<std::string> expected;
        for (const std::string& p : c.prefixes) expected.push_back(p + ": ");
        EXPECT_THAT(text, testing::AnyOfArray(expected));
    }
}

}  // namespace
