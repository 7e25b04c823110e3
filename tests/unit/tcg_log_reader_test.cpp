// The analyst's log reader of qorvex-host: the PCR replay rules on small built logs, the event
// visitor of the module's log reader (which must leave what the module reads unchanged), what is
// judged a log and how a log's end is told, the writers (SIPA tree, numbers and texts as analysts
// read them) and the input and output they stand on. The digests it replays with are tested in
// digest_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "cli/log_file.h"
#include "cli/output.h"
#include "cli/tcg_log_reader.h"
#include "cli/tcg_log_writers.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "digest/digest.h"
#include "tcglog/tcg_log_builder.h"

namespace {

namespace tb = antimalware::trusted_boot;
using qorvex::digest::Algorithm;
using qorvex::digest::Hasher;
using qorvex::digest::ToHex;
using qorvex::host::ReadTcgLogReport;
using qorvex::host::TcgLogReport;
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

TcgLogReport Replay(Bytes log) {
    return ReadTcgLogReport("built.log", std::move(log), true);
}

const qorvex::host::PcrBank* FindBank(const TcgLogReport& report, std::string_view name) {
    for (const auto& bank : report.banks) {
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
    const TcgLogReport report = Replay(builder.Build());

    EXPECT_EQ(report.layout, tb::TcgLogLayout::Sha1);
    EXPECT_EQ(report.walk.end, tb::TcgLogEnd::Complete);
    EXPECT_EQ(report.events, 8u);
    EXPECT_EQ(report.eventsReplayed, 8u);
    EXPECT_FALSE(report.startupLocality.has_value());
    ASSERT_EQ(report.banks.size(), 1u);
    const auto& values = report.banks[0].values;
    EXPECT_EQ(report.banks[0].name, "sha1");
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
        const TcgLogReport report = Replay(builder.Build());

        ASSERT_EQ(report.banks.size(), 2u);
        EXPECT_EQ(report.startupLocality.has_value(), c.localityFirst);
        Bytes start1 = Filled(20, 0), start256 = Filled(32, 0);
        start1.back() = start256.back() = c.expectedLastByte;
        EXPECT_THAT(report.banks[0].values, ElementsAre(Key(0u)));
        EXPECT_EQ(report.banks[0].values.at(0), Extend(Algorithm::Sha1, start1, s1));
        EXPECT_EQ(report.banks[1].values.at(0), Extend(Algorithm::Sha256, start256, s256));
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
    const TcgLogReport report = Replay(builder.Build());

    EXPECT_EQ(report.layout, tb::TcgLogLayout::CryptoAgile);
    ASSERT_EQ(report.banks.size(), 3u);
    const auto* sha384 = FindBank(report, "sha384");
    const auto* sha3 = FindBank(report, "sha3_256");
    const auto* sm3 = FindBank(report, "sm3_256");
    ASSERT_TRUE(sha384 && sha3 && sm3);
    EXPECT_THAT(sha384->values, ElementsAre(Key(4u)));
    EXPECT_EQ(sha384->values.at(4), Extend(Algorithm::Sha384, Filled(48, 0), d384));
    EXPECT_FALSE(sha3->supported);
    EXPECT_THAT(sha3->values, IsEmpty());
    EXPECT_THAT(sm3->values, ElementsAre(Key(4u), Key(5u)));
    EXPECT_EQ(sm3->values.at(5), Extend(Algorithm::Sm3_256, Filled(32, 0), dSm3));

    std::ostringstream json;
    {
        qorvex::host::Output out(json);
        qorvex::host::WritePcrsJson(out, report);
    }
    EXPECT_THAT(json.str(), testing::HasSubstr("\"sha3_256\": null"));
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

std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
}

// ---- What is a log ---------------------------------------------------------------------------

Bytes Header(std::uint32_t pcr, std::uint32_t type, std::uint32_t dataSize, std::size_t dataBytes) {
    return ByteWriter().U32(pcr).U32(type).Fill(20, 0).U32(dataSize).Fill(dataBytes, 0x61).Take();
}

// The first event decides: a whole header, a PCR from 0 to 23, a TCG event type, data that fits,
// a usable Spec ID header. Real logs' first events pass, whatever else they are.
TEST(TcgLogPlausibilityTest, TheFirstEventDecides) {
    std::mt19937 random(15);
    Bytes noise(4096);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    const Bytes elf = ByteWriter()
                          .Ascii(
                              "\x7f"
                              "ELF")
                          .U8(2)
                          .U8(1)
                          .U8(1)
                          .Fill(57, 0)
                          .Take();
    TcgLogBuilder badHeader = TcgLogBuilder::CryptoAgileLayout();
    badHeader.SetSpecIdData(ByteWriter().Ascii("Spec ID Event03").U8(0).Fill(12, 0).Take());
    TcgLogBuilder tdx = TcgLogBuilder::CryptoAgileLayout({{tcg::kAlgSha384, 48}});
    tdx.Add(Separator(1));
    Bytes tdxLog = tdx.Build();
    tdxLog[0] = 1;
    TcgLogBuilder locality = TcgLogBuilder::Sha1Layout();
    locality.Add({StartupLocality(3), Separator(0)});

    const struct {
        const char* name;
        Bytes bytes;
        const char* reason;  // a part of the reason, or nullptr for a plausible log
    } cases[] = {
        {"empty file", {}, nullptr},
        {"sha1 layout", TcgLogBuilder::Sha1Layout().Add(ScrtmVersion(u"1")).Build(), nullptr},
        {"crypto-agile", TcgLogBuilder::CryptoAgileLayout().Add(Separator(0)).Build(), nullptr},
        {"startup locality first", locality.Build(), nullptr},
        {"header in PCR 1", tdxLog, nullptr},
        {"first event cut in its data", Header(0, tcg::kEvSCrtmVersion, 4, 4), nullptr},
        {"five bytes", Bytes(5, 0), "it holds 5 bytes, fewer than the 32"},
        {"31 bytes", Bytes(31, 0), "it holds 31 bytes"},
        {"PCR 24", Header(24, tcg::kEvSeparator, 4, 4), "for PCR 24, not one of PCRs 0 to 23"},
        {"PCR of all ones", Header(0xFFFFFFFF, tcg::kEvNoAction, 4, 4), "for PCR 0xFFFFFFFF"},
        {"unknown type", Header(0, 0x7FFFFFFF, 4, 4), "of type 0x7fffffff, which is no TCG"},
        {"data beyond the file", Header(0, tcg::kEvSeparator, 5, 4),
         "would hold 5 bytes of data, but only 4 follow its header"},
        {"unusable Spec ID header", badHeader.Build(), "Spec ID Event03 header has no usable"},
        {"an ELF file", elf, "for PCR 0x464C457F"},
        {"random bytes", noise, "its first event would be"},
        {"text", AsBytes("Name:\tqorvex-host\nUmask:\t0022\nState:\tR (running)\n"),
         "for PCR 0x656D614E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string why = qorvex::host::WhyNotATcgLog(c.bytes, c.bytes.size());
        if (c.reason == nullptr) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_THAT(why, testing::HasSubstr(c.reason));
        }
        // The report says the same, and reads no event of a file that is not a log.
        const TcgLogReport report = Replay(c.bytes);
        EXPECT_EQ(report.notALog, why);
        if (!why.empty()) {
            EXPECT_EQ(report.events, 0u);
        }
    }
}

// ---- How a log ends ---------------------------------------------------------------------------

TcgLogBuilder WindowsShapedLog(LogLayout layout) {
    TcgLogBuilder builder = TcgLogBuilder::ForLayout(layout);
    builder.Add({ScrtmVersion(u"1.0"), Separator(0),
                 EventTag(13, SipaTrustBoundary({SipaU64(tcg::kSipaBootCounter, 7),
                                                 SipaLoadedModule(u"\\a.sys", 4096, 0x10000),
                                                 SipaLoadedModule(u"\\b.sys", 8192, 0x20000)})),
                 CompactHash(11, AsBytes("eleven")), Separator(13, 0x4C434257)});
    return builder;
}

// A log cut anywhere is truncated, never malformed; the events read are those that begin before
// the cut, the whole ones are replayed, and the replay equals that of the log cut after its last
// whole event. The reason names the event the log ends in, and for a cut inside its data how
// much of it is there.
TEST(TcgLogReportTest, ACutLogIsTruncatedWithExactCounts) {
    for (const LogLayout layout : {LogLayout::Sha1, LogLayout::CryptoAgile}) {
        SCOPED_TRACE(layout == LogLayout::Sha1 ? "sha1" : "crypto-agile");
        const Bytes log = WindowsShapedLog(layout).Build();
        const TcgLogReport whole = Replay(log);
        ASSERT_EQ(whole.walk.end, tb::TcgLogEnd::Complete);
        // Where each event begins, from the listing of the whole log.
        std::vector<std::uint64_t> starts;
        qorvex::host::ForEachEvent(log, [&](const qorvex::host::EventRecord& event) {
            starts.push_back(event.view.offset);
        });
        starts.push_back(log.size());
        ASSERT_EQ(starts.size(), whole.events + 1);

        for (std::size_t size = starts[1]; size < log.size(); ++size) {
            SCOPED_TRACE(size);
            const TcgLogReport cut = Replay(Bytes(log.begin(), log.begin() + size));
            ASSERT_EQ(cut.notALog, "");
            // Events that end at or before the cut are whole; one that begins before it is cut.
            const auto wholeEvents = static_cast<std::uint64_t>(
                std::upper_bound(starts.begin() + 1, starts.end(), size) - starts.begin() - 1);
            EXPECT_EQ(cut.eventsReplayed, wholeEvents);
            const TcgLogReport prefix =
                Replay(Bytes(log.begin(), log.begin() + starts[wholeEvents]));
            ASSERT_EQ(cut.banks.size(), prefix.banks.size());
            for (std::size_t b = 0; b < cut.banks.size(); ++b)
                EXPECT_EQ(cut.banks[b].values, prefix.banks[b].values);
            if (size == starts[wholeEvents]) {
                EXPECT_EQ(cut.walk.end, tb::TcgLogEnd::Complete);
                EXPECT_EQ(qorvex::host::EndReason(cut), "");
                continue;
            }
            EXPECT_EQ(cut.walk.end, tb::TcgLogEnd::Truncated);
            const std::string reason = qorvex::host::EndReason(cut);
            const std::string at = "#" + std::to_string(wholeEvents) + " at offset " +
                                   std::to_string(starts[wholeEvents]);
            EXPECT_THAT(reason, testing::HasSubstr(at));
            if (cut.stopEvent) {
                // Cut inside its data: listed, with what is there of it.
                EXPECT_EQ(cut.events, wholeEvents + 1);
                EXPECT_EQ(cut.stopEvent->index, wholeEvents);
                EXPECT_LT(cut.stopEvent->dataPresent, cut.stopEvent->dataSize);
                EXPECT_THAT(reason, testing::HasSubstr(
                                        std::to_string(cut.stopEvent->dataPresent) + " of its " +
                                        std::to_string(cut.stopEvent->dataSize) + " bytes"));
            } else {
                EXPECT_EQ(cut.events, wholeEvents);
                EXPECT_THAT(reason, testing::HasSubstr("inside the header of event " + at));
            }
        }
    }
}

// A log that breaks a rule says which event and which rule; the events before it stand.
TEST(TcgLogReportTest, AMalformedLogNamesTheEventAndTheRule) {
    TcgEvent tooManyDigests =
        CompactHashWithDigests(8, {{tcg::kAlgSha1, Bytes(20, 1)}, {tcg::kAlgSha256, Bytes(32, 2)}});
    tooManyDigests.claimedDigestCount = 3;
    Bytes oddPath = Sipa(tcg::kSipaFilePath, Bytes{0x41});
    // The header event takes 69 bytes, the separator 76.
    const struct {
        const char* name;
        TcgEvent bad;
        std::uint64_t events;  // read, the broken one included when it could be read
        const char* reason;
        std::vector<std::uint32_t> pcrs;  // extended: a whole event is replayed
    } cases[] = {
        {"more digests than the header lists",
         tooManyDigests,
         2,
         "event #2 at offset 145 carries more digests than the log's header lists algorithms",
         {0}},
        {"a file path without its zero",
         EventTag(13, SipaTrustBoundary({oddPath})),
         3,
         "event #2 at offset 145 holds a SIPA file path at offset 225 without its terminating "
         "zero",
         {0, 13}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout();
        builder.Add({Separator(0), c.bad, Separator(1)});
        const TcgLogReport report = Replay(builder.Build());
        EXPECT_EQ(report.walk.end, tb::TcgLogEnd::Malformed);
        EXPECT_EQ(report.events, c.events);
        EXPECT_EQ(qorvex::host::EndReason(report), c.reason);
        ASSERT_EQ(report.banks.size(), 2u);
        std::vector<std::uint32_t> extended;
        for (const auto& [pcr, value] : report.banks[0].values) extended.push_back(pcr);
        EXPECT_EQ(extended, c.pcrs);
    }
}

// The TDX shape: a SHA-384 log with its header in PCR 1 and 0xFF to the end is read whole, and
// the padding is reported where it starts.
TEST(TcgLogReportTest, PaddingEndsTheLogAndIsReported) {
    TcgLogBuilder builder = TcgLogBuilder::CryptoAgileLayout({{tcg::kAlgSha384, 48}});
    builder.Add({Separator(1), EfiAction(2, "Exit Boot Services Invocation")});
    Bytes log = builder.Build();
    log[0] = 1;
    const std::size_t eventsEnd = log.size();
    log.resize(eventsEnd + 1000, 0xFF);
    const TcgLogReport report = Replay(log);
    EXPECT_EQ(report.layout, tb::TcgLogLayout::CryptoAgile);
    EXPECT_EQ(report.walk.end, tb::TcgLogEnd::Complete);
    EXPECT_EQ(report.events, 3u);
    EXPECT_EQ(report.walk.paddingSize, 1000u);
    ASSERT_EQ(report.banks.size(), 1u);
    EXPECT_THAT(report.banks[0].values, ElementsAre(Key(1u), Key(2u)));

    std::ostringstream json, text;
    {
        qorvex::host::Output out(json);
        qorvex::host::WritePcrsJson(out, report);
        qorvex::host::Output textOut(text);
        qorvex::host::WriteEventsText(textOut, report);
    }
    EXPECT_THAT(
        json.str(),
        testing::HasSubstr("\"end\": \"complete\", \"endOffset\": " + std::to_string(eventsEnd) +
                           ", \"padding\": {\"offset\": " + std::to_string(eventsEnd) +
                           ", \"size\": 1000, \"byte\": \"0xFF\"}"));
    EXPECT_THAT(text.str(), testing::HasSubstr("end complete, 3 events, then 1000 bytes of "
                                               "padding (0xFF) from offset " +
                                               std::to_string(eventsEnd) + "\n"));
}

// ---- The writers ----------------------------------------------------------------------------

std::string EventsJson(const Bytes& log) {
    std::ostringstream out;
    {
        qorvex::host::Output output(out);
        qorvex::host::WriteEventsJson(output, ReadTcgLogReport("built.log", log, false));
    }
    return out.str();
}

std::string EventsText(const Bytes& log) {
    std::ostringstream out;
    {
        qorvex::host::Output output(out);
        qorvex::host::WriteEventsText(output, ReadTcgLogReport("built.log", log, false));
    }
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

    std::istringstream lines(EventsText(log));
    std::size_t longest = 0, count = 0;
    std::string all;
    for (std::string line; std::getline(lines, line); ++count) {
        longest = std::max(longest, line.size());
        if (line.find("deep.sys") != std::string::npos) all = line;
    }
    EXPECT_LT(longest, 200u);
    EXPECT_GT(count, kDepth);
    EXPECT_THAT(all, testing::HasSubstr("(depth 20000) SIPAEVENT_FILEPATH: \\deep.sys"));

    const std::string json = EventsJson(log);
    EXPECT_EQ(std::count(json.begin(), json.end(), '['), std::count(json.begin(), json.end(), ']'));
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), std::count(json.begin(), json.end(), '}'));
}

// A log that uses a new SIPA type in every element is listed in full, each element by its own
// type, beyond the number of types the writers keep formed.
TEST(TcgLogEventListingTest, EveryElementOfAnyTypeIsListed) {
    constexpr std::uint32_t kTypes = 6000;
    std::vector<Bytes> elements;
    for (std::uint32_t i = 0; i < kTypes; ++i)
        elements.push_back(Sipa(0x00100000 + i, Bytes{static_cast<std::uint8_t>(i)}));
    TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
    builder.Add(EventTag(13, SipaContainer(tcg::kSipaLoadedModuleAggregation, elements)));
    const Bytes log = builder.Build();

    const std::string text = EventsText(log);
    const std::string json = EventsJson(log);
    for (const std::uint32_t i : {0u, 4095u, 4096u, kTypes - 1}) {
        char name[16];
        std::snprintf(name, sizeof name, "0x%08x", 0x00100000 + i);
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", i & 0xFF);
        EXPECT_THAT(text, testing::HasSubstr(std::string("      ") + name + ": " + byte + "\n"));
        EXPECT_THAT(json,
                    testing::HasSubstr("{\"type\": \"" + std::string(name) +
                                       "\", \"typeValue\": " + std::to_string(0x00100000 + i) +
                                       ", \"hex\": \"" + byte + "\"}"));
    }
}

// Text shows numbers as analysts read them: PCR indexes beyond real PCRs, addresses, algorithm
// ids and flags in hex, counts and sizes in decimal; tagged data of other boot software that is
// text as text, and an event cut short with its declared size and the bytes present.
TEST(TcgLogEventListingTest, NumbersAndTextsAsAnalystsReadThem) {
    TcgLogBuilder builder = TcgLogBuilder::Sha1Layout();
    builder.Add(
        {Separator(0),
         EventTag(13, SipaTrustBoundary(
                          {SipaImageBase(0x11C9A0000), SipaHashAlgorithmId(tcg::kCalgSha256),
                           SipaU32(tcg::kSipaBitlockerUnlock, 0x41), SipaImageSize(2592768)})),
         NoAction(0xFFFFFFFF, AsBytes("not measured")),
         EventTag(9, Sipa(0x8F3B22EC, ByteWriter().Utf16(u"grub_cmd linux", true).Take())),
         EventTag(9, Sipa(0x8F3B22ED, AsBytes("kernel_cmdline: quiet"))),
         EventTag(9, Sipa(0x8F3B22EE, Bytes{0x01, 0x00, 0x02, 0x7F}))});
    TcgEvent cut = EfiAction(4, "cut short");
    cut.claimedDataSize = 100;
    builder.Add(cut);
    const std::string text = EventsText(builder.Build());
    for (const char* line :
         {"      SIPAEVENT_IMAGEBASE: 0x11C9A0000\n", "      SIPAEVENT_HASHALGORITHMID: 0x800C\n",
          "      SIPAEVENT_BITLOCKER_UNLOCK: 0x41\n", "      SIPAEVENT_IMAGESIZE: 2592768\n",
          "#2 PCR 0xFFFFFFFF EV_NO_ACTION size 12 ", "    tagId: 0x8f3b22ec (Linux initrd)\n",
          "    text: grub_cmd linux\n", "    text: kernel_cmdline: quiet\n", "    data: 0100027f\n",
          " (cut short by the end of the log: 9 of 100 bytes present) [not checkable]\n",
          "end truncated, 7 events (6 whole): the log ends inside event #6 at offset "}) {
        EXPECT_THAT(text, testing::HasSubstr(line));
    }
}

// ---- Input and output -----------------------------------------------------------------------

// A stream buffer that refuses every write, as a full disk does.
class RefusingBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

// Output refused by the stream ends the writing with an error, at the latest when flushed; a
// large listing stops at the first refused chunk instead of formatting on.
TEST(OutputTest, ARefusedWriteIsAnError) {
    RefusingBuffer refusing;
    std::ostream stream(&refusing);
    qorvex::host::Output out(stream);
    out << "small";
    EXPECT_THROW(out.Flush(), qorvex::host::OutputError);

    std::ostream large(&refusing);
    const TcgLogReport report =
        ReadTcgLogReport("large.log", BuildLargeBootLog(1 << 20, LogLayout::Sha1), false);
    qorvex::host::Output listing(large);
    EXPECT_THROW(qorvex::host::WriteEventsJson(listing, report), qorvex::host::OutputError);
}

// A log that reads differently when listed than when its report was made (another program
// wrote to the mapped file in between) ends the listing with an error, not with a report that
// no longer describes what was listed.
TEST(OutputTest, ALogChangedBetweenReportAndListingIsAnError) {
    TcgLogReport report =
        ReadTcgLogReport("changing.log", WindowsShapedLog(LogLayout::Sha1).Build(), false);
    ASSERT_EQ(report.walk.end, tb::TcgLogEnd::Complete);
    // The second event's data size becomes all ones: the listing ends there, cut short.
    auto* bytes = const_cast<std::uint8_t*>(report.bytes.data());
    const std::uint64_t second = 32 + Load32(bytes + 28);
    std::memset(bytes + second + 28, 0xFF, 4);
    std::ostringstream stream;
    qorvex::host::Output out(stream);
    EXPECT_THROW(qorvex::host::WriteEventsText(out, report), qorvex::host::LogChangedError);
    EXPECT_THROW(qorvex::host::WriteEventsJson(out, report), qorvex::host::LogChangedError);
}

// Files are read whole, whatever they are, or refused with what they are.
TEST(LogFileTest, ReadsFilesPipesAndKernelFilesAndSaysWhyNot) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("qorvex-log-file-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "a.log").string();
    std::ofstream(file, std::ios::binary) << "0123456789";
    const std::string fifo = (folder / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << "piped bytes"; });

    const struct {
        std::string name;
        const char* error;  // a part of the message, or nullptr
        std::string bytes;
    } cases[] = {
        {file, nullptr, "0123456789"},
        {fifo, nullptr, "piped bytes"},
        {(folder / "missing.log").string(), ": no such file", ""},
        {(folder / "missing" / "a.log").string(), ": no such file", ""},
        {file + "/below", ": no such file", ""},
        {folder.string(), ": is a folder", ""},
        {"/dev/null", ": is a device, not a file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qorvex::host::LogFileContents contents;
        const std::string error = qorvex::host::ReadLogFile(c.name, contents);
        if (c.error == nullptr) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(std::string(contents.bytes.begin(), contents.bytes.end()), c.bytes);
            EXPECT_EQ(contents.size, c.bytes.size());
        } else {
            EXPECT_EQ(error.rfind("cannot read log file '" + c.name + "'", 0), 0u) << error;
            EXPECT_THAT(error, testing::EndsWith(c.error));
        }
    }
    writer.join();

    // Files of /proc report no size and are read to their end all the same.
    qorvex::host::LogFileContents status;
    EXPECT_EQ(qorvex::host::ReadLogFile("/proc/self/status", status), "");
    EXPECT_GT(status.size, 0u);
    EXPECT_FALSE(status.regularFile);

    // A prefix of a regular file, with the whole file's size.
    qorvex::host::LogFileContents prefix;
    EXPECT_EQ(qorvex::host::ReadLogFilePrefix(file, 4, prefix), "");
    EXPECT_EQ(std::string(prefix.bytes.begin(), prefix.bytes.end()), "0123");
    EXPECT_EQ(prefix.size, 10u);
    EXPECT_TRUE(prefix.regularFile);

    // Permission, as far as the user running the test is refused anything.
    std::filesystem::permissions(file, std::filesystem::perms::none);
    qorvex::host::LogFileContents denied;
    const std::string error = qorvex::host::ReadLogFile(file, denied);
    if (geteuid() != 0) {
        EXPECT_THAT(error, testing::EndsWith(": permission denied"));
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
