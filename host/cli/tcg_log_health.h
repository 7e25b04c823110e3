// What a log says about how the machine booted: the facts Windows' device health attestation
// reports, read from the log's SIPA events, and the Secure Boot state, read from the EFI variable
// and action events of PCR 7 (and 0, 1, where firmware puts them).
//
// Every field is a list of what the log holds for it, in log order, each entry with its value
// and where it came from: the PCR, the event index and the boot phase (0 before the first
// SIPAEVENT_TRUSTBOUNDARY, then one more at each; a resume from hibernation starts one too). A
// field the log does not hold is the text "absent", never a guess. The summary keeps, for each
// security switch, the least secure value any phase showed.
//
// The tree is a decode::Node, rendered by its text and JSON writers.
//
// Threading: plain functions over values; no shared state.
#pragma once

#include "cli/tcg_log_reader.h"
#include "decode/description.h"

namespace qorvex::host {

// The health report of a log that was read (report.IsLog()).
decode::Node DescribeHealth(const TcgLogReport& report);

}  // namespace qorvex::host
