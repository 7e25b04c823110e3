// event-decode-seeds: writes the seed corpus of event_decode_fuzz: every distinct event of the
// logs given (files, or folders of *.log files; missing ones are skipped, so a clone without the
// shared samples still gets a corpus; events of more than 4 KiB are left out) and a few built
// events of kinds no real log here holds (SP800-155 and NV index records, SPDM records, Linux
// tags, network device paths). Each seed is the event's type and PCR (4 bytes each,
// little-endian) and its data.
//
//   event-decode-seeds --out DIR [LOG_OR_FOLDER ...]
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "decode/event_types.h"
#include "tcglog/tcg_log_builder.h"

namespace {

namespace tb = antimalware::trusted_boot;
namespace d = qorvex::decode;
using qorvex::tools::Bytes;
using qorvex::tools::ByteWriter;

constexpr std::size_t kMaxSeedData = 4096 - 8;

class Seeds final : public tb::TcgLogSink, public tb::TcgLogEventVisitor {
public:
    explicit Seeds(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    void Add(std::uint32_t type, std::uint32_t pcr, std::span<const std::uint8_t> data) {
        // Large events (a dbx of hundreds of hashes, Windows' SIPA trees) repeat what small
        // ones cover and would make every mutation slow: libFuzzer's input size follows the
        // largest seed.
        if (data.size() > kMaxSeedData) return;
        const Bytes seed = ByteWriter().U32(type).U32(pcr).Append(data).Take();
        const std::string key(seed.begin(), seed.end());
        if (!m_seen.insert(key).second) return;
        char name[32];
        std::snprintf(name, sizeof name, "event-%05zu", m_seen.size());
        std::ofstream out(m_folder / name, std::ios::binary);
        out.write(key.data(), static_cast<std::streamsize>(key.size()));
        if (!out) m_failed = true;
    }

    void OnModulePath(const std::uint8_t*, std::size_t) override {}
    void OnCompactHash(std::uint32_t, const std::uint8_t*) override {}
    void OnLayout(tb::TcgLogLayout, std::span<const tb::TcgDigestAlgorithm>) override {}
    void OnEvent(const tb::TcgEventView& event) override {
        Add(event.eventType, event.pcrIndex, event.data);
    }
    void OnSipaEvent(std::uint64_t, std::uint32_t, std::span<const std::uint8_t>) override {}

    bool failed() const { return m_failed; }

private:
    std::filesystem::path m_folder;
    std::set<std::string> m_seen;
    bool m_failed = false;
};

void ReadLog(Seeds& seeds, const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    Bytes log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // A Spec ID header outside PCR 0 (Intel TDX logs) is read as one in PCR 0.
    if (log.size() > 4) log[0] = log[1] = log[2] = log[3] = 0;
    tb::ParseTcgLog(log, seeds, &seeds);
}

Bytes Signature(std::string_view text) {
    Bytes signature(16, 0);
    std::copy(text.begin(), text.end(), signature.begin());
    return signature;
}

void AddBuiltEvents(Seeds& seeds) {
    const Bytes guid(16, 0x5A);
    seeds.Add(d::kEvNoAction, 0,
              ByteWriter()
                  .Append(Signature("SP800-155 Event3"))
                  .U32(0x157)
                  .Append(guid)
                  .U8(4)
                  .Ascii("Acme")
                  .U8(2)
                  .Ascii("X1")
                  .U8(1)
                  .Ascii("3")
                  .U8(3)
                  .Ascii("EDK")
                  .U32(0x157)
                  .U8(3)
                  .Ascii("0.7")
                  .U32(1)
                  .U32(9)
                  .Ascii("https://r")
                  .U32(3)
                  .U32(20)
                  .Append(guid)
                  .U16(0x41)
                  .U16(0)
                  .Take());
    Bytes sp800Event3 = Signature("SP800-155 Event");
    sp800Event3[15] = '3';
    seeds.Add(d::kEvNoAction, 0,
              ByteWriter()
                  .Append(sp800Event3)
                  .U32(1)
                  .Append(guid)
                  .Fill(4, 0)
                  .U32(0)
                  .U8(0)
                  .U32(2)
                  .U32(4)
                  .Append(Bytes{0x7F, 0xFF, 0x04, 0x00})
                  .U32(0)
                  .U32(0)
                  .Take());
    seeds.Add(d::kEvNoAction, 0,
              ByteWriter()
                  .Append(Signature("NvIndexDynamic "))
                  .U16(1)
                  .Fill(6, 0)
                  .U64(7)
                  .U16(15)
                  .Ascii("SPDM CHALLENGE")
                  .U8(0)
                  .U16(2)
                  .U16(0xBEEF)
                  .Take());
    seeds.Add(d::kEvNoAction, 0,
              ByteWriter()
                  .Append(Signature("NvIndexInstance"))
                  .U16(1)
                  .Fill(6, 0)
                  .Append(Signature("SPDM Device Sec2"))
                  .U16(2)
                  .U8(0)
                  .U8(0)
                  .U32(0)
                  .U32(1)
                  .U32(0)
                  .U32(8)
                  .U64(1)
                  .U64(10)
                  .Append(Bytes{0x03, 0x05, 0x06, 0x00, 0x01, 0x00, 0x7F, 0xFF, 0x04, 0x00})
                  .Fill(8, 1)
                  .Take());
    seeds.Add(d::kEvEfiSpdmFirmwareBlob, 2,
              ByteWriter()
                  .Append(Signature("SPDM Device Sec"))
                  .U16(1)
                  .U16(4)
                  .U32(2)
                  .U32(1)
                  .Fill(4, 9)
                  .Take());
    seeds.Add(d::kEvEventTag, 9, ByteWriter().U32(0x8F3B22EC).U32(12).Ascii("Linux initrd").Take());
    seeds.Add(d::kEvEventTag, 9,
              ByteWriter().U32(0x8F3B22ED).U32(10).Utf16(u"ro quiet", true).Take());
    // A boot option over the network: MAC, IPv4, IPv6, URI, DNS.
    const Bytes network = ByteWriter()
                              .Append(Bytes{0x03, 0x0B, 0x25, 0x00})
                              .Fill(32, 0x11)
                              .U8(1)
                              .Append(Bytes{0x03, 0x0C, 0x1B, 0x00})
                              .Fill(19, 1)
                              .Fill(4, 2)
                              .Fill(4, 3)
                              .Append(Bytes{0x03, 0x0D, 0x3C, 0x00})
                              .Fill(39, 4)
                              .U8(64)
                              .Fill(16, 5)
                              .Append(Bytes{0x03, 0x18, 0x08, 0x00})
                              .Ascii("http")
                              .Append(Bytes{0x03, 0x1F, 0x15, 0x00})
                              .U8(0)
                              .Fill(16, 8)
                              .Append(Bytes{0x7F, 0xFF, 0x04, 0x00})
                              .Take();
    const Bytes option = ByteWriter()
                             .U32(1)
                             .U16(static_cast<std::uint16_t>(network.size()))
                             .Utf16(u"Network", true)
                             .Append(network)
                             .Take();
    seeds.Add(d::kEvEfiVariableBoot, 1,
              ByteWriter()
                  .Append(Bytes{0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11, 0xaa, 0x0d, 0x00,
                                0xe0, 0x98, 0x03, 0x2b, 0x8c})
                  .U64(8)
                  .U64(option.size())
                  .Utf16(u"Boot0003", false)
                  .Append(option)
                  .Take());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::string(argv[1]) != "--out") {
        std::fprintf(stderr, "usage: event-decode-seeds --out DIR [LOG_OR_FOLDER ...]\n");
        return 2;
    }
    const std::filesystem::path out = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    Seeds seeds(out);
    for (int i = 3; i < argc; ++i) {
        const std::filesystem::path source = argv[i];
        if (std::filesystem::is_directory(source, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(source, ec)) {
                if (entry.path().extension() == ".log") ReadLog(seeds, entry.path());
            }
        } else if (std::filesystem::is_regular_file(source, ec)) {
            ReadLog(seeds, source);
        }
    }
    AddBuiltEvents(seeds);
    if (seeds.failed()) {
        std::fprintf(stderr, "event-decode-seeds: cannot write into %s\n", out.string().c_str());
        return 1;
    }
    return 0;
}
