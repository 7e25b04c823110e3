// The analyst's reading of measured-boot log files. One read of a file gives a TcgLogReport:
// what the file is (a log, or not a log and why, or unreadable and why), its layout, digest
// banks and startup locality, how many events were read and how the log ends (complete, with
// any padding; truncated, where; malformed, which rule broke), and, when asked, the PCR values
// its events replay to. Every view (text, JSON) is written from that report by one writer per
// form (cli/tcg_log_writers.h); the event listing walks the report's bytes again.
//
// Logs are walked with the module's own reader (ParseTcgLog with an event visitor), so the
// events shown and replayed are exactly those the module reads, with the options for layouts
// the module does not need (TDX's header outside PCR 0, trailing padding: ReaderOptions()).
//
// Whether a file is a log at all is judged by its first event, as a reader of logs copied off
// machines must before trusting any size in it: at least a whole SHA-1 layout event header (32
// bytes), a PCR index from 0 to 23, an event type of the TCG profiles, event data that fits in
// the file, and, where the first event is a "Spec ID Event03" header, an algorithm table the
// reader can use. An empty file is an empty log (Windows archives empty logs; the module reads
// them as such).
//
// PCR replay follows the TCG PC Client rules: PCRs 17 to 22 start with every byte 0xFF, the
// others with zeros, except that a "StartupLocality" EV_NO_ACTION event of PCR 0, seen before
// PCR 0 is first extended, sets PCR 0's last byte to the locality. Every other event of PCR 0 to
// 23 that is not EV_NO_ACTION extends each bank with its digest for that bank: new value =
// hash(old value || digest). Events for higher PCR indexes and an event the log ends inside
// extend nothing.
//
// Threading: plain functions over values; no shared state.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/log_file.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"

namespace qorvex::host {

using antimalware::trusted_boot::TcgDigestAlgorithm;
using antimalware::trusted_boot::TcgEventView;
using antimalware::trusted_boot::TcgLogEnd;
using antimalware::trusted_boot::TcgLogFault;
using antimalware::trusted_boot::TcgLogLayout;
using antimalware::trusted_boot::TcgLogParseResult;

inline constexpr std::uint32_t kHighestReplayedPcr = 23;

// How the views walk logs: the module's walk, with a Spec ID header accepted in any PCR and
// trailing 0xFF or zero padding taken as the end of the log.
antimalware::trusted_boot::TcgLogReadOptions ReaderOptions() noexcept;

// Why the bytes are not a TCG event log, judged by the first event; empty when they are a
// plausible log (an empty file included). bytes may be the first part of a file of fileSize
// bytes, as long as they hold the whole first event when it is a Spec ID header.
std::string WhyNotATcgLog(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);

// One digest bank of a replayed log.
struct PcrBank {
    std::uint16_t algorithm = 0;  // TPM_ALG_ID
    std::string name;             // "sha1", "sha256", ...
    bool supported = true;        // false: no hash implementation here; values stays empty
    // The final value of every PCR that some event extended in this bank.
    std::map<std::uint32_t, std::vector<std::uint8_t>> values;
};

// The last event the walk showed, when the log ends inside it or it broke a rule.
struct StopEvent {
    std::uint64_t index = 0;
    std::uint64_t offset = 0;
    std::uint32_t pcr = 0;
    std::uint32_t type = 0;
    std::uint32_t dataSize = 0;     // as declared
    std::uint64_t dataPresent = 0;  // bytes of its data inside the log
};

// Everything the views say about one log file.
struct TcgLogReport {
    std::string file;     // the name as given on the command line
    std::string error;    // why the file could not be read; nothing below holds then
    std::string notALog;  // why the file is not a TCG event log; only size holds then
    std::uint64_t size = 0;
    LogBytes bytes;  // the file, for the event listing

    TcgLogLayout layout = TcgLogLayout::Sha1;
    std::vector<TcgDigestAlgorithm> algorithms;   // the digest banks, in header order
    std::optional<std::uint8_t> startupLocality;  // as the replay applies it
    TcgLogParseResult walk;                       // end, stop offset and fault, padding
    std::uint64_t events = 0;                     // events read (listed), the cut one included
    std::uint64_t eventsReplayed = 0;             // whole events: those a replay extends with
    std::optional<StopEvent> stopEvent;           // the event the walk stopped in, when it was read

    bool replayed = false;
    std::vector<PcrBank> banks;  // with the replay: one per algorithm, in header order

    bool IsLog() const noexcept { return error.empty() && notALog.empty(); }
};

// Reads one file ("-" is standard input) and, when asked, replays its PCRs. Bad input gives
// a report that says so, never an exception other than std::bad_alloc.
TcgLogReport ReadTcgLogReport(const std::string& file, bool replay);
// The same for bytes at hand (the file name is only for the report).
TcgLogReport ReadTcgLogReport(std::string file, LogBytes bytes, bool replay);
TcgLogReport ReadTcgLogReport(std::string file, std::vector<std::uint8_t> bytes, bool replay);

// How the log ends, in a sentence ("the log ends inside event #57 at offset 39760, ..."); empty
// for a log that is complete.
std::string EndReason(const TcgLogReport& report);

// Which events the PCR values cover: "the 57 events #0 to #56", "the 1 event #0", "no event".
std::string ReplayCoverage(const TcgLogReport& report);

// "sha1", "crypto-agile"; "complete", "truncated", "malformed".
const char* LayoutName(TcgLogLayout layout) noexcept;
const char* EndName(TcgLogEnd end) noexcept;
// The bank name of a TPM_ALG_ID ("sha256").
std::string DigestName(std::uint16_t algorithm);

// ---- The event walk the listing uses ---------------------------------------------------------

struct SipaElement {
    std::size_t depth = 0;  // 0 for an element directly in the event data
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;
};

struct EventDigest {
    std::uint16_t algorithm = 0;
    std::span<const std::uint8_t> value;
};

// One event with what the walk found inside it. Spans point into the log.
struct EventRecord {
    TcgEventView view;  // its digests span is not kept; see digests
    std::vector<EventDigest> digests;
    std::vector<SipaElement> sipa;  // in preorder, for EV_EVENT_TAG events
};

// Walks a log as ReadTcgLogReport did and hands every event to onEvent, once its SIPA elements
// are known. Returns the walk's result.
TcgLogParseResult ForEachEvent(std::span<const std::uint8_t> log,
                               const std::function<void(const EventRecord&)>& onEvent);

}  // namespace qorvex::host
