#include "crypto/quote.h"

#include <cstdio>

#include "crypto/signature.h"
#include "digest/digest.h"

namespace qorvex::crypto {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

QuoteCheck Check(const char* name, CheckResult result, std::string reason) {
    return QuoteCheck{name, result, std::move(reason)};
}

// The PCR digest's hash: the signature's, as the TPM uses the signing scheme's hash for it.
// Without a readable signature, the hash whose size the digest has (SHA-256 for 32 bytes).
std::optional<digest::Algorithm> PcrDigestHash(const std::optional<Signature>& signature,
                                               const QuoteInfo& quote, std::string& note) {
    if (signature) return signature->hash;
    note = " (the signature names no hash; taken from the digest's size)";
    switch (quote.pcrDigest.size()) {
        case 20:
            return digest::Algorithm::Sha1;
        case 32:
            return digest::Algorithm::Sha256;
        case 48:
            return digest::Algorithm::Sha384;
        case 64:
            return digest::Algorithm::Sha512;
        default:
            return std::nullopt;
    }
}

std::string SelectionText(const std::vector<PcrSelection>& selections) {
    std::string text;
    for (const PcrSelection& selection : selections) {
        if (!text.empty()) text += ' ';
        text += digest::TpmAlgorithmName(selection.hash) + ':';
        if (selection.pcrs.empty()) text += "none";
        for (std::size_t i = 0; i < selection.pcrs.size(); ++i) {
            if (i != 0) text += ',';
            text += std::to_string(selection.pcrs[i]);
        }
    }
    return text.empty() ? "no PCRs" : text;
}

QuoteCheck CheckPcrDigest(const QuoteInput& input, const Attestation& attestation,
                          const std::optional<Signature>& signature) {
    constexpr const char* kName = "pcr-digest";
    const QuoteInfo& quote = *attestation.quote;
    std::string note;
    const auto hash = PcrDigestHash(signature, quote, note);
    if (!hash || !digest::Available(*hash)) {
        return Check(kName, CheckResult::Failed,
                     "the PCR digest of " + std::to_string(quote.pcrDigest.size()) +
                         " bytes is in no hash this build computes" + note);
    }
    if (!input.pcrValue) return Check(kName, CheckResult::Failed, "no replayed PCR values given");
    digest::Hasher hasher(*hash);
    for (const PcrSelection& selection : quote.pcrSelect) {
        const auto bank = digest::FromTpmAlgorithm(selection.hash);
        for (const std::uint32_t pcr : selection.pcrs) {
            const auto value = input.pcrValue(selection.hash, pcr);
            const std::string name =
                digest::TpmAlgorithmName(selection.hash) + ':' + std::to_string(pcr);
            if (!value)
                return Check(kName, CheckResult::Failed, "PCR " + name + " has no replayed value");
            if (bank && value->size() != digest::DigestSize(*bank)) {
                return Check(kName, CheckResult::Failed,
                             "the replayed value of PCR " + name + " has " +
                                 std::to_string(value->size()) + " bytes");
            }
            hasher.Update(*value);
        }
    }
    const Bytes computed = hasher.Finish();
    const std::string selected = SelectionText(quote.pcrSelect);
    if (computed == quote.pcrDigest) {
        return Check(kName, CheckResult::Passed,
                     digest::TpmAlgorithmName(digest::TpmAlgorithm(*hash)) + " digest of " +
                         selected + " as replayed equals the quote's " +
                         digest::ToHex(quote.pcrDigest) + note);
    }
    return Check(kName, CheckResult::Failed,
                 "the quote carries " + digest::ToHex(quote.pcrDigest) + " for " + selected +
                     "; the replayed PCRs give " + digest::ToHex(computed) + note);
}

}  // namespace

const char* CheckResultName(CheckResult result) noexcept {
    switch (result) {
        case CheckResult::Passed:
            return "passed";
        case CheckResult::Failed:
            return "failed";
        case CheckResult::Skipped:
            return "skipped";
    }
    return "failed";
}

bool QuoteReport::Verified() const noexcept {
    if (checks.empty()) return false;
    for (const QuoteCheck& check : checks) {
        if (check.result == CheckResult::Failed) return false;
    }
    return true;
}

const QuoteCheck* QuoteReport::Find(std::string_view name) const noexcept {
    for (const QuoteCheck& check : checks) {
        if (check.name == name) return &check;
    }
    return nullptr;
}

QuoteReport VerifyQuote(const QuoteInput& input) {
    QuoteReport report;

    std::string attestationError;
    try {
        report.attestation = ParseAttestation(input.attestation);
    } catch (const FormatError& e) {
        attestationError = e.what();
    }
    std::string keyError;
    try {
        report.ak = ReadPublicKey(input.akPublic);
    } catch (const FormatError& e) {
        keyError = std::string("the AK public key cannot be read: ") + e.what();
    }
    std::optional<Signature> signature;
    std::string signatureError;
    try {
        signature = SignatureFromTpm(ParseTpmSignature(input.signature));
    } catch (const FormatError& e) {
        signatureError = std::string("the signature cannot be read: ") + e.what();
    }

    // The signature covers the structure's bytes, so it is checked even when they do not read
    // as an attestation.
    if (!report.ak) {
        report.checks.push_back(Check("signature", CheckResult::Failed, keyError));
    } else if (!signature) {
        report.checks.push_back(Check("signature", CheckResult::Failed, signatureError));
    } else {
        const Verification verification =
            VerifySignature(*report.ak, *signature, SignedAttestationBytes(input.attestation));
        report.checks.push_back(Check(
            "signature",
            verification.verdict == Verdict::Valid ? CheckResult::Passed : CheckResult::Failed,
            verification.detail));
    }

    if (!report.attestation) {
        const std::string reason = "the attestation cannot be read: " + attestationError;
        report.checks.push_back(Check("quote", CheckResult::Failed, reason));
        report.checks.push_back(Check("nonce",
                                      input.nonce ? CheckResult::Failed : CheckResult::Skipped,
                                      input.nonce ? reason : "no nonce given"));
        report.checks.push_back(Check("pcr-digest", CheckResult::Failed, reason));
        return report;
    }
    const Attestation& attestation = *report.attestation;

    if (attestation.magic != tpm::kGeneratedValue) {
        report.checks.push_back(Check("quote", CheckResult::Failed,
                                      "magic " + Hex32(attestation.magic) +
                                          " is not TPM_GENERATED_VALUE (0xff544347): the TPM "
                                          "did not make this structure"));
    } else if (attestation.type != tpm::kStAttestQuote) {
        report.checks.push_back(
            Check("quote", CheckResult::Failed,
                  "type " + AttestationTypeName(attestation.type) + " is not TPM_ST_ATTEST_QUOTE"));
    } else {
        report.checks.push_back(
            Check("quote", CheckResult::Passed, "TPM_GENERATED_VALUE and TPM_ST_ATTEST_QUOTE"));
    }

    if (!input.nonce) {
        report.checks.push_back(Check("nonce", CheckResult::Skipped, "no nonce given"));
    } else if (attestation.extraData == *input.nonce) {
        report.checks.push_back(
            Check("nonce", CheckResult::Passed,
                  "extra data equals the nonce " + digest::ToHex(*input.nonce)));
    } else {
        report.checks.push_back(Check("nonce", CheckResult::Failed,
                                      "extra data " + digest::ToHex(attestation.extraData) +
                                          " is not the nonce " + digest::ToHex(*input.nonce)));
    }

    if (!attestation.quote) {
        report.checks.push_back(Check(
            "pcr-digest", CheckResult::Failed,
            "a " + AttestationTypeName(attestation.type) + " structure carries no PCR digest"));
    } else {
        report.checks.push_back(CheckPcrDigest(input, attestation, signature));
    }
    return report;
}

}  // namespace qorvex::crypto
