// The analyst's event decoders on the firmware events of real logs: every event of the shared
// samples (their Windows SIPA events as bytes, which the SIPA reader will describe) described and
// rendered as JSON or as text, beside the log walk alone that hands the events out; in bytes of
// event data per second. Without ../shared/samples the benchmarks report an error and skip.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "decode/event_description.h"

namespace {

namespace tb = antimalware::trusted_boot;
namespace d = qorvex::decode;

struct Event {
    std::uint32_t pcr;
    std::uint32_t type;
    std::span<const std::uint8_t> data;
};

class Collector final : public tb::TcgLogSink, public tb::TcgLogEventVisitor {
public:
    void OnModulePath(const std::uint8_t*, std::size_t) override {}
    void OnCompactHash(std::uint32_t, const std::uint8_t*) override {}
    void OnLayout(tb::TcgLogLayout, std::span<const tb::TcgDigestAlgorithm>) override {}
    void OnEvent(const tb::TcgEventView& event) override {
        if (events != nullptr) events->push_back({event.pcrIndex, event.eventType, event.data});
        bytes += event.data.size();
    }
    void OnSipaEvent(std::uint64_t, std::uint32_t, std::span<const std::uint8_t>) override {}

    std::vector<Event>* events = nullptr;
    std::uint64_t bytes = 0;
};

struct Samples {
    std::vector<std::vector<std::uint8_t>> logs;
    std::vector<Event> events;
    std::uint64_t dataBytes = 0;
};

const Samples& LoadSamples() {
    static const Samples samples = [] {
        Samples s;
        std::error_code ec;
        const auto folder = std::filesystem::path(QORVEX_SHARED_DIR) / "samples";
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (entry.path().extension() != ".log") continue;
            std::ifstream file(entry.path(), std::ios::binary);
            s.logs.emplace_back(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
            // The TDX log's Spec ID header sits in PCR 1, where the module's reader does not
            // look for it.
            if (entry.path().filename() == "linux-tdx-ccel-padded.log") s.logs.back()[0] = 0;
        }
        for (const auto& log : s.logs) {
            Collector collector;
            collector.events = &s.events;
            tb::ParseTcgLog(log, collector, &collector);
        }
        for (const Event& event : s.events) s.dataBytes += event.data.size();
        return s;
    }();
    return samples;
}

bool HaveSamples(benchmark::State& state) {
    if (!LoadSamples().events.empty()) return true;
    state.SkipWithError("no shared samples");
    return false;
}

void BM_WalkSamples(benchmark::State& state) {
    if (!HaveSamples(state)) return;
    const Samples& samples = LoadSamples();
    for (auto _ : state) {
        for (const auto& log : samples.logs) {
            Collector collector;
            benchmark::DoNotOptimize(tb::ParseTcgLog(log, collector, &collector));
            benchmark::DoNotOptimize(collector.bytes);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(samples.dataBytes));
    state.SetLabel(std::to_string(samples.events.size()) + " events, the walk alone");
}
BENCHMARK(BM_WalkSamples)->Unit(benchmark::kMicrosecond);

void BM_DescribeSamples(benchmark::State& state) {
    if (!HaveSamples(state)) return;
    const Samples& samples = LoadSamples();
    const bool json = state.range(0) != 0;
    std::string out;
    for (auto _ : state) {
        out.clear();
        for (const Event& event : samples.events) {
            const d::Node tree = d::DescribeEvent({event.pcr, event.type, event.data});
            if (json) {
                d::AppendJson(out, tree);
            } else {
                d::AppendText(out, tree, 4);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(samples.dataBytes));
    state.SetLabel(std::to_string(samples.events.size()) + " events, " +
                   std::to_string(out.size()) + (json ? " bytes of JSON" : " bytes of text"));
}
BENCHMARK(BM_DescribeSamples)->ArgName("json")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
