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
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
// The log buffer is freed once parsed, and the module's strings follow: kept in the C heap
// instead of handed back to the system, its pages are reused by them instead of being mapped
// and zeroed afresh. The process is short-lived; a log above the largest threshold is mapped
// as before.
void KeepFreedMemoryForReuse() {
    constexpr int kLargestMmapThreshold = 32 << 20;  // glibc's upper bound on 64-bit
    mallopt(M_MMAP_THRESHOLD, kLargestMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, 2 * kLargestMmapThreshold);
}

// Replaces the simulated machine by one whose current boot has one resume per file. Returns an
// empty string, or why a file could not be used. The simulated logs show the files themselves:
// the module's read is the only copy of a log that the process makes.
std::string PrepareMachineFromLogs(const std::vector<std::string>& files) {
    constexpr std::uint32_t kBootCount = 1;
    KeepFreedMemoryForReuse();
    for (const std::string& file : files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec))
            return "cannot open log file '" + file + "': not a regular file";
        // An empty file is a valid archived log: the module reads nothing from it and
        // succeeds, and so must the analyst.
        if (!std::ifstream(file, std::ios::binary)) return "cannot open log file '" + file + "'";
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
        const std::string why = winsim::PutHostFile(folder + utf::ToUtf16(name), files[resume]);
        if (!why.empty()) return "cannot open log file '" + files[resume] + "': " + why;
    }
    return {};
}
#endif

// For text output: unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text) {
    return utf::ToUtf8(text);
}

// Output gathered in one reserved buffer and handed to the stream a chunk at a time: the paths
// of a large log make megabytes of JSON, which are neither built in one string nor written a
// piece at a time.
class ChunkedWriter {
public:
    explicit ChunkedWriter(std::ostream& out) : m_out(out), m_buffer(kChunk) {}
    ChunkedWriter(const ChunkedWriter&) = delete;
    ChunkedWriter& operator=(const ChunkedWriter&) = delete;

    // Where at least `count` further bytes may be written; Commit says how many were.
    char* Room(std::size_t count) {
        if (m_buffer.size() - m_used < count) {
            Flush();
            if (m_buffer.size() < count) m_buffer.resize(count);
        }
        return m_buffer.data() + m_used;
    }
    void Commit(char* end) noexcept { m_used = static_cast<std::size_t>(end - m_buffer.data()); }
    void Append(std::string_view text) {
        char* at = Room(text.size());
        std::memcpy(at, text.data(), text.size());
        Commit(at + text.size());
    }
    void Flush() {
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_used));
        m_used = 0;
    }

private:
    static constexpr std::size_t kChunk = 64 * 1024;
    std::ostream& m_out;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
};

// Writes `value` as a \uXXXX escape at out; returns the end.
char* WriteUnicodeEscape(char* out, unsigned value) noexcept {
    static constexpr char kDigits[] = "0123456789abcdef";
    *out++ = '\\';
    *out++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4) *out++ = kDigits[(value >> shift) & 0xF];
    return out;
}

// How JSON writes each ASCII character: 0 as it is, 'u' as a \u00XX escape, else a backslash
// and this letter.
constexpr std::array<char, 128> kJsonAsciiEscapes = [] {
    std::array<char, 128> escapes{};
    for (int c = 0; c < 0x20; ++c) escapes[c] = 'u';
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    escapes['\n'] = 'n';
    escapes['\r'] = 'r';
    escapes['\t'] = 't';
    return escapes;
}();

// Writes a JSON string literal of UTF-16 text, in UTF-8; unpaired surrogates keep their value
// as \uXXXX escapes, which JSON allows.
void WriteJsonWideString(ChunkedWriter& writer, std::u16string_view text) {
    // Each unit takes at most 6 bytes (an escape); a surrogate pair takes 4.
    char* out = writer.Room(6 * text.size() + 2);
    *out++ = '"';
    const char16_t* const units = text.data();
    const std::size_t count = text.size();
    for (std::size_t i = 0; i < count;) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            ++i;
            const char escape = kJsonAsciiEscapes[unit];
            if (escape == 0) {
                *out++ = static_cast<char>(unit);
            } else if (escape != 'u') {
                *out++ = '\\';
                *out++ = escape;
            } else {
                out = WriteUnicodeEscape(out, unit);
            }
            continue;
        }
        const char32_t c = utf::NextCodePoint(units, count, i);
        if (utf::IsSurrogate(c)) {
            out = WriteUnicodeEscape(out, static_cast<unsigned>(c));
        } else {
            utf::EncodeUtf8(c, out);
            out += utf::Utf8Width(c);
        }
    }
    *out++ = '"';
    writer.Commit(out);
}

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
        ChunkedWriter writer(out);
        writer.Append("{\"result\": ");
        writer.Append(JsonString(FormatResultCode(zef::rc::kOk)));
        writer.Append(", \"message\": ");
        writer.Append(JsonString(ResultCodeText(zef::rc::kOk)));
        writer.Append(", \"modulePaths\": [");
        for (std::size_t i = 0; i < contents.modulePaths.size(); ++i) {
            if (i != 0) writer.Append(", ");
            WriteJsonWideString(writer, contents.modulePaths[i].view());
        }
        writer.Append("], \"pcr4CompactHash\": ");
        writer.Append(digest(contents.pcr4));
        writer.Append(", \"pcr8CompactHash\": ");
        writer.Append(digest(contents.pcr8));
        writer.Append("}\n");
        writer.Flush();
        return;
    }
    out << "GetRawTcgLog: " << FormatResultCode(zef::rc::kOk) << ' ' << ResultCodeText(zef::rc::kOk)
        << '\n';
    out << "module paths (" << contents.modulePaths.size() << "):\n";
    for (const zef::wstring_t& path : contents.modulePaths)
        out << "  " << Utf8FromUtf16(path.view()) << '\n';
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
