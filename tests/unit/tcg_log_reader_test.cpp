// The analyst's log reader of qorvex-host: the PCR replay rules on small built logs, the event
// visitor of the module's log reader (which must leave what the module reads unchanged) and the
// event listing's SIPA tree. The digests it replays with are tested in digest_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tcg_log_reader.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "digest/digest.h"
#include "tcglog/tcg_log_builder.h"

namespace {

namespace tb = antimalware::trusted_boot;
using qorvex::digest::Algorithm;
using qorvex::digest::Hasher;
using qorvex::host::PcrReplay;
using qorvex::host::ReplayPcrs;
using namespace qorvex::tools;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Key;

Bytes AsBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// ---- PCR replay -----------------------------------------------------------------------------

// The value one extend gives from start with digest.
Bytes Extend(Algorithm algorithm, Bytes start, const Bytes& digest) {
    return Hasher(algorithm).Update(start).Update(digest).Finish();
}

Bytes Filled(std::size_t size, std::uint8_t value) {
    return Bytes(size, value);
}

TcgEvent WithDigests(TcgEvent event, std::vector<EventDigest> digests) {
    event.digests = std::move(digests);
    return event;
}

const qorvex::host::PcrBank* FindBank(const PcrReplay& replay, std::string_view name) {
    for (const auto& bank : replay.banks) {
        if (bank.name == name) return &bank;
    }
    return nullptr;
}

// PCRs 17-22 start at all ones, the others at zero; EV_NO_ACTION extends nothing; PCR indexes
// above 23 are skipped; only PCRs some event extended are listed.
TEST(PcrReplayTest, ResetValuesAndSkippedEventsInTheSha1Layout) {
    const Bytes d1 = Filled(20, 0x11), d2 = Filled(20, 0x22), d3 = Filled(20, 0x33);
    auto sha1 = [](const Bytes& d) { return std::vector<EventDigest>{{tcg::kAlgSha1, d}}; };
    TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
    builder.Add(WithDigests(Separator(0), sha1(d1)))
        .Add(WithDigests(Separator(0), sha1(d2)))
        .Add(WithDigests(Separator(17), sha1(d1)))
        .Add(WithDigests(Separator(22), sha1(d2)))
        .Add(WithDigests(Separator(23), sha1(d3)))
        .Add(WithDigests(NoAction(1, AsBytes("not measured")), sha1(d1)))
        .Add(WithDigests(Separator(24), sha1(d1)))
        .Add(WithDigests(Separator(0xFFFFFFFF), sha1(d1)));
    const PcrReplay replay = ReplayPcrs(builder.Build());

    EXPECT_EQ(replay.layout, tb::TcgLogLayout::Sha1);
    EXPECT_EQ(replay.end, tb::TcgLogEnd::Complete);
    EXPECT_FALSE(replay.hasStartupLocality);
    ASSERT_EQ(replay.banks.size(), 1u);
    const auto& values = replay.banks[0].values;
    EXPECT_EQ(replay.banks[0].name, "sha1");
    EXPECT_THAT(values, ElementsAre(Key(0u), Key(17u), Key(22u), Key(23u)));
    EXPECT_EQ(values.at(0),
              Extend(Algorithm::Sha1, Extend(Algorithm::Sha1, Filled(20, 0), d1), d2));
    EXPECT_EQ(values.at(17), Extend(Algorithm::Sha1, Filled(20, 0xFF), d1));
    EXPECT_EQ(values.at(22), Extend(Algorithm::Sha1, Filled(20, 0xFF), d2));
    EXPECT_EQ(values.at(23), Extend(Algorithm::Sha1, Filled(20, 0), d3));
}

// A StartupLocality event sets PCR 0's last byte in every bank before PCR 0 is first extended;
// one that comes after changes nothing.
TEST(PcrReplayTest, StartupLocalitySetsTheStartOfPcr0) {
    const Bytes s1 = Filled(20, 0x41), s256 = Filled(32, 0x42);
    const std::vector<EventDigest> digests = {{tcg::kAlgSha1, s1}, {tcg::kAlgSha256, s256}};
    const struct {
        const char* name;
        bool localityFirst;
        std::uint8_t expectedLastByte;
    } cases[] = {{"before PCR 0 is extended", true, 3}, {"after", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
        if (c.localityFirst) builder.Add(StartupLocality(3));
        builder.Add(WithDigests(Separator(0), digests));
        if (!c.localityFirst) builder.Add(StartupLocality(4));
        const PcrReplay replay = ReplayPcrs(builder.Build());

        ASSERT_EQ(replay.banks.size(), 2u);
        EXPECT_EQ(replay.hasStartupLocality, c.localityFirst);
        Bytes start1 = Filled(20, 0), start256 = Filled(32, 0);
        start1.back() = start256.back() = c.expectedLastByte;
        EXPECT_THAT(replay.banks[0].values, ElementsAre(Key(0u)));
        EXPECT_EQ(replay.banks[0].values.at(0), Extend(Algorithm::Sha1, start1, s1));
        EXPECT_EQ(replay.banks[1].values.at(0), Extend(Algorithm::Sha256, start256, s256));
    }
}

// Every bank of the header is replayed with its own digests; a bank without a hash here is named
// and left out; an event that lacks a bank's digest does not extend that bank.
TEST(PcrReplayTest, EachHeaderBankIsReplayedOrMarkedUnsupported) {
    constexpr std::uint16_t kAlgSha3_256 = 0x0027;
    const std::vector<DigestAlgorithm> algorithms = {
        {tcg::kAlgSha384, 48}, {kAlgSha3_256, 32}, {tcg::kAlgSm3_256, 32}};
    const Bytes d384 = Filled(48, 0x01), dSha3 = Filled(32, 0x02), dSm3 = Filled(32, 0x03);
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout(algorithms);
    builder.Add(WithDigests(
        Separator(4), {{tcg::kAlgSha384, d384}, {kAlgSha3_256, dSha3}, {tcg::kAlgSm3_256, dSm3}}));
    builder.Add(WithDigests(Separator(5), {{tcg::kAlgSm3_256, dSm3}}));
    const PcrReplay replay = ReplayPcrs(builder.Build());

    EXPECT_EQ(replay.layout, tb::TcgLogLayout::CryptoAgile);
    ASSERT_EQ(replay.banks.size(), 3u);
    const auto* sha384 = FindBank(replay, "sha384");
    const auto* sha3 = FindBank(replay, "sha3_256");
    const auto* sm3 = FindBank(replay, "sm3_256");
    ASSERT_TRUE(sha384 && sha3 && sm3);
    EXPECT_THAT(sha384->values, ElementsAre(Key(4u)));
    EXPECT_EQ(sha384->values.at(4), Extend(Algorithm::Sha384, Filled(48, 0), d384));
    EXPECT_FALSE(sha3->supported);
    EXPECT_THAT(sha3->values, IsEmpty());
    EXPECT_THAT(sm3->values, ElementsAre(Key(4u), Key(5u)));
    EXPECT_EQ(sm3->values.at(5), Extend(Algorithm::Sm3_256, Filled(32, 0), dSm3));

    std::ostringstream json;
    qorvex::host::PrintPcrsJsonMember(json, std::span(&replay, 1));
    EXPECT_THAT(json.str(), testing::HasSubstr("\"sha3_256\": null"));
}

// A cut log: the event the cut falls into extends nothing, the events before it stand.
TEST(PcrReplayTest, EventCutByTheEndOfTheLogExtendsNothing) {
    for (const LogLayout layout : {LogLayout::Sha1, LogLayout::CryptoAgile}) {
        TcgLogBuilder builder = TcgLogBuilder::ForLayout(layout);
        builder.Add(Separator(2));
        const Bytes whole = builder.Build();
        builder.Add(PostCode("a post code long enough to be cut"));
        Bytes log = builder.Build();
        log.resize(log.size() - 4);
        const PcrReplay cut = ReplayPcrs(log);
        const PcrReplay reference = ReplayPcrs(whole);

        EXPECT_EQ(cut.end, tb::TcgLogEnd::Truncated);
        ASSERT_EQ(cut.banks.size(), reference.banks.size());
        for (std::size_t b = 0; b < cut.banks.size(); ++b) {
            EXPECT_THAT(cut.banks[b].values, ElementsAre(Key(2u)));  // not PCR 0
            EXPECT_EQ(cut.banks[b].values, reference.banks[b].values);
        }
    }
}

// ---- The event visitor of the module's reader -----------------------------------------------

// What the module's sink receives.
struct SinkRecord final : tb::TcgLogSink {
    std::vector<std::u16string> paths;
    std::vector<std::pair<std::uint32_t, Bytes>> hashes;
    void OnModulePath(const std::uint8_t* text, std::size_t units) override {
        std::u16string path(units, u'\0');
        tb::ReadUtf16Le(text, units, path.data());
        paths.push_back(std::move(path));
    }
    void OnCompactHash(std::uint32_t pcr, const std::uint8_t* digest) override {
        hashes.emplace_back(pcr, Bytes(digest, digest + tb::kSha1DigestSize));
    }
};

struct VisitorRecord final : tb::TcgLogEventVisitor {
    std::vector<tb::TcgDigestAlgorithm> algorithms;
    int layouts = 0;
    std::vector<std::uint64_t> indexes;
    std::vector<std::uint32_t> types;
    std::vector<std::uint32_t> sipaTypes;
    bool outside = false;
    std::span<const std::uint8_t> log;

    void Check(std::span<const std::uint8_t> bytes) {
        if (bytes.empty()) return;
        if (bytes.data() < log.data() || bytes.data() + bytes.size() > log.data() + log.size())
            outside = true;
    }
    void OnLayout(tb::TcgLogLayout, std::span<const tb::TcgDigestAlgorithm> a) override {
        ++layouts;
        algorithms.assign(a.begin(), a.end());
    }
    void OnEvent(const tb::TcgEventView& event) override {
        indexes.push_back(event.index);
        types.push_back(event.eventType);
        Check(event.data);
        for (const auto& digest : event.digests) Check(digest.value);
    }
    void OnSipaEvent(std::uint64_t, std::uint32_t type,
                     std::span<const std::uint8_t> data) override {
        sipaTypes.push_back(type);
        Check(data);
    }
};

std::vector<NamedLog> VisitorLogs() {
    std::vector<NamedLog> logs = FuzzSeedLogs();
    const std::filesystem::path samples = std::filesystem::path(QORVEX_SHARED_DIR) / "samples";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(samples, ec)) {
        if (entry.path().extension() != ".log") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        logs.push_back(
            {entry.path().filename().string(),
             Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>())});
    }
    return logs;
}

// With a visitor the module's reader reports the same to its sink and ends the same way, on
// every shape the fuzz seeds cover and on the real logs; the visitor sees each event once, in
// order, numbered from 0, and no byte outside the log.
TEST(TcgLogEventVisitorTest, LeavesWhatTheModuleReadsUnchanged) {
    for (const NamedLog& log : VisitorLogs()) {
        SCOPED_TRACE(log.name);
        SinkRecord plain, visited;
        VisitorRecord visitor;
        visitor.log = log.bytes;
        const tb::TcgLogParseResult a = tb::ParseTcgLog(log.bytes, plain);
        const tb::TcgLogParseResult b = tb::ParseTcgLog(log.bytes, visited, &visitor);
        EXPECT_EQ(a.layout, b.layout);
        EXPECT_EQ(a.end, b.end);
        EXPECT_EQ(a.eventCount, b.eventCount);
        EXPECT_EQ(plain.paths, visited.paths);
        EXPECT_EQ(plain.hashes, visited.hashes);

        EXPECT_FALSE(visitor.outside);
        EXPECT_LE(visitor.layouts, 1);
        // A crypto-agile header the reader refuses is counted but not shown: nothing of the
        // log can be delimited.
        const bool refusedHeader = b.layout == tb::TcgLogLayout::CryptoAgile &&
                                   b.end == tb::TcgLogEnd::Malformed && b.eventCount == 1 &&
                                   visitor.layouts == 0;
        EXPECT_EQ(visitor.indexes.size(), refusedHeader ? 0 : b.eventCount);
        for (std::size_t i = 0; i < visitor.indexes.size(); ++i) EXPECT_EQ(visitor.indexes[i], i);
        const auto filePaths =
            std::count(visitor.sipaTypes.begin(), visitor.sipaTypes.end(), tb::kSipaEventFilePath);
        EXPECT_EQ(static_cast<std::size_t>(filePaths), visited.paths.size());
    }
}

TEST(TcgLogEventVisitorTest, ShowsTheHeaderEventAndTheAlgorithmTable) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
    builder.Add(Separator(7))
        .Add(EventTag(12, SipaTrustBoundary({SipaU64(tcg::kSipaBootCounter, 5)})));
    VisitorRecord visitor;
    const Bytes log = builder.Build();
    visitor.log = log;
    SinkRecord sink;
    tb::ParseTcgLog(log, sink, &visitor);

    ASSERT_EQ(visitor.algorithms.size(), 2u);
    EXPECT_EQ(visitor.algorithms[0].id, tcg::kAlgSha1);
    EXPECT_EQ(visitor.algorithms[1].id, tcg::kAlgSha256);
    EXPECT_EQ(visitor.algorithms[1].size, 32u);
    EXPECT_THAT(visitor.types, ElementsAre(tcg::kEvNoAction, tcg::kEvSeparator, tcg::kEvEventTag));
    EXPECT_THAT(visitor.sipaTypes, ElementsAre(tcg::kSipaTrustBoundary, tcg::kSipaBootCounter));
}

// ---- The event listing ----------------------------------------------------------------------

std::string EventsJson(const Bytes& log) {
    std::ostringstream out;
    const qorvex::host::NamedLogFile file{"built.log", log};
    qorvex::host::PrintEventsJson(out, std::span(&file, 1));
    return out.str();
}

// Containers hold their children, siblings follow a closed container, values are shown by type.
TEST(TcgLogEventListingTest, SipaTreeNestsChildrenUnderTheirContainer) {
    TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
    builder.Add(EventTag(
        12, SipaTrustBoundary({SipaContainer(tcg::kSipaLoadedModuleAggregation,
                                             {SipaFilePath(u"\\a\"b.sys"), SipaImageSize(4096)}),
                               SipaContainer(tcg::kSipaElamAggregation, std::span<const Bytes>()),
                               SipaU64(tcg::kSipaBootCounter, 17),
                               Sipa(0x00123456, Bytes{0xAB, 0xCD})})));
    EXPECT_THAT(
        EventsJson(builder.Build()),
        testing::HasSubstr(
            "\"sipa\": [{\"type\": \"SIPAEVENT_TRUSTBOUNDARY\", \"typeValue\": 1073807361, "
            "\"children\": [{\"type\": \"SIPAEVENT_LOADEDMODULE_AGGREGATION\", \"typeValue\": "
            "1073807363, \"children\": [{\"type\": \"SIPAEVENT_FILEPATH\", \"typeValue\": "
            "458753, \"value\": \"\\\\a\\\"b.sys\"}, {\"type\": \"SIPAEVENT_IMAGESIZE\", "
            "\"typeValue\": 458754, \"value\": 4096}]}, {\"type\": "
            "\"SIPAEVENT_ELAM_AGGREGATION\", \"typeValue\": 1073807362, \"children\": []}, "
            "{\"type\": \"SIPAEVENT_BOOTCOUNTER\", \"typeValue\": 131074, \"value\": 17}, "
            "{\"type\": \"0x00123456\", \"typeValue\": 1193046, \"hex\": \"abcd\"}]}]}"));
}

// A hostile nesting depth neither deepens text lines without bound nor breaks the JSON nesting.
TEST(TcgLogEventListingTest, DeepNestingStaysBounded) {
    constexpr std::size_t kDepth = 20000;
    TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
    builder.Add(EventTag(13, SipaAggregationChain(kDepth, SipaFilePath(u"\\deep.sys"))));
    const Bytes log = builder.Build();

    std::ostringstream text;
    const qorvex::host::NamedLogFile file{"deep.log", log};
    qorvex::host::PrintEventsText(text, std::span(&file, 1));
    std::istringstream lines(text.str());
    std::size_t longest = 0, count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        longest = std::max(longest, line.size());
    EXPECT_LT(longest, 200u);
    EXPECT_GT(count, kDepth);
    EXPECT_THAT(text.str(), testing::HasSubstr("(depth 20000) SIPAEVENT_FILEPATH: \\deep.sys"));

    const std::string json = EventsJson(log);
    EXPECT_EQ(std::count(json.begin(), json.end(), '['), std::count(json.begin(), json.end(), ']'));
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), std::count(json.begin(), json.end(), '}'));
}

TEST(TcgLogEventListingTest, TypeNames) {
    const struct {
        std::uint32_t type;
        const char* name;
    } events[] = {{0x1, "EV_POST_CODE"},
                  {0x3, "EV_NO_ACTION"},
                  {0x4, "EV_SEPARATOR"},
                  {0x6, "EV_EVENT_TAG"},
                  {0x80000003, "EV_EFI_BOOT_SERVICES_APPLICATION"},
                  {0x800000E0, "EV_EFI_VARIABLE_AUTHORITY"},
                  {0x7FFFFFFF, "0x7fffffff"}},
      sipa[] = {{0x00070001, "SIPAEVENT_FILEPATH"},
                {0x00020002, "SIPAEVENT_BOOTCOUNTER"},
                {0x00070007, "SIPAEVENT_IMAGEBASE"},
                {0x00070002, "SIPAEVENT_IMAGESIZE"},
                {0x00070003, "SIPAEVENT_HASHALGORITHMID"},
                {0x40010003, "SIPAEVENT_LOADEDMODULE_AGGREGATION"},
                {0x00099999, "0x00099999"}};
    for (const auto& e : events) EXPECT_EQ(qorvex::host::TcgEventTypeName(e.type), e.name);
    for (const auto& e : sipa) EXPECT_EQ(qorvex::host::SipaEventTypeName(e.type), e.name);
}

}  // namespace
