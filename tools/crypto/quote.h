// Verification of a TPM 2.0 quote against the PCR values a measured-boot log replays to: the
// files are those tpm2_quote (-m ATTEST, -s SIG) and tpm2_createak / tpm2_readpublic (the AK's
// public key, TPM2B_PUBLIC or PEM) write. The report holds one named check each, always in this
// order, each with its result and a readable reason:
//   "signature"   the signature over the attestation structure verifies with the AK;
//   "quote"       the structure is a TPM-made quote (TPM_GENERATED_VALUE, TPM_ST_ATTEST_QUOTE);
//   "nonce"       its extra data equals the nonce (skipped when no nonce is given);
//   "pcr-digest"  the PCR digest it carries equals the digest, in the signature's hash, of the
//                 PCRs it selects (selection order, ascending PCRs within a bank) as replayed.
// A check that cannot be made for want of an input that failed to read fails, with the reason.
//
// Threading: VerifyQuote keeps no state; it calls pcrValue on the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crypto/public_key.h"
#include "crypto/tpm2.h"

namespace qorvex::crypto {

enum class CheckResult : std::uint8_t {
    Passed,
    Failed,
    Skipped,
};

// "passed", "failed", "skipped".
const char* CheckResultName(CheckResult result) noexcept;

struct QuoteCheck {
    std::string name;
    CheckResult result = CheckResult::Failed;
    std::string reason;
};

// The value of PCR `pcr` in the bank of TPM_ALG_ID `bank` as the log replays it, or nothing when
// the replay has none.
using PcrValueSource = std::function<std::optional<Bytes>(std::uint16_t bank, std::uint32_t pcr)>;

struct QuoteInput {
    std::span<const std::uint8_t> attestation;  // TPMS_ATTEST (or TPM2B_ATTEST)
    std::span<const std::uint8_t> signature;    // TPMT_SIGNATURE
    std::span<const std::uint8_t> akPublic;     // TPM2B_PUBLIC, PEM or DER SubjectPublicKeyInfo
    std::optional<Bytes> nonce;
    PcrValueSource pcrValue;
};

struct QuoteReport {
    std::vector<QuoteCheck> checks;
    std::optional<Attestation> attestation;  // what the structure says, when it could be read
    std::optional<PublicKey> ak;

    // Every check passed or was skipped.
    bool Verified() const noexcept;
    // The check of that name, or null.
    const QuoteCheck* Find(std::string_view name) const noexcept;
};

// Never throws but std::bad_alloc (and what pcrValue throws).
QuoteReport VerifyQuote(const QuoteInput& input);

}  // namespace qorvex::crypto
