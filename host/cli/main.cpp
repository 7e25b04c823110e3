// qorvex-host: loads the qorvex module as a product's host does (by path, through its two
// exports only), hands it the reference host services and runs one command against it; or, for
// the log reader's views, reads measured-boot log files without loading the module. Trace
// records of the module go to stderr as "[level] text" (none with --quiet).
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "utf/codec.h"

#if defined(_WIN32)
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#else
#include <signal.h>
#include <unistd.h>

#include "winsim/sim.h"
#endif

namespace qorvex::host {
namespace {

constexpr const char* kUsage =
    "usage: qorvex-host [options] [command [arguments]]\n"
    "\n"
    "Loads the qorvex module and drives it through its exports, and reads measured-boot logs.\n"
    "\n"
    "commands:\n"
    "  chain      create the registry object, each component factory and each component,\n"
    "             report every step's result code, release everything and unload (default)\n"
    "  tcg-log    read the measured-boot logs of the current boot through TcgLogProviderImpl:\n"
    "             module paths and the PCR 4 and PCR 8 compact-hash digests\n"
    "             tcg-log --log FILE [--log FILE ...] (simulated builds) reads the given files\n"
    "             as resumes 0, 1, ... of one boot on a transient simulated machine\n"
    "  tcg-log --pcrs --log FILE [--log FILE ...]\n"
    "             the PCR values each log file replays, per digest bank\n"
    "  tcg-log --events --log FILE [--log FILE ...]\n"
    "             every event of each log file\n"
    "  tcg-log --verify --log FILE [--log FILE ...]\n"
    "             checks each event's digests against its data (--events marks each event)\n"
    "  tcg-log --log FILE --expect-pcrs VALUES\n"
    "             ... and the replayed PCRs against tpm2_pcrread's YAML or --pcrs --json\n"
    "  tcg-log --log FILE --quote ATTEST --signature SIG --ak-public KEY [--nonce HEX]\n"
    "             ... and a TPM quote (tpm2_quote -m, -s; TPM2B_PUBLIC or PEM) against them\n"
    "  tcg-log --health --log FILE [--log FILE ...]\n"
    "             the Windows health report and Secure Boot state of each log\n"
    "             --pcrs, --events, --verify and --health read the files themselves and never\n"
    "             load the module;\n"
    "             FILE may be - (standard input), a pipe or /dev/fd/N\n"
    "  tcg-log --jsonl [--pcrs] [--events] [--cel] (--log FILE | --log-dir DIR | --log -)...\n"
    "             one JSON document per log per line, each written as its log is read; with\n"
    "             --jsonl, --log - reads a list of paths from standard input, one a line\n"
    "  tcg-log --cel --log FILE [--log FILE ...]\n"
    "             each log as TCG Canonical Event Log JSON (CEL-JSON), one array a line\n"
    "  tcg-log diff A B\n"
    "             the events of two logs compared PCR by PCR: added, removed and changed\n"
    "             events, decoded, and for each PCR that replays differently the first event\n"
    "             responsible\n"
    "  is-store-app [--cache] PATH...\n"
    "             whether each path lies in an installed Store package (IsMetroStyleApp), or\n"
    "             with --cache one BuildMetroStyleAppsCache and IsMetroStyleAppByCache for each\n"
    "  remediate PATH...\n"
    "             marks every package holding each file, under any of its names, as tampered\n"
    "\n"
    "options:\n"
    "  --json          machine-readable output: one JSON document on stdout, errors included\n"
    "  --quiet         leave out the module's trace records (stderr); warnings stay\n"
    "  --module PATH   the module to load (default: "
#if defined(_WIN32)
    "qorvex.dll beside qorvex-host.exe"
#else
    "../lib/libqorvex.so from the folder of qorvex-host"
#endif
    ")\n"
#if !defined(_WIN32)
    "  --machine DIR   the simulated machine to run on (machine.json and drive folders;\n"
    "                  default: ../share/qorvex/machine from the folder of qorvex-host)\n"
#endif
    "  --help          this text\n"
    "  --version       the version of qorvex-host, which is that of the module it ships with\n"
    "\n"
    "exit codes:\n"
    "  0  success\n"
    "  1  the module, the machine or a log file could not be loaded or read, or the output\n"
    "     could not be written\n"
    "  2  usage error\n"
    "  3  the module answered a step with a failure code\n"
    "  4  some answer was 1 (\"False\") and none failed\n"
    "  5  a file given to the log reader is not a TCG event log\n"
    "  6  a log given to the log reader is truncated or malformed\n"
    "  7  a verification found a mismatch: an event digest, a PCR against --expect-pcrs,\n"
    "     a check of --quote\n"
    "  8  tcg-log diff: the two logs replay to different PCR values\n"
    "  (of 1, 5, 6 and 7 the lowest that applies to any file counts; for diff, 1 and 5 come\n"
    "  before 8, and 8 before 6; codes from 9 up are kept for checks to come)\n";

struct Options {
    bool help = false;
    bool version = false;
    bool json = false;
    bool quiet = false;
    std::string modulePath;
    std::string machineDirectory;
    std::string command = "chain";
    std::vector<std::string> commandArgs;
};

// Returns an empty string, or the usage error.
std::string ParseOptions(const std::vector<std::string>& args, Options& options) {
    bool haveCommand = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // An option's value may follow as the next argument or after '='.
        auto value = [&](const char* name, std::string& target) -> std::string {
            const std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0) {
                target = arg.substr(prefix.size());
            } else if (i + 1 < args.size()) {
                target = args[++i];
            } else {
                return std::string(name) + " needs a value";
            }
            if (target.empty()) return std::string(name) + " needs a value";
            return {};
        };
        auto is = [&](const char* name) {
            return arg == name || arg.rfind(std::string(name) + "=", 0) == 0;
        };

        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (is("--module")) {
            if (std::string error = value("--module", options.modulePath); !error.empty())
                return error;
        } else if (is("--machine")) {
#if defined(_WIN32)
            return "--machine is only available with the simulated machine (Linux builds)";
#else
            if (std::string error = value("--machine", options.machineDirectory); !error.empty())
                return error;
#endif
        } else if (!haveCommand && arg.size() > 1 && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else if (!haveCommand) {
            options.command = arg;
            haveCommand = true;
        } else {
            options.commandArgs.push_back(arg);
        }
    }
    if (options.command != "chain" && options.command != "tcg-log" &&
        options.command != "is-store-app" && options.command != "remediate") {
        return "unknown command '" + options.command + "'";
    }
    return {};
}

std::filesystem::path ExecutableDirectory() {
#if defined(_WIN32)
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
#endif
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.lexically_normal().u8string();
    return std::string(text.begin(), text.end());
}

std::string DefaultModulePath() {
#if defined(_WIN32)
    return Utf8Path(ExecutableDirectory() / "qorvex.dll");
#else
    return Utf8Path(ExecutableDirectory() / ".." / "lib" / "libqorvex.so");
#endif
}

#if !defined(_WIN32)
// The machine qorvex-host runs on: the one given with --machine, else the bundled machine,
// which lies where the program lies, in the install tree and the build tree alike
// (share/qorvex/machine beside bin/), else the simulator's empty default machine. Sets
// `shown` to what tcg-log reports as its machine.
std::string LoadMachine(const Options& options, const TcgLogArguments& tcgLog, std::string& shown) {
    std::string directory = options.machineDirectory;
    // `tcg-log --log FILE` replaces the machine by one of its own: the bundled one would be
    // loaded only to be thrown away, and it is not the machine the answer is about.
    if (options.command == "tcg-log" && !tcgLog.logFiles.empty()) return {};
    if (directory.empty()) {
        const std::string bundled =
            Utf8Path(ExecutableDirectory() / ".." / "share" / "qorvex" / "machine");
        std::error_code error;
        if (!std::filesystem::is_regular_file(std::filesystem::path(bundled) / "machine.json",
                                              error)) {
            shown = "empty (no machine at " + bundled + ")";
            return {};
        }
        directory = bundled;
    }
    shown = directory;
    std::string error = winsim::LoadMachineDirectory(directory);
    if (!error.empty()) return "cannot load the machine: " + error;
    return {};
}
#endif

#if !defined(_WIN32)
// Log files are mapped while they are read (cli/log_file.h): a file that another program cuts
// shorter meanwhile raises SIGBUS on the next read of what is gone. That is an input changing
// under the reader; it ends the run with a message and exit code 1, not a crash.
extern "C" void OnLogFileCutWhileRead(int) {
    static const char kMessage[] = "qorvex-host: a log file was cut shorter while it was read\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    ::_exit(kExitCannotRun);
}

void EndCleanlyWhenALogFileIsCut() {
    struct sigaction action {};
    action.sa_handler = OnLogFileCutWhileRead;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}
#endif

// The command line as UTF-8: on Windows from its UTF-16 form, so that any file name survives.
std::vector<std::string> Arguments(int argc, char** argv) {
#if defined(_WIN32)
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i)
            args.push_back(utf::ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

int Run(const std::vector<std::string>& args) {
    Options options;
    // Usage errors are answered in JSON too when --json is anywhere on the line.
    options.json = std::find(args.begin(), args.end(), "--json") != args.end();
    const OutputContext output{options.json, std::cout, std::cerr};
    auto usageError = [&](const std::string& message) {
        ReportUsageError(output, message);
        std::cerr << '\n' << kUsage;
        ThrowIfFailed(std::cout);
        return kExitUsage;
    };
    if (const std::string error = ParseOptions(args, options); !error.empty())
        return usageError(error);
    if (options.help) {
        std::cout << kUsage;
        ThrowIfFailed(std::cout);
        return kExitSuccess;
    }
    if (options.version) {
        std::cout << "qorvex-host " << QORVEX_VERSION << '\n';
        ThrowIfFailed(std::cout);
        return kExitSuccess;
    }

    TcgLogArguments tcgLog;
    if (options.command == "tcg-log" && !options.commandArgs.empty() &&
        options.commandArgs.front() == "diff") {
        const std::vector<std::string> diffArgs(options.commandArgs.begin() + 1,
                                                options.commandArgs.end());
        const int code = RunTcgLogDiff(output, diffArgs);
        if (code == kExitUsage) std::cerr << '\n' << kUsage;
        return code;
    }
    if (options.command == "tcg-log") {
        if (const std::string error = ParseTcgLogArguments(options.commandArgs, tcgLog);
            !error.empty()) {
            return usageError(error);
        }
        // The log reader's views need neither the module nor a machine.
        if (tcgLog.checks.Any() && !tcgLog.jsonl) return RunTcgLogChecks(output, tcgLog);
        if (tcgLog.ReaderView()) return RunTcgLogReader(output, tcgLog);
    }

    std::string machineShown;
#if !defined(_WIN32)
    if (const std::string error = LoadMachine(options, tcgLog, machineShown); !error.empty())
        return ReportError(output, error, kExitCannotRun);
#endif

    // The services outlive the module's objects: a module left loaded below is never called
    // again, so nothing reaches them once they are gone.
    HostServicesBundle services;
    const bool quiet = options.quiet;
    services.tracer.SetSink([quiet](const CapturingTracer::Record& record) {
        if (!quiet) std::cerr << '[' << record.level << "] " << record.text << '\n';
    });

    auto module = std::make_unique<ModuleLibrary>();
    const std::string modulePath =
        options.modulePath.empty() ? DefaultModulePath() : options.modulePath;
    if (std::string error; !module->Load(modulePath, &error))
        return ReportError(output, error, kExitCannotRun);

    CommandContext context{*module,   services,  &services.locator, options.json,
                           std::cout, std::cerr, machineShown};
    int exitCode =
        options.command == "tcg-log"        ? RunTcgLogCommand(context, tcgLog)
        : options.command == "is-store-app" ? RunIsStoreAppCommand(context, options.commandArgs)
        : options.command == "remediate"    ? RunRemediateCommand(context, options.commandArgs)
                                            : RunChainCommand(context, options.commandArgs);
    if (exitCode == kExitUsage) std::cerr << '\n' << kUsage;

    if (module->IsLoaded()) {
        const zef::ResultCode canUnload = UnloadModuleIfIdle(context);
        if (canUnload != zef::rc::kOk) {
            std::cerr << "qorvex-host: zefCanUnloadModule answered " << FormatResultCode(canUnload)
                      << " (" << ResultCodeText(canUnload)
                      << ") after every reference was released; the module stays loaded\n";
            if (exitCode == kExitSuccess) exitCode = kExitStepFailed;
        }
    }
    if (module->IsLoaded()) {
        // Unloading code that still has live objects would pull it from under them.
        static_cast<void>(module.release());
    }
    ThrowIfFailed(std::cout);
    return exitCode;
}

}  // namespace
}  // namespace qorvex::host

int main(int argc, char** argv) {
    // The module never throws across its exports; this catches the host's own failures (output
    // that cannot be written, memory) so they end with a message and exit code 1, not an abort.
#if !defined(_WIN32)
    qorvex::host::EndCleanlyWhenALogFileIsCut();
#endif
    try {
        return qorvex::host::Run(qorvex::host::Arguments(argc, argv));
    } catch (const qorvex::host::OutputError& e) {
        std::cerr << "qorvex-host: cannot write the output: " << e.what() << '\n';
        return qorvex::host::kExitCannotRun;
    } catch (const std::exception& e) {
        std::cerr << "qorvex-host: " << e.what() << '\n';
        return qorvex::host::kExitCannotRun;
    }
}
