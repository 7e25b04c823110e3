// The writers of the analyst's views, one per form: each writes one log's report (cli/
// tcg_log_reader.h), text or a JSON object, with either its PCR values or its event listing.
// Every form says the same about a log: its file name as given, what it is (a log, not a log
// and why, unreadable and why), layout, digest banks, startup locality, how many events were
// read and replayed, and how it ends.
//
// Text: a line "log NAME: ..." opens each log and a line "end STATE, N events..." closes it.
// JSON: one object per log, {"file": ..., "size": ..., "layout": ..., "algorithms": [...],
// "startupLocality": ..., "eventCount": ..., "eventsReplayed": ..., "end": ..., "endOffset": ...,
// "endReason"/"padding" where they apply, then "pcrs" or "events"}; a file that could not be
// read or is not a log carries "error" (and "notALog": true) instead of the log's members.
//
// Events are described by the event decoders (decode/event_description.h): in text as indented
// lines under each event's line, in JSON as its "decoded" object; SIPA data of EV_EVENT_TAG
// events is listed element by element ("sipa" in JSON) instead.
//
// Threading: plain functions; an Output is used by one thread at a time.
#pragma once

#include <stdexcept>

#include "cli/output.h"
#include "cli/tcg_log_reader.h"

namespace qorvex::host {

// The listing walks the log a second time; a file that another program changes in between
// (the log is mapped, not copied) reads differently the second time. The listing then stops
// with this error rather than end with a report that no longer describes what it listed.
class LogChangedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void WritePcrsText(Output& out, const TcgLogReport& report);
void WriteEventsText(Output& out, const TcgLogReport& report);

void WritePcrsJson(Output& out, const TcgLogReport& report);
// The listing puts one event object on each line.
// The listings throw LogChangedError when the log read differently the second time.
void WriteEventsJson(Output& out, const TcgLogReport& report);

// The parts every view shares, for the views and documents written elsewhere
// (cli/tcg_log_checks.cpp, tcg_log_document.h): the text header line and end line, and the JSON
// object's opening members (without its closing brace). The header writers return whether the
// log's own lines or members follow.
bool WriteLogHeaderText(Output& out, const TcgLogReport& report);
void WriteLogEndText(Output& out, const TcgLogReport& report);
bool WriteLogSummaryJson(Output& out, const TcgLogReport& report);
// ", \"pcrs\": {...}" or ", \"events\": [...]" after the summary members.
void WritePcrsMemberJson(Output& out, const TcgLogReport& report);
// oneLine: no line breaks between events (JSON Lines), else one event a line.
void WriteEventsMemberJson(Output& out, const TcgLogReport& report, bool oneLine);

}  // namespace qorvex::host
