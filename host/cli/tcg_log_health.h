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

#include <cstddef>
#include <functional>
#include <string>

#include "cli/tcg_log_reader.h"
#include "decode/description.h"

namespace qorvex::host {

// One loaded module's record as the walk read it; its values point into the log.
struct SipaRecord;
// The record as its description tree renders it (the "loadedModules" items): a JSON object, or
// the text lines of one list item at indent. Written directly, as a log may hold 100 000 of them.
decode::Node DescribeLoadedModule(const SipaRecord& record);
void AppendLoadedModuleJson(std::string& out, const SipaRecord& record);
void AppendLoadedModuleText(std::string& out, const SipaRecord& record, std::size_t indent);

// Receives each loaded module's record as soon as the walk has read it.
using LoadedModuleSink = std::function<void(const SipaRecord& module)>;

// The health report of a log that was read (report.IsLog()). With a sink the loaded modules go
// to it, in log order, and the tree holds only their count ("loadedModuleCount"): a log of many
// boots holds too many to keep. Without one they are the tree's "loadedModules" list.
decode::Node DescribeHealth(const TcgLogReport& report,
                            const LoadedModuleSink& onLoadedModule = {});

}  // namespace qorvex::host
