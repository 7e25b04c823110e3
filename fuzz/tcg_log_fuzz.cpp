// libFuzzer target for the measured-boot log reader. The input is one log; its first event
// decides the layout, so one target covers both. Besides the sanitizers' checks (reads outside
// the input, leaks, undefined behaviour) it traps when the reader reports bytes outside the
// input or a PCR other than 4 and 8, and it copies every path the way the result object does.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"

namespace {

using antimalware::trusted_boot::ParseTcgLog;
using antimalware::trusted_boot::ReadUtf16Le;
using antimalware::trusted_boot::TcgLogEnd;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckingSink sink(data, size);
    const auto result = ParseTcgLog(std::span<const std::uint8_t>(data, size), sink);
    // Every path costs at least 10 bytes of log (a SIPA header and its zero unit).
    if (sink.paths > size / 10) __builtin_trap();
    if (result.end == TcgLogEnd::Complete && size != 0 && result.eventCount == 0) __builtin_trap();
    return 0;
}
