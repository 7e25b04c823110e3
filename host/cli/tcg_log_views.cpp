// The analyst's views of `tcg-log`: --events lists the given log files event by event, and
// --pcrs adds the PCR values each file replays to to what the module reports. Both read the
// files themselves (cli/tcg_log_reader.h); --pcrs still runs the module on them as tcg-log does.
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/tcg_log_reader.h"

namespace qorvex::host {

namespace {

// Reads every file; on failure reports it as tcg-log reports an unreadable log and returns false.
bool ReadNamedLogs(CommandContext& context, const std::vector<std::string>& files,
                   std::vector<NamedLogFile>& logs) {
    for (const std::string& file : files) {
        NamedLogFile log{file, {}};
        if (const std::string error = ReadLogFile(file, log.bytes); !error.empty()) {
            context.err << "qorvex-host: " << error << '\n';
            if (context.json) context.out << "{\"error\": " << JsonString(error) << "}\n";
            return false;
        }
        logs.push_back(std::move(log));
    }
    return true;
}

void WarnAboutLogEnds(CommandContext& context, const std::vector<NamedLogFile>& logs,
                      const std::vector<PcrReplay>& replays) {
    for (std::size_t i = 0; i < replays.size(); ++i) {
        if (replays[i].end == TcgLogEnd::Complete) continue;
        context.err << "qorvex-host: " << logs[i].name << ": the log is " << EndName(replays[i].end)
                    << "; its PCR values cover the " << replays[i].eventCount
                    << " events read before the fault\n";
    }
}

}  // namespace

int RunTcgLogEvents(CommandContext& context, const std::vector<std::string>& files) {
    std::vector<NamedLogFile> logs;
    if (!ReadNamedLogs(context, files, logs)) return kExitCannotRun;
    if (context.json) {
        PrintEventsJson(context.out, logs);
    } else {
        PrintEventsText(context.out, logs);
    }
    context.out.flush();
    return kExitSuccess;
}

int RunTcgLogWithPcrs(CommandContext& context, const std::vector<std::string>& files,
                      const std::function<int(CommandContext&)>& run) {
    std::vector<NamedLogFile> logs;
    if (!ReadNamedLogs(context, files, logs)) return kExitCannotRun;
    std::vector<PcrReplay> replays;
    replays.reserve(logs.size());
    for (const NamedLogFile& log : logs) replays.push_back(ReplayPcrs(log.bytes));

    std::ostringstream held;
    CommandContext moduleContext{context.module, context.services, context.locator, context.json,
                                 held,           context.err};
    const int exitCode = run(moduleContext);
    std::string text = std::move(held).str();

    if (context.json) {
        // The module's answer is one JSON object; the replay joins it as one more member.
        const std::size_t close = text.rfind('}');
        if (close == std::string::npos) {
            context.out << text << '{';
        } else {
            context.out.write(text.data(), static_cast<std::streamsize>(close));
            context.out << ", ";
        }
        PrintPcrsJsonMember(context.out, replays);
        context.out << "}\n";
    } else {
        context.out << text;
        PrintPcrsText(context.out, logs, replays);
    }
    WarnAboutLogEnds(context, logs, replays);
    context.out.flush();
    return exitCode;
}

}  // namespace qorvex::host
