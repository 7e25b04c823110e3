// `tcg-log --jsonl`: many logs in one pass, one JSON document per log per line (JSON Lines), each
// written and flushed as soon as its log is read, so a consumer (a batch tool, a pipe into jq)
// sees each log's line while later logs are still being read.
//
// Logs come from --log FILE (repeated; "-" is a list of paths on standard input, one a line)
// and --log-dir DIR (the folder's files, not its subfolders, in the order the system lists
// them), in the order given. Each log is read into memory (never mapped, so a file cut shorter
// while it is read costs that file, not the run), written and let go before the next: memory
// follows the largest log, not their number. A log that cannot be read, or is not a log, gives a
// line with its "error", and the run goes on.
//
// The exit code is the reader's (commands.h): the most telling of every log's.
//
// Threading: runs on the calling thread.
#pragma once

#include "cli/commands.h"
#include "cli/tcg_log_document.h"

namespace qorvex::host {

// members: what each log's line carries besides its summary (tcg_log_document.h).
int RunTcgLogFleet(const OutputContext& context, const TcgLogArguments& arguments,
                   LogDocumentMembers members);

}  // namespace qorvex::host
