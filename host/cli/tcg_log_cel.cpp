#include "cli/tcg_log_cel.h"

#include <string_view>

#include "cli/tcg_log_writers.h"

namespace qorvex::host {

void AppendBase64(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t triple = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                     static_cast<std::uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
        out += kAlphabet[triple >> 18];
        out += kAlphabet[(triple >> 12) & 0x3F];
        out += kAlphabet[(triple >> 6) & 0x3F];
        out += kAlphabet[triple & 0x3F];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0) return;
    const std::uint32_t triple = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                 (rest == 2 ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0);
    out += kAlphabet[triple >> 18];
    out += kAlphabet[(triple >> 12) & 0x3F];
    out += rest == 2 ? kAlphabet[(triple >> 6) & 0x3F] : '=';
    out += '=';
}

void WriteCelJson(Output& out, const TcgLogReport& report) {
    out << '[';
    bool first = true;
    std::string scratch;
    std::uint64_t recnum = 0;
    const TcgLogParseResult listed = ForEachEvent(report.bytes, [&](const EventRecord& event) {
        const TcgEventView& view = event.view;
        if (!view.complete) return;
        out << (first ? "{\"recnum\": " : ", {\"recnum\": ") << recnum++
            << ", \"pcr\": " << view.pcrIndex << ", \"digests\": [";
        first = false;
        for (std::size_t i = 0; i < event.digests.size(); ++i) {
            out << (i != 0 ? ", {\"hashAlg\": \"" : "{\"hashAlg\": \"")
                << DigestName(event.digests[i].algorithm) << "\", \"digest\": \""
                << HexBytes{event.digests[i].value} << "\"}";
        }
        scratch.clear();
        AppendBase64(scratch, view.data);
        out << "], \"content_type\": \"pcclient_std\", \"content\": {\"event_type\": "
            << view.eventType << ", \"event_data\": \"" << scratch << "\"}}";
    });
    out << ']';
    const TcgLogParseResult& read = report.walk;
    if (listed.end != read.end || listed.eventCount != read.eventCount ||
        listed.stopOffset != read.stopOffset) {
        throw LogChangedError("the log file " + LogFileDisplayName(report.file) +
                              " changed while it was read: its records do not match its report");
    }
}

}  // namespace qorvex::host
