// The measured-boot log reader: both event layouts, what it reports, where it stops on bad
// input, and that no size field, however hostile, makes it read outside the log or loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "tcglog/tcg_log_builder.h"

namespace {

using antimalware::trusted_boot::ParseTcgLog;
using antimalware::trusted_boot::ReadUtf16Le;
using antimalware::trusted_boot::TcgLogEnd;
using antimalware::trusted_boot::TcgLogFault;
using antimalware::trusted_boot::TcgLogLayout;
using antimalware::trusted_boot::TcgLogParseResult;
using antimalware::trusted_boot::TcgLogSink;
using namespace qorvex::tools;
using testing::ElementsAre;
using testing::IsEmpty;

// Everything the reader reported for one log. The sink also checks that every reported byte
// lies inside the log.
struct Parsed {
    TcgLogParseResult result;
    std::vector<std::u16string> paths;
    std::optional<Bytes> pcr4;  // the last digest reported for PCR 4
    std::optional<Bytes> pcr8;
    int outsideReports = 0;
};

class RecordingSink final : public TcgLogSink {
public:
    RecordingSink(const Bytes& log, Parsed& parsed) : m_log(log), m_parsed(parsed) {}

    void OnModulePath(const std::uint8_t* text, std::size_t units) override {
        if (!Inside(text, units * 2)) {
            ++m_parsed.outsideReports;
            return;
        }
        std::u16string path(units, u'\0');
        ReadUtf16Le(text, units, path.data());
        m_parsed.paths.push_back(std::move(path));
    }
    void OnCompactHash(std::uint32_t pcrIndex, const std::uint8_t* digest) override {
        if (!Inside(digest, 20) || (pcrIndex != 4 && pcrIndex != 8)) {
            ++m_parsed.outsideReports;
            return;
        }
        (pcrIndex == 4 ? m_parsed.pcr4 : m_parsed.pcr8) = Bytes(digest, digest + 20);
    }

private:
    bool Inside(const std::uint8_t* p, std::size_t size) const {
        const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(m_log.data());
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(p);
        return at >= begin && at - begin <= m_log.size() && size <= m_log.size() - (at - begin);
    }
    const Bytes& m_log;
    Parsed& m_parsed;
};

Parsed Parse(const Bytes& log) {
    Parsed parsed;
    RecordingSink sink(log, parsed);
    parsed.result = ParseTcgLog(std::span<const std::uint8_t>(log.data(), log.size()), sink);
    return parsed;
}

Bytes Text(std::string_view text) {
    return ByteWriter().Ascii(text).Take();
}

// Big events need no digests (measuring megabytes only slows the test down).
TcgEvent Unmeasured(TcgEvent event) {
    event.digests = std::vector<EventDigest>{};
    return event;
}

TcgLogLayout ReaderLayout(LogLayout layout) {
    return layout == LogLayout::Sha1 ? TcgLogLayout::Sha1 : TcgLogLayout::CryptoAgile;
}

std::string LayoutName(const testing::TestParamInfo<LogLayout>& info) {
    return info.param == LogLayout::Sha1 ? "Sha1" : "CryptoAgile";
}

// ---- Cases that read the same in both layouts -------------------------------------------------

struct Case {
    const char* name;
    std::function<void(TcgLogBuilder&)> build;
    std::vector<std::u16string> paths;
    std::optional<Bytes> pcr4Data;  // the data whose SHA-1 the last PCR 4 digest must be
    std::optional<Bytes> pcr8Data;
    TcgLogEnd end;
};

const Case kCases[] = {
    {"EmptyLog", [](TcgLogBuilder&) {}, {}, std::nullopt, std::nullopt, TcgLogEnd::Complete},
    {"PathsOfLoadedModulesInOrder",
     [](TcgLogBuilder& log) {
         log.Add({ScrtmVersion(u"1.0"), Separator(0),
                  EventTag(13, SipaTrustBoundary(
                                   {SipaU64(tcg::kSipaBootCounter, 7),
                                    SipaLoadedModule(u"\\Windows\\system32\\winload.efi", 1, 2),
                                    SipaLoadedModule(u"\\Windows\\system32\\ntoskrnl.exe", 3, 4)})),
                  EventTag(14, Sipa(tcg::kSipaAuthorityPublicKey, Bytes(40, 1))),
                  EventTag(13, SipaFilePath(u"\\bare.sys")), Separator(13, 0x4C434257)});
     },
     {u"\\Windows\\system32\\winload.efi", u"\\Windows\\system32\\ntoskrnl.exe", u"\\bare.sys"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"AggregationWithTwoPaths",
     [](TcgLogBuilder& log) {
         log.Add(EventTag(12, SipaContainer(tcg::kSipaLoadedModuleAggregation,
                                            {SipaFilePath(u"first"), SipaFilePath(u"second")})));
     },
     {u"first", u"second"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"LastCompactHashOfPcr4And8Wins",
     [](TcgLogBuilder& log) {
         log.Add({CompactHash(4, Text("four a")), CompactHash(8, Text("eight a")),
                  CompactHash(11, Text("eleven")), CompactHash(4, Text("four b")),
                  CompactHash(0, Text("zero")), Separator(4)});
     },
     {},
     Text("four b"),
     Text("eight a"),
     TcgLogEnd::Complete},
    {"OnlyPcr4CompactHashes",
     [](TcgLogBuilder& log) {
         log.Add({CompactHash(4, Text("one")), CompactHash(4, Text("two"))});
     },
     {},
     Text("two"),
     std::nullopt,
     TcgLogEnd::Complete},
    {"CompactHashWithEmptyDataEndingTheLog",
     [](TcgLogBuilder& log) { log.Add(CompactHash(8, {})); },
     {},
     std::nullopt,
     Bytes{},
     TcgLogEnd::Complete},
    {"EventEndingExactlyAtEndOfLogIsRead",
     [](TcgLogBuilder& log) {
         log.Add({Separator(0), EventTag(13, SipaTrustBoundary({SipaFilePath(u"last.sys")}))});
     },
     {u"last.sys"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"FilePathOfOnlyTheZeroUnitIsEmpty",
     [](TcgLogBuilder& log) { log.Add(EventTag(13, SipaFilePath(u""))); },
     {u""},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"OddFilePathSizeDropsTheHalfUnit",
     [](TcgLogBuilder& log) {
         log.Add(EventTag(13, Sipa(tcg::kSipaFilePath, Bytes{'a', 0, 'b', 0, 0})));
     },
     {u"a"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"EmbeddedZeroUnitsAreKept",
     [](TcgLogBuilder& log) {
         log.Add(EventTag(13, Sipa(tcg::kSipaFilePath, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0})));
     },
     {std::u16string(u"a\0b", 3)},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"EmptyContainersAndEmptyEventTags",
     [](TcgLogBuilder& log) {
         log.Add({EventTag(13, {}), EventTag(13, SipaTrustBoundary({})),
                  EventTag(13, SipaTrustBoundary({SipaContainer(tcg::kSipaElamAggregation, {}),
                                                  SipaFilePath(u"after")}))});
     },
     {u"after"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"ContainerTypesAreToldByTheAggregationBitAlone",
     [](TcgLogBuilder& log) {
         // A non-measured (bit 31) container, and a file-path type with high bits is no path.
         log.Add(EventTag(13, SipaContainer(0xC0010004u, {SipaFilePath(u"inside")})));
         log.Add(EventTag(13, Sipa(0x80070001u, ByteWriter().Utf16(u"no", true).bytes())));
     },
     {u"inside"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Complete},
    {"FilePathWithOneByteIsMalformed",
     [](TcgLogBuilder& log) {
         log.Add({CompactHash(4, Text("kept")), EventTag(13, SipaFilePath(u"before")),
                  EventTag(13, SipaTrustBoundary({SipaFilePath(u"same event"),
                                                  Sipa(tcg::kSipaFilePath, Bytes{0x41}),
                                                  SipaFilePath(u"unread")})),
                  EventTag(13, SipaFilePath(u"later event")), CompactHash(4, Text("unread"))});
     },
     {u"before", u"same event"},
     Text("kept"),
     std::nullopt,
     TcgLogEnd::Malformed},
    {"FilePathWithNoByteIsMalformed",
     [](TcgLogBuilder& log) {
         log.Add({EventTag(13, Sipa(tcg::kSipaFilePath, {})), EventTag(13, SipaFilePath(u"x"))});
     },
     {},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Malformed},
    {"ChildClaimingMoreThanItsContainerIsMalformed",
     [](TcgLogBuilder& log) {
         // The file path claims 6 bytes more than the container holds, though the log has them.
         Bytes inner = SipaFilePath(u"ab");
         Bytes container = ByteWriter()
                               .U32(tcg::kSipaLoadedModuleAggregation)
                               .U32(static_cast<std::uint32_t>(inner.size() - 6))
                               .Append(inner)
                               .Take();
         log.Add({EventTag(13, SipaFilePath(u"before")),
                  EventTag(13, SipaTrustBoundary({container, SipaFilePath(u"unread")}))});
     },
     {u"before"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Malformed},
    {"SipaEventClaimingMoreThanItsEventDataIsMalformed",
     [](TcgLogBuilder& log) {
         TcgEvent tag = EventTag(13, SipaFilePath(u"spills"));
         tag.claimedDataSize = static_cast<std::uint32_t>(tag.data.size() - 2);
         log.Add(tag);
         log.AddRaw(Bytes(2, 0));
         log.Add(EventTag(13, SipaFilePath(u"unread")));
     },
     {},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Malformed},
    {"ContainerTooSmallForAChildHeaderIsMalformed",
     [](TcgLogBuilder& log) {
         log.Add(EventTag(13, SipaTrustBoundary({Sipa(tcg::kSipaTrustBoundary, Bytes(4, 0)),
                                                 SipaFilePath(u"unread")})));
     },
     {},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Malformed},
    {"TrailingBytesTooShortForAHeaderAreTruncation",
     [](TcgLogBuilder& log) {
         log.Add(EventTag(13, SipaFilePath(u"read")));
         log.AddRaw(Bytes(5, 0));
     },
     {u"read"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Truncated},
    {"LastEventCutShortStillGivesItsWholeSipaEvents",
     [](TcgLogBuilder& log) {
         TcgEvent tag = EventTag(13, SipaFilePath(u"whole"));
         tag.claimedDataSize = static_cast<std::uint32_t>(tag.data.size() + 100);
         log.Add(tag);
     },
     {u"whole"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Truncated},
    {"CompactHashWhoseDataIsCutShortStillCounts",
     [](TcgLogBuilder& log) {
         TcgEvent hash = CompactHash(8, Text("cut"));
         hash.claimedDataSize = 0xFFFFFFFFu;
         log.Add(hash);
     },
     {},
     std::nullopt,
     Text("cut"),
     TcgLogEnd::Truncated},
    {"EventDataSizeOfAllOnesEndsTheLog",
     [](TcgLogBuilder& log) {
         TcgEvent huge = Separator(0);
         huge.claimedDataSize = 0xFFFFFFFFu;
         log.Add({EventTag(13, SipaFilePath(u"before")), huge, EventTag(13, SipaFilePath(u"x"))});
     },
     {u"before"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Truncated},
    {"SipaSizeOfAllOnesIsMalformed",
     [](TcgLogBuilder& log) {
         log.Add(
             {EventTag(13, SipaFilePath(u"before")),
              EventTag(13, SipaTrustBoundary({SipaSized(tcg::kSipaFilePath, 0xFFFFFFFFu,
                                                        ByteWriter().Utf16(u"x", true).bytes())})),
              EventTag(13, SipaFilePath(u"unread"))});
     },
     {u"before"},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Malformed},
    {"ContainerSizeOfAllOnesIsMalformed",
     [](TcgLogBuilder& log) {
         log.Add(EventTag(13, SipaSized(tcg::kSipaTrustBoundary, 0xFFFFFFFFu, SipaFilePath(u"x"))));
     },
     {},
     std::nullopt,
     std::nullopt,
     TcgLogEnd::Malformed},
};

class TcgLogParserTest : public testing::TestWithParam<LogLayout> {};

TEST_P(TcgLogParserTest, ReadsEachCaseAsExpected) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TcgLogBuilder builder = TcgLogBuilder::ForLayout(GetParam());
        c.build(builder);
        const Parsed parsed = Parse(builder.Build());
        EXPECT_EQ(parsed.result.layout, ReaderLayout(GetParam()));
        EXPECT_EQ(parsed.result.end, c.end);
        EXPECT_EQ(parsed.paths, c.paths);
        EXPECT_EQ(parsed.pcr4, c.pcr4Data ? std::optional<Bytes>(Sha1(*c.pcr4Data)) : std::nullopt);
        EXPECT_EQ(parsed.pcr8, c.pcr8Data ? std::optional<Bytes>(Sha1(*c.pcr8Data)) : std::nullopt);
        EXPECT_EQ(parsed.outsideReports, 0);
    }
}

// The example boot logs: every module path in order and the last compact hashes.
TEST_P(TcgLogParserTest, ReadsTheExampleBootLogs) {
    for (std::uint32_t resume = 0; resume < 3; ++resume) {
        SCOPED_TRACE(resume);
        const ExampleBoot boot = DescribeExampleBoot(resume);
        const Parsed parsed = Parse(BuildExampleBootLog(boot, GetParam()));
        std::vector<std::u16string> expected;
        for (const LoadedModule& module : boot.modules) expected.push_back(module.path);
        EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
        EXPECT_EQ(parsed.paths, expected);
        EXPECT_EQ(parsed.pcr4, Sha1(boot.pcr4CompactHashData));
        EXPECT_EQ(parsed.pcr8, Sha1(boot.pcr8CompactHashData));
    }
}

// Cutting a log anywhere only ever loses what lies after the cut: the paths read are a prefix
// of the full log's paths and the digests reported are the full log's.
TEST_P(TcgLogParserTest, ACutLogGivesAPrefixOfItsContents) {
    TcgLogBuilder builder = TcgLogBuilder::ForLayout(GetParam());
    builder.Add({CompactHash(4, Text("p4")),
                 EventTag(13, SipaTrustBoundary({SipaLoadedModule(u"\\a.sys", 1, 2),
                                                 SipaLoadedModule(u"\\b.sys", 3, 4)})),
                 CompactHash(8, Text("p8")), EventTag(13, SipaFilePath(u"\\c.sys"))});
    const Bytes log = builder.Build();
    const Parsed full = Parse(log);
    ASSERT_THAT(full.paths, ElementsAre(u"\\a.sys", u"\\b.sys", u"\\c.sys"));
    for (std::size_t size = 0; size < log.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(size));
        const Parsed parsed = Parse(cut);
        ASSERT_LE(parsed.paths.size(), full.paths.size());
        EXPECT_TRUE(std::equal(parsed.paths.begin(), parsed.paths.end(), full.paths.begin()));
        if (parsed.pcr4) {
            EXPECT_EQ(parsed.pcr4, full.pcr4);
        }
        if (parsed.pcr8) {
            EXPECT_EQ(parsed.pcr8, full.pcr8);
        }
        EXPECT_EQ(parsed.outsideReports, 0);
        // A cut is a cut wherever it falls, inside a header, digests, event data or a SIPA
        // container: never a broken rule. Only a cut on an event boundary reads as whole.
        if (parsed.result.end == TcgLogEnd::Complete) {
            EXPECT_EQ(parsed.result.stopOffset, size);
        } else {
            EXPECT_EQ(parsed.result.end, TcgLogEnd::Truncated);
            EXPECT_THAT(parsed.result.fault,
                        testing::AnyOf(TcgLogFault::EventHeaderCut, TcgLogFault::EventDataCut));
            EXPECT_LT(parsed.result.stopOffset, size);
        }
    }
}

// 0xFFFFFFFF written over every 4 bytes of a log, in turn, hits every size field (event data
// sizes, SIPA sizes at each level, digest counts, the header's algorithm count and sizes):
// the reader finishes and reports only bytes inside the log.
TEST_P(TcgLogParserTest, AllOnesOverAnyFieldNeverReadsOutsideTheLog) {
    TcgLogBuilder builder = TcgLogBuilder::ForLayout(GetParam());
    builder.Add(
        {ScrtmVersion(u"v"), CompactHash(4, Text("p4")),
         EventTag(13, SipaTrustBoundary({SipaU32(tcg::kSipaApplicationSvn, 1),
                                         SipaLoadedModule(u"\\a.sys", 1, 2),
                                         SipaContainer(tcg::kSipaElamAggregation,
                                                       {SipaFilePath(u"e"), SipaFilePath(u"f")})})),
         CompactHash(8, Text("p8")), EventTag(13, SipaFilePath(u"\\c.sys"))});
    const Bytes log = builder.Build();
    for (std::size_t at = 0; at + 4 <= log.size(); ++at) {
        SCOPED_TRACE(at);
        Bytes hostile = log;
        std::memset(hostile.data() + at, 0xFF, 4);
        // Tight allocation: a sanitizer build sees any read past the end.
        const Parsed parsed = Parse(hostile);
        EXPECT_EQ(parsed.outsideReports, 0);
    }
}

// A million containers, each holding only the next, around one file path: read without
// recursion.
TEST_P(TcgLogParserTest, ReadsAMillionLevelAggregationChain) {
    TcgLogBuilder builder = TcgLogBuilder::ForLayout(GetParam());
    builder.Add(
        {Unmeasured(EventTag(13, SipaAggregationChain(1'000'000, SipaFilePath(u"\\deep.sys")))),
         EventTag(13, SipaFilePath(u"\\after.sys"))});
    const Parsed parsed = Parse(builder.Build());
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    EXPECT_THAT(parsed.paths, ElementsAre(u"\\deep.sys", u"\\after.sys"));
}

// Deep nesting whose container ends all differ (each container holds the next one and then a
// path of its own), so every level's end must be remembered: the paths come out innermost
// first, then one per level on the way out.
TEST_P(TcgLogParserTest, ReadsDeepNestingWithDifferingEnds) {
    constexpr std::size_t kDepth = 200'000;
    const Bytes core = SipaFilePath(u"core");
    const Bytes trailer = SipaFilePath(u"p");
    ByteWriter sipa;
    for (std::size_t level = 0; level < kDepth; ++level) {
        const std::size_t inner = kDepth - 1 - level;  // containers inside this one
        sipa.U32(tcg::kSipaLoadedModuleAggregation)
            .U32(
                static_cast<std::uint32_t>(8 * inner + core.size() + (inner + 1) * trailer.size()));
    }
    sipa.Append(core);
    for (std::size_t level = 0; level < kDepth; ++level) sipa.Append(trailer);
    TcgLogBuilder builder = TcgLogBuilder::ForLayout(GetParam());
    builder.Add({Unmeasured(EventTag(13, sipa.Take())), EventTag(13, SipaFilePath(u"after"))});

    const Parsed parsed = Parse(builder.Build());
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    ASSERT_EQ(parsed.paths.size(), kDepth + 2);
    EXPECT_EQ(parsed.paths.front(), u"core");
    EXPECT_EQ(parsed.paths[kDepth], u"p");
    EXPECT_EQ(parsed.paths.back(), u"after");
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, TcgLogParserTest,
                         testing::Values(LogLayout::Sha1, LogLayout::CryptoAgile), LayoutName);

// ---- The SHA-1 layout ---------------------------------------------------------------------------

// A log of one event that ends exactly at the end of the log (32 bytes, shorter than any
// header) is read; one byte less and the event is cut, and nothing is read.
TEST(TcgLogParserSha1Test, AnEventEndingExactlyAtTheEndOfTheLogIsReadOneByteLessIsCut) {
    const Bytes event = TcgLogBuilder::Sha1Layout().Add(CompactHash(4, {})).Build();
    ASSERT_EQ(event.size(), 32u);
    const Parsed whole = Parse(event);
    EXPECT_EQ(whole.result.end, TcgLogEnd::Complete);
    EXPECT_EQ(whole.pcr4, Sha1({}));

    const Parsed cut = Parse(Bytes(event.begin(), event.end() - 1));
    EXPECT_EQ(cut.result.end, TcgLogEnd::Truncated);
    EXPECT_EQ(cut.result.eventCount, 0u);
    EXPECT_FALSE(cut.pcr4.has_value());
}

// The first event looks like a header but lacks the exact signature (with its zero): the log
// is read in the SHA-1 layout, the look-alike skipped as the EV_NO_ACTION event it is.
TEST(TcgLogParserSha1Test, HeaderLookAlikesAreReadAsSha1Layout) {
    const Bytes lookAlikes[] = {
        ByteWriter().Ascii("Spec ID Event02").U8(0).Fill(20, 0).Take(),
        ByteWriter().Ascii("Spec ID Event03X").Fill(20, 0).Take(),
        ByteWriter().Ascii("Spec ID Event03").Take(),  // no terminating zero, too short
    };
    for (const Bytes& data : lookAlikes) {
        TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
        builder.Add({NoAction(0, data), EventTag(13, SipaFilePath(u"x"))});
        const Parsed parsed = Parse(builder.Build());
        EXPECT_EQ(parsed.result.layout, TcgLogLayout::Sha1);
        EXPECT_THAT(parsed.paths, ElementsAre(u"x"));
    }
    // In another PCR or with another type the signature means nothing either.
    TcgLogBuilder otherPcr = TcgLogBuilder::Sha1Layout();
    otherPcr.Add({NoAction(1, TcgLogBuilder::SpecIdEventData(kSha1AndSha256)),
                  EventTag(13, SipaFilePath(u"y"))});
    EXPECT_EQ(Parse(otherPcr.Build()).result.layout, TcgLogLayout::Sha1);
}

// ---- The crypto-agile layout --------------------------------------------------------------------

TEST(TcgLogParserAgileTest, DigestsComeFromTheHeadersAlgorithmTable) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout(
        {{tcg::kAlgSha256, 32}, {tcg::kAlgSha384, 48}, {tcg::kAlgSha1, 20}, {0x0012, 32}});
    builder.Add({EventTag(13, SipaFilePath(u"one")), CompactHash(4, Text("four")),
                 CompactHash(8, Text("eight")), EventTag(13, SipaFilePath(u"two"))});
    const Parsed parsed = Parse(builder.Build());
    EXPECT_EQ(parsed.result.layout, TcgLogLayout::CryptoAgile);
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    EXPECT_EQ(parsed.result.eventCount, 5u);
    EXPECT_THAT(parsed.paths, ElementsAre(u"one", u"two"));
    EXPECT_EQ(parsed.pcr4, Sha1(Text("four")));
    EXPECT_EQ(parsed.pcr8, Sha1(Text("eight")));
}

// Events may carry fewer digests than the header lists, in any order; a compact hash without
// a SHA-1 digest leaves the kept digest as it was.
TEST(TcgLogParserAgileTest, CompactHashWithoutSha1DigestKeepsThePreviousOne) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
    builder.Add({CompactHash(4, Text("kept")),
                 CompactHashWithDigests(4, {{tcg::kAlgSha256, Bytes(32, 0x11)}}),
                 CompactHashWithDigests(
                     8, {{tcg::kAlgSha256, Bytes(32, 0x22)}, {tcg::kAlgSha1, Bytes(20, 0x33)}}),
                 CompactHashWithDigests(8, {}), EventTag(13, SipaFilePath(u"read on"))});
    const Parsed parsed = Parse(builder.Build());
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    EXPECT_EQ(parsed.pcr4, Sha1(Text("kept")));
    EXPECT_EQ(parsed.pcr8, Bytes(20, 0x33));
    EXPECT_THAT(parsed.paths, ElementsAre(u"read on"));
}

TEST(TcgLogParserAgileTest, Sha256OnlyLogsGiveNoCompactHash) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout({{tcg::kAlgSha256, 32}});
    builder.Add({CompactHash(4, Text("no sha1")), EventTag(13, SipaFilePath(u"path"))});
    const Parsed parsed = Parse(builder.Build());
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    EXPECT_FALSE(parsed.pcr4.has_value());
    EXPECT_THAT(parsed.paths, ElementsAre(u"path"));
}

// An event's digest list that the header cannot account for ends the log there.
TEST(TcgLogParserAgileTest, UnlistedDuplicateOrSurplusDigestsAreMalformed) {
    const struct {
        const char* name;
        std::vector<EventDigest> digests;
        std::optional<std::uint32_t> claimedCount;
    } cases[] = {
        {"UnlistedAlgorithm", {{tcg::kAlgSha384, Bytes(48, 1)}}, std::nullopt},
        {"SameAlgorithmTwice",
         {{tcg::kAlgSha1, Bytes(20, 1)}, {tcg::kAlgSha1, Bytes(20, 2)}},
         std::nullopt},
        {"MoreDigestsThanAlgorithms",
         {{tcg::kAlgSha1, Bytes(20, 1)}, {tcg::kAlgSha256, Bytes(32, 2)}},
         3u},
        {"DigestCountOfAllOnes", {{tcg::kAlgSha1, Bytes(20, 1)}}, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
        TcgEvent bad = CompactHashWithDigests(8, c.digests);
        bad.claimedDigestCount = c.claimedCount;
        builder.Add({EventTag(13, SipaFilePath(u"before")), CompactHash(8, Text("kept")), bad,
                     EventTag(13, SipaFilePath(u"unread"))});
        const Parsed parsed = Parse(builder.Build());
        EXPECT_EQ(parsed.result.end, TcgLogEnd::Malformed);
        EXPECT_THAT(parsed.paths, ElementsAre(u"before"));
        EXPECT_EQ(parsed.pcr8, Sha1(Text("kept")));
    }
}

// A header the reader cannot trust makes the whole log unreadable: without the algorithm table
// no later event can be delimited.
TEST(TcgLogParserAgileTest, MalformedSpecIdHeaderEndsTheLog) {
    const auto header = [](std::uint32_t count, std::vector<DigestAlgorithm> table,
                           std::optional<std::uint8_t> vendorInfoSize, std::size_t vendorBytes) {
        ByteWriter data;
        data.Ascii("Spec ID Event03").U8(0).U32(0).U8(0).U8(2).U8(2).U8(2).U32(count);
        for (const DigestAlgorithm& a : table) data.U16(a.id).U16(a.digestSize);
        if (vendorInfoSize) data.U8(*vendorInfoSize).Fill(vendorBytes, 0x5A);
        return data.Take();
    };
    const DigestAlgorithm sha1{tcg::kAlgSha1, 20};
    const DigestAlgorithm sha256{tcg::kAlgSha256, 32};
    const struct {
        const char* name;
        Bytes data;
    } cases[] = {
        {"NoAlgorithms", header(0, {}, 0, 0)},
        {"MoreAlgorithmsThanAnyTpmHas", header(17, std::vector<DigestAlgorithm>(17, sha1), 0, 0)},
        {"AlgorithmCountOfAllOnes", header(0xFFFFFFFFu, {sha1, sha256}, 0, 0)},
        {"TableCutShort", header(2, {sha1}, std::nullopt, 0)},
        {"NoVendorInfoSize", header(2, {sha1, sha256}, std::nullopt, 0)},
        {"VendorInfoCutShort", header(2, {sha1, sha256}, 8, 7)},
        {"ZeroDigestSize", header(2, {sha1, {tcg::kAlgSha256, 0}}, 0, 0)},
        {"DigestSizeAboveSha512", header(2, {sha1, {tcg::kAlgSha256, 65}}, 0, 0)},
        {"DigestSizeOfAllOnes", header(2, {sha1, {tcg::kAlgSha256, 0xFFFF}}, 0, 0)},
        {"Sha1OfTheWrongSize", header(2, {{tcg::kAlgSha1, 32}, sha256}, 0, 0)},
        {"AlgorithmListedTwice", header(3, {sha1, sha256, sha1}, 0, 0)},
        {"OnlyTheSignature", ByteWriter().Ascii("Spec ID Event03").U8(0).Take()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
        builder.SetSpecIdData(c.data);
        builder.Add({EventTag(13, SipaFilePath(u"unread")), CompactHash(4, Text("unread"))});
        const Parsed parsed = Parse(builder.Build());
        EXPECT_EQ(parsed.result.layout, TcgLogLayout::CryptoAgile);
        EXPECT_EQ(parsed.result.end, TcgLogEnd::Malformed);
        EXPECT_THAT(parsed.paths, IsEmpty());
        EXPECT_FALSE(parsed.pcr4.has_value());
    }

    // The header event's own size running past the end of the log: the log ends inside it,
    // which is a cut, as for any other event.
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
    builder.Add(EventTag(13, SipaFilePath(u"unread")));
    Bytes log = builder.Build();
    const std::uint32_t allOnes = 0xFFFFFFFFu;
    std::memcpy(log.data() + 28, &allOnes, 4);
    const Parsed parsed = Parse(log);
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Truncated);
    EXPECT_EQ(parsed.result.fault, TcgLogFault::EventDataCut);
    EXPECT_THAT(parsed.paths, IsEmpty());
}

// The widest table a header may have, vendor info and bytes after it are fine.
TEST(TcgLogParserAgileTest, AcceptsTheWidestHeader) {
    std::vector<DigestAlgorithm> table = {{tcg::kAlgSha1, 20}};
    for (std::uint16_t id = 0x20; table.size() < 16; ++id) table.push_back({id, 64});
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout(table);
    Bytes data = TcgLogBuilder::SpecIdEventData(table, Bytes(255, 0x77));
    data.push_back(0);  // padding after the vendor info
    builder.SetSpecIdData(data);
    builder.Add({CompactHash(8, Text("wide")), EventTag(13, SipaFilePath(u"wide"))});
    const Parsed parsed = Parse(builder.Build());
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    EXPECT_EQ(parsed.pcr8, Sha1(Text("wide")));
    EXPECT_THAT(parsed.paths, ElementsAre(u"wide"));
}

TEST(TcgLogParserAgileTest, CutInsideADigestIsTruncation) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
    builder.Add({EventTag(13, SipaFilePath(u"read")), CompactHash(4, Text("cut"))});
    Bytes log = builder.Build();
    log.resize(log.size() - 4 - 3 - 32 + 5);  // data, data size and 27 bytes of SHA-256 gone
    const Parsed parsed = Parse(log);
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Truncated);
    EXPECT_THAT(parsed.paths, ElementsAre(u"read"));
    EXPECT_FALSE(parsed.pcr4.has_value());
}

// ---- Options of the analyst's views -----------------------------------------------------

struct OptionsCase {
    const char* name;
    std::function<Bytes()> log;
    TcgLogLayout layout;
    TcgLogEnd end;
    std::uint64_t events;
    std::uint64_t paddingSize;
    std::uint8_t paddingByte;
};

// A crypto-agile SHA-384 log whose header stands in PCR 1, as Intel TDX firmware writes its
// event log, followed by the given bytes.
Bytes TdxShapedLog(const Bytes& tail) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout({{tcg::kAlgSha384, 48}});
    builder.Add({Separator(1), EfiAction(2, "Calling EFI Application from Boot Option"),
                 EventTag(13, SipaFilePath(u"tdx"))});
    Bytes log = builder.Build();
    log[0] = 1;  // the header's PCR index
    log.insert(log.end(), tail.begin(), tail.end());
    return log;
}

Bytes AgileLogEndingInZeros(const Bytes& tail) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
    builder.Add({ScrtmVersion(u"v"), Separator(4, 0)});  // its data ends in four zero bytes
    Bytes log = builder.Build();
    log.insert(log.end(), tail.begin(), tail.end());
    return log;
}

const OptionsCase kOptionsCases[] = {
    {"HeaderInPcr1AndFfPadding", [] { return TdxShapedLog(Bytes(4096, 0xFF)); },
     TcgLogLayout::CryptoAgile, TcgLogEnd::Complete, 4, 4096, 0xFF},
    {"HeaderInPcr1WithoutPadding", [] { return TdxShapedLog({}); }, TcgLogLayout::CryptoAgile,
     TcgLogEnd::Complete, 4, 0, 0},
    {"ZeroPaddingAfterDataEndingInZeros", [] { return AgileLogEndingInZeros(Bytes(64, 0)); },
     TcgLogLayout::CryptoAgile, TcgLogEnd::Complete, 3, 64, 0x00},
    {"EightBytesArePadding", [] { return TdxShapedLog(Bytes(8, 0xFF)); }, TcgLogLayout::CryptoAgile,
     TcgLogEnd::Complete, 4, 8, 0xFF},
    // Fewer bytes could be the start of an event's header.
    {"SevenBytesAreACut", [] { return TdxShapedLog(Bytes(7, 0xFF)); }, TcgLogLayout::CryptoAgile,
     TcgLogEnd::Truncated, 4, 0, 0},
    // Padding ends the log only where nothing but padding follows.
    {"FfRunFollowedByOtherBytes",
     [] {
         Bytes tail(64, 0xFF);
         tail.push_back(0x01);
         return TdxShapedLog(tail);
     },
     TcgLogLayout::CryptoAgile, TcgLogEnd::Malformed, 4, 0, 0},
    {"Sha1LayoutWithZeroPadding",
     [] {
         TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
         builder.Add({ScrtmVersion(u"v"), Separator(0)}).AddRaw(Bytes(1000, 0));
         return builder.Build();
     },
     TcgLogLayout::Sha1, TcgLogEnd::Complete, 2, 1000, 0x00},
};

// The views' options read the TDX log shape whole and take trailing 0xFF or zero bytes as the
// end of the log; the module's walk (no options) reads the same bytes as before: a header
// outside PCR 0 is no header, and padding is read as events.
TEST(TcgLogParserOptionsTest, HeaderInAnyPcrAndTrailingPadding) {
    antimalware::trusted_boot::TcgLogReadOptions options;
    options.specIdHeaderInAnyPcr = true;
    options.trailingPaddingEndsLog = true;
    for (const OptionsCase& c : kOptionsCases) {
        SCOPED_TRACE(c.name);
        const Bytes log = c.log();
        Parsed parsed;
        RecordingSink sink(log, parsed);
        const TcgLogParseResult result = ParseTcgLog(log, sink, nullptr, options);
        EXPECT_EQ(result.layout, c.layout);
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.eventCount, c.events);
        EXPECT_EQ(result.paddingSize, c.paddingSize);
        if (c.paddingSize != 0) {
            EXPECT_EQ(result.paddingByte, c.paddingByte);
            EXPECT_EQ(result.stopOffset + c.paddingSize, log.size());
        }
        EXPECT_EQ(parsed.outsideReports, 0);

        const Parsed plain = Parse(log);
        RecordingSink defaultSink(log, parsed);
        const TcgLogParseResult withDefaults = ParseTcgLog(log, defaultSink, nullptr, {});
        EXPECT_EQ(withDefaults.end, plain.result.end);
        EXPECT_EQ(withDefaults.eventCount, plain.result.eventCount);
        EXPECT_EQ(plain.result.paddingSize, 0u);
        if (log[0] == 1) {
            EXPECT_EQ(plain.result.layout, TcgLogLayout::Sha1);
        }
    }
}

// ---- A real log
// ----------------------------------------------------------------------------------

// A measured-boot log of a Windows virtual machine on Google Cloud (Shielded VM), SHA-1 layout.
TEST(TcgLogParserRealLogTest, ReadsTheShieldedVmLog) {
    std::ifstream file(QORVEX_SHARED_DIR "/samples/windows-gcp-shielded-vm.log", std::ios::binary);
    if (!file) GTEST_SKIP() << "sample log not present";
    const Bytes log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(log.size(), 43324u);

    const Parsed parsed = Parse(log);
    EXPECT_EQ(parsed.result.layout, TcgLogLayout::Sha1);
    EXPECT_EQ(parsed.result.end, TcgLogEnd::Complete);
    EXPECT_EQ(parsed.result.eventCount, 21u);
    ASSERT_EQ(parsed.paths.size(), 64u);
    EXPECT_EQ(parsed.paths.front(), u"\\Windows\\system32\\winload.efi");
    EXPECT_EQ(parsed.paths.back(), u"\\Windows\\System32\\Drivers\\ksecpkg.sys");
    EXPECT_FALSE(parsed.pcr4.has_value());
    EXPECT_FALSE(parsed.pcr8.has_value());
}

}  // namespace
