// The analyst's views of `tcg-log`: --pcrs replays the PCR values of each given log file and
// --events lists each event. Both read the files themselves (cli/tcg_log_reader.h) and never
// load the module; each file is read, written and let go before the next, so memory follows the
// largest file, not their number.
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
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

}  // namespace

int WorseReaderExit(int a, int b) noexcept {
    const auto rank = [](int code) {
        switch (code) {
            case kExitCannotRun:
                return 4;
            case kExitNotALog:
                return 3;
            case kExitIncompleteLog:
                return 2;
            case kExitMismatch:
                return 1;
            default:
                return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

int RunTcgLogReader(const OutputContext& context, const TcgLogArguments& arguments) {
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
