// `tcg-log`: reads the measured-boot logs of the current boot through TcgLogProviderImpl, as a
// product's host would, and prints what the returned IRawTcgLog holds: the module paths and the
// last PCR 4 and PCR 8 compact-hash digests.
//
//   qorvex-host [--machine DIR] tcg-log [--json]
//   qorvex-host tcg-log --log FILE [--log FILE ...]     (simulated machine only)
//
// With --log the command runs on a fresh simulated machine whose current boot has one resume per
// file, in the order given, so logs copied off a real machine can be read without setting up a
// machine directory. The module's answer is the module's; the host adds a warning for a file
// that is not a TCG event log at all, which the module reads as one without a word.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/log_file.h"
#include "cli/output.h"
#include "cli/tcg_log_reader.h"
#include "digest/digest.h"
#include "qorvex/tcg_log.h"
#include "utf/codec.h"
#include "zef/string.h"
#include "zef/vector.h"

#if !defined(_WIN32)
#include <malloc.h>

#include "winsim/sim.h"
#endif

namespace qorvex::host {

namespace {

constexpr zef::ResultCode kNotFound = static_cast<zef::ResultCode>(0x8000004Cu);

#if !defined(_WIN32)
// The log buffer is freed once parsed, and the module's strings follow: kept in the C heap
// instead of handed back to the system, its pages are reused by them instead of being mapped
// and zeroed afresh. The process is short-lived; a log above the largest threshold is mapped
// as before.
void KeepFreedMemoryForReuse() {
    constexpr int kLargestMmapThreshold = 32 << 20;  // glibc's upper bound on 64-bit
    mallopt(M_MMAP_THRESHOLD, kLargestMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, 2 * kLargestMmapThreshold);
}

// Enough of a file to judge its first event, Spec ID header included, by far.
constexpr std::uint64_t kPlausibilityPrefix = 64 * 1024;

// Replaces the simulated machine by one whose current boot has one resume per file. Returns an
// empty string, or why a file could not be used; a file that is not a plausible log adds a
// warning. The simulated logs show regular files themselves, so the module's read is the only
// copy of a log the process makes; a pipe or standard input can be read only once, so its
// bytes are handed over.
std::string PrepareMachineFromLogs(const std::vector<std::string>& files,
                                   std::vector<std::string>& warnings) {
    constexpr std::uint32_t kBootCount = 1;
    KeepFreedMemoryForReuse();
    std::vector<LogFileContents> contents(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (std::string error = ReadLogFilePrefix(files[i], kPlausibilityPrefix, contents[i]);
            !error.empty()) {
            return error;
        }
        // An empty file is a valid archived log (the module reads nothing from it and
        // succeeds), so it draws no warning.
        if (const std::string why = WhyNotATcgLog(contents[i].bytes, contents[i].size);
            !why.empty()) {
            warnings.push_back(files[i] + ": not a TCG event log: " + why);
        }
    }

    winsim::Reset();
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\services\\TPM", u"OsBootCount",
                             kBootCount);
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\Control\\IntegrityServices",
                             u"OsResumeCount", static_cast<std::uint32_t>(files.size() - 1));
    const std::u16string folder = winsim::GetWindowsDirectory();
    for (std::size_t resume = 0; resume < files.size(); ++resume) {
        char name[64];
        std::snprintf(name, sizeof name, "\\Logs\\MeasuredBoot\\%010u-%010u.log", kBootCount,
                      static_cast<unsigned>(resume));
        const std::u16string path = folder + utf::ToUtf16(name);
        if (!contents[resume].regularFile) {
            winsim::PutFile(path, contents[resume].bytes.Take());
            continue;
        }
        const std::string why = winsim::PutHostFile(path, files[resume]);
        if (!why.empty()) {
            return "cannot read log file " + LogFileDisplayName(files[resume]) + ": " + why;
        }
    }
    return {};
}
#endif

struct RawLogContents {
    zef::vector<zef::wstring_t> modulePaths;
    std::optional<std::string> pcr4;
    std::optional<std::string> pcr8;
};

// Reads the three accessors. "Not found" is an empty answer; any other failure is returned.
zef::ResultCode ReadContents(IRawTcgLog* log, RawLogContents& contents) {
    zef::ResultCode code = log->GetModulePaths(contents.modulePaths);
    if (code < 0 && code != kNotFound) return code;

    struct Digest {
        zef::ResultCode (IRawTcgLog::*get)(std::uint8_t*);
        std::optional<std::string>& hex;
    };
    for (const Digest& digest : {Digest{&IRawTcgLog::GetPcr4CompactHash, contents.pcr4},
                                 Digest{&IRawTcgLog::GetPcr8CompactHash, contents.pcr8}}) {
        std::uint8_t bytes[kCompactHashSize] = {};
        code = (log->*digest.get)(bytes);
        if (code < 0 && code != kNotFound) return code;
        if (code >= 0) digest.hex = qorvex::digest::ToHex(bytes);
    }
    return zef::rc::kOk;
}

// The members of every answer that come before the module's: the machine it ran on.
void BeginAnswer(CommandContext& context, Output& out) {
    if (context.json) {
        out << '{';
        if (!context.machineDirectory.empty())
            out << "\"machine\": " << JsonText{context.machineDirectory} << ", ";
    } else if (!context.machineDirectory.empty()) {
        out << "simulated machine: " << context.machineDirectory << '\n';
    }
}

void EndAnswer(CommandContext& context, Output& out, const std::vector<std::string>& warnings) {
    if (!context.json) return;
    if (!warnings.empty()) {
        out << ", \"warnings\": [";
        for (std::size_t i = 0; i < warnings.size(); ++i)
            out << (i != 0 ? ", " : "") << JsonText{warnings[i]};
        out << ']';
    }
    out << "}\n";
}

void PrintFailure(CommandContext& context, const char* step, zef::ResultCode code,
                  const std::vector<std::string>& warnings) {
    Output out(context.out);
    BeginAnswer(context, out);
    if (context.json) {
        out << "\"result\": " << JsonText{FormatResultCode(code)}
            << ", \"message\": " << JsonText{ResultCodeText(code)};
    } else {
        out << step << ": " << FormatResultCode(code) << ' ' << ResultCodeText(code) << '\n';
    }
    EndAnswer(context, out, warnings);
    out.Flush();
}

void PrintContents(CommandContext& context, const RawLogContents& contents,
                   const std::vector<std::string>& warnings) {
    Output out(context.out);
    BeginAnswer(context, out);
    if (context.json) {
        auto digest = [&](const std::optional<std::string>& hex) -> Output& {
            return hex ? out << '"' << *hex << '"' : out << "null";
        };
        out << "\"result\": " << JsonText{FormatResultCode(zef::rc::kOk)}
            << ", \"message\": " << JsonText{ResultCodeText(zef::rc::kOk)}
            << ", \"modulePaths\": [";
        for (std::size_t i = 0; i < contents.modulePaths.size(); ++i) {
            if (i != 0) out << ", ";
            out << JsonWideText{contents.modulePaths[i].view()};
        }
        out << "], \"pcr4CompactHash\": ";
        digest(contents.pcr4) << ", \"pcr8CompactHash\": ";
        digest(contents.pcr8);
        EndAnswer(context, out, warnings);
        out.Flush();
        return;
    }
    out << "GetRawTcgLog: " << FormatResultCode(zef::rc::kOk) << ' ' << ResultCodeText(zef::rc::kOk)
        << '\n';
    out << "module paths (" << contents.modulePaths.size() << "):\n";
    for (const zef::wstring_t& path : contents.modulePaths)
        out << "  " << WideText{path.view()} << '\n';
    out << "PCR 4 compact hash: " << (contents.pcr4 ? *contents.pcr4 : "none") << '\n';
    out << "PCR 8 compact hash: " << (contents.pcr8 ? *contents.pcr8 : "none") << '\n';
    out.Flush();
}

}  // namespace

std::string ParseTcgLogArguments(const std::vector<std::string>& args, TcgLogArguments& parsed) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string file;
        if (arg == "--pcrs") {
            parsed.pcrs = true;
            continue;
        }
        if (arg == "--events") {
            parsed.events = true;
            continue;
        }
        if (arg == "--jsonl") {
            parsed.jsonl = true;
            continue;
        }
        if (arg == "--cel") {
            parsed.cel = true;
            continue;
        }
        if (arg == "--log-dir" || arg.rfind("--log-dir=", 0) == 0) {
            std::string directory;
            if (arg == "--log-dir") {
                if (i + 1 >= args.size()) return "--log-dir needs a folder";
                directory = args[++i];
            } else {
                directory = arg.substr(10);
            }
            if (directory.empty()) return "--log-dir needs a folder";
            parsed.logDirectories.push_back(directory);
            continue;
        }
        if (std::string error; TakeTcgLogCheckArgument(args, i, parsed.checks, error)) {
            if (!error.empty()) return error;
            continue;
        }
        if (arg == "--log") {
            if (i + 1 >= args.size()) return "--log needs a file";
            file = args[++i];
        } else if (arg.rfind("--log=", 0) == 0) {
            file = arg.substr(6);
        } else {
            return "tcg-log: unknown argument '" + arg + "'";
        }
        if (file.empty()) return "--log needs a file";
        parsed.logFiles.push_back(file);
    }
    // A document per log can carry every view; the other forms show one.
    if (!parsed.jsonl && parsed.pcrs && parsed.events)
        return "--pcrs and --events cannot be combined (but with --jsonl)";
    if (!parsed.jsonl && parsed.cel && (parsed.pcrs || parsed.events || parsed.checks.Any()))
        return "--cel cannot be combined with --pcrs, --events or the checks (but with --jsonl)";
    if (!parsed.logDirectories.empty() && !parsed.jsonl) return "--log-dir needs --jsonl";
    if (std::string error =
            CheckTcgLogCheckArguments(parsed.checks, parsed.pcrs, parsed.events, parsed.jsonl,
                                      parsed.logFiles.size() + parsed.logDirectories.size());
        !error.empty()) {
        return error;
    }
    if (parsed.ReaderView() && parsed.logFiles.empty() && parsed.logDirectories.empty()) {
        const char* view = parsed.jsonl           ? "--jsonl"
                           : parsed.cel           ? "--cel"
                           : parsed.pcrs          ? "--pcrs"
                           : parsed.events        ? "--events"
                           : parsed.checks.health ? "--health"
                                                  : "--verify";
        return std::string(view) + " needs log files (--log FILE)";
    }
    const auto standardInputs = std::count(parsed.logFiles.begin(), parsed.logFiles.end(), "-");
    if (standardInputs > 1) return "standard input (--log -) can be read only once";
#if defined(_WIN32)
    if (!parsed.logFiles.empty() && !parsed.ReaderView()) {
        return "--log without --pcrs or --events is only available with the simulated machine "
               "(Linux builds); on Windows tcg-log reads the logs of the machine it runs on";
    }
#endif
    return {};
}

int RunTcgLogCommand(CommandContext& context, const TcgLogArguments& arguments) {
    std::vector<std::string> warnings;
#if !defined(_WIN32)
    if (!arguments.logFiles.empty()) {
        if (const std::string error = PrepareMachineFromLogs(arguments.logFiles, warnings);
            !error.empty()) {
            return ReportError({context.json, context.out, context.err}, error, kExitCannotRun);
        }
    }
#else
    // Windows builds refuse --log without a reader view as a usage error before this.
    static_cast<void>(arguments);
#endif
    for (const std::string& warning : warnings)
        context.err << "qorvex-host: warning: " << warning << '\n';

    int exitCode = kExitSuccess;
    {
        ObjectRef<ITcgLogProvider> provider;
        zef::ResultCode code =
            CreateComponent(context, kClassTcgLogProvider, kIidTcgLogProvider, provider.put());
        if (code < 0) {
            PrintFailure(context, "CreateComponent(TcgLogProviderImpl)", code, warnings);
            ThrowIfFailed(context.out);
            return kExitStepFailed;
        }

        ObjectRef<IRawTcgLog> log;
        code = provider->GetRawTcgLog(reinterpret_cast<IRawTcgLog**>(log.put()));
        if (code < 0) {
            PrintFailure(context, "GetRawTcgLog", code, warnings);
            exitCode = kExitStepFailed;
        } else {
            RawLogContents contents;
            code = ReadContents(log.get(), contents);
            if (code < 0) {
                PrintFailure(context, "IRawTcgLog", code, warnings);
                exitCode = kExitStepFailed;
            } else {
                PrintContents(context, contents, warnings);
            }
        }
    }
    ThrowIfFailed(context.out);
    return exitCode;
}

}  // namespace qorvex::host
