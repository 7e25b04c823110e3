// qorvex-host: loads the qorvex module as a product's host does (by path, through its two
// exports only), hands it the reference host services and runs one command against it. Trace
// records of the module go to stderr as "[level] text".
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "winsim/sim.h"
#endif

namespace qorvex::host {
namespace {

constexpr const char* kUsage =
    "usage: qorvex-host [options] [command [arguments]]\n"
    "\n"
    "Loads the qorvex module and drives it through its exports.\n"
    "\n"
    "commands:\n"
    "  chain      create the registry object, each component factory and each component,\n"
    "             report every step's result code, release everything and unload (default)\n"
    "  tcg-log    read the measured-boot logs of the current boot through TcgLogProviderImpl:\n"
    "             module paths and the PCR 4 and PCR 8 compact-hash digests\n"
    "             tcg-log --log FILE [--log FILE ...] (simulated builds) reads the given files\n"
    "             as resumes 0, 1, ... of one boot on a transient simulated machine;\n"
    "             with --pcrs also the PCR values each file replays, per digest bank\n"
    "             tcg-log --log FILE ... --events lists every event of the files (any build)\n"
    "  is-store-app [--cache] PATH...\n"
    "             whether each path lies in an installed Store package (IsMetroStyleApp), or\n"
    "             with --cache one BuildMetroStyleAppsCache and IsMetroStyleAppByCache for each\n"
    "  remediate PATH...\n"
    "             marks every package holding each file, under any of its names, as tampered\n"
    "\n"
    "options:\n"
    "  --json          machine-readable output (JSON on stdout)\n"
    "  --module PATH   the module to load (default: "
#if defined(_WIN32)
    "qorvex.dll beside qorvex-host.exe"
#else
    "../lib/libqorvex.so from the folder of qorvex-host"
#endif
    ")\n"
#if !defined(_WIN32)
    "  --machine DIR   the simulated machine to run on (machine.json and drive folders)\n"
#endif
    "  --help          this text\n"
    "  --version       the version of qorvex-host, which is that of the module it ships with\n"
    "\n"
    "exit codes: 0 success, 1 the module or machine could not be loaded, 2 usage error,\n"
    "            3 a step returned a failure code, 4 some answer was 1 (\"False\")\n";

struct Options {
    bool help = false;
    bool version = false;
    bool json = false;
    std::string modulePath;
    std::string machineDirectory;
    std::string command = "chain";
    std::vector<std::string> commandArgs;
};

// Returns an empty string, or the usage error.
std::string ParseOptions(int argc, char** argv, Options& options) {
    bool haveCommand = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // An option's value may follow as the next argument or after '='.
        auto value = [&](const char* name, std::string& target) -> std::string {
            const std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0) {
                target = arg.substr(prefix.size());
            } else if (i + 1 < argc) {
                target = argv[++i];
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

std::string DefaultModulePath() {
#if defined(_WIN32)
    const std::u8string path = (ExecutableDirectory() / "qorvex.dll").u8string();
#else
    const std::u8string path =
        (ExecutableDirectory() / ".." / "lib" / "libqorvex.so").lexically_normal().u8string();
#endif
    return std::string(path.begin(), path.end());
}

void ReportError(const Options& options, const std::string& message) {
    std::cerr << "qorvex-host: " << message << '\n';
    if (options.json) std::cout << "{\"error\":" << JsonString(message) << "}\n";
}

#if !defined(_WIN32)
// The machine qorvex-host runs on: the one given with --machine, else the bundled example
// machine when the source tree still has it, else the simulator's default machine.
std::string LoadMachine(const Options& options) {
    std::string directory = options.machineDirectory;
#if defined(QORVEX_DEFAULT_MACHINE)
    // `tcg-log --log FILE` replaces the machine by one of its own: the bundled one would be
    // loaded only to be thrown away.
    const bool bringsItsOwnMachine =
        options.command == "tcg-log" &&
        std::any_of(options.commandArgs.begin(), options.commandArgs.end(),
                    [](const std::string& arg) { return arg.rfind("--log", 0) == 0; });
    if (directory.empty() && !bringsItsOwnMachine) {
        std::error_code error;
        if (std::filesystem::is_regular_file(
                std::filesystem::path(QORVEX_DEFAULT_MACHINE) / "machine.json", error)) {
            directory = QORVEX_DEFAULT_MACHINE;
        }
    }
#endif
    if (directory.empty()) return {};
    std::string error = winsim::LoadMachineDirectory(directory);
    if (!error.empty()) return "cannot load the machine: " + error;
    return {};
}
#endif

int Run(int argc, char** argv) {
    Options options;
    if (const std::string error = ParseOptions(argc, argv, options); !error.empty()) {
        std::cerr << "qorvex-host: " << error << "\n\n" << kUsage;
        return kExitUsage;
    }
    if (options.help) {
        std::cout << kUsage;
        return kExitSuccess;
    }
    if (options.version) {
        std::cout << "qorvex-host " << QORVEX_VERSION << '\n';
        return kExitSuccess;
    }

#if !defined(_WIN32)
    if (const std::string error = LoadMachine(options); !error.empty()) {
        ReportError(options, error);
        return kExitCannotRun;
    }
#endif

    // The services outlive the module's objects: a module left loaded below is never called
    // again, so nothing reaches them once they are gone.
    HostServicesBundle services;
    services.tracer.SetSink([](const CapturingTracer::Record& record) {
        std::cerr << '[' << record.level << "] " << record.text << '\n';
    });

    auto module = std::make_unique<ModuleLibrary>();
    const std::string modulePath =
        options.modulePath.empty() ? DefaultModulePath() : options.modulePath;
    if (std::string error; !module->Load(modulePath, &error)) {
        ReportError(options, error);
        return kExitCannotRun;
    }

    CommandContext context{*module,      services,  &services.locator,
                           options.json, std::cout, std::cerr};
    int exitCode =
        options.command == "tcg-log"        ? RunTcgLogCommand(context, options.commandArgs)
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
    std::cout.flush();
    return exitCode;
}

}  // namespace
}  // namespace qorvex::host

int main(int argc, char** argv) {
    // The module never throws across its exports; this catches the host's own failures (an
    // unreadable input, memory) so they end with a message and exit code 1, not an abort.
    try {
        return qorvex::host::Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "qorvex-host: " << e.what() << '\n';
        return qorvex::host::kExitCannotRun;
    }
}
