// GetRawTcgLog end to end on the simulated machine: a boot with 64 resumes, each archived log
// 64 KiB of the shape of a Windows boot, read and parsed into one result object. Beside it, the
// plain reads of the same 64 files through the same simulated file calls (open, size, read into a
// fresh buffer, close), measured in the same run. The journal is off.
//
// BM_GetRawTcgLog reports:
//   per_plain_read  the CPU time of one GetRawTcgLog divided by the CPU time of one pass of
//                   plain reads over the 64 files, both measured in that benchmark; meant to
//                   stay at or below 4;
//   peak_heap       the most process-heap bytes in use during the call beyond what was in use
//                   before it (the simulated heap's counters);
//   heap_budget     the largest single log + the result's heap bytes + 64 KiB;
//   within_budget   1 when peak_heap <= heap_budget.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/log_history.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_provider_factory.h"
#include "qorvex/tcg_log.h"
#include "services/host_services.h"
#include "tcglog/tcg_log_builder.h"
#include "win/win.h"
#include "winsim/sim.h"

namespace {

using qorvex::tools::LogLayout;

constexpr std::uint32_t kBoot = 17;
constexpr std::uint32_t kResumes = 64;
constexpr std::size_t kLogSize = 64 * 1024;

std::u16string LogPath(std::uint32_t resume) {
    char name[80];
    std::snprintf(name, sizeof name, "C:\\Windows\\Logs\\MeasuredBoot\\%010u-%010u.log", kBoot,
                  resume);
    return winsim::Utf16FromUtf8(name);
}

// A fresh machine with boot 17, resumes 0 to 63, each log kLogSize bytes.
void PrepareMachine(LogLayout layout) {
    winsim::Reset();
    winsim::EnableJournal(false);
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\services\\TPM", u"OsBootCount", kBoot);
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\Control\\IntegrityServices",
                             u"OsResumeCount", kResumes - 1);
    const std::vector<std::uint8_t> log = qorvex::tools::BuildLargeBootLog(kLogSize, layout);
    for (std::uint32_t resume = 0; resume < kResumes; ++resume)
        winsim::PutFile(LogPath(resume), log);
}

// One plain pass over the logs: what any reader of these files has to do at least.
std::uint64_t ReadAllPlainly(const std::vector<std::u16string>& paths) {
    std::uint64_t total = 0;
    for (const std::u16string& path : paths) {
        win::HANDLE file =
            win::CreateFileW(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                             win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == win::INVALID_HANDLE_VALUE) return 0;
        const win::DWORD size = win::GetFileSize(file, nullptr);
        std::vector<std::uint8_t> buffer(size);
        win::DWORD read = 0;
        win::ReadFile(file, buffer.data(), size, &read, nullptr);
        win::CloseHandle(file);
        benchmark::DoNotOptimize(buffer.data());
        total += read;
    }
    return total;
}

std::vector<std::u16string> AllPaths() {
    std::vector<std::u16string> paths;
    for (std::uint32_t resume = 0; resume < kResumes; ++resume) paths.push_back(LogPath(resume));
    return paths;
}

// The calling thread's CPU time: the figures compare work done, and the machine that runs the
// benchmark may be busy with other things.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double PlainPassSeconds(const std::vector<std::u16string>& paths) {
    constexpr int kPasses = 50;
    const double start = ThreadSeconds();
    for (int i = 0; i < kPasses; ++i) benchmark::DoNotOptimize(ReadAllPlainly(paths));
    return (ThreadSeconds() - start) / kPasses;
}

void BM_PlainRead(benchmark::State& state) {
    PrepareMachine(static_cast<LogLayout>(state.range(0)));
    const std::vector<std::u16string> paths = AllPaths();
    for (auto _ : state) {
        if (ReadAllPlainly(paths) != kResumes * kLogSize) state.SkipWithError("read failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kResumes * kLogSize);
    winsim::Reset();
}
BENCHMARK(BM_PlainRead)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile))
    ->ArgName("agile")
    ->Unit(benchmark::kMicrosecond);

// The reading half of GetRawTcgLog alone: every resume's log through LogHistory::GetLog (known
// folder, file name, size query, buffer, read), without parsing.
void BM_ReadLogs(benchmark::State& state) {
    PrepareMachine(static_cast<LogLayout>(state.range(0)));
    const antimalware::trusted_boot::LogHistory history(kBoot, kResumes - 1);
    std::int64_t passes = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        for (std::uint32_t resume = 0; resume < kResumes; ++resume) {
            zef::vector<std::uint8_t> log = history.GetLog(resume);
            benchmark::DoNotOptimize(log.data());
        }
        seconds += (ThreadSeconds() - start);
        ++passes;
    }
    const double plainSeconds = PlainPassSeconds(AllPaths());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kResumes * kLogSize);
    state.counters["per_plain_read"] = passes != 0 ? (seconds / passes) / plainSeconds : 0;
    winsim::Reset();
}
BENCHMARK(BM_ReadLogs)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->ArgName("agile")
    ->Unit(benchmark::kMicrosecond);

void BM_GetRawTcgLog(benchmark::State& state) {
    PrepareMachine(static_cast<LogLayout>(state.range(0)));
    qorvex::host::HostServicesBundle host;
    host.tracer.RefuseRecords(true);  // a host that does not want progress records
    qorvex::ITcgLogProvider* provider = nullptr;
    if (antimalware::trusted_boot::CreateTcgLogProvider(&host.locator, qorvex::kIidTcgLogProvider,
                                                        reinterpret_cast<void**>(&provider)) != 0) {
        state.SkipWithError("cannot create the provider");
        return;
    }

    std::uint64_t peakExtra = 0;
    std::uint64_t resultBytes = 0;
    std::int64_t calls = 0;
    double callSeconds = 0;
    for (auto _ : state) {
        const winsim::HeapStats before = winsim::GetHeapStats();
        winsim::ResetHeapPeak();
        const double start = ThreadSeconds();
        qorvex::IRawTcgLog* log = nullptr;
        const zef::ResultCode code = provider->GetRawTcgLog(&log);
        callSeconds += (ThreadSeconds() - start);
        ++calls;
        if (code != 0) {
            state.SkipWithError("GetRawTcgLog failed");
            break;
        }
        const winsim::HeapStats after = winsim::GetHeapStats();
        peakExtra = std::max(peakExtra, after.peakBytesInUse - before.bytesInUse);
        resultBytes = std::max(resultBytes, after.bytesInUse - before.bytesInUse);
        log->Release();
    }
    provider->Release();

    const double plainSeconds = PlainPassSeconds(AllPaths());
    const std::uint64_t budget = kLogSize + resultBytes + 64 * 1024;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kResumes * kLogSize);
    state.counters["per_plain_read"] = calls != 0 ? (callSeconds / calls) / plainSeconds : 0;
    state.counters["peak_heap"] = static_cast<double>(peakExtra);
    state.counters["heap_budget"] = static_cast<double>(budget);
    state.counters["within_budget"] = peakExtra <= budget ? 1 : 0;
    winsim::Reset();
}
BENCHMARK(BM_GetRawTcgLog)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile))
    ->ArgName("agile")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
