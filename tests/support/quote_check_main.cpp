// quote_check: verifies TPM quote files with the crypto library against PCR values replayed from
// a list of extends, for the swtpm tests (tests/scripts/crypto_quote_swtpm.sh). Test-only; the
// analyst's command is qorvex-host.
//
//   quote_check --attest FILE --sig FILE --ak FILE [--nonce HEX] [--extend BANK:PCR=HEX]...
//
// Each --extend is replayed in order from the PCR's reset value (zeros; all ones for PCRs 17 to
// 22), as a log's events are; a PCR no extend names has no replayed value. Prints one line per
// check ("signature: passed: ...") and exits 0 when the quote is verified, 1 when a check
// failed, 2 when the arguments or files are unusable.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "crypto/quote.h"
#include "digest/digest.h"

namespace {

using qorvex::crypto::Bytes;

std::optional<Bytes> FromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(hex.substr(i, 2).c_str(), "%2x", &value) != 1) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::optional<Bytes> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int Usage(const std::string& why) {
    std::cerr << "quote_check: " << why << "\n"
              << "usage: quote_check --attest FILE --sig FILE --ak FILE [--nonce HEX] "
                 "[--extend BANK:PCR=HEX]...\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> files;
    std::optional<Bytes> nonce;
    std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes> replayed;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage(arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--attest" || arg == "--sig" || arg == "--ak") {
            files[arg] = value;
        } else if (arg == "--nonce") {
            nonce = FromHex(value);
            if (!nonce) return Usage("the nonce is not hex");
        } else if (arg == "--extend") {
            const auto colon = value.find(':'), equals = value.find('=');
            if (colon == std::string::npos || equals == std::string::npos || equals < colon)
                return Usage("--extend takes BANK:PCR=HEX");
            const std::string bankName = value.substr(0, colon);
            const auto pcr = static_cast<std::uint32_t>(std::stoul(value.substr(colon + 1)));
            const auto digestBytes = FromHex(value.substr(equals + 1));
            std::uint16_t bank = 0;
            for (const std::uint16_t id : {0x0004, 0x000B, 0x000C, 0x000D})
                if (qorvex::digest::TpmAlgorithmName(id) == bankName) bank = id;
            const auto algorithm = qorvex::digest::FromTpmAlgorithm(bank);
            if (!algorithm || !digestBytes || pcr > 23) return Usage("bad --extend " + value);
            auto [entry, added] = replayed.try_emplace(
                {bank, pcr},
                Bytes(qorvex::digest::DigestSize(*algorithm), pcr >= 17 && pcr <= 22 ? 0xFF : 0));
            entry->second = qorvex::digest::Hasher(*algorithm)
                                .Update(entry->second)
                                .Update(*digestBytes)
                                .Finish();
        } else {
            return Usage("unknown argument " + arg);
        }
    }
    Bytes contents[3];
    const char* names[3] = {"--attest", "--sig", "--ak"};
    for (int f = 0; f < 3; ++f) {
        if (!files.count(names[f])) return Usage(std::string(names[f]) + " is required");
        const auto bytes = ReadFile(files[names[f]]);
        if (!bytes) return Usage("cannot read " + files[names[f]]);
        contents[f] = *bytes;
    }
    qorvex::crypto::QuoteInput input;
    input.attestation = contents[0];
    input.signature = contents[1];
    input.akPublic = contents[2];
    input.nonce = nonce;
    input.pcrValue = [&](std::uint16_t bank, std::uint32_t pcr) -> std::optional<Bytes> {
        const auto found = replayed.find({bank, pcr});
        if (found == replayed.end()) return std::nullopt;
        return found->second;
    };
    const qorvex::crypto::QuoteReport report = qorvex::crypto::VerifyQuote(input);
    for (const auto& check : report.checks) {
        std::cout << check.name << ": " << qorvex::crypto::CheckResultName(check.result) << ": "
                  << check.reason << "\n";
    }
    return report.Verified() ? 0 : 1;
}
