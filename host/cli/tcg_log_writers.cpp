#include "cli/tcg_log_writers.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "cli/log_file.h"
#include "cli/tcg_log_names.h"
#include "cli/tcg_log_verify.h"
#include "decode/event_description.h"

namespace qorvex::host {

namespace {

namespace tb = antimalware::trusted_boot;

// Text lines never grow with nesting beyond this indent; deeper elements name their depth.
constexpr std::size_t kMaxTextIndentLevels = 16;
// Text lines show at most this many bytes of a byte value.
constexpr std::size_t kMaxTextValueBytes = 64;
constexpr std::string_view kIndent = "                                        ";  // 40 blanks

// What the listing writes for each type, formed once: a large log repeats a few dozen types
// many thousand times. A hostile log may use a new type in every element: past kMaxEntries
// types, further ones are formed afresh each time instead of kept, so memory stays bounded.
template <class Entry>
class TypeTable {
public:
    // The entry of type, made by make(type) the first time.
    template <class Make>
    const Entry& Get(std::uint32_t type, Make make) {
        // The few types a listing meets most sit in a small table indexed by their low bits
        // (SIPA types of one kind differ there); the rest are found by hash.
        Recent& recent = m_recent[(type ^ (type >> 16)) & (kRecent - 1)];
        if (recent.entry != nullptr && recent.type == type) return *recent.entry;
        if (m_slots.empty()) m_slots.assign(64, kEmpty);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t slot = Hash(type) & mask;; slot = (slot + 1) & mask) {
            const std::uint32_t index = m_slots[slot];
            if (index == kEmpty) {
                if (m_entries.size() >= kMaxEntries) {
                    // Valid until the next call, which is as long as callers hold it.
                    m_uncached = make(type);
                    return m_uncached;
                }
                m_entries.push_back(
                    std::make_unique<std::pair<std::uint32_t, Entry>>(type, make(type)));
                m_slots[slot] = static_cast<std::uint32_t>(m_entries.size() - 1);
                if (2 * m_entries.size() > m_slots.size()) Rehash();
                recent = {type, &m_entries.back()->second};
                return *recent.entry;
            }
            if (m_entries[index]->first == type) {
                recent = {type, &m_entries[index]->second};
                return *recent.entry;
            }
        }
    }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
    static constexpr std::size_t kRecent = 64;
    static constexpr std::size_t kMaxEntries = 4096;
    struct Recent {
        std::uint32_t type = 0;
        const Entry* entry = nullptr;
    };
    static std::size_t Hash(std::uint32_t type) noexcept { return (type * 0x9E3779B1u) >> 7; }
    void Rehash() {
        m_slots.assign(2 * m_slots.size(), kEmpty);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            std::size_t slot = Hash(m_entries[i]->first) & mask;
            while (m_slots[slot] != kEmpty) slot = (slot + 1) & mask;
            m_slots[slot] = static_cast<std::uint32_t>(i);
        }
    }

    std::array<Recent, kRecent> m_recent{};
    std::vector<std::uint32_t> m_slots;
    // Each entry where it was made: the recent table points at them.
    std::vector<std::unique_ptr<std::pair<std::uint32_t, Entry>>> m_entries;
    Entry m_uncached{};
};

struct EventTypeEntry {
    std::string name;
    std::string json;  // "type": "NAME", "typeValue": N
};

struct SipaTypeEntry {
    std::string name;
    std::string json;  // {"type": "NAME", "typeValue": N
    SipaValueForm form = SipaValueForm::Bytes;
};

class TypeCache {
public:
    const EventTypeEntry& Event(std::uint32_t type) {
        return m_events.Get(type, [](std::uint32_t t) {
            EventTypeEntry entry{TcgEventTypeName(t), {}};
            entry.json = "\"type\": \"" + entry.name + "\", \"typeValue\": " + std::to_string(t);
            return entry;
        });
    }
    const SipaTypeEntry& Sipa(std::uint32_t type) {
        return m_sipa.Get(type, [](std::uint32_t t) {
            SipaTypeEntry entry{SipaEventTypeName(t), {}, SipaValueFormOf(t)};
            entry.json = "{\"type\": \"" + entry.name + "\", \"typeValue\": " + std::to_string(t);
            return entry;
        });
    }
    const std::string& Digest(std::uint16_t algorithm) {
        return m_digests.Get(
            algorithm, [](std::uint32_t id) { return DigestName(static_cast<std::uint16_t>(id)); });
    }

private:
    TypeTable<EventTypeEntry> m_events;
    TypeTable<SipaTypeEntry> m_sipa;
    TypeTable<std::string> m_digests;
};

Output& Plural(Output& out, std::uint64_t count, std::string_view one, std::string_view many) {
    return out << count << ' ' << (count == 1 ? one : many);
}

Output& Pcr(Output& out, std::uint32_t pcr) {
    if (pcr <= kHighestDecimalPcr) return out << pcr;
    return out << HexNumber{pcr};
}

// ---- Text -----------------------------------------------------------------------------------

// "log NAME: 68790 bytes, crypto-agile layout, digests sha256, startup locality 3"; a file that
// is no log says why. Returns whether the log's own lines follow.
bool WriteHeaderText(Output& out, const TcgLogReport& report) {
    if (!report.error.empty()) {
        out << "log " << report.file << ": " << report.error << '\n';
        return false;
    }
    out << "log " << report.file << ": ";
    Plural(out, report.size, "byte", "bytes");
    if (!report.notALog.empty()) {
        out << ", not a TCG event log: " << report.notALog << '\n';
        return false;
    }
    if (report.size == 0) {
        out << ", an empty log\n";
        return true;
    }
    out << ", " << LayoutName(report.layout) << " layout, digests";
    if (report.algorithms.empty()) out << " none";
    for (const TcgDigestAlgorithm& algorithm : report.algorithms)
        out << ' ' << DigestName(algorithm.id);
    if (report.startupLocality) out << ", startup locality " << *report.startupLocality;
    out << '\n';
    return true;
}

// "end complete, 66 events"; padding, a cut or a broken rule follows with its place.
void WriteEndText(Output& out, const TcgLogReport& report) {
    out << "end " << EndName(report.walk.end) << ", ";
    Plural(out, report.events, "event", "events");
    if (report.eventsReplayed != report.events) out << " (" << report.eventsReplayed << " whole)";
    if (report.walk.paddingSize != 0) {
        out << ", then ";
        Plural(out, report.walk.paddingSize, "byte", "bytes")
            << " of padding (" << HexNumber{report.walk.paddingByte} << ") from offset "
            << report.walk.stopOffset;
    }
    if (const std::string reason = EndReason(report); !reason.empty()) out << ": " << reason;
    out << '\n';
}

void WriteSipaValueText(Output& out, const SipaValue& value) {
    switch (value.kind) {
        case SipaValue::Kind::None:
            return;
        case SipaValue::Kind::Number:
            out << ": " << value.number;
            return;
        case SipaValue::Kind::HexNumber:
            out << ": " << HexNumber{value.number};
            return;
        case SipaValue::Kind::Text:
            out << ": " << LogText{value.bytes, value.utf16};
            return;
        case SipaValue::Kind::Bytes: {
            if (value.bytes.empty()) {
                out << ": (empty)";
                return;
            }
            const std::size_t shown = std::min(value.bytes.size(), kMaxTextValueBytes);
            out << ": " << HexBytes{value.bytes.first(shown)};
            if (shown < value.bytes.size()) out << "... (" << value.bytes.size() << " bytes)";
            return;
        }
    }
}

// SIPA data of EV_EVENT_TAG events is listed element by element from the module's own walk;
// everything else, TCG tagged events of other boot software included (the module's walk reads
// any tagged event as SIPA; the decoders tell them apart by their tag IDs), is described by the
// event decoders. Data cut short by the end of the log is
// not described: what is missing would only show as a fault of the event.
bool ListsSipa(const EventRecord& event) {
    return event.view.eventType == tb::kEvEventTag && !event.sipa.empty() &&
           decode::IsSipaEvent({event.view.pcrIndex, event.view.eventType, event.view.data});
}

bool Decodable(const EventRecord& event) {
    return event.view.complete && !ListsSipa(event);
}

// SIPA in EV_NO_ACTION events (Windows' trust points) is shown as its bytes: its containers
// claim more than the events hold, and their layout is not one the SIPA reader knows.
decode::Node Describe(const EventRecord& event) {
    return decode::DescribeEvent({event.view.pcrIndex, event.view.eventType, event.view.data});
}

void WriteDecodedText(Output& out, const EventRecord& event, std::string& scratch) {
    if (!Decodable(event)) return;
    const decode::Node tree = Describe(event);
    if (tree.children().empty()) return;
    scratch.clear();
    decode::AppendText(scratch, tree, 4);
    out << scratch;
}

// ---- JSON -----------------------------------------------------------------------------------

// The members every log object starts with; returns whether the log's own members follow.
bool WriteSummaryJson(Output& out, const TcgLogReport& report) {
    out << "{\"file\": " << JsonText{report.file};
    if (!report.error.empty()) {
        out << ", \"error\": " << JsonText{report.error};
        return false;
    }
    out << ", \"size\": " << report.size;
    if (!report.notALog.empty()) {
        out << ", \"error\": " << JsonText{"not a TCG event log: " + report.notALog}
            << ", \"notALog\": true";
        return false;
    }
    // An empty log has no layout and no digest bank.
    if (report.size == 0) {
        out << ", \"layout\": null, \"algorithms\": [";
    } else {
        out << ", \"layout\": \"" << LayoutName(report.layout) << "\", \"algorithms\": [";
        for (std::size_t i = 0; i < report.algorithms.size(); ++i)
            out << (i != 0 ? ", \"" : "\"") << DigestName(report.algorithms[i].id) << '"';
    }
    out << "], \"startupLocality\": ";
    if (report.startupLocality) {
        out << *report.startupLocality;
    } else {
        out << "null";
    }
    out << ", \"eventCount\": " << report.events
        << ", \"eventsReplayed\": " << report.eventsReplayed << ", \"end\": \""
        << EndName(report.walk.end) << "\", \"endOffset\": " << report.walk.stopOffset;
    if (const std::string reason = EndReason(report); !reason.empty())
        out << ", \"endReason\": " << JsonText{reason};
    if (report.walk.paddingSize != 0) {
        out << ", \"padding\": {\"offset\": " << report.walk.stopOffset
            << ", \"size\": " << report.walk.paddingSize << ", \"byte\": \""
            << HexNumber{report.walk.paddingByte} << "\"}";
    }
    return true;
}

void WriteSipaValueJson(Output& out, const SipaValue& value) {
    switch (value.kind) {
        case SipaValue::Kind::None:
            return;
        case SipaValue::Kind::Number:
        case SipaValue::Kind::HexNumber:
            out << ", \"value\": " << value.number;
            return;
        case SipaValue::Kind::Text:
            out << ", \"value\": " << JsonLogText{{value.bytes, value.utf16}};
            return;
        case SipaValue::Kind::Bytes:
            out << ", \"hex\": \"" << HexBytes{value.bytes} << '"';
            return;
    }
}

// The elements come in preorder with their depth; each container's children go into its
// "children" array, closed when an element of its depth or less comes, or at the end.
void WriteSipaJson(Output& out, TypeCache& types, const std::vector<SipaElement>& sipa) {
    out << ", \"sipa\": [";
    std::size_t open = 0;  // containers whose children array is open
    bool first = true;
    for (const SipaElement& element : sipa) {
        for (; open > element.depth; --open) {
            out << "]}";
            first = false;
        }
        const SipaTypeEntry& type = types.Sipa(element.type);
        if (!first) out << ", ";
        out << type.json;
        if (type.form == SipaValueForm::Container) {
            out << ", \"children\": [";
            ++open;
            first = true;
        } else {
            WriteSipaValueJson(out, DecodeSipaValue(type.form, element.data));
            out << '}';
            first = false;
        }
    }
    for (; open > 0; --open) out << "]}";
    out << ']';
}

// The listing's walk must end where the report's did.
void CheckSameLog(const TcgLogReport& report, const TcgLogParseResult& listed) {
    const TcgLogParseResult& read = report.walk;
    if (listed.end == read.end && listed.eventCount == read.eventCount &&
        listed.stopOffset == read.stopOffset && listed.paddingSize == read.paddingSize) {
        return;
    }
    throw LogChangedError("the log file " + LogFileDisplayName(report.file) +
                          " changed while it was read: its listing does not match its report");
}

}  // namespace

void WritePcrsText(Output& out, const TcgLogReport& report) {
    if (!WriteHeaderText(out, report)) return;
    if (report.size != 0 && report.banks.empty()) out << "  no digest bank could be read\n";
    for (const PcrBank& bank : report.banks) {
        if (!bank.supported) {
            out << "  " << bank.name << ": unsupported digest algorithm, not replayed\n";
            continue;
        }
        if (bank.values.empty()) out << "  " << bank.name << ": no PCR extended\n";
        for (const auto& [pcr, value] : bank.values) {
            out << "  " << bank.name
                << kIndent.substr(0, bank.name.size() < 8 ? 8 - bank.name.size() : 0)
                << (pcr < 10 ? "  " : " ") << pcr << "  " << HexBytes{value} << '\n';
        }
    }
    WriteEndText(out, report);
    if (report.walk.end != TcgLogEnd::Complete) {
        out << "  the PCR values cover " << ReplayCoverage(report) << '\n';
    }
}

void WriteEventsText(Output& out, const TcgLogReport& report) {
    if (!WriteHeaderText(out, report)) return;
    TypeCache types;
    std::string scratch;
    const TcgLogParseResult listed = ForEachEvent(report.bytes, [&](const EventRecord& event) {
        const TcgEventView& view = event.view;
        out << '#' << view.index << " PCR ";
        Pcr(out, view.pcrIndex) << ' ' << types.Event(view.eventType).name << " size "
                                << view.dataSize;
        for (const EventDigest& digest : event.digests)
            out << ' ' << types.Digest(digest.algorithm) << ':' << HexBytes{digest.value};
        if (!view.complete) {
            out << " (cut short by the end of the log: " << view.data.size() << " of "
                << view.dataSize << " bytes present)";
        }
        out << " [" << DigestVerdictName(CheckEventDigests(event).verdict) << ']';
        out << '\n';
        WriteDecodedText(out, event, scratch);
        if (!ListsSipa(event)) return;
        for (const SipaElement& element : event.sipa) {
            const SipaTypeEntry& type = types.Sipa(element.type);
            const std::size_t levels = std::min(element.depth, kMaxTextIndentLevels);
            out << kIndent.substr(0, 4 + 2 * levels);
            if (element.depth > kMaxTextIndentLevels) out << "(depth " << element.depth << ") ";
            out << type.name;
            WriteSipaValueText(out, DecodeSipaValue(type.form, element.data));
            out << '\n';
        }
    });
    CheckSameLog(report, listed);
    WriteEndText(out, report);
}

void WritePcrsJson(Output& out, const TcgLogReport& report) {
    if (WriteSummaryJson(out, report)) WritePcrsMemberJson(out, report);
    out << '}';
}

void WriteEventsJson(Output& out, const TcgLogReport& report) {
    if (WriteSummaryJson(out, report)) WriteEventsMemberJson(out, report, false);
    out << '}';
}

bool WriteLogSummaryJson(Output& out, const TcgLogReport& report) {
    return WriteSummaryJson(out, report);
}

void WritePcrsMemberJson(Output& out, const TcgLogReport& report) {
    out << ", \"pcrs\": {";
    bool firstBank = true;
    for (const PcrBank& bank : report.banks) {
        out << (firstBank ? "\"" : ", \"") << bank.name << "\": ";
        firstBank = false;
        if (!bank.supported) {
            out << "null";
            continue;
        }
        out << '{';
        bool firstPcr = true;
        for (const auto& [pcr, value] : bank.values) {
            out << (firstPcr ? "\"" : ", \"") << pcr << "\": \"" << HexBytes{value} << '"';
            firstPcr = false;
        }
        out << '}';
    }
    out << '}';
}

void WriteEventsMemberJson(Output& out, const TcgLogReport& report, bool oneLine) {
    const char* const first = oneLine ? "{\"index\": " : "\n{\"index\": ";
    const char* const next = oneLine ? ", {\"index\": " : ",\n{\"index\": ";
    out << ", \"events\": [";
    TypeCache types;
    std::string scratch;
    bool firstEvent = true;
    const TcgLogParseResult listed = ForEachEvent(report.bytes, [&](const EventRecord& event) {
        const TcgEventView& view = event.view;
        out << (firstEvent ? first : next) << view.index << ", \"offset\": " << view.offset
            << ", \"pcr\": " << view.pcrIndex << ", " << types.Event(view.eventType).json
            << ", \"size\": " << view.dataSize;
        if (!view.complete) out << ", \"present\": " << view.data.size();
        out << (view.complete ? ", \"complete\": true, \"digests\": {"
                              : ", \"complete\": false, \"digests\": {");
        firstEvent = false;
        for (std::size_t i = 0; i < event.digests.size(); ++i) {
            out << (i != 0 ? ", \"" : "\"") << types.Digest(event.digests[i].algorithm) << "\": \""
                << HexBytes{event.digests[i].value} << '"';
        }
        out << "}, \"digestCheck\": \"" << DigestVerdictName(CheckEventDigests(event).verdict)
            << '"';
        if (ListsSipa(event)) {
            WriteSipaJson(out, types, event.sipa);
        } else if (Decodable(event)) {
            scratch.clear();
            decode::AppendJson(scratch, Describe(event));
            out << ", \"decoded\": " << scratch;
        }
        out << '}';
    });
    CheckSameLog(report, listed);
    out << (firstEvent || oneLine ? "]" : "\n]");
}

bool WriteLogHeaderText(Output& out, const TcgLogReport& report) {
    return WriteHeaderText(out, report);
}

void WriteLogEndText(Output& out, const TcgLogReport& report) {
    WriteEndText(out, report);
}

}  // namespace qorvex::host
