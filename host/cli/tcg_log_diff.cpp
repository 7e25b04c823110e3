#include "cli/tcg_log_diff.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cli/commands.h"
#include "cli/tcg_log_names.h"
#include "cli/tcg_log_sipa.h"
#include "cli/tcg_log_writers.h"
#include "decode/event_description.h"

namespace qorvex::host {

namespace {

namespace tb = antimalware::trusted_boot;

constexpr char kStartupLocalitySignature[16] = "StartupLocality";

std::uint64_t Mix(std::uint64_t hash, std::span<const std::uint8_t> bytes) noexcept {
    for (const std::uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
    return hash;
}

std::uint64_t Mix(std::uint64_t hash, std::uint64_t value) noexcept {
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return Mix(hash, bytes);
}

std::optional<std::span<const std::uint8_t>> DigestOf(const EventRecord& event,
                                                      std::uint16_t algorithm) {
    for (const EventDigest& digest : event.digests) {
        if (digest.algorithm == algorithm) return digest.value;
    }
    return std::nullopt;
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) noexcept {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool IsStartupLocality(const EventRecord& event) noexcept {
    const auto data = event.view.data;
    return event.view.pcrIndex == 0 && event.view.eventType == tb::kEvNoAction &&
           data.size() > sizeof kStartupLocalitySignature &&
           std::memcmp(data.data(), kStartupLocalitySignature, sizeof kStartupLocalitySignature) ==
               0;
}

// The supported banks both logs have, by algorithm, in A's order.
std::vector<std::uint16_t> CommonAlgorithms(const TcgLogReport& a, const TcgLogReport& b) {
    std::vector<std::uint16_t> common;
    for (const PcrBank& bankA : a.banks) {
        if (!bankA.supported) continue;
        for (const PcrBank& bankB : b.banks) {
            if (bankB.supported && bankB.algorithm == bankA.algorithm) {
                common.push_back(bankA.algorithm);
                break;
            }
        }
    }
    return common;
}

std::vector<DiffEvent> CollectEvents(const TcgLogReport& report,
                                     const std::vector<std::uint16_t>& common) {
    std::vector<DiffEvent> events;
    if (report.size == 0) return events;
    const TcgLogParseResult listed = ForEachEvent(report.bytes, [&](const EventRecord& record) {
        DiffEvent event{record, 0};
        std::uint64_t key = 0xCBF29CE484222325ull;
        key = Mix(key, record.view.eventType);
        key = Mix(key, record.view.complete ? 1 : 0);
        key = Mix(key, record.view.data);
        for (const std::uint16_t algorithm : common) {
            if (const auto digest = DigestOf(record, algorithm)) key = Mix(key, *digest);
        }
        event.key = key;
        events.push_back(std::move(event));
    });
    if (listed.eventCount != report.walk.eventCount || listed.stopOffset != report.walk.stopOffset)
        throw LogChangedError("the log file " + LogFileDisplayName(report.file) +
                              " changed while it was read");
    return events;
}

bool DigestsDiffer(const EventRecord& a, const EventRecord& b,
                   const std::vector<std::uint16_t>& common) {
    for (const std::uint16_t algorithm : common) {
        const auto digestA = DigestOf(a, algorithm);
        const auto digestB = DigestOf(b, algorithm);
        if (digestA.has_value() != digestB.has_value()) return true;
        if (digestA && !SameBytes(*digestA, *digestB)) return true;
    }
    return false;
}

bool SameEvent(const EventRecord& a, const EventRecord& b,
               const std::vector<std::uint16_t>& common) {
    return a.view.eventType == b.view.eventType && a.view.complete == b.view.complete &&
           SameBytes(a.view.data, b.view.data) && !DigestsDiffer(a, b, common);
}

// Whether this step changes what the PCR replays to.
bool Extends(const DiffStep& step, const LogDiff& diff, const std::vector<std::uint16_t>& common) {
    const EventRecord* event =
        step.op == DiffOp::Added ? &diff.eventsB[step.b].record : &diff.eventsA[step.a].record;
    if (IsStartupLocality(*event)) return true;
    if (event->view.eventType == tb::kEvNoAction || !event->view.complete) return false;
    if (step.op == DiffOp::Changed)
        return DigestsDiffer(*event, diff.eventsB[step.b].record, common);
    return step.op != DiffOp::Same;
}

// ---- Describing events --------------------------------------------------------------------

decode::Node DescribeForDiff(const EventRecord& event) {
    // The SIPA of tagged events as a tree, so a changed one shows the elements that changed;
    // that of trust points (EV_NO_ACTION) as its bytes, as the listing shows it.
    const decode::EventData data{event.view.pcrIndex, event.view.eventType, event.view.data};
    if (event.view.eventType == tb::kEvEventTag)
        return decode::DescribeEvent(data, DescribeSipaData);
    return decode::DescribeEvent(data);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// ---- Text ---------------------------------------------------------------------------------

void EventLineText(Output& out, char side, const EventRecord& event) {
    out << side << " #" << event.view.index << ' ' << TcgEventTypeName(event.view.eventType)
        << " size " << event.view.dataSize;
    for (const EventDigest& digest : event.digests)
        out << ' ' << DigestName(digest.algorithm) << ':' << HexBytes{digest.value};
    out << '\n';
}

void DescriptionText(Output& out, const EventRecord& event, std::string_view prefix) {
    const decode::Node tree = DescribeForDiff(event);
    for (const std::string& line : Lines(decode::ToText(tree, 0))) out << prefix << line << '\n';
}

// The lines of two descriptions that differ, "- " for A's and "+ " for B's.
void ChangedDescriptionText(Output& out, const EventRecord& a, const EventRecord& b) {
    const std::vector<std::string> linesA = Lines(decode::ToText(DescribeForDiff(a), 0));
    const std::vector<std::string> linesB = Lines(decode::ToText(DescribeForDiff(b), 0));
    const std::vector<DiffStep> steps = AlignEvents(
        linesA.size(), linesB.size(),
        [&](std::size_t i, std::size_t j) { return linesA[i] == linesB[j]; },
        [](std::size_t, std::size_t) { return false; });
    for (const DiffStep& step : steps) {
        if (step.op == DiffOp::Removed) out << "      - " << linesA[step.a] << '\n';
        if (step.op == DiffOp::Added) out << "      + " << linesB[step.b] << '\n';
    }
}

void LogLineText(Output& out, char side, const TcgLogReport& report) {
    if (report.size == 0) {
        out << side << ' ' << report.file << ": an empty log\n";
        return;
    }
    out << side << ' ' << report.file << ": " << LayoutName(report.layout) << ", digests";
    for (const TcgDigestAlgorithm& algorithm : report.algorithms)
        out << ' ' << DigestName(algorithm.id);
    out << ", " << report.events << (report.events == 1 ? " event, " : " events, ")
        << EndName(report.walk.end) << '\n';
}

// ---- JSON ---------------------------------------------------------------------------------

void EventJson(Output& out, const EventRecord& event, std::string& scratch) {
    out << "{\"index\": " << event.view.index << ", \"offset\": " << event.view.offset
        << ", \"type\": " << JsonText{TcgEventTypeName(event.view.eventType)}
        << ", \"typeValue\": " << event.view.eventType << ", \"size\": " << event.view.dataSize
        << ", \"digests\": {";
    for (std::size_t i = 0; i < event.digests.size(); ++i) {
        out << (i != 0 ? ", \"" : "\"") << DigestName(event.digests[i].algorithm) << "\": \""
            << HexBytes{event.digests[i].value} << '"';
    }
    scratch.clear();
    decode::AppendJson(scratch, DescribeForDiff(event));
    out << "}, \"decoded\": " << scratch << '}';
}

const char* OpName(DiffOp op) noexcept {
    switch (op) {
        case DiffOp::Same:
            return "same";
        case DiffOp::Removed:
            return "removed";
        case DiffOp::Added:
            return "added";
        case DiffOp::Changed:
            return "changed";
    }
    return "same";
}

}  // namespace

bool PcrDiff::EventsDiffer() const noexcept {
    return std::any_of(steps.begin(), steps.end(),
                       [](const DiffStep& step) { return step.op != DiffOp::Same; });
}

bool LogDiff::ReplaysEqual() const noexcept {
    if (commonBanks.empty() && (!a.banks.empty() || !b.banks.empty())) return false;
    return std::none_of(pcrs.begin(), pcrs.end(),
                        [](const PcrDiff& pcr) { return !pcr.differing.empty(); });
}

LogDiff DiffTcgLogs(TcgLogReport a, TcgLogReport b) {
    LogDiff diff;
    diff.a = std::move(a);
    diff.b = std::move(b);
    const std::vector<std::uint16_t> common = CommonAlgorithms(diff.a, diff.b);
    for (const std::uint16_t algorithm : common) diff.commonBanks.push_back(DigestName(algorithm));
    diff.eventsA = CollectEvents(diff.a, common);
    diff.eventsB = CollectEvents(diff.b, common);

    std::map<std::uint32_t, std::pair<std::vector<std::size_t>, std::vector<std::size_t>>> byPcr;
    for (std::size_t i = 0; i < diff.eventsA.size(); ++i)
        byPcr[diff.eventsA[i].record.view.pcrIndex].first.push_back(i);
    for (std::size_t i = 0; i < diff.eventsB.size(); ++i)
        byPcr[diff.eventsB[i].record.view.pcrIndex].second.push_back(i);

    for (auto& [pcr, indexes] : byPcr) {
        const std::vector<std::size_t>& inA = indexes.first;
        const std::vector<std::size_t>& inB = indexes.second;
        PcrDiff pcrDiff;
        pcrDiff.pcr = pcr;
        pcrDiff.steps = AlignEvents(
            inA.size(), inB.size(),
            [&](std::size_t i, std::size_t j) {
                const DiffEvent& ea = diff.eventsA[inA[i]];
                const DiffEvent& eb = diff.eventsB[inB[j]];
                return ea.key == eb.key && SameEvent(ea.record, eb.record, common);
            },
            [&](std::size_t i, std::size_t j) {
                return diff.eventsA[inA[i]].record.view.eventType ==
                       diff.eventsB[inB[j]].record.view.eventType;
            });
        // Steps index the whole logs' events from here on.
        for (DiffStep& step : pcrDiff.steps) {
            if (step.op != DiffOp::Added) step.a = inA[step.a];
            if (step.op != DiffOp::Removed) step.b = inB[step.b];
        }
        for (const std::uint16_t algorithm : common) {
            PcrValuePair values;
            values.bank = DigestName(algorithm);
            for (const PcrBank& bank : diff.a.banks) {
                if (bank.algorithm != algorithm) continue;
                if (auto found = bank.values.find(pcr); found != bank.values.end())
                    values.a = found->second;
            }
            for (const PcrBank& bank : diff.b.banks) {
                if (bank.algorithm != algorithm) continue;
                if (auto found = bank.values.find(pcr); found != bank.values.end())
                    values.b = found->second;
            }
            if (values.a != values.b) pcrDiff.differing.push_back(std::move(values));
        }
        if (!pcrDiff.differing.empty()) {
            for (std::size_t s = 0; s < pcrDiff.steps.size(); ++s) {
                if (pcrDiff.steps[s].op != DiffOp::Same &&
                    Extends(pcrDiff.steps[s], diff, common)) {
                    pcrDiff.responsible = s;
                    break;
                }
            }
        }
        diff.pcrs.push_back(std::move(pcrDiff));
    }
    return diff;
}

int DiffExitCode(const LogDiff& diff) noexcept {
    if (!diff.ReplaysEqual()) return kExitLogsDiffer;
    if (diff.a.walk.end != TcgLogEnd::Complete || diff.b.walk.end != TcgLogEnd::Complete)
        return kExitIncompleteLog;
    return kExitSuccess;
}

void WriteDiffText(Output& out, const LogDiff& diff) {
    LogLineText(out, 'A', diff.a);
    LogLineText(out, 'B', diff.b);
    std::vector<std::uint32_t> differing;
    for (const PcrDiff& pcr : diff.pcrs) {
        if (!pcr.EventsDiffer() && pcr.differing.empty()) continue;
        out << "PCR " << PcrIndexText(pcr.pcr) << ": "
            << (pcr.differing.empty() ? "events differ, replays equal" : "replays differ") << '\n';
        if (!pcr.differing.empty()) differing.push_back(pcr.pcr);
        for (const PcrValuePair& values : pcr.differing) {
            out << "  " << values.bank << " A " << (values.a.empty() ? "(not extended)" : "");
            out << HexBytes{values.a} << '\n';
            out << "  " << std::string(values.bank.size(), ' ') << " B "
                << (values.b.empty() ? "(not extended)" : "") << HexBytes{values.b} << '\n';
        }
        if (!pcr.differing.empty()) {
            out << "  first event responsible: ";
            if (!pcr.responsible) {
                out << "none found among the events\n";
            } else {
                const DiffStep& step = pcr.steps[*pcr.responsible];
                out << OpName(step.op);
                if (step.op != DiffOp::Added)
                    out << " A #" << diff.eventsA[step.a].record.view.index;
                if (step.op != DiffOp::Removed)
                    out << " B #" << diff.eventsB[step.b].record.view.index;
                const EventRecord& event = step.op == DiffOp::Added ? diff.eventsB[step.b].record
                                                                    : diff.eventsA[step.a].record;
                out << ' ' << TcgEventTypeName(event.view.eventType) << '\n';
            }
        }
        std::size_t same = 0;
        auto flushSame = [&] {
            if (same != 0)
                out << "  = " << same << (same == 1 ? " event the same\n" : " events the same\n");
            same = 0;
        };
        for (const DiffStep& step : pcr.steps) {
            if (step.op == DiffOp::Same) {
                ++same;
                continue;
            }
            flushSame();
            switch (step.op) {
                case DiffOp::Removed:
                    out << "  ";
                    EventLineText(out, '-', diff.eventsA[step.a].record);
                    DescriptionText(out, diff.eventsA[step.a].record, "      ");
                    break;
                case DiffOp::Added:
                    out << "  ";
                    EventLineText(out, '+', diff.eventsB[step.b].record);
                    DescriptionText(out, diff.eventsB[step.b].record, "      ");
                    break;
                case DiffOp::Changed:
                    out << "  ~ A #" << diff.eventsA[step.a].record.view.index << " B #"
                        << diff.eventsB[step.b].record.view.index << ' '
                        << TcgEventTypeName(diff.eventsA[step.a].record.view.eventType) << '\n';
                    out << "    ";
                    EventLineText(out, 'A', diff.eventsA[step.a].record);
                    out << "    ";
                    EventLineText(out, 'B', diff.eventsB[step.b].record);
                    ChangedDescriptionText(out, diff.eventsA[step.a].record,
                                           diff.eventsB[step.b].record);
                    break;
                case DiffOp::Same:
                    break;
            }
        }
        flushSame();
    }
    if (diff.commonBanks.empty() && !diff.ReplaysEqual()) {
        out << "replays: not comparable, no digest bank is common to both logs\n";
    } else if (differing.empty()) {
        out << "replays: equal\n";
    } else {
        out << "replays: differ in PCR" << (differing.size() == 1 ? " " : "s ");
        for (std::size_t i = 0; i < differing.size(); ++i)
            out << (i != 0 ? ", " : "") << PcrIndexText(differing[i]);
        out << '\n';
    }
}

void WriteDiffJson(Output& out, const LogDiff& diff) {
    out << "{\"a\": ";
    if (WriteLogSummaryJson(out, diff.a)) {
    }
    out << "}, \"b\": ";
    if (WriteLogSummaryJson(out, diff.b)) {
    }
    out << "}, \"commonBanks\": [";
    for (std::size_t i = 0; i < diff.commonBanks.size(); ++i)
        out << (i != 0 ? ", \"" : "\"") << diff.commonBanks[i] << '"';
    out << "], \"replaysEqual\": " << (diff.ReplaysEqual() ? "true" : "false") << ", \"pcrs\": [";
    std::string scratch;
    bool firstPcr = true;
    for (const PcrDiff& pcr : diff.pcrs) {
        if (!pcr.EventsDiffer() && pcr.differing.empty()) continue;
        out << (firstPcr ? "\n" : ",\n") << "{\"pcr\": " << pcr.pcr
            << ", \"replayDiffers\": " << (pcr.differing.empty() ? "false" : "true")
            << ", \"values\": {";
        firstPcr = false;
        for (std::size_t i = 0; i < pcr.differing.size(); ++i) {
            const PcrValuePair& values = pcr.differing[i];
            out << (i != 0 ? ", \"" : "\"") << values.bank << "\": {\"a\": ";
            if (values.a.empty()) {
                out << "null";
            } else {
                out << '"' << HexBytes{values.a} << '"';
            }
            out << ", \"b\": ";
            if (values.b.empty()) {
                out << "null";
            } else {
                out << '"' << HexBytes{values.b} << '"';
            }
            out << '}';
        }
        out << "}, \"responsible\": ";
        if (pcr.responsible) {
            const DiffStep& step = pcr.steps[*pcr.responsible];
            out << "{\"op\": \"" << OpName(step.op) << '"';
            if (step.op != DiffOp::Added)
                out << ", \"a\": " << diff.eventsA[step.a].record.view.index;
            if (step.op != DiffOp::Removed)
                out << ", \"b\": " << diff.eventsB[step.b].record.view.index;
            out << '}';
        } else {
            out << "null";
        }
        out << ", \"steps\": [";
        std::size_t same = 0;
        bool firstStep = true;
        auto comma = [&] {
            out << (firstStep ? "" : ", ");
            firstStep = false;
        };
        for (std::size_t s = 0; s < pcr.steps.size(); ++s) {
            const DiffStep& step = pcr.steps[s];
            comma();
            out << "{\"op\": \"" << OpName(step.op) << '"';
            if (step.op == DiffOp::Same) {
                ++same;
                out << ", \"a\": " << diff.eventsA[step.a].record.view.index
                    << ", \"b\": " << diff.eventsB[step.b].record.view.index << '}';
                continue;
            }
            if (step.op != DiffOp::Added) {
                out << ", \"a\": ";
                EventJson(out, diff.eventsA[step.a].record, scratch);
            }
            if (step.op != DiffOp::Removed) {
                out << ", \"b\": ";
                EventJson(out, diff.eventsB[step.b].record, scratch);
            }
            out << '}';
        }
        out << "], \"same\": " << same << '}';
    }
    out << (firstPcr ? "]}\n" : "\n]}\n");
}

}  // namespace qorvex::host
