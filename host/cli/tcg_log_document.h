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
#include <string>
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
    // The exit code of what WriteJson last found (a check's mismatch), kExitSuccess otherwise.
    virtual int LastExitCode() const noexcept { return kExitSuccess; }
};

using LogDocumentMembers = std::vector<std::unique_ptr<LogDocumentMember>>;

// The listing members the arguments ask for: "pcrs" (--pcrs), "events" (--events), "cel" (--cel).
LogDocumentMembers DocumentMembers(const TcgLogArguments& arguments);
// Appends the checks' members, "verification" (--verify, --expect-pcrs, --quote) and "health"
// (--health), after reading the expected values once (cli/tcg_log_checks.cpp, part of
// qorvex-host); an empty string, or why they cannot be made.
std::string AddCheckMembers(const TcgLogCheckArguments& checks, LogDocumentMembers& members);
bool AnyNeedsReplay(const LogDocumentMembers& members) noexcept;

// One log's document: {summary members, then each member's}, without a line end.
void WriteLogDocument(Output& out, const TcgLogReport& report, const LogDocumentMembers& members);

}  // namespace qorvex::host
