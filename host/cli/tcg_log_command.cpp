// `tcg-log`: reads the measured-boot logs of the current boot through TcgLogProviderImpl, as a
// product's host would, and prints what the returned IRawTcgLog holds: the module paths and the
// last PCR 4 and PCR 8 compact-hash digests.
//
//   qorvex-host [--machine DIR] tcg-log [--json]
//   qorvex-host tcg-log --log FILE [--log FILE ...]     (simulated machine only)
//   qorvex-host tcg-log --log FILE ... --pcrs            (also the PCR values each file replays)
//   qorvex-host tcg-log --log FILE ... --events          (every event of the files; no module)
//
// With --log the command runs on a fresh simulated machine whose current boot has one resume per
// file, in the order given, so logs copied off a real machine can be read without setting up a
// machine directory. --events reads the files itself and works on Windows builds too.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "qorvex/tcg_log.h"
#include "utf/codec.h"
#include "zef/string.h"
#include "zef/vector.h"

#if !defined(_WIN32)
#include "winsim/sim.h"
#endif

namespace qorvex::host {

namespace {

constexpr zef::ResultCode kNotFound = static_cast<zef::ResultCode>(0x8000004Cu);

struct TcgLogArguments {
    std::vector<std::string> logFiles;
    bool pcrs = false;
    bool events = false;
};

// Returns an empty string, or the usage error.
std::string ParseArguments(const std::vector<std::string>& args, TcgLogArguments& parsed) {
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
    if (parsed.pcrs && parsed.events) return "--pcrs and --events cannot be combined";
    if ((parsed.pcrs || parsed.events) && parsed.logFiles.empty())
        return std::string(parsed.pcrs ? "--pcrs" : "--events") + " needs log files (--log FILE)";
#if defined(_WIN32)
    if (!parsed.logFiles.empty() && !parsed.events) {
        return "--log is only available with the simulated machine (Linux builds); on Windows "
               "tcg-log reads the logs of the machine it runs on";
    }
#endif
    return {};
}

#if !defined(_WIN32)
// Replaces the simulated machine by one whose current boot has one resume per file. Returns an
// empty string, or why a file could not be used.
std::string PrepareMachineFromLogs(const std::vector<std::string>& files) {
    constexpr std::uint32_t kBootCount = 1;
    std::vector<std::vector<std::uint8_t>> logs;
    for (const std::string& file : files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec))
            return "cannot open log file '" + file + "': not a regular file";
        std::ifstream in(file, std::ios::binary);
        if (!in) return "cannot open log file '" + file + "'";
        // Read in chunks through the stream (not istreambuf_iterator), so a read error sets a
        // flag instead of throwing out of the command. An empty file is a valid archived log:
        // the module reads nothing from it and succeeds, and so must the analyst.
        std::vector<std::uint8_t> bytes;
        char chunk[64 * 1024];
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
            bytes.insert(bytes.end(), chunk, chunk + in.gcount());
            if (in.eof()) break;
        }
        if (in.bad()) return "cannot read log file '" + file + "'";
        logs.push_back(std::move(bytes));
    }

    winsim::Reset();
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\services\\TPM", u"OsBootCount",
                             kBootCount);
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\Control\\IntegrityServices",
                             u"OsResumeCount", static_cast<std::uint32_t>(logs.size() - 1));
    const std::u16string folder = winsim::GetWindowsDirectory();
    for (std::size_t resume = 0; resume < logs.size(); ++resume) {
        char name[64];
        std::snprintf(name, sizeof name, "\\Logs\\MeasuredBoot\\%010u-%010u.log", kBootCount,
                      static_cast<unsigned>(resume));
        winsim::PutFile(folder + utf::ToUtf16(name), std::move(logs[resume]));
    }
    return {};
}
#endif

// Walks UTF-16 text as code points; an unpaired surrogate is handed to lone() instead, because
// UTF-8 cannot carry it (the logs' paths are not checked by anyone before us).
template <class CodePoint, class Lone>
void ForEachCodePoint(std::u16string_view text, CodePoint&& codePoint, Lone&& lone) {
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = utf::NextCodePoint(text.data(), text.size(), i);
        if (utf::IsSurrogate(c)) {
            lone(static_cast<char16_t>(c));
        } else {
            codePoint(c);
        }
    }
}

// For text output: unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text) {
    return utf::ToUtf8(text);
}

// A JSON string literal of UTF-16 text, in UTF-8; unpaired surrogates keep their value as
// \uXXXX escapes, which JSON allows.
std::string JsonWideString(std::u16string_view text) {
    std::string json = "\"";
    auto escape = [&](unsigned value) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", value);
        json += buffer;
    };
    ForEachCodePoint(
        text,
        [&](char32_t c) {
            switch (c) {
                case U'"':
                    json += "\\\"";
                    break;
                case U'\\':
                    json += "\\\\";
                    break;
                case U'\n':
                    json += "\\n";
                    break;
                case U'\r':
                    json += "\\r";
                    break;
                case U'\t':
                    json += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        escape(static_cast<unsigned>(c));
                    } else {
                        utf::AppendUtf8(json, c);
                    }
            }
        },
        [&](char16_t unit) { escape(unit); });
    json += '"';
    return json;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < count; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0xF];
    }
    return hex;
}

struct RawLogContents {
    std::vector<std::u16string> modulePaths;
    std::optional<std::string> pcr4;
    std::optional<std::string> pcr8;
};

// Reads the three accessors. "Not found" is an empty answer; any other failure is returned.
zef::ResultCode ReadContents(IRawTcgLog* log, RawLogContents& contents) {
    zef::vector<zef::wstring_t> paths;
    zef::ResultCode code = log->GetModulePaths(paths);
    if (code < 0 && code != kNotFound) return code;
    if (code >= 0) {
        for (const zef::wstring_t& path : paths)
            contents.modulePaths.emplace_back(path.data(), path.size());
    }

    struct Digest {
        zef::ResultCode (IRawTcgLog::*get)(std::uint8_t*);
        std::optional<std::string>& hex;
    };
    for (const Digest& digest : {Digest{&IRawTcgLog::GetPcr4CompactHash, contents.pcr4},
                                 Digest{&IRawTcgLog::GetPcr8CompactHash, contents.pcr8}}) {
        std::uint8_t bytes[kCompactHashSize] = {};
        code = (log->*digest.get)(bytes);
        if (code < 0 && code != kNotFound) return code;
        if (code >= 0) digest.hex = Hex(bytes, sizeof bytes);
    }
    return zef::rc::kOk;
}

void PrintFailure(CommandContext& context, const char* step, zef::ResultCode code) {
    if (context.json) {
        context.out << "{\"result\": " << JsonString(FormatResultCode(code))
                    << ", \"message\": " << JsonString(ResultCodeText(code)) << "}\n";
    } else {
        context.out << step << ": " << FormatResultCode(code) << ' ' << ResultCodeText(code)
                    << '\n';
    }
}

void PrintContents(CommandContext& context, const RawLogContents& contents) {
    std::ostream& out = context.out;
    if (context.json) {
        auto digest = [](const std::optional<std::string>& hex) {
            return hex ? JsonString(*hex) : std::string("null");
        };
        out << "{\"result\": " << JsonString(FormatResultCode(zef::rc::kOk))
            << ", \"message\": " << JsonString(ResultCodeText(zef::rc::kOk))
            << ", \"modulePaths\": [";
        for (std::size_t i = 0; i < contents.modulePaths.size(); ++i) {
            if (i != 0) out << ", ";
            out << JsonWideString(contents.modulePaths[i]);
        }
        out << "], \"pcr4CompactHash\": " << digest(contents.pcr4)
            << ", \"pcr8CompactHash\": " << digest(contents.pcr8) << "}\n";
        return;
    }
    out << "GetRawTcgLog: " << FormatResultCode(zef::rc::kOk) << ' ' << ResultCodeText(zef::rc::kOk)
        << '\n';
    out << "module paths (" << contents.modulePaths.size() << "):\n";
    for (const std::u16string& path : contents.modulePaths)
        out << "  " << Utf8FromUtf16(path) << '\n';
    out << "PCR 4 compact hash: " << (contents.pcr4 ? *contents.pcr4 : "none") << '\n';
    out << "PCR 8 compact hash: " << (contents.pcr8 ? *contents.pcr8 : "none") << '\n';
}

}  // namespace

int RunTcgLogCommand(CommandContext& context, const std::vector<std::string>& args) {
    TcgLogArguments arguments;
    if (const std::string error = ParseArguments(args, arguments); !error.empty()) {
        context.err << "qorvex-host: " << error << '\n';
        return kExitUsage;
    }
    if (arguments.events) return RunTcgLogEvents(context, arguments.logFiles);
    if (arguments.pcrs) {
        // The module reads the same files; a file may well be named "--pcrs".
        std::vector<std::string> moduleArgs;
        for (const std::string& file : arguments.logFiles) moduleArgs.push_back("--log=" + file);
        return RunTcgLogWithPcrs(context, arguments.logFiles, [&](CommandContext& moduleContext) {
            return RunTcgLogCommand(moduleContext, moduleArgs);
        });
    }
#if !defined(_WIN32)
    if (!arguments.logFiles.empty()) {
        if (const std::string error = PrepareMachineFromLogs(arguments.logFiles); !error.empty()) {
            context.err << "qorvex-host: " << error << '\n';
            if (context.json) context.out << "{\"error\": " << JsonString(error) << "}\n";
            return kExitCannotRun;
        }
    }
#endif

    int exitCode = kExitSuccess;
    {
        ObjectRef<ITcgLogProvider> provider;
        zef::ResultCode code =
            CreateComponent(context, kClassTcgLogProvider, kIidTcgLogProvider, provider.put());
        if (code < 0) {
            PrintFailure(context, "CreateComponent(TcgLogProviderImpl)", code);
            return kExitStepFailed;
        }

        ObjectRef<IRawTcgLog> log;
        code = provider->GetRawTcgLog(reinterpret_cast<IRawTcgLog**>(log.put()));
        if (code < 0) {
            PrintFailure(context, "GetRawTcgLog", code);
            exitCode = kExitStepFailed;
        } else {
            RawLogContents contents;
            code = ReadContents(log.get(), contents);
            if (code < 0) {
                PrintFailure(context, "IRawTcgLog", code);
                exitCode = kExitStepFailed;
            } else {
                PrintContents(context, contents);
            }
        }
    }
    context.out.flush();
    return exitCode;
}

}  // namespace qorvex::host
