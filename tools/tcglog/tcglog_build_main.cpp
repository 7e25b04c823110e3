// tcglog-build: writes measured-boot event logs of the shape Windows archives, for the example
// machine, the benchmarks and the fuzz seed corpus.
//
//   tcglog-build example --layout sha1|agile --resume N [--boot B] --out FILE
//       The log of one boot (boot count B, default 17) and resume index N: a cold boot through
//       winload.efi for N = 0, a resume from hibernation through winresume.efi otherwise.
//       Firmware events in PCRs 0-7, EV_EVENT_TAG events in PCRs 12-14 (trust boundaries with
//       loaded-module aggregations: file path, image size, hash algorithm, authenticode hash,
//       image base), EV_COMPACT_HASH events in PCRs 4, 8 and 11. Module lists and compact-hash
//       data depend on N, so the logs of one boot differ.
//   tcglog-build big --size BYTES --layout sha1|agile --out FILE
//       A log of exactly BYTES bytes with the same shape, its Windows part repeated.
//   tcglog-build seeds --out DIR
//       Small logs covering every shape the reader knows, one file per log, into DIR (created
//       if missing).
//
// --layout sha1 writes the SHA-1 event layout; agile writes the crypto-agile layout with a
// SHA-1 and a SHA-256 bank. Exit status 0 on success, 1 on a write failure, 2 on bad usage.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tcglog/tcg_log_builder.h"

namespace {

using qorvex::tools::Bytes;
using qorvex::tools::LogLayout;

constexpr const char* kUsage =
    "usage: tcglog-build example --layout sha1|agile --resume N [--boot B] --out FILE\n"
    "       tcglog-build big --size BYTES --layout sha1|agile --out FILE\n"
    "       tcglog-build seeds --out DIR\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tcglog-build: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "tcglog-build: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

std::optional<std::uint64_t> ParseNumber(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    if (command != "example" && command != "big" && command != "seeds") {
        return Usage("unknown command " + command);
    }
    std::map<std::string, std::string> options;
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) return Usage("bad option " + name);
        options[name.substr(2)] = argv[i + 1];
    }
    const auto take = [&](const char* name) -> std::optional<std::string> {
        const auto found = options.find(name);
        if (found == options.end()) return std::nullopt;
        std::string value = found->second;
        options.erase(found);
        return value;
    };

    const std::optional<std::string> out = take("out");
    if (!out) return Usage("--out is required");

    std::optional<LogLayout> layout;
    if (const auto text = take("layout")) {
        if (*text == "sha1") {
            layout = LogLayout::Sha1;
        } else if (*text == "agile") {
            layout = LogLayout::CryptoAgile;
        } else {
            return Usage("--layout must be sha1 or agile");
        }
    }

    try {
        if (command == "example") {
            const auto resume = take("resume");
            const auto boot = take("boot");
            if (!layout || !resume) return Usage("example needs --layout and --resume");
            const auto resumeIndex = ParseNumber(*resume);
            const auto bootCount = boot ? ParseNumber(*boot) : std::optional<std::uint64_t>(17);
            if (!resumeIndex || *resumeIndex > 0xFFFFFFFFu || !bootCount ||
                *bootCount > 0xFFFFFFFFu) {
                return Usage("--resume and --boot take numbers below 2^32");
            }
            if (!options.empty()) return Usage("unknown option --" + options.begin()->first);
            const auto description = qorvex::tools::DescribeExampleBoot(
                static_cast<std::uint32_t>(*resumeIndex), static_cast<std::uint32_t>(*bootCount));
            return WriteFile(*out, qorvex::tools::BuildExampleBootLog(description, *layout)) ? 0
                                                                                             : 1;
        }
        if (command == "big") {
            const auto size = take("size");
            if (!layout || !size) return Usage("big needs --layout and --size");
            const auto bytes = ParseNumber(*size);
            if (!bytes || *bytes > (std::uint64_t{1} << 32)) {
                return Usage("--size takes a byte count up to 4 GiB");
            }
            if (!options.empty()) return Usage("unknown option --" + options.begin()->first);
            return WriteFile(*out, qorvex::tools::BuildLargeBootLog(
                                       static_cast<std::size_t>(*bytes), *layout))
                       ? 0
                       : 1;
        }
        if (command == "seeds") {
            if (layout || !options.empty()) return Usage("seeds takes only --out");
            std::filesystem::create_directories(*out);
            for (const auto& seed : qorvex::tools::FuzzSeedLogs()) {
                if (!WriteFile(std::filesystem::path(*out) / seed.name, seed.bytes)) return 1;
            }
            return 0;
        }
    } catch (const std::invalid_argument& error) {
        return Usage(error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tcglog-build: %s\n", error.what());
        return 1;
    }
    return 2;
}
