// The JSON document of one log, as `tcg-log --jsonl` writes it: the log's summary members
// (cli/tcg_log_writers.h), then one member for each view the command line asked for, in a
// fixed order. A view takes part by implementing LogDocumentMember and being listed in
// DocumentMembers; the document knows no view by name.
//
// A log that could not be read, or is not a log, carries its "error" and no view's member.
//
// Threading: a member is used by one thread at a time; members keep no state between logs.
#pragma once

#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/tcg_log_reader.h"

namespace qorvex::host {

class LogDocumentMember {
public:
    virtual ~LogDocumentMember() = default;
    // Whether the member reads the report's replayed PCR values.
    virtual bool NeedsReplay() const noexcept { return false; }
    // Writes ", \"name\": value" for a log that was read (report.IsLog()).
    virtual void WriteJson(Output& out, const TcgLogReport& report) = 0;
};

using LogDocumentMembers = std::vector<std::unique_ptr<LogDocumentMember>>;

// The members the arguments ask for: "pcrs" (--pcrs), "events" (--events), "cel" (--cel).
LogDocumentMembers DocumentMembers(const TcgLogArguments& arguments);
bool AnyNeedsReplay(const LogDocumentMembers& members) noexcept;

// One log's document: {summary members, then each member's}, without a line end.
void WriteLogDocument(Output& out, const TcgLogReport& report, const LogDocumentMembers& members);

}  // namespace qorvex::host
