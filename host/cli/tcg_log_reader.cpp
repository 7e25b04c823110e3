#include "cli/tcg_log_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "cli/log_file.h"
#include "cli/tcg_log_names.h"
#include "digest/digest.h"

namespace qorvex::host {

namespace {

namespace tb = antimalware::trusted_boot;

using tb::kEvNoAction;
constexpr std::uint32_t kSipaHeaderSize = 8;
constexpr char kStartupLocalitySignature[16] = "StartupLocality";
constexpr std::uint8_t kSpecIdSignature[16] = {'S', 'p', 'e', 'c', ' ', 'I', 'D', ' ',
                                               'E', 'v', 'e', 'n', 't', '0', '3', 0};
// TCG_PCClientPCREvent: PCR index, event type, SHA-1 digest, event data size.
constexpr std::uint64_t kSha1EventHeaderSize = 32;

std::uint32_t Load32(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// What the module's reader needs besides the visitor; the analyst's views keep nothing of it.
class IgnoringSink final : public tb::TcgLogSink {
public:
    void OnModulePath(const std::uint8_t*, std::size_t) override {}
    void OnCompactHash(std::uint32_t, const std::uint8_t*) override {}
};

bool IsStartupLocality(const TcgEventView& event) noexcept {
    return event.pcrIndex == 0 && event.eventType == kEvNoAction &&
           event.data.size() >= sizeof kStartupLocalitySignature + 1 &&
           std::memcmp(event.data.data(), kStartupLocalitySignature,
                       sizeof kStartupLocalitySignature) == 0;
}

// Hands each event to onEvent whole. Only EV_EVENT_TAG events collect SIPA elements.
class CollectingVisitor final : public tb::TcgLogEventVisitor {
public:
    explicit CollectingVisitor(const std::function<void(const EventRecord&)>& onEvent)
        : m_onEvent(onEvent) {}

    void OnLayout(TcgLogLayout, std::span<const TcgDigestAlgorithm>) override {}
    void OnEvent(const TcgEventView& event) override {
        Flush();
        m_current.view = event;
        m_current.view.digests = {};
        m_current.digests.clear();
        for (const tb::TcgEventDigest& digest : event.digests)
            m_current.digests.push_back({digest.algorithm, digest.value});
        m_current.sipa.clear();
        m_containerEnds.clear();
        m_pending = true;
    }
    void OnSipaEvent(std::uint64_t offset, std::uint32_t type,
                     std::span<const std::uint8_t> data) override {
        while (!m_containerEnds.empty() && offset >= m_containerEnds.back())
            m_containerEnds.pop_back();
        m_current.sipa.push_back({m_containerEnds.size(), type, data});
        if (IsSipaContainer(type))
            m_containerEnds.push_back(offset + kSipaHeaderSize + data.size());
    }
    // The last event, after the walk.
    void Flush() {
        if (!m_pending) return;
        m_pending = false;
        m_onEvent(m_current);
    }

private:
    const std::function<void(const EventRecord&)>& m_onEvent;
    EventRecord m_current;
    std::vector<std::uint64_t> m_containerEnds;  // of the open containers, innermost last
    bool m_pending = false;
};

// The report's walk: layout, banks, startup locality, counts, the last event, and the replay
// when asked. SIPA elements are of no interest here.
class ReportingVisitor final : public tb::TcgLogEventVisitor {
public:
    ReportingVisitor(TcgLogReport& report, bool replay) : m_report(report), m_replay(replay) {}

    void OnLayout(TcgLogLayout layout, std::span<const TcgDigestAlgorithm> algorithms) override {
        m_report.layout = layout;
        m_report.algorithms.assign(algorithms.begin(), algorithms.end());
        if (!m_replay) return;
        for (const TcgDigestAlgorithm& algorithm : algorithms) {
            PcrBank bank;
            bank.algorithm = algorithm.id;
            bank.name = DigestName(algorithm.id);
            Running state;
            state.algorithm = digest::FromTpmAlgorithm(algorithm.id);
            // A bank whose table size disagrees with the hash is not one we can replay.
            bank.supported = state.algorithm.has_value() &&
                             digest::DigestSize(*state.algorithm) == algorithm.size;
            if (bank.supported) {
                for (std::uint32_t pcr = 0; pcr <= kHighestReplayedPcr; ++pcr) {
                    const bool allOnes = pcr >= 17 && pcr <= 22;
                    state.values[pcr].assign(algorithm.size, allOnes ? 0xFF : 0x00);
                }
            }
            m_report.banks.push_back(std::move(bank));
            m_running.push_back(std::move(state));
        }
    }

    void OnEvent(const TcgEventView& event) override {
        ++m_report.events;
        m_last = StopEvent{event.index,     event.offset,   event.pcrIndex,
                           event.eventType, event.dataSize, event.data.size()};
        if (!event.complete) return;
        ++m_report.eventsReplayed;
        if (IsStartupLocality(event)) {
            if (!m_pcr0Extended && !m_report.startupLocality) {
                const std::uint8_t locality = event.data[sizeof kStartupLocalitySignature];
                m_report.startupLocality = locality;
                for (Running& state : m_running) {
                    if (!state.values[0].empty()) state.values[0].back() = locality;
                }
            }
            return;
        }
        if (event.eventType == kEvNoAction || event.pcrIndex > kHighestReplayedPcr) return;
        if (event.pcrIndex == 0) m_pcr0Extended = true;
        if (!m_replay) return;
        const std::uint32_t pcr = event.pcrIndex;
        for (std::size_t b = 0; b < m_report.banks.size(); ++b) {
            if (!m_report.banks[b].supported) continue;
            const auto found = std::find_if(event.digests.begin(), event.digests.end(),
                                            [&](const tb::TcgEventDigest& d) {
                                                return d.algorithm == m_report.banks[b].algorithm;
                                            });
            if (found == event.digests.end()) continue;
            Running& state = m_running[b];
            digest::Hasher hasher(*state.algorithm);
            hasher.Update(state.values[pcr]).Update(found->value);
            state.values[pcr] = hasher.Finish();
            state.extended[pcr] = true;
        }
    }

    void OnSipaEvent(std::uint64_t, std::uint32_t, std::span<const std::uint8_t>) override {}

    // After the walk: the stop event, and the replayed values of every extended PCR.
    void Finish() {
        const TcgLogParseResult& walk = m_report.walk;
        if (walk.end != TcgLogEnd::Complete && m_last && m_last->offset == walk.stopOffset)
            m_report.stopEvent = m_last;
        for (std::size_t b = 0; b < m_running.size(); ++b) {
            for (std::uint32_t pcr = 0; pcr <= kHighestReplayedPcr; ++pcr) {
                if (m_running[b].extended[pcr])
                    m_report.banks[b].values.emplace(pcr, std::move(m_running[b].values[pcr]));
            }
        }
    }

private:
    // Per bank: the running value of each PCR 0-23 and whether an event extended it.
    struct Running {
        std::optional<digest::Algorithm> algorithm;
        std::vector<std::uint8_t> values[kHighestReplayedPcr + 1];
        bool extended[kHighestReplayedPcr + 1] = {};
    };

    TcgLogReport& m_report;
    bool m_replay;
    std::vector<Running> m_running;
    bool m_pcr0Extended = false;
    std::optional<StopEvent> m_last;
};

std::string Plural(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

std::string FaultText(TcgLogFault fault, std::uint64_t faultOffset) {
    const std::string at = " at offset " + std::to_string(faultOffset);
    switch (fault) {
        case TcgLogFault::None:
        case TcgLogFault::EventHeaderCut:
        case TcgLogFault::EventDataCut:
            return {};
        case TcgLogFault::SpecIdHeaderInvalid:
            return "its Spec ID Event03 header has no usable digest algorithm table";
        case TcgLogFault::TooManyDigests:
            return "carries more digests than the log's header lists algorithms";
        case TcgLogFault::UnknownDigestAlgorithm:
            return "carries a digest of an algorithm the log's header does not list";
        case TcgLogFault::RepeatedDigestAlgorithm:
            return "carries two digests of one algorithm";
        case TcgLogFault::SipaHeaderOutside:
            return "holds a SIPA event" + at + " whose header does not fit in its container";
        case TcgLogFault::SipaDataOutside:
            return "holds a SIPA event" + at + " that claims more bytes than its container holds";
        case TcgLogFault::SipaFilePathTooShort:
            return "holds a SIPA file path" + at + " without its terminating zero";
    }
    return "breaks the event format";
}

}  // namespace

antimalware::trusted_boot::TcgLogReadOptions ReaderOptions() noexcept {
    tb::TcgLogReadOptions options;
    options.specIdHeaderInAnyPcr = true;
    options.trailingPaddingEndsLog = true;
    return options;
}

std::string WhyNotATcgLog(std::span<const std::uint8_t> bytes, std::uint64_t fileSize) {
    if (fileSize == 0) return {};
    if (fileSize < kSha1EventHeaderSize || bytes.size() < kSha1EventHeaderSize) {
        return "it holds " + Plural(fileSize, "byte", "bytes") + ", fewer than the " +
               std::to_string(kSha1EventHeaderSize) + " of a first event's header";
    }
    const std::uint32_t pcr = Load32(bytes.data());
    const std::uint32_t type = Load32(bytes.data() + 4);
    const std::uint64_t dataSize = Load32(bytes.data() + 28);
    if (pcr > kHighestReplayedPcr) {
        return "its first event would be for PCR " + PcrIndexText(pcr) + ", not one of PCRs 0 to " +
               std::to_string(kHighestReplayedPcr);
    }
    if (!IsTcgEventType(type)) {
        return "its first event would be of type " + TcgEventTypeName(type) +
               ", which is no TCG event type";
    }
    if (dataSize > fileSize - kSha1EventHeaderSize) {
        return "its first event would hold " + Plural(dataSize, "byte", "bytes") +
               " of data, but only " + std::to_string(fileSize - kSha1EventHeaderSize) +
               " follow its header";
    }
    const bool specIdHeader = type == kEvNoAction && dataSize >= sizeof kSpecIdSignature &&
                              bytes.size() >= kSha1EventHeaderSize + sizeof kSpecIdSignature &&
                              std::memcmp(bytes.data() + kSha1EventHeaderSize, kSpecIdSignature,
                                          sizeof kSpecIdSignature) == 0;
    if (specIdHeader) {
        // The module's reader judges the header: the first event alone, as the walk reads it.
        const std::size_t headerEvent = static_cast<std::size_t>(
            std::min<std::uint64_t>(bytes.size(), kSha1EventHeaderSize + dataSize));
        IgnoringSink sink;
        const TcgLogParseResult header =
            tb::ParseTcgLog(bytes.first(headerEvent), sink, nullptr, ReaderOptions());
        if (header.fault == TcgLogFault::SpecIdHeaderInvalid)
            return FaultText(header.fault, header.faultOffset);
    }
    return {};
}

TcgLogReport ReadTcgLogReport(const std::string& file, bool replay) {
    LogFileContents contents;
    if (std::string error = ReadLogFile(file, contents); !error.empty()) {
        TcgLogReport report;
        report.file = file;
        report.error = std::move(error);
        return report;
    }
    return ReadTcgLogReport(file, std::move(contents.bytes), replay);
}

TcgLogReport ReadTcgLogReport(std::string file, std::vector<std::uint8_t> bytes, bool replay) {
    return ReadTcgLogReport(std::move(file), LogBytes(std::move(bytes)), replay);
}

TcgLogReport ReadTcgLogReport(std::string file, LogBytes bytes, bool replay) {
    TcgLogReport report;
    report.file = std::move(file);
    report.size = bytes.size();
    report.bytes = std::move(bytes);
    report.notALog = WhyNotATcgLog(report.bytes, report.size);
    // An empty log is complete as it is: it has no layout, no bank, no event.
    if (!report.notALog.empty() || report.size == 0) return report;

    report.replayed = replay;
    IgnoringSink sink;
    ReportingVisitor visitor(report, replay);
    report.walk = tb::ParseTcgLog(report.bytes, sink, &visitor, ReaderOptions());
    visitor.Finish();
    return report;
}

std::string EndReason(const TcgLogReport& report) {
    const TcgLogParseResult& walk = report.walk;
    if (walk.end == TcgLogEnd::Complete) return {};
    const std::string offset = " at offset " + std::to_string(walk.stopOffset);
    if (walk.fault == TcgLogFault::EventHeaderCut) {
        return "the log ends inside the header of event #" + std::to_string(walk.eventCount) +
               offset;
    }
    if (walk.fault == TcgLogFault::EventDataCut) {
        if (const std::optional<StopEvent>& cut = report.stopEvent) {
            return "the log ends inside event #" + std::to_string(cut->index) + offset + ", " +
                   std::to_string(cut->dataPresent) + " of its " +
                   Plural(cut->dataSize, "byte", "bytes") + " of data present";
        }
        // The crypto-agile header event, which is only shown once whole.
        return "the log ends inside its Spec ID header (event #0)";
    }
    // A SIPA fault is in an event that was read; a digest fault in one that was not.
    const std::uint64_t index = report.stopEvent ? report.stopEvent->index
                                : walk.fault == TcgLogFault::SpecIdHeaderInvalid ? 0
                                                                                 : walk.eventCount;
    return "event #" + std::to_string(index) + offset + ' ' +
           FaultText(walk.fault, walk.faultOffset);
}

std::string ReplayCoverage(const TcgLogReport& report) {
    const std::uint64_t count = report.eventsReplayed;
    if (count == 0) return "no event";
    if (count == 1) return "the 1 event #0";
    return "the " + std::to_string(count) + " events #0 to #" + std::to_string(count - 1);
}

const char* LayoutName(TcgLogLayout layout) noexcept {
    return layout == TcgLogLayout::CryptoAgile ? "crypto-agile" : "sha1";
}

const char* EndName(TcgLogEnd end) noexcept {
    switch (end) {
        case TcgLogEnd::Complete:
            return "complete";
        case TcgLogEnd::Truncated:
            return "truncated";
        case TcgLogEnd::Malformed:
            return "malformed";
    }
    return "malformed";
}

std::string DigestName(std::uint16_t algorithm) {
    return digest::TpmAlgorithmName(algorithm);
}

TcgLogParseResult ForEachEvent(std::span<const std::uint8_t> log,
                               const std::function<void(const EventRecord&)>& onEvent) {
    IgnoringSink sink;
    CollectingVisitor visitor(onEvent);
    const TcgLogParseResult result = tb::ParseTcgLog(log, sink, &visitor, ReaderOptions());
    visitor.Flush();
    return result;
}

}  // namespace qorvex::host
