// `tcg-log diff A B [--json]`: reads both logs with their replay and writes what differs
// (cli/tcg_log_diff.h). The module is not loaded.
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/tcg_log_diff.h"
#include "cli/tcg_log_reader.h"

namespace qorvex::host {

int RunTcgLogDiff(const OutputContext& context, const std::vector<std::string>& args) {
    std::vector<std::string> files;
    for (const std::string& arg : args) {
        if (arg.size() > 1 && arg[0] == '-' && arg != "-")
            return ReportUsageError(context, "tcg-log diff: unknown argument '" + arg + "'");
        files.push_back(arg);
    }
    if (files.size() != 2) return ReportUsageError(context, "tcg-log diff needs two log files");
    if (files[0] == "-" && files[1] == "-")
        return ReportUsageError(context, "standard input (-) can be read only once");

    TcgLogReport a = ReadTcgLogReport(files[0], true);
    TcgLogReport b = ReadTcgLogReport(files[1], true);
    for (const TcgLogReport* report : {&a, &b}) {
        if (!report->error.empty()) return ReportError(context, report->error, kExitCannotRun);
    }
    for (const TcgLogReport* report : {&a, &b}) {
        if (!report->notALog.empty()) {
            return ReportError(context, report->file + ": not a TCG event log: " + report->notALog,
                               kExitNotALog);
        }
    }
    const LogDiff diff = DiffTcgLogs(std::move(a), std::move(b));
    {
        Output out(context.out);
        if (context.json) {
            WriteDiffJson(out, diff);
        } else {
            WriteDiffText(out, diff);
        }
        out.Flush();
    }
    ThrowIfFailed(context.out);
    return DiffExitCode(diff);
}

}  // namespace qorvex::host
