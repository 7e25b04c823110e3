#include "cli/tcg_log_fleet.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>

#include "cli/log_file.h"
#include "cli/tcg_log_cel.h"
#include "cli/tcg_log_document.h"
#include "cli/tcg_log_writers.h"

namespace qorvex::host {

namespace {

class PcrsMember final : public LogDocumentMember {
public:
    bool NeedsReplay() const noexcept override { return true; }
    void WriteJson(Output& out, const TcgLogReport& report) override {
        WritePcrsMemberJson(out, report);
    }
};

class EventsMember final : public LogDocumentMember {
public:
    void WriteJson(Output& out, const TcgLogReport& report) override {
        WriteEventsMemberJson(out, report, true);
    }
};

class CelMember final : public LogDocumentMember {
public:
    void WriteJson(Output& out, const TcgLogReport& report) override {
        out << ", \"cel\": ";
        WriteCelJson(out, report);
    }
};

int ExitCodeOf(const TcgLogReport& report) {
    if (!report.error.empty()) return kExitCannotRun;
    if (!report.notALog.empty()) return kExitNotALog;
    if (report.walk.end != TcgLogEnd::Complete) return kExitIncompleteLog;
    return kExitSuccess;
}

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class FleetRun {
public:
    FleetRun(const OutputContext& context, LogDocumentMembers members)
        : m_context(context),
          m_members(std::move(members)),
          m_replay(AnyNeedsReplay(m_members)),
          m_out(context.out) {}

    int Run(const TcgLogArguments& arguments) {
        for (const std::string& file : arguments.logFiles) {
            if (file == "-") {
                ReadPathList();
            } else {
                ReadOne(file);
            }
        }
        for (const std::string& directory : arguments.logDirectories) ReadDirectory(directory);
        m_out.Flush();
        return m_exitCode;
    }

private:
    void ReadOne(const std::string& file) {
        TcgLogReport report;
        {
            LogFileContents contents;
            if (std::string error = ReadLogFileUnmapped(file, contents); !error.empty()) {
                report.file = file;
                report.error = std::move(error);
            } else {
                report = ReadTcgLogReport(file, std::move(contents.bytes), m_replay);
            }
        }
        m_exitCode = WorseReaderExit(m_exitCode, ExitCodeOf(report));
        if (!report.error.empty()) m_context.err << "qorvex-host: " << report.error << '\n';
        WriteLogDocument(m_out, report, m_members);
        if (report.IsLog()) {
            for (const auto& member : m_members)
                m_exitCode = WorseReaderExit(m_exitCode, member->LastExitCode());
        }
        m_out << '\n';
        m_out.Flush();
    }

    // One path a line; blank lines are skipped and a line's carriage return (lists written on
    // Windows) is not part of its path.
    void ReadPathList() {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) ReadOne(line);
        }
    }

    // A folder that cannot be listed is one line of error, like a log that cannot be read.
    void ReadDirectory(const std::string& directory) {
        std::error_code error;
        std::filesystem::directory_iterator it(PathOf(directory), error);
        const std::filesystem::directory_iterator end;
        for (; !error && it != end; it.increment(error)) {
            std::error_code typeError;
            if (it->is_directory(typeError)) continue;
            ReadOne(Utf8Of(it->path()));
        }
        if (error) {
            TcgLogReport report;
            report.file = directory;
            report.error = "cannot read log folder '" + directory + "': " + error.message();
            m_exitCode = WorseReaderExit(m_exitCode, kExitCannotRun);
            m_context.err << "qorvex-host: " << report.error << '\n';
            WriteLogDocument(m_out, report, m_members);
            m_out << '\n';
            m_out.Flush();
        }
    }

    const OutputContext& m_context;
    LogDocumentMembers m_members;
    bool m_replay;
    Output m_out;
    int m_exitCode = kExitSuccess;
};

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

LogDocumentMembers DocumentMembers(const TcgLogArguments& arguments) {
    LogDocumentMembers members;
    if (arguments.pcrs) members.push_back(std::make_unique<PcrsMember>());
    if (arguments.events) members.push_back(std::make_unique<EventsMember>());
    if (arguments.cel) members.push_back(std::make_unique<CelMember>());
    return members;
}

bool AnyNeedsReplay(const LogDocumentMembers& members) noexcept {
    for (const auto& member : members) {
        if (member->NeedsReplay()) return true;
    }
    return false;
}

void WriteLogDocument(Output& out, const TcgLogReport& report, const LogDocumentMembers& members) {
    if (WriteLogSummaryJson(out, report)) {
        for (const auto& member : members) member->WriteJson(out, report);
    }
    out << '}';
}

int RunTcgLogFleet(const OutputContext& context, const TcgLogArguments& arguments,
                   LogDocumentMembers members) {
    int exitCode = kExitSuccess;
    {
        FleetRun run(context, std::move(members));
        exitCode = run.Run(arguments);
    }
    ThrowIfFailed(context.out);
    return exitCode;
}

}  // namespace qorvex::host
