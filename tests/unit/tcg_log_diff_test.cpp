// tcg-log diff: the alignment of two event sequences (one inserted or removed event leaves the
// rest aligned, same-typed neighbours pair as changed), and the comparison of real logs with
// themselves, with each other and with altered copies: which PCRs replay differently and which
// event is the first one responsible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/tcg_log_diff.h"
#include "cli/tcg_log_reader.h"

namespace {

namespace fs = std::filesystem;
using qorvex::host::AlignEvents;
using qorvex::host::DiffOp;
using qorvex::host::DiffStep;
using qorvex::host::DiffTcgLogs;
using qorvex::host::EventRecord;
using qorvex::host::LogDiff;
using qorvex::host::ReadTcgLogReport;
using Bytes = std::vector<std::uint8_t>;

// The steps as one character each: '=' same, '-' removed, '+' added, '~' changed.
std::string Ops(const std::string& a, const std::string& b) {
    // Letters are events; a letter and its capital are the same kind of event, not the same one.
    const auto steps = AlignEvents(
        a.size(), b.size(), [&](std::size_t i, std::size_t j) { return a[i] == b[j]; },
        [&](std::size_t i, std::size_t j) { return (a[i] | 0x20) == (b[j] | 0x20); });
    std::string ops;
    for (const DiffStep& step : steps) ops += "=-+~"[static_cast<int>(step.op)];
    return ops;
}

TEST(TcgLogDiffAlignment, OneInsertedOrRemovedEventLeavesTheRestAligned) {
    struct Case {
        const char* a;
        const char* b;
        const char* ops;
    };
    const Case cases[] = {
        {"", "", ""},
        {"abc", "abc", "==="},
        {"", "ab", "++"},
        {"ab", "", "--"},
        {"abcdef", "abxcdef", "==+===="},
        {"abcdef", "abdef", "==-==="},
        {"abcdef", "abCdef", "==~==="},
        {"abcdef", "AbcdeF", "~====~"},
        {"abab", "baba", "-===+"},
        {"axbc", "aybc", "=-+=="},  // different kinds: removed, then added
    };
    for (const Case& c : cases) EXPECT_EQ(Ops(c.a, c.b), c.ops) << c.a << " / " << c.b;
}

TEST(TcgLogDiffAlignment, LongGapsStayLinear) {
    // Far past the alignment table's size: the common head and tail are kept, the rest compared
    // in order.
    const std::string a = "h" + std::string(5000, 'a') + "t";
    const std::string b = "h" + std::string(5000, 'b') + "t";
    const std::string ops = Ops(a, b);
    EXPECT_EQ(ops.front(), '=');
    EXPECT_EQ(ops.back(), '=');
    EXPECT_EQ(ops.size(), 2u + 5000u + 5000u);
}

std::string Samples() {
    return std::string(QORVEX_SHARED_DIR) + "/samples/";
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LogDiff Diff(const std::string& nameA, Bytes a, const std::string& nameB, Bytes b) {
    return DiffTcgLogs(ReadTcgLogReport(nameA, std::move(a), true),
                       ReadTcgLogReport(nameB, std::move(b), true));
}

// PCRs whose replays differ, and PCRs whose events differ.
std::vector<std::uint32_t> ReplayDiffering(const LogDiff& diff) {
    std::vector<std::uint32_t> pcrs;
    for (const auto& pcr : diff.pcrs) {
        if (!pcr.differing.empty()) pcrs.push_back(pcr.pcr);
    }
    return pcrs;
}

std::vector<EventRecord> Events(const Bytes& log) {
    std::vector<EventRecord> events;
    qorvex::host::ForEachEvent(log, [&](const EventRecord& e) { events.push_back(e); });
    return events;
}

// The sample logs live beside the repository; a clone on its own skips these cases.
class TcgLogDiffSamples : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::is_directory(Samples()))
            GTEST_SKIP() << "no shared samples in " << Samples();
    }
};

const char* const kWindowsSamples[] = {
    "windows-gcp-shielded-vm.log",
    "windows-tpm12-lenovo-x1carbon3.log",
    "windows-tpm2-lenovo-x1yoga2.log",
    "windows-tpm2-dell-latitude7520-sha256.log",
    "windows-dell-poweredge-startuplocality.log",
    "windows-option-rom.log",
};

TEST_F(TcgLogDiffSamples, EveryLogEqualsItself) {
    for (const char* name :
         {"windows-gcp-shielded-vm.log", "windows-tpm12-lenovo-x1carbon3.log",
          "windows-tpm2-lenovo-x1yoga2.log", "windows-tpm2-dell-latitude7520-sha256.log",
          "windows-dell-poweredge-startuplocality.log", "windows-option-rom.log",
          "firmware-dell-compacthash-pcr4.log", "linux-tdx-ccel-padded.log"}) {
        const Bytes log = ReadBytes(Samples() + name);
        ASSERT_FALSE(log.empty()) << name;
        const LogDiff diff = Diff("a", log, "b", log);
        EXPECT_TRUE(diff.ReplaysEqual()) << name;
        EXPECT_EQ(qorvex::host::DiffExitCode(diff), qorvex::host::kExitSuccess) << name;
        for (const auto& pcr : diff.pcrs) EXPECT_FALSE(pcr.EventsDiffer()) << name;
    }
}

// One event's data and digests altered, or the event cut out: exactly its PCR replays
// differently, that event is the first responsible, and every other event stays aligned.
TEST_F(TcgLogDiffSamples, AnAlteredCopyPointsAtTheAlteredEvent) {
    enum class Alteration { FlipDigest, RemoveEvent };
    for (const char* name : kWindowsSamples) {
        for (const Alteration alteration : {Alteration::FlipDigest, Alteration::RemoveEvent}) {
            const Bytes log = ReadBytes(Samples() + name);
            const std::vector<EventRecord> events = Events(log);
            // The middle extending event of the PCR with the most of them, far from either end
            // of its PCR.
            std::map<std::uint32_t, std::vector<std::size_t>> byPcr;
            for (std::size_t i = 0; i < events.size(); ++i) {
                if (events[i].view.complete && events[i].view.eventType != 3 /* EV_NO_ACTION */ &&
                    events[i].view.pcrIndex <= 23) {
                    byPcr[events[i].view.pcrIndex].push_back(i);
                }
            }
            std::uint32_t pcr = 0;
            for (const auto& [index, list] : byPcr) {
                if (list.size() > byPcr[pcr].size()) pcr = index;
            }
            const std::vector<std::size_t>& inPcr = byPcr[pcr];
            ASSERT_GE(inPcr.size(), 3u) << name;
            const EventRecord& target = events[inPcr[inPcr.size() / 2]];
            Bytes altered = log;
            if (alteration == Alteration::FlipDigest) {
                for (const auto& digest : target.digests)
                    altered[static_cast<std::size_t>(digest.value.data() - log.data())] ^= 0xFF;
            } else {
                const std::size_t begin = static_cast<std::size_t>(target.view.offset);
                const std::size_t end = static_cast<std::size_t>(
                    target.view.data.data() + target.view.data.size() - log.data());
                altered.erase(altered.begin() + static_cast<std::ptrdiff_t>(begin),
                              altered.begin() + static_cast<std::ptrdiff_t>(end));
            }
            const LogDiff diff = Diff("a", log, "b", altered);
            const std::string what =
                std::string(name) + (alteration == Alteration::FlipDigest ? " flipped" : " cut");
            EXPECT_EQ(ReplayDiffering(diff), std::vector<std::uint32_t>{pcr}) << what;
            EXPECT_EQ(qorvex::host::DiffExitCode(diff), qorvex::host::kExitLogsDiffer) << what;
            for (const auto& pcrDiff : diff.pcrs) {
                std::size_t notSame = 0;
                for (const DiffStep& step : pcrDiff.steps) notSame += step.op != DiffOp::Same;
                if (pcrDiff.pcr != pcr) {
                    EXPECT_EQ(notSame, 0u) << what << " PCR " << pcrDiff.pcr;
                    continue;
                }
                EXPECT_EQ(notSame, 1u) << what;
                ASSERT_TRUE(pcrDiff.responsible.has_value()) << what;
                const DiffStep& step = pcrDiff.steps[*pcrDiff.responsible];
                EXPECT_EQ(step.op,
                          alteration == Alteration::FlipDigest ? DiffOp::Changed : DiffOp::Removed)
                    << what;
                EXPECT_EQ(diff.eventsA[step.a].record.view.index, target.view.index) << what;
            }
        }
    }
}

TEST_F(TcgLogDiffSamples, DifferentMachinesDifferAlmostEverywhere) {
    const LogDiff diff =
        Diff("x1carbon3", ReadBytes(Samples() + "windows-tpm12-lenovo-x1carbon3.log"), "x1yoga2",
             ReadBytes(Samples() + "windows-tpm2-lenovo-x1yoga2.log"));
    EXPECT_EQ(diff.commonBanks, std::vector<std::string>{"sha1"});
    EXPECT_FALSE(diff.ReplaysEqual());
    const std::vector<std::uint32_t> differing = ReplayDiffering(diff);
    // Boot manager (PCR 4) is the same build on both; firmware, Secure Boot and Windows' own
    // measurements are not.
    for (const std::uint32_t pcr : {0u, 1u, 7u, 11u, 12u, 13u, 14u}) {
        EXPECT_NE(std::find(differing.begin(), differing.end(), pcr), differing.end()) << pcr;
    }
    for (const auto& pcr : diff.pcrs) {
        if (!pcr.differing.empty()) {
            EXPECT_TRUE(pcr.responsible.has_value()) << pcr.pcr;
        }
    }
}

}  // namespace
