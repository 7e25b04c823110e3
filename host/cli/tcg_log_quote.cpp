#include "cli/tcg_log_quote.h"

#include <algorithm>

#include "cli/log_file.h"
#include "cli/tcg_log_verify.h"

namespace qorvex::host {

namespace {

// Quote files are a few hundred bytes; anything far larger is not one.
constexpr std::uint64_t kMaxQuoteFileSize = 1 << 20;

std::string ReadSmallFile(const std::string& name, const char* what,
                          std::vector<std::uint8_t>& bytes) {
    LogFileContents contents;
    if (std::string error = ReadLogFile(name, contents); !error.empty()) {
        // ReadLogFile names the file as a log file; say what it is here.
        const std::string logFile = "log file ";
        if (const std::size_t at = error.find(logFile); at != std::string::npos)
            error.replace(at, logFile.size(), std::string(what) + ' ');
        return error;
    }
    if (contents.size > kMaxQuoteFileSize) {
        return std::string("the ") + what + ' ' + LogFileDisplayName(name) + " holds " +
               std::to_string(contents.size) + " bytes, far more than any";
    }
    bytes.assign(contents.bytes.begin(), contents.bytes.end());
    return {};
}

}  // namespace

std::string ReadQuoteInputs(const QuoteFiles& files, QuoteInputs& inputs) {
    if (std::string error = ReadSmallFile(files.attestation, "quote", inputs.attestation);
        !error.empty()) {
        return error;
    }
    if (std::string error = ReadSmallFile(files.signature, "signature", inputs.signature);
        !error.empty()) {
        return error;
    }
    if (std::string error = ReadSmallFile(files.akPublic, "AK public key", inputs.akPublic);
        !error.empty()) {
        return error;
    }
    inputs.nonce.reset();
    if (!files.nonce.empty()) {
        std::vector<std::uint8_t> nonce;
        if (!ParseHexBytes(files.nonce, nonce) || nonce.empty())
            return "--nonce needs hex digits, not '" + files.nonce + "'";
        inputs.nonce = std::move(nonce);
    }
    return {};
}

crypto::QuoteReport VerifyLogQuote(const TcgLogReport& report, const QuoteInputs& inputs) {
    crypto::QuoteInput input;
    input.attestation = inputs.attestation;
    input.signature = inputs.signature;
    input.akPublic = inputs.akPublic;
    input.nonce = inputs.nonce;
    input.pcrValue = [&report](std::uint16_t bank,
                               std::uint32_t pcr) -> std::optional<crypto::Bytes> {
        const auto found = std::find_if(report.banks.begin(), report.banks.end(),
                                        [&](const PcrBank& b) { return b.algorithm == bank; });
        if (found == report.banks.end() || !found->supported) return std::nullopt;
        const auto value = found->values.find(pcr);
        if (value == found->values.end()) return std::nullopt;
        return value->second;
    };
    return crypto::VerifyQuote(input);
}

}  // namespace qorvex::host
