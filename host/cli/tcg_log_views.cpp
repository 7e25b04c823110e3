// The analyst's views of `tcg-log`: --pcrs replays the PCR values of each given log file and
// --events lists each event. Both read the files themselves (cli/tcg_log_reader.h) and never
// load the module; each file is read, written and let go before the next, so memory follows the
// largest file, not their number.
#include <ostream>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/tcg_log_cel.h"
#include "cli/tcg_log_fleet.h"
#include "cli/tcg_log_reader.h"
#include "cli/tcg_log_writers.h"

namespace qorvex::host {

namespace {

int ExitCodeOf(const TcgLogReport& report) {
    if (!report.error.empty()) return kExitCannotRun;
    if (!report.notALog.empty()) return kExitNotALog;
    if (report.walk.end != TcgLogEnd::Complete) return kExitIncompleteLog;
    return kExitSuccess;
}

// What a person at a terminal should see even when stdout goes to a file or a program.
void Warn(std::ostream& err, const TcgLogReport& report, bool pcrs) {
    if (!report.error.empty()) {
        err << "qorvex-host: " << report.error << '\n';
    } else if (!report.notALog.empty()) {
        err << "qorvex-host: " << report.file << ": not a TCG event log: " << report.notALog
            << '\n';
    } else if (report.walk.end != TcgLogEnd::Complete) {
        err << "qorvex-host: " << report.file << ": " << EndName(report.walk.end) << ": "
            << EndReason(report);
        if (pcrs) {
            err << "; its PCR values cover " << ReplayCoverage(report);
        }
        err << '\n';
    }
}

// Each log's records on a line of their own; a file that is not a log, or a log that cannot be
// read, writes no line and says why on stderr.
int RunTcgLogCel(const OutputContext& context, const TcgLogArguments& arguments) {
    int exitCode = kExitSuccess;
    {
        Output out(context.out);
        for (const std::string& file : arguments.logFiles) {
            const TcgLogReport report = ReadTcgLogReport(file, false);
            exitCode = WorseReaderExit(exitCode, ExitCodeOf(report));
            Warn(context.err, report, false);
            if (!report.IsLog()) continue;
            WriteCelJson(out, report);
            out << '\n';
        }
        out.Flush();
    }
    ThrowIfFailed(context.out);
    return exitCode;
}

}  // namespace

int RunTcgLogReader(const OutputContext& context, const TcgLogArguments& arguments) {
    if (arguments.jsonl) {
        LogDocumentMembers members = DocumentMembers(arguments);
        if (std::string error = AddCheckMembers(arguments.checks, members); !error.empty())
            return ReportError(context, error, kExitCannotRun);
        return RunTcgLogFleet(context, arguments, std::move(members));
    }
    if (arguments.cel) return RunTcgLogCel(context, arguments);
    int exitCode = kExitSuccess;
    {
        Output out(context.out);
        if (context.json) out << "{\"logs\": [";
        for (std::size_t i = 0; i < arguments.logFiles.size(); ++i) {
            const TcgLogReport report = ReadTcgLogReport(arguments.logFiles[i], arguments.pcrs);
            exitCode = WorseReaderExit(exitCode, ExitCodeOf(report));
            Warn(context.err, report, arguments.pcrs);
            if (context.json) {
                out << (i == 0 ? "\n" : ",\n");
                if (arguments.pcrs) {
                    WritePcrsJson(out, report);
                } else {
                    WriteEventsJson(out, report);
                }
            } else if (arguments.pcrs) {
                WritePcrsText(out, report);
            } else {
                WriteEventsText(out, report);
            }
        }
        if (context.json) out << "\n]}\n";
        out.Flush();
    }
    ThrowIfFailed(context.out);
    return exitCode;
}

}  // namespace qorvex::host
