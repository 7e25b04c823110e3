// libFuzzer target for the measured-boot log reader. The input is one log; its first event
// decides the layout, so one target covers both. Besides the sanitizers' checks (reads outside
// the input, leaks, undefined behaviour) it traps when the reader reports bytes outside the
// input or a PCR other than 4 and 8, and it copies every path the way the result object does.
// A second walk with an event visitor (the analyst's log views) must report the same and show
// only bytes of the input, each event once and in order. A third, with the views' options (a
// header in any PCR, trailing padding), must show only bytes of the input too; and the views
// themselves read the input as a report and write it in every form, with counts that agree; the
// checks (event digests, the health report) read it too.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/output.h"
#include "cli/tcg_log_cel.h"
#include "cli/tcg_log_diff.h"
#include "cli/tcg_log_document.h"
#include "cli/tcg_log_health.h"
#include "cli/tcg_log_reader.h"
#include "cli/tcg_log_verify.h"
#include "cli/tcg_log_writers.h"
#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"

namespace {

using antimalware::trusted_boot::ParseTcgLog;
using antimalware::trusted_boot::ReadUtf16Le;
using antimalware::trusted_boot::TcgDigestAlgorithm;
using antimalware::trusted_boot::TcgEventView;
using antimalware::trusted_boot::TcgLogEnd;
using antimalware::trusted_boot::TcgLogEventVisitor;
using antimalware::trusted_boot::TcgLogLayout;
using antimalware::trusted_boot::TcgLogSink;

class CheckingSink final : public TcgLogSink {
public:
    CheckingSink(const std::uint8_t* data, std::size_t size) : m_begin(data), m_size(size) {}

    void OnModulePath(const std::uint8_t* text, std::size_t units) override {
        if (!Inside(text, units * 2)) __builtin_trap();
        m_path.resize(units);
        ReadUtf16Le(text, units, m_path.data());
        ++paths;
    }
    void OnCompactHash(std::uint32_t pcrIndex, const std::uint8_t* digest) override {
        if (pcrIndex != 4 && pcrIndex != 8) __builtin_trap();
        if (!Inside(digest, 20)) __builtin_trap();
        std::uint8_t copy[20];
        __builtin_memcpy(copy, digest, sizeof(copy));
        checksum += copy[0] + copy[19];
    }

    std::size_t paths = 0;
    unsigned checksum = 0;

private:
    bool Inside(const std::uint8_t* p, std::size_t size) const {
        const auto begin = reinterpret_cast<std::uintptr_t>(m_begin);
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        return at >= begin && at - begin <= m_size && size <= m_size - (at - begin);
    }

    const std::uint8_t* m_begin;
    std::size_t m_size;
    std::vector<char16_t> m_path;
};

class CheckingVisitor final : public TcgLogEventVisitor {
public:
    CheckingVisitor(const std::uint8_t* data, std::size_t size) : m_begin(data), m_size(size) {}

    void OnLayout(TcgLogLayout, std::span<const TcgDigestAlgorithm> algorithms) override {
        if (++layouts != 1 || events != 0 || algorithms.empty()) __builtin_trap();
    }
    void OnEvent(const TcgEventView& event) override {
        if (layouts != 1 || event.index != events) __builtin_trap();
        ++events;
        Check(event.data.data(), event.data.size());
        for (const auto& digest : event.digests) Check(digest.value.data(), digest.value.size());
    }
    void OnSipaEvent(std::uint64_t offset, std::uint32_t,
                     std::span<const std::uint8_t> bytes) override {
        if (events == 0 || offset + 8 > m_size) __builtin_trap();
        Check(bytes.data(), bytes.size());
    }

    int layouts = 0;
    std::uint64_t events = 0;

private:
    void Check(const std::uint8_t* p, std::size_t size) const {
        if (size == 0) return;
        const auto begin = reinterpret_cast<std::uintptr_t>(m_begin);
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        if (at < begin || at - begin > m_size || size > m_size - (at - begin)) __builtin_trap();
        volatile std::uint8_t touch = p[0] ^ p[size - 1];
        static_cast<void>(touch);
    }

    const std::uint8_t* m_begin;
    std::size_t m_size;
};

// Keeps nothing of what the writers write.
class DiscardingBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The log against itself shows no difference; against a copy with one byte flipped, every
// difference found is one the writers can show.
void CheckDiff(qorvex::host::Output& out, const std::uint8_t* data, std::size_t size) {
    using qorvex::host::ReadTcgLogReport;
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto same = qorvex::host::DiffTcgLogs(ReadTcgLogReport("a.log", bytes, true),
                                                ReadTcgLogReport("b.log", bytes, true));
    for (const auto& pcr : same.pcrs) {
        if (pcr.EventsDiffer() || !pcr.differing.empty()) __builtin_trap();
    }
    if (size == 0) return;
    std::vector<std::uint8_t> altered = bytes;
    altered[size / 2] ^= 0x5A;
    qorvex::host::TcgLogReport other = ReadTcgLogReport("b.log", std::move(altered), true);
    if (!other.IsLog()) return;
    const auto diff =
        qorvex::host::DiffTcgLogs(ReadTcgLogReport("a.log", bytes, true), std::move(other));
    qorvex::host::WriteDiffText(out, diff);
    qorvex::host::WriteDiffJson(out, diff);
}

// The analyst's views of the input: the report's counts agree with one another and with the
// walk, and every writer writes it.
void CheckViews(const std::uint8_t* data, std::size_t size) {
    const qorvex::host::TcgLogReport report = qorvex::host::ReadTcgLogReport(
        "fuzz.log", std::vector<std::uint8_t>(data, data + size), true);
    if (report.IsLog() && size != 0) {
        if (report.eventsReplayed > report.events || report.events > report.eventsReplayed + 1)
            __builtin_trap();
        const auto& walk = report.walk;
        if (walk.end == TcgLogEnd::Complete && walk.stopOffset + walk.paddingSize != size)
            __builtin_trap();
        if (walk.end != TcgLogEnd::Complete && walk.stopOffset >= size) __builtin_trap();
        if (qorvex::host::EndReason(report).empty() != (walk.end == TcgLogEnd::Complete))
            __builtin_trap();
    }
    DiscardingBuffer discarding;
    std::ostream stream(&discarding);
    qorvex::host::Output out(stream);
    qorvex::host::WriteEventsJson(out, report);
    qorvex::host::WriteEventsText(out, report);
    qorvex::host::WritePcrsJson(out, report);
    qorvex::host::WritePcrsText(out, report);
    if (report.IsLog()) {
        qorvex::host::WriteCelJson(out, report);
        qorvex::host::TcgLogArguments all;
        all.pcrs = all.events = all.cel = all.jsonl = true;
        qorvex::host::WriteLogDocument(out, report, qorvex::host::DocumentMembers(all));
        CheckDiff(out, data, size);
    }
    out.Flush();
    if (!report.IsLog()) return;
    // The checks: digest verification counts every event once, and the health report (SIPA
    // records, Secure Boot variables and their certificates) renders in both forms.
    const qorvex::host::LogDigestSummary digests = qorvex::host::VerifyEventDigests(report.bytes);
    if (digests.verified + digests.mismatched + digests.notCheckable != report.events)
        __builtin_trap();
    if (digests.mismatches.size() < digests.mismatched) __builtin_trap();
    const qorvex::decode::Node health = qorvex::host::DescribeHealth(report);
    std::string rendered;
    qorvex::decode::AppendJson(rendered, health);
    qorvex::decode::AppendText(rendered, health);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckingSink sink(data, size);
    const auto result = ParseTcgLog(std::span<const std::uint8_t>(data, size), sink);
    // Every path costs at least 10 bytes of log (a SIPA header and its zero unit).
    if (sink.paths > size / 10) __builtin_trap();
    if (result.end == TcgLogEnd::Complete && size != 0 && result.eventCount == 0) __builtin_trap();

    CheckingSink visitedSink(data, size);
    CheckingVisitor visitor(data, size);
    const auto visited =
        ParseTcgLog(std::span<const std::uint8_t>(data, size), visitedSink, &visitor);
    if (visited.end != result.end || visited.layout != result.layout ||
        visited.eventCount != result.eventCount || visitedSink.paths != sink.paths ||
        visitedSink.checksum != sink.checksum) {
        __builtin_trap();
    }
    // Every event counted is shown, but for a crypto-agile header the reader refuses.
    if (visitor.events != visited.eventCount && visitor.layouts != 0) __builtin_trap();

    CheckingSink optionsSink(data, size);
    CheckingVisitor optionsVisitor(data, size);
    const auto withOptions = ParseTcgLog(std::span<const std::uint8_t>(data, size), optionsSink,
                                         &optionsVisitor, qorvex::host::ReaderOptions());
    if (withOptions.paddingSize > size) __builtin_trap();
    CheckViews(data, size);
    return 0;
}
