// The analyst's view of a measured-boot log, beside what the module keeps of it: the PCR values
// the log's events produce in every digest bank it carries, and a listing of every event with
// its digests and, for Windows boot configuration events, the SIPA tree.
//
// Both walk the log with the module's own reader (ParseTcgLog with an event visitor), so the
// events shown and replayed are exactly those the module reads: a log the module stops reading
// at a broken event is replayed and listed up to that event, and the end state says so.
//
// PCR replay follows the TCG PC Client rules: PCRs 17 to 22 start with every byte 0xFF, the
// others with zeros, except that a "StartupLocality" EV_NO_ACTION event of PCR 0, seen before
// PCR 0 is first extended, sets PCR 0's last byte to the locality. Every other event of PCR 0 to
// 23 that is not EV_NO_ACTION extends each bank with its digest for that bank: new value =
// hash(old value || digest). Events for higher PCR indexes and events cut short by the end of
// the log extend nothing.
//
// Threading: plain functions over values; no shared state.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"

namespace qorvex::host {

using antimalware::trusted_boot::TcgLogEnd;
using antimalware::trusted_boot::TcgLogLayout;

inline constexpr std::uint32_t kHighestReplayedPcr = 23;

// One digest bank of a replayed log.
struct PcrBank {
    std::uint16_t algorithm = 0;  // TPM_ALG_ID
    std::string name;             // "sha1", "sha256", ...
    bool supported = true;        // false: no hash implementation here; values stays empty
    // The final value of every PCR that some event extended in this bank.
    std::map<std::uint32_t, std::vector<std::uint8_t>> values;
};

struct PcrReplay {
    TcgLogLayout layout = TcgLogLayout::Sha1;
    TcgLogEnd end = TcgLogEnd::Complete;
    std::uint64_t eventCount = 0;  // events read, the header event included
    std::vector<PcrBank> banks;    // the log's digest algorithms, in header order
    bool hasStartupLocality = false;
    std::uint8_t startupLocality = 0;
};

// Replays one log. Bad input gives a shorter replay and an end state, never an exception other
// than std::bad_alloc.
PcrReplay ReplayPcrs(std::span<const std::uint8_t> log);

// The TCG name of an event type ("EV_SEPARATOR", "EV_EFI_ACTION", ...), or "0x" and eight hex
// digits for a type without one.
std::string TcgEventTypeName(std::uint32_t type);
// The Windows boot configuration log name of a SIPA event type ("SIPAEVENT_FILEPATH", ...), or
// "0x" and eight hex digits.
std::string SipaEventTypeName(std::uint32_t type);

// "sha1", "crypto-agile"; "complete", "truncated", "malformed".
const char* LayoutName(TcgLogLayout layout) noexcept;
const char* EndName(TcgLogEnd end) noexcept;

// Reads a whole file. Returns an empty string, or why it could not be read.
std::string ReadLogFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// A named log for the printers: the file name as given on the command line, and its bytes.
struct NamedLogFile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// `"pcrs": [...]` as a JSON member (without braces): one object per replay, in order, mapping
// each bank name to an object of PCR index to lower-case hex value; an unsupported bank is null.
void PrintPcrsJsonMember(std::ostream& out, std::span<const PcrReplay> replays);
// A table per log: bank, PCR, value; with a note when the log did not end cleanly.
void PrintPcrsText(std::ostream& out, std::span<const NamedLogFile> logs,
                   std::span<const PcrReplay> replays);

// Every event of every log: one line each (text), SIPA elements on indented lines below their
// event; or one JSON document {"logs": [{..., "events": [...]}]} with one event object a line.
void PrintEventsText(std::ostream& out, std::span<const NamedLogFile> logs);
void PrintEventsJson(std::ostream& out, std::span<const NamedLogFile> logs);

}  // namespace qorvex::host
