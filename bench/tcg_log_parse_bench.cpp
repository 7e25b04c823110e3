// Parse throughput of the measured-boot log reader on a realistic 1 MiB log (the shape of a
// Windows boot: firmware events, then trust boundaries full of loaded-module aggregations and
// compact hashes), beside a memcpy of the same bytes measured in the same run.
//
// BM_ParseLog reports the parser's bytes per second and the counter parse_per_memcpy: the CPU
// time of one parse divided by that of one memcpy of the log, both measured in that benchmark.
// The reader is meant to stay within 5 memcpys. BM_AddLog shows the whole object (the buffer
// handed over, every path copied into a string).
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/raw_tcg_log_impl.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "services/host_services.h"
#include "tcglog/tcg_log_builder.h"

namespace {

using antimalware::trusted_boot::ParseTcgLog;
using antimalware::trusted_boot::TcgLogSink;
using qorvex::tools::LogLayout;

constexpr std::size_t kLogSize = std::size_t{1} << 20;

const std::vector<std::uint8_t>& LargeLog(LogLayout layout) {
    static const std::vector<std::uint8_t> sha1 =
        qorvex::tools::BuildLargeBootLog(kLogSize, LogLayout::Sha1);
    static const std::vector<std::uint8_t> agile =
        qorvex::tools::BuildLargeBootLog(kLogSize, LogLayout::CryptoAgile);
    return layout == LogLayout::Sha1 ? sha1 : agile;
}

// Looks at what it is given, as a real sink must, without keeping anything.
class CountingSink final : public TcgLogSink {
public:
    void OnModulePath(const std::uint8_t* text, std::size_t units) override {
        ++paths;
        this->units += units;
        benchmark::DoNotOptimize(text);
    }
    void OnCompactHash(std::uint32_t pcrIndex, const std::uint8_t* digest) override {
        lastDigest[pcrIndex == 4 ? 0 : 1] = digest;
    }
    std::uint64_t paths = 0;
    std::uint64_t units = 0;
    const std::uint8_t* lastDigest[2] = {};
};

// CPU time of this thread: the ratio stays meaningful on a loaded machine.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Seconds per memcpy of the log into a separate buffer, averaged over enough copies to be
// stable.
double MemcpySeconds(const std::vector<std::uint8_t>& log) {
    std::vector<std::uint8_t> copy(log.size());
    constexpr int kCopies = 400;
    const double start = ThreadSeconds();
    for (int i = 0; i < kCopies; ++i) {
        std::memcpy(copy.data(), log.data(), log.size());
        benchmark::ClobberMemory();
    }
    return (ThreadSeconds() - start) / kCopies;
}

void BM_ParseLog(benchmark::State& state) {
    const auto layout = static_cast<LogLayout>(state.range(0));
    const std::vector<std::uint8_t>& log = LargeLog(layout);
    CountingSink sink;
    std::int64_t parses = 0;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseTcgLog(std::span(log.data(), log.size()), sink));
        ++parses;
    }
    const double parseSeconds = (ThreadSeconds() - start) / static_cast<double>(parses);
    state.SetBytesProcessed(parses * static_cast<std::int64_t>(log.size()));
    state.counters["paths"] = static_cast<double>(sink.paths / static_cast<std::uint64_t>(parses));
    state.counters["parse_per_memcpy"] = parseSeconds / MemcpySeconds(log);
    state.SetLabel(layout == LogLayout::Sha1 ? "sha1 layout" : "crypto-agile layout");
}
BENCHMARK(BM_ParseLog)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile));

void BM_Memcpy(benchmark::State& state) {
    const std::vector<std::uint8_t>& log = LargeLog(LogLayout::Sha1);
    std::vector<std::uint8_t> copy(log.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), log.data(), log.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
}
BENCHMARK(BM_Memcpy);

void BM_AddLog(benchmark::State& state) {
    const auto layout = static_cast<LogLayout>(state.range(0));
    const std::vector<std::uint8_t>& log = LargeLog(layout);
    qorvex::host::HostServicesBundle host;
    for (auto _ : state) {
        auto object = antimalware::trusted_boot::RawTcgLogImpl::Create(&host.locator);
        zef::vector<std::uint8_t> buffer;
        buffer.resize(log.size());
        std::memcpy(buffer.data(), log.data(), log.size());
        object->AddLog(std::move(buffer));
        benchmark::DoNotOptimize(object.get());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
    state.SetLabel(layout == LogLayout::Sha1 ? "sha1 layout" : "crypto-agile layout");
}
BENCHMARK(BM_AddLog)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile));

}  // namespace
