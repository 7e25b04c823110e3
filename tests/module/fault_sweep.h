// The fault sweep: every host-visible operation of the module, run again and again on a
// realistic machine with one failure moved through it. First each platform or runtime call it
// makes is failed in turn (that call alone, then that call and every later one), then each
// request to the host's allocator and tracer is refused in turn. After every run the answer
// must be a defined one, a failure must be reported once, and the machine, the thread and the
// host must be as they were before the run.
//
// The module caches what it learnt of the system for the life of the process, so each machine
// shape (Windows version, bitness) is swept by a test program of its own: a test derives from
// FaultSweepTest, shapes the machine in ShapeMachine() and calls SweepEveryOperation().
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/app_remediation.h"
#include "qorvex/tcg_log.h"
#include "winsim/sim.h"
#include "zef/string.h"
#include "zef/vector.h"

namespace qorvex::test {
namespace sweep {

constexpr std::uint32_t kErrorLevel = 300;
constexpr zef::ResultCode kOutOfMemory = static_cast<zef::ResultCode>(0x80000041u);
constexpr zef::ResultCode kAccessDenied = static_cast<zef::ResultCode>(0x80000045u);
constexpr zef::ResultCode kUnknownException = static_cast<zef::ResultCode>(0x80000072u);
// HRESULT_INSTALL_PACKAGE_NOT_FOUND, as the package manager answers a name it does not know.
constexpr zef::ResultCode kPackageNotFound = static_cast<zef::ResultCode>(0x80073CF1u);
const std::u16string kApps = u"C:\\Program Files\\WindowsApps\\";
const std::u16string kNotes = u"Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g";
const std::u16string kInsideNotes = kApps + kNotes + u"\\notes.exe";
const std::u16string kDownload = u"C:\\Users\\ann\\Downloads\\notes.exe";

// Where one run puts the failure.
enum class Failing {
    kNothing,
    kPlatformCall,    // the k-th injectable call of the simulated machine
    kHostAllocation,  // the k-th Alloc on the host's allocator
    kTraceRecord,     // the k-th record the module asks the host's tracer for
    kTraceGrowth,     // the k-th growth of an open record
};

const char* NameOf(Failing failing) {
    switch (failing) {
        case Failing::kNothing:
            return "nothing";
        case Failing::kPlatformCall:
            return "platform call";
        case Failing::kHostAllocation:
            return "host allocation";
        case Failing::kTraceRecord:
            return "trace record";
        case Failing::kTraceGrowth:
            return "trace growth";
    }
    return "?";
}

struct Failure {
    Failing failing = Failing::kNothing;
    std::uint64_t k = 0;
    bool andLater = false;
};

// What one run reports.
struct Outcome {
    zef::ResultCode result = 0;
    std::uint64_t platformCalls = 0;  // injectable calls the run made
    std::uint64_t hostAllocations = 0;
    std::uint64_t traceRecords = 0;  // record requests, granted or not
    std::uint64_t traceGrowths = 0;
    std::vector<std::string> failedCalls;  // the platform calls the sweep failed
    std::vector<host::CapturingTracer::Record> records;
    std::size_t Errors() const {
        std::size_t errors = 0;
        for (const auto& record : records) errors += record.level == kErrorLevel ? 1 : 0;
        return errors;
    }
};

// What the module must give back: the machine's resources, the thread's state and the host's
// blocks, compared before and after each run.
struct Resources {
    std::uint64_t heapBlocks = 0;
    std::uint64_t coTaskMemBlocks = 0;
    std::size_t handles = 0;  // find handles and tokens included
    std::size_t tokens = 0;
    std::uint64_t runtimeObjects = 0;
    std::uint64_t runtimeStrings = 0;
    winsim::ThreadApartmentState apartment;
    bool impersonates = false;
    bool redirectionDisabled = false;
    std::size_t hostBlocks = 0;
    bool operator==(const Resources&) const = default;

    std::string Describe() const {
        char text[320];
        std::snprintf(text, sizeof text,
                      "heap %llu, cotaskmem %llu, handles %zu, tokens %zu, runtime objects %llu, "
                      "strings %llu, apartment %d/%u, impersonates %d, redirection off %d, host "
                      "blocks %zu",
                      static_cast<unsigned long long>(heapBlocks),
                      static_cast<unsigned long long>(coTaskMemBlocks), handles, tokens,
                      static_cast<unsigned long long>(runtimeObjects),
                      static_cast<unsigned long long>(runtimeStrings),
                      static_cast<int>(apartment.kind), apartment.initializations, impersonates,
                      redirectionDisabled, hostBlocks);
        return text;
    }
};

// What one operation works on; made fresh for each run, outside the failure.
struct Subject {
    IAppRemediation* remediation = nullptr;
    ITcgLogProvider* provider = nullptr;
    IRawTcgLog* log = nullptr;       // a result object to read from
    IRawTcgLog* produced = nullptr;  // what GetRawTcgLog handed out in the run
    zef::IObject* created = nullptr;
    zef::vector<zef::wstring_t> paths;
    std::uint8_t digest[kCompactHashSize] = {};
};

constexpr std::uint8_t kUntouchedByte = 0xA5;

class FaultSweepTest : public LoadedModuleTest {
protected:
    struct Operation {
        const char* name;
        std::function<void(FaultSweepTest&, Subject&)> prepare;
        std::function<zef::ResultCode(FaultSweepTest&, Subject&)> run;
        // The answers the operation may give on this machine when nothing fails, the first
        // one being the answer it gives; a failure that the operation tolerates (a package it
        // cannot read, links it cannot list) may turn it into one of the others.
        std::vector<zef::ResultCode> answers;
        // The codes a failing run may return: out of memory, a platform failure converted by
        // the result-code rules (access denied is what the sweep injects), a runtime error of
        // the log reader or a failed check, or what the package manager answered.
        std::vector<zef::ResultCode> failures;
        // Checks the run's output against its result (a failed run wrote nothing).
        std::function<std::string(const Subject&, zef::ResultCode)> checkOutput;
        // Runs with the thread's impersonation reverted and the runtime initialised.
        bool live = false;
    };

    void SetUp() override {
        LoadedModuleTest::SetUp();
        ASSERT_EQ(
            winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"), "");
        // The bundled machine without its scripted package failures, so that every level-300
        // record of a run comes from the failure the sweep put there, and with one package whose
        // long folder makes the trace records grow.
        std::vector<winsim::PackageEntry> packages;
        for (const auto& package : winsim::GetPackages())
            if (package.fails == winsim::PackageFaults{}) packages.push_back(package);
        winsim::PackageEntry deep;
        deep.fullName = u"Contoso.Deep_2.0.0.0_x64__9zyx8wvu7tsrq";
        deep.installedLocation = kApps + deep.fullName;
        for (int level = 0; level < 30; ++level) *deep.installedLocation += u"\\nested-folder";
        packages.push_back(deep);
        winsim::SetPackages(packages);
        ShapeMachine();
    }

    // The chain a host walks to a new object of classId: export, registry factory, registry
    // object, class factory, object. Every intermediate reference is released; the first
    // failing step's code is returned.
    zef::ResultCode CreateThroughExports(zef::ClassId classId, zef::InterfaceId iid,
                                         zef::IObject** out) {
        void* factory = nullptr;
        zef::ResultCode code =
            GetObjectFactory(&host.locator, kClassModuleFactoryProvider, &factory);
        if (code < 0) return code;
        void* registry = nullptr;
        code = static_cast<zef::IObjectFactory*>(factory)->CreateInstance(
            &host.locator, zef::kIidObjectFactoryProvider, &registry);
        static_cast<zef::IObject*>(factory)->Release();
        if (code < 0) return code;
        if (classId == kClassModuleFactoryProvider) {
            *out = static_cast<zef::IObject*>(registry);
            return code;
        }
        void* classFactory = nullptr;
        code = static_cast<zef::IObjectFactoryProvider*>(registry)->GetObjectFactory(
            &host.locator, classId, &classFactory);
        static_cast<zef::IObject*>(registry)->Release();
        if (code < 0) return code;
        void* object = nullptr;
        code = static_cast<zef::IObjectFactory*>(classFactory)
                   ->CreateInstance(&host.locator, iid, &object);
        static_cast<zef::IObject*>(classFactory)->Release();
        if (code >= 0) *out = static_cast<zef::IObject*>(object);
        return code;
    }

    template <class Interface>
    Interface* Make(zef::ClassId classId, zef::InterfaceId iid) {
        zef::IObject* object = nullptr;
        EXPECT_EQ(CreateThroughExports(classId, iid, &object), 0);
        return static_cast<Interface*>(object);
    }

    static std::vector<Operation> Operations() {
        const auto makeRemediation = [](FaultSweepTest& t, Subject& s) {
            s.remediation = t.Make<IAppRemediation>(kClassAppRemediation, kIidAppRemediation);
        };
        const auto makeLog = [](FaultSweepTest& t, Subject& s) {
            s.provider = t.Make<ITcgLogProvider>(kClassTcgLogProvider, kIidTcgLogProvider);
            ASSERT_NE(s.provider, nullptr);
            ASSERT_EQ(s.provider->GetRawTcgLog(&s.log), 0);
            // The caller's vector carries the host allocator, so the copy uses it.
            s.paths = zef::vector<zef::wstring_t>(&t.host.allocator);
            s.paths.push_back(zef::wstring_t(u"before"));
            std::fill(std::begin(s.digest), std::end(s.digest), kUntouchedByte);
        };
        const auto creation = [](zef::ClassId classId, zef::InterfaceId iid) {
            return [classId, iid](FaultSweepTest& t, Subject& s) {
                return t.CreateThroughExports(classId, iid, &s.created);
            };
        };
        const auto createdOnSuccess = [](const Subject& s, zef::ResultCode result) {
            return (result >= 0) == (s.created != nullptr) ? std::string()
                                                           : "object handed out or not";
        };
        const auto pathsUntouchedOnFailure = [](const Subject& s, zef::ResultCode result) {
            const bool before = s.paths.size() == 1 && s.paths[0] == zef::wstring_t(u"before");
            if (result < 0) return before ? std::string() : std::string("paths changed");
            return s.paths.size() > 1 ? std::string() : std::string("paths not copied");
        };
        const auto digestUntouchedOnFailure = [](const Subject& s, zef::ResultCode result) {
            const bool untouched = std::all_of(std::begin(s.digest), std::end(s.digest),
                                               [](std::uint8_t b) { return b == kUntouchedByte; });
            return (result < 0) == untouched ? std::string() : std::string("digest written");
        };
        const auto nothingToCheck = [](const Subject&, zef::ResultCode) { return std::string(); };
        return {
            {"create ModuleFactoryProvider",
             {},
             creation(kClassModuleFactoryProvider, zef::kIidObjectFactoryProvider),
             {0},
             {kOutOfMemory},
             createdOnSuccess},
            {"create TcgLogProviderImpl",
             {},
             creation(kClassTcgLogProvider, kIidTcgLogProvider),
             {0},
             {kOutOfMemory},
             createdOnSuccess},
            {"create AppRemediationImpl",
             {},
             creation(kClassAppRemediation, kIidAppRemediation),
             {0},
             {kOutOfMemory},
             createdOnSuccess},
            {"GetRawTcgLog",
             [](FaultSweepTest& t, Subject& s) {
                 s.provider = t.Make<ITcgLogProvider>(kClassTcgLogProvider, kIidTcgLogProvider);
             },
             [](FaultSweepTest&, Subject& s) { return s.provider->GetRawTcgLog(&s.produced); },
             {0},
             {kOutOfMemory, kUnknownException},
             [](const Subject& s, zef::ResultCode result) {
                 return (result >= 0) == (s.produced != nullptr) ? std::string()
                                                                 : "log handed out or not";
             }},
            {"GetModulePaths",
             makeLog,
             [](FaultSweepTest&, Subject& s) { return s.log->GetModulePaths(s.paths); },
             {0},
             {kOutOfMemory},
             pathsUntouchedOnFailure},
            {"GetPcr4CompactHash",
             makeLog,
             [](FaultSweepTest&, Subject& s) { return s.log->GetPcr4CompactHash(s.digest); },
             {0},
             {},
             digestUntouchedOnFailure},
            {"GetPcr8CompactHash",
             makeLog,
             [](FaultSweepTest&, Subject& s) { return s.log->GetPcr8CompactHash(s.digest); },
             {0},
             {},
             digestUntouchedOnFailure},
            // The download's other name lies in a package: marked (0); with its links unknown
            // the download alone is in none (1).
            {"Remediate",
             makeRemediation,
             [](FaultSweepTest&, Subject& s) {
                 return s.remediation->Remediate(kDownload.c_str());
             },
             {0, 1},
             {kOutOfMemory, kAccessDenied, kUnknownException, kPackageNotFound},
             nothingToCheck,
             true},
            // A package the enumeration cannot read is not found (1).
            {"IsMetroStyleApp",
             makeRemediation,
             [](FaultSweepTest&, Subject& s) {
                 return s.remediation->IsMetroStyleApp(kInsideNotes.c_str());
             },
             {0, 1},
             {kOutOfMemory, kAccessDenied, kUnknownException},
             nothingToCheck,
             true},
            {"BuildMetroStyleAppsCache",
             makeRemediation,
             [](FaultSweepTest&, Subject& s) { return s.remediation->BuildMetroStyleAppsCache(); },
             {0},
             {kOutOfMemory, kAccessDenied, kUnknownException},
             nothingToCheck,
             true},
            // Answered from the cache built before the run, whatever fails in the run.
            {"IsMetroStyleAppByCache",
             [makeRemediation](FaultSweepTest& t, Subject& s) {
                 makeRemediation(t, s);
                 ASSERT_NE(s.remediation, nullptr);
                 ASSERT_EQ(s.remediation->BuildMetroStyleAppsCache(), 0);
             },
             [](FaultSweepTest&, Subject& s) {
                 return s.remediation->IsMetroStyleAppByCache(kInsideNotes.c_str());
             },
             {0},
             {kOutOfMemory},
             nothingToCheck},
        };
    }

    Resources Snapshot() {
        Resources r;
        const winsim::HeapStats heap = winsim::GetHeapStats();
        r.heapBlocks = heap.liveBlocks;
        r.coTaskMemBlocks = heap.coTaskMemLiveBlocks;
        r.handles = winsim::OpenHandleCount();
        r.tokens = winsim::OpenTokenCount();
        const winsim::RuntimeCounters runtime = winsim::GetRuntimeCounters();
        r.runtimeObjects = runtime.liveObjects;
        r.runtimeStrings = runtime.liveStrings;
        r.apartment = winsim::GetThreadApartment();
        r.impersonates = winsim::ThreadImpersonates();
        r.redirectionDisabled = winsim::ThreadRedirectionDisabled();
        r.hostBlocks = host.allocator.LiveBlocks();
        return r;
    }

    static void Release(zef::IObject*& object) {
        if (object != nullptr) object->Release();
        object = nullptr;
    }

    // A release that the platform refused leaves its resource behind; nobody can do better.
    // The resources of the releases the sweep failed are not compared.
    static void Excuse(const std::vector<std::string>& failedCalls, const Resources& before,
                       Resources& after) {
        for (const std::string& call : failedCalls) {
            if (call == "CloseHandle" || call == "FindClose") {
                after.handles = before.handles;
                after.tokens = before.tokens;
            } else if (call == "HeapFree") {
                after.heapBlocks = before.heapBlocks;
            } else if (call == "WindowsDeleteString") {
                after.runtimeStrings = before.runtimeStrings;
            } else if (call == "Wow64RevertWow64FsRedirection") {
                after.redirectionDisabled = before.redirectionDisabled;
            } else if (call == "ImpersonateLoggedOnUser") {
                after.impersonates = before.impersonates;
            }
        }
    }

    // One run of op with failure in place. Everything the run leaves behind is noted in
    // `findings`.
    Outcome Run(const Operation& op, const Failure& failure, std::vector<std::string>& findings) {
        Outcome outcome;
        // A run whose restoring ImpersonateLoggedOnUser was failed left the thread as it was
        // then; every run starts from the thread the sweep is about.
        winsim::SetThreadImpersonates(m_impersonating);
        const Resources before = Snapshot();
        {
            Subject subject;
            if (op.prepare) op.prepare(*this, subject);
            host.tracer.Clear();
            const Resources prepared = Snapshot();
            const std::uint64_t allocationsBefore =
                host.allocator.Allocations() + host.allocator.Refusals();
            const std::uint64_t acquiresBefore = host.tracer.AcquireCalls();
            const std::uint64_t growthsBefore = host.tracer.GrowthCalls();
            {
                std::optional<winsim::ScopedCallSweep> sweep;
                if (failure.failing == Failing::kPlatformCall)
                    sweep.emplace(failure.k, failure.andLater ? winsim::FaultMode::Always
                                                              : winsim::FaultMode::Once);
                else
                    sweep.emplace();
                if (failure.failing == Failing::kHostAllocation)
                    host.allocator.RefuseRequest(failure.k, failure.andLater);
                if (failure.failing == Failing::kTraceRecord)
                    host.tracer.RefuseRecordRequest(failure.k, failure.andLater);
                if (failure.failing == Failing::kTraceGrowth)
                    host.tracer.RefuseGrowthRequest(failure.k, failure.andLater);

                outcome.result = op.run(*this, subject);

                host.allocator.RefuseRequest(0, false);
                host.tracer.RefuseRecordRequest(0, false);
                host.tracer.RefuseGrowthRequest(0, false);
                outcome.platformCalls = sweep->Calls();
                outcome.failedCalls = sweep->FailedCalls();
            }
            outcome.hostAllocations =
                host.allocator.Allocations() + host.allocator.Refusals() - allocationsBefore;
            outcome.traceGrowths = host.tracer.GrowthCalls() - growthsBefore;
            outcome.traceRecords =
                host.tracer.AcquireCalls() - acquiresBefore - outcome.traceGrowths;
            outcome.records = host.tracer.Records();

            // The thread is back as it was as soon as the operation returns.
            Resources after = Snapshot();
            Excuse(outcome.failedCalls, prepared, after);
            if (after.apartment != prepared.apartment ||
                after.impersonates != prepared.impersonates ||
                after.redirectionDisabled != prepared.redirectionDisabled)
                findings.push_back("thread state changed: " + after.Describe());
            if (const std::string wrong = op.checkOutput(subject, outcome.result); !wrong.empty())
                findings.push_back(wrong);

            Release(subject.created);
            zef::IObject* produced = subject.produced;
            Release(produced);
            zef::IObject* log = subject.log;
            Release(log);
            zef::IObject* provider = subject.provider;
            Release(provider);
            zef::IObject* remediation = subject.remediation;
            Release(remediation);
        }
        Resources after = Snapshot();
        Excuse(outcome.failedCalls, before, after);
        if (!(after == before))
            findings.push_back("not given back: " + after.Describe() +
                               " (before: " + before.Describe() + ")");
        if (CanUnload() != zef::rc::kOk) findings.push_back("module objects alive");
        if (const std::string left = host.Leftovers(); !left.empty())
            findings.push_back("host leftovers: " + left);
        return outcome;
    }

    // Judges a run that had a failure in it against the operation's run without one.
    static std::string Judge(const Operation& op, const Failure& failure, const Outcome& clean,
                             const Outcome& run) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(run.result));
        const std::string result = code;
        const std::string errors = std::to_string(run.Errors());
        switch (failure.failing) {
            case Failing::kNothing:
                return {};
            case Failing::kTraceRecord:
            case Failing::kTraceGrowth: {
                // Tracing never changes an answer; a refused record is missing, a refused growth
                // still submits its record.
                if (run.result != clean.result) return "result " + result + " changed by tracing";
                std::size_t expected = clean.records.size();
                if (failure.failing == Failing::kTraceRecord)
                    expected = failure.andLater ? failure.k - 1 : expected - 1;
                if (run.records.size() != expected)
                    return std::to_string(run.records.size()) + " records, expected " +
                           std::to_string(expected);
                return {};
            }
            case Failing::kHostAllocation:
            case Failing::kPlatformCall:
                break;
        }
        // A live operation that could not give the thread its client's identity back reports
        // that on its own, whatever it answers.
        const std::size_t identityLost =
            std::count(run.failedCalls.begin(), run.failedCalls.end(), "ImpersonateLoggedOnUser");
        if (run.result < 0) {
            if (std::find(op.failures.begin(), op.failures.end(), run.result) == op.failures.end())
                return "failure " + result + " is not one the operation gives";
            // Reported once; with every later call failing too, a tolerated failure before the
            // fatal one may have its own record.
            const std::size_t most = (failure.andLater ? 2 : 1) + identityLost;
            if (run.Errors() < 1 || run.Errors() > most)
                return "failure " + result + " with " + errors + " level-300 records";
            if (run.records.back().level != kErrorLevel)
                return "failure " + result + " not reported last";
            return {};
        }
        if (std::find(op.answers.begin(), op.answers.end(), run.result) == op.answers.end())
            return "answer " + result + " is not one the operation gives";
        if (run.result != clean.result && run.Errors() == 0)
            return "answer " + result + " changed without a report";
        if (!failure.andLater && run.Errors() > 1 + identityLost)
            return "answer " + result + " with " + errors + " level-300 records";
        if (identityLost != 0 && run.Errors() == 0) return "identity lost without a report";
        return {};
    }

    // Each operation swept on the machine as it is, and the live ones again with the calling
    // thread impersonating a client; every finding is one line of the failure message.
    void SweepEveryOperation() {
        std::vector<std::string> findings;
        std::vector<std::string> counts;
        for (const bool impersonating : {false, true}) {
            const winsim::ScopedThreadToken token(impersonating);
            m_impersonating = impersonating;
            const std::string thread = impersonating ? " (impersonating)" : "";
            for (const Operation& op : Operations()) {
                // Only the live operations change the thread's identity.
                if (impersonating && !op.live) continue;
                SweepOperation(op, thread, findings, counts);
            }
        }
        for (const std::string& line : counts) std::printf("[ sweep    ] %s\n", line.c_str());
        if (findings.size() > 60) findings.resize(60);
        EXPECT_THAT(findings, ::testing::IsEmpty());
    }

    // Shapes the loaded machine before the sweep (the Windows version, the bitness).
    virtual void ShapeMachine() {}

private:
    void SweepOperation(const Operation& op, const std::string& thread,
                        std::vector<std::string>& findings, std::vector<std::string>& counts) {
        const std::string name = std::string(op.name) + thread;
        // The first run fills the module's process-wide caches of system information, so every
        // later run makes the same calls.
        std::vector<std::string> wrong;
        Run(op, {}, wrong);
        const Outcome clean = Run(op, {}, wrong);
        for (const std::string& line : wrong) findings.push_back(name + ": " + line);
        if (clean.result != op.answers.front() || clean.Errors() != 0)
            findings.push_back(name + ": clean run answered " + std::to_string(clean.result) +
                               " with " + std::to_string(clean.Errors()) + " level-300 records");
        counts.push_back(name + ": " + std::to_string(clean.platformCalls) + " platform calls, " +
                         std::to_string(clean.hostAllocations) + " host allocations, " +
                         std::to_string(clean.traceRecords) + " trace records, " +
                         std::to_string(clean.traceGrowths) + " growths");

        std::set<std::uint32_t> codes;
        const std::pair<Failing, std::uint64_t> points[] = {
            {Failing::kPlatformCall, clean.platformCalls},
            {Failing::kHostAllocation, clean.hostAllocations},
            {Failing::kTraceRecord, clean.traceRecords},
            {Failing::kTraceGrowth, clean.traceGrowths},
        };
        for (const auto& [failing, count] : points) {
            for (const bool andLater : {false, true}) {
                for (std::uint64_t k = 1; k <= count; ++k) {
                    const Failure failure{failing, k, andLater};
                    wrong.clear();
                    const Outcome run = Run(op, failure, wrong);
                    if (const std::string judged = Judge(op, failure, clean, run); !judged.empty())
                        wrong.push_back(judged);
                    if (failing == Failing::kPlatformCall && run.failedCalls.empty())
                        wrong.push_back("nothing failed");
                    std::string where = name + ", " + NameOf(failing) + " " + std::to_string(k) +
                                        (andLater ? " and later" : " alone");
                    if (!run.failedCalls.empty()) where += " (" + run.failedCalls.front() + ")";
                    for (const std::string& line : wrong) findings.push_back(where + ": " + line);
                    if (run.result < 0) codes.insert(static_cast<std::uint32_t>(run.result));
                }
            }
        }
        std::string seen;
        for (const std::uint32_t code : codes) {
            char text[16];
            std::snprintf(text, sizeof text, " 0x%08x", code);
            seen += text;
        }
        counts.back() += "; failures:" + (seen.empty() ? std::string(" none") : seen);
    }

    winsim::ScopedMachine machine;
    bool m_impersonating = false;
};

}  // namespace sweep
}  // namespace qorvex::test
