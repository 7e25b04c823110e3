// A TPM quote checked against a log's replay: the files tpm2_quote (-m, -s) and tpm2_createak /
// tpm2_readpublic write, read from disk, and the checks of crypto/quote.h with the PCR values the
// log replays to. A file that cannot be read fails the checks that need it, with the reason.
//
// Threading: plain functions; no shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/tcg_log_reader.h"
#include "crypto/quote.h"

namespace qorvex::host {

struct QuoteFiles {
    std::string attestation;  // TPMS_ATTEST (tpm2_quote -m)
    std::string signature;    // TPMT_SIGNATURE (tpm2_quote -s)
    std::string akPublic;     // TPM2B_PUBLIC or PEM
    std::string nonce;        // hex; empty when none is given
};

// The quote's files read into memory, once for every log checked against them.
struct QuoteInputs {
    std::vector<std::uint8_t> attestation;
    std::vector<std::uint8_t> signature;
    std::vector<std::uint8_t> akPublic;
    std::optional<std::vector<std::uint8_t>> nonce;
};

// Reads the files. Returns an empty string, or why one cannot be read (a usage-level fault: a
// missing file, a nonce that is not hex).
std::string ReadQuoteInputs(const QuoteFiles& files, QuoteInputs& inputs);

// The checks against a replayed report (report.replayed).
crypto::QuoteReport VerifyLogQuote(const TcgLogReport& report, const QuoteInputs& inputs);

}  // namespace qorvex::host
