// The TPM 2.0 structures that a quote brings, as tpm2-tools writes them: TPMS_ATTEST (tpm2_quote
// -m), TPMT_SIGNATURE (tpm2_quote -s) and TPM2B_PUBLIC (tpm2_createak -u, tpm2_readpublic -o).
//
// The files come from machines being examined, so every size in them may lie: each field is
// checked against the bytes at hand before it is read, counts are bounded by the bytes that
// would hold them, and bytes left over after a structure are an error (a signature covers
// exactly the structure it signs, so trailing bytes would be unsigned data). A structure that
// cannot be read throws FormatError naming the structure, the field and the offset.
//
// Threading: plain functions over values; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorvex::crypto {

using Bytes = std::vector<std::uint8_t>;

// A structure, key, signature or certificate that cannot be read; what() says why.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The TPM 2.0 constants these structures use (from the TPM 2.0 Library's structures volume).
namespace tpm {
inline constexpr std::uint32_t kGeneratedValue = 0xff544347;  // TPM_GENERATED_VALUE

inline constexpr std::uint16_t kStAttestNv = 0x8014;
inline constexpr std::uint16_t kStAttestCommandAudit = 0x8015;
inline constexpr std::uint16_t kStAttestSessionAudit = 0x8016;
inline constexpr std::uint16_t kStAttestCertify = 0x8017;
inline constexpr std::uint16_t kStAttestQuote = 0x8018;
inline constexpr std::uint16_t kStAttestTime = 0x8019;
inline constexpr std::uint16_t kStAttestCreation = 0x801A;
inline constexpr std::uint16_t kStAttestNvDigest = 0x801C;

inline constexpr std::uint16_t kAlgRsa = 0x0001;
inline constexpr std::uint16_t kAlgSha1 = 0x0004;
inline constexpr std::uint16_t kAlgHmac = 0x0005;
inline constexpr std::uint16_t kAlgKeyedHash = 0x0008;
inline constexpr std::uint16_t kAlgXor = 0x000A;
inline constexpr std::uint16_t kAlgSha256 = 0x000B;
inline constexpr std::uint16_t kAlgSha384 = 0x000C;
inline constexpr std::uint16_t kAlgSha512 = 0x000D;
inline constexpr std::uint16_t kAlgNull = 0x0010;
inline constexpr std::uint16_t kAlgSm3_256 = 0x0012;
inline constexpr std::uint16_t kAlgRsaSsa = 0x0014;
inline constexpr std::uint16_t kAlgRsaEs = 0x0015;
inline constexpr std::uint16_t kAlgRsaPss = 0x0016;
inline constexpr std::uint16_t kAlgOaep = 0x0017;
inline constexpr std::uint16_t kAlgEcdsa = 0x0018;
inline constexpr std::uint16_t kAlgEcdh = 0x0019;
inline constexpr std::uint16_t kAlgEcdaa = 0x001A;
inline constexpr std::uint16_t kAlgSm2 = 0x001B;
inline constexpr std::uint16_t kAlgEcSchnorr = 0x001C;
inline constexpr std::uint16_t kAlgEcc = 0x0023;
inline constexpr std::uint16_t kAlgSymCipher = 0x0025;

inline constexpr std::uint16_t kEccNistP256 = 0x0003;
inline constexpr std::uint16_t kEccNistP384 = 0x0004;
inline constexpr std::uint16_t kEccNistP521 = 0x0005;
}  // namespace tpm

// The name of a TPMI_ST_ATTEST ("TPM_ST_ATTEST_QUOTE", ...), or "0x" and four hex digits.
std::string AttestationTypeName(std::uint16_t type);

// TPMS_PCR_SELECTION: a bank and the PCRs selected in it, in ascending order.
struct PcrSelection {
    std::uint16_t hash = 0;  // TPM_ALG_ID of the bank
    std::vector<std::uint32_t> pcrs;
};

// TPMS_CLOCK_INFO.
struct ClockInfo {
    std::uint64_t clock = 0;
    std::uint32_t resetCount = 0;
    std::uint32_t restartCount = 0;
    bool safe = false;
};

// TPMS_QUOTE_INFO.
struct QuoteInfo {
    std::vector<PcrSelection> pcrSelect;
    Bytes pcrDigest;
};

// TPMS_ATTEST.
struct Attestation {
    std::uint32_t magic = 0;
    std::uint16_t type = 0;
    Bytes qualifiedSigner;  // TPM2B_NAME
    Bytes extraData;        // TPM2B_DATA: the caller's nonce
    ClockInfo clockInfo;
    std::uint64_t firmwareVersion = 0;
    std::optional<QuoteInfo> quote;  // when type is TPM_ST_ATTEST_QUOTE
    Bytes attested;                  // the type's own part (TPMU_ATTEST) as it lies
};

// TPMS_ATTEST, or a TPM2B_ATTEST holding one (its size field first). A quote's body is read and
// must end the bytes; the body of another type is kept as it lies.
Attestation ParseAttestation(std::span<const std::uint8_t> bytes);

// The bytes a signature over the attestation covers: the TPMS_ATTEST, without the size field of
// a TPM2B_ATTEST when the bytes are one.
std::span<const std::uint8_t> SignedAttestationBytes(std::span<const std::uint8_t> bytes) noexcept;

// TPMT_SIGNATURE. RSA schemes fill rsaSignature, ECC schemes eccR and eccS, HMAC hmac.
struct TpmSignature {
    std::uint16_t sigAlg = 0;  // TPM_ALG_RSASSA, TPM_ALG_RSAPSS, TPM_ALG_ECDSA, ...
    std::uint16_t hash = 0;    // TPM_ALG_ID of the digest signed
    Bytes rsaSignature;
    Bytes eccR;
    Bytes eccS;
    Bytes hmac;
};

TpmSignature ParseTpmSignature(std::span<const std::uint8_t> bytes);

// TPMT_PUBLIC of an RSA or ECC key (other object types are read and refused by the key
// functions, not here).
struct TpmPublic {
    std::uint16_t type = 0;  // TPM_ALG_RSA, TPM_ALG_ECC, TPM_ALG_KEYEDHASH, TPM_ALG_SYMCIPHER
    std::uint16_t nameAlg = 0;
    std::uint32_t objectAttributes = 0;
    Bytes authPolicy;
    std::uint16_t scheme = tpm::kAlgNull;      // the key's signing or encryption scheme
    std::uint16_t schemeHash = tpm::kAlgNull;  // its hash, when the scheme has one
    std::uint16_t rsaKeyBits = 0;
    std::uint32_t rsaExponent = 0;  // 0 means the default, 65537
    Bytes rsaModulus;
    std::uint16_t eccCurve = 0;  // TPM_ECC_NIST_P256, ...
    Bytes eccX;
    Bytes eccY;
    Bytes unique;  // a keyed-hash or symmetric object's unique field
};

// TPM2B_PUBLIC: a size, then a TPMT_PUBLIC of exactly that size.
TpmPublic ParseTpmPublic(std::span<const std::uint8_t> bytes);

}  // namespace qorvex::crypto
