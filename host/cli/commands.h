// What the qorvex-host commands share: the loaded module, the host services handed to it, the
// output streams and the walk through the module's class registry to a component.
//
// The host reaches the module only through its two exports and the interfaces declared in
// include/; of the module's own code it links only the log reader, for the analyst's views of
// log files (tcg_log_reader.h), so it keeps its own short table of the result code texts it
// prints.
//
// Threading: one command runs on the main thread; nothing here is shared between threads.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/json_text.h"
#include "cli/tcg_log_check_arguments.h"
#include "loader/module_library.h"
#include "qorvex/app_remediation.h"
#include "qorvex/module.h"
#include "services/host_services.h"
#include "zef/object.h"

namespace qorvex::host {

// Exit codes of qorvex-host, written down once here and in `--help` and README. Code 7 is a
// verification's mismatch (cli/tcg_log_verify.h), code 8 two logs that differ (tcg-log diff);
// codes from 9 up are kept free for checks to come. Where several outcomes meet, the lower code
// of 1, 5, 6 and 7 wins.
constexpr int kExitSuccess = 0;
// The module, the machine or a log file could not be loaded or read, or the output could not
// be written.
constexpr int kExitCannotRun = 1;
constexpr int kExitUsage = 2;          // unknown option or command, missing argument
constexpr int kExitStepFailed = 3;     // the module answered a step with a failure code
constexpr int kExitAnswerNo = 4;       // some answer was 1 ("False") and none failed
constexpr int kExitNotALog = 5;        // a file given to the log reader is not a TCG event log
constexpr int kExitIncompleteLog = 6;  // a log read by the log reader is truncated or malformed
// A verification found a mismatch: an event digest, a PCR against the expected values, a check
// of a quote.
constexpr int kExitMismatch = 7;
constexpr int kExitLogsDiffer = 8;  // tcg-log diff: the two logs replay to different PCRs

// The more telling of two exit codes of the log reader (kExitSuccess, kExitCannotRun,
// kExitNotALog, kExitIncompleteLog, and a verification's mismatch, 7).
int WorseReaderExit(int a, int b) noexcept;

// Where a command writes. The log reader's views need nothing else: they never load the module.
struct OutputContext {
    bool json;
    std::ostream& out;
    std::ostream& err;
};

// Everything a command needs. The module is loaded and the host services outlive every object
// the command creates; locator is the service locator handed to every module call.
struct CommandContext {
    ModuleLibrary& module;
    HostServicesBundle& services;
    zef::IServiceLocator* locator;
    bool json;
    std::ostream& out;
    std::ostream& err;
    // The simulated machine directory the command runs on, for commands that say so; empty on
    // Windows, and for a machine made of the given log files.
    std::string machineDirectory;
};

// A usage error: the message on stderr (and as {"error": ...} on stdout with --json); returns
// kExitUsage. qorvex-host then adds its usage text on stderr.
int ReportUsageError(const OutputContext& context, const std::string& message);
// Any other error that ends the command: the message on stderr and as {"error": ...}.
int ReportError(const OutputContext& context, const std::string& message, int exitCode);

// tcg-log's own arguments.
struct TcgLogArguments {
    std::vector<std::string> logFiles;  // as given; "-" is standard input
    bool pcrs = false;
    bool events = false;
    // One JSON document per log per line (tcg_log_fleet.h); "-" among logFiles is then a list of
    // paths on standard input, and logDirectories' files are read too.
    bool jsonl = false;
    bool cel = false;  // the log as TCG Canonical Event Log JSON (tcg_log_cel.h)
    std::vector<std::string> logDirectories;
    TcgLogCheckArguments checks;  // --verify, --expect-pcrs, --quote, --health
    bool ReaderView() const noexcept { return pcrs || events || jsonl || cel || checks.Any(); }
};
// Returns an empty string, or the usage error.
std::string ParseTcgLogArguments(const std::vector<std::string>& args, TcgLogArguments& parsed);

// One call on the way to a component, as a command reports it.
struct ChainStep {
    std::string step;       // "zefGetObjectFactory", "CreateInstance", "GetObjectFactory"
    std::string className;  // "ModuleFactoryProvider", "TcgLogProviderImpl", ...
    zef::ResultCode code;
};

// An owning reference to a module object (Release on destruction).
template <class I>
class ObjectRef {
public:
    ObjectRef() = default;
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    ObjectRef(ObjectRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ObjectRef& operator=(ObjectRef&& other) noexcept {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    ~ObjectRef() { reset(); }

    void reset() {
        if (I* p = std::exchange(m_p, nullptr)) p->Release();
    }
    // For an out parameter of a module call; whatever was held is released first.
    void** put() {
        reset();
        return reinterpret_cast<void**>(&m_p);
    }
    I* get() const { return m_p; }
    I* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    I* detach() { return std::exchange(m_p, nullptr); }

private:
    I* m_p = nullptr;
};

// The registry object of the module: zefGetObjectFactory(0xfb252268), then CreateInstance with
// IObjectFactoryProvider's id on that factory. Each call is appended to steps when given.
zef::ResultCode OpenRegistry(CommandContext& context,
                             ObjectRef<zef::IObjectFactoryProvider>& registry,
                             std::vector<ChainStep>* steps = nullptr);

// A component from an open registry: GetObjectFactory(classId), then CreateInstance(iid) on the
// factory, which is released again. On success *out holds one reference for the caller.
zef::ResultCode CreateFromRegistry(CommandContext& context, zef::IObjectFactoryProvider* registry,
                                   zef::ClassId classId, zef::InterfaceId iid, void** out,
                                   std::vector<ChainStep>* steps = nullptr);

// The whole walk for one component: registry, component factory, component. On success *out
// holds one reference to interface iid of the new component, which the caller releases; the
// registry and the factories are released before return. The result is the code of the first
// step that failed, or of the last step.
zef::ResultCode CreateComponent(CommandContext& context, zef::ClassId classId, zef::InterfaceId iid,
                                void** out, std::vector<ChainStep>* steps = nullptr);

// Asks zefCanUnloadModule and unloads the module only when it answers 0; returns its answer.
zef::ResultCode UnloadModuleIfIdle(CommandContext& context);

// "0x" and eight lowercase hex digits.
std::string FormatResultCode(zef::ResultCode code);
// The text of a result code, from the same tables the module uses (zef/result_code_texts.h).
std::string ResultCodeText(zef::ResultCode code);
// The name qorvex-host prints for a class id of the module.
std::string ClassName(zef::ClassId classId);

// Prints the steps as text lines or as the members of a JSON "steps" array.
void PrintStepsText(std::ostream& out, const std::vector<ChainStep>& steps);
void PrintStepsJson(std::ostream& out, const std::vector<ChainStep>& steps);

// Commands. args are the command line arguments after the command name that are not options of
// qorvex-host itself. Each returns an exit code.
int RunChainCommand(CommandContext& context, const std::vector<std::string>& args);
// tcg-log through the module: TcgLogProviderImpl on the machine, or with --log on a machine
// whose current boot has one resume per given file.
int RunTcgLogCommand(CommandContext& context, const TcgLogArguments& arguments);
// tcg-log --pcrs and --events: the log reader's views of the given files, written as
// {"logs": [...]} or as text, one log after the other. The module is not loaded.
int RunTcgLogReader(const OutputContext& context, const TcgLogArguments& arguments);
// tcg-log diff A B: the two logs' events compared PCR by PCR (tcg_log_diff.h).
int RunTcgLogDiff(const OutputContext& context, const std::vector<std::string>& args);
// tcg-log --verify (--expect-pcrs, --quote) and --health (cli/tcg_log_checks.cpp).
int RunTcgLogChecks(const OutputContext& context, const TcgLogArguments& arguments);
int RunIsStoreAppCommand(CommandContext& context, const std::vector<std::string>& args);
int RunRemediateCommand(CommandContext& context, const std::vector<std::string>& args);

}  // namespace qorvex::host
