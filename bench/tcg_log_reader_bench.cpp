// The analyst's log views of qorvex-host on a large built boot log: the report with its PCR
// replay (the log walk plus one hash per bank and event) and the JSON and text event listings,
// in bytes of log per second, with the bytes of output each writes per byte of log.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <streambuf>
#include <vector>

#include "cli/output.h"
#include "cli/tcg_log_reader.h"
#include "cli/tcg_log_writers.h"
#include "tcglog/tcg_log_builder.h"

namespace {

using qorvex::tools::LogLayout;

constexpr std::size_t kLogSize = 4 * 1024 * 1024;

const std::vector<std::uint8_t>& LargeLog(LogLayout layout) {
    static const std::vector<std::uint8_t> sha1 =
        qorvex::tools::BuildLargeBootLog(kLogSize, LogLayout::Sha1);
    static const std::vector<std::uint8_t> agile =
        qorvex::tools::BuildLargeBootLog(kLogSize, LogLayout::CryptoAgile);
    return layout == LogLayout::Sha1 ? sha1 : agile;
}

const char* Label(LogLayout layout) {
    return layout == LogLayout::Sha1 ? "sha1 layout" : "crypto-agile layout (sha1 + sha256)";
}

// Counts what is written and keeps nothing.
class CountingBuffer final : public std::streambuf {
public:
    std::uint64_t written = 0;

protected:
    int_type overflow(int_type c) override {
        ++written;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        written += static_cast<std::uint64_t>(n);
        return n;
    }
};

void BM_ReplayPcrs(benchmark::State& state) {
    const auto layout = static_cast<LogLayout>(state.range(0));
    const std::vector<std::uint8_t>& log = LargeLog(layout);
    for (auto _ : state)
        benchmark::DoNotOptimize(qorvex::host::ReadTcgLogReport("large.log", log, true));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
    state.SetLabel(Label(layout));
}
BENCHMARK(BM_ReplayPcrs)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile))
    ->Unit(benchmark::kMillisecond);

// The listing of a report read once; json chooses the form.
void ListEvents(benchmark::State& state, bool json) {
    const auto layout = static_cast<LogLayout>(state.range(0));
    const qorvex::host::TcgLogReport report =
        qorvex::host::ReadTcgLogReport("large.log", LargeLog(layout), false);
    CountingBuffer buffer;
    std::ostream stream(&buffer);
    for (auto _ : state) {
        qorvex::host::Output out(stream);
        if (json) {
            qorvex::host::WriteEventsJson(out, report);
        } else {
            qorvex::host::WriteEventsText(out, report);
        }
        out.Flush();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(report.size));
    state.counters["output_per_log_byte"] = static_cast<double>(buffer.written) /
                                            static_cast<double>(state.iterations()) /
                                            static_cast<double>(report.size);
    state.SetLabel(Label(layout));
}

void BM_ListEventsJson(benchmark::State& state) {
    ListEvents(state, true);
}
BENCHMARK(BM_ListEventsJson)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile))
    ->Unit(benchmark::kMillisecond);

void BM_ListEventsText(benchmark::State& state) {
    ListEvents(state, false);
}
BENCHMARK(BM_ListEventsText)
    ->Arg(static_cast<int>(LogLayout::Sha1))
    ->Arg(static_cast<int>(LogLayout::CryptoAgile))
    ->Unit(benchmark::kMillisecond);

}  // namespace
