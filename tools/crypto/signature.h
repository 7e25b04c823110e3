// Signatures that a TPM makes (RSASSA-PKCS1-v1_5, RSA-PSS and ECDSA, each with the hash it
// names: SHA-1, SHA-256, SHA-384 or SHA-512) and their check with the platform's crypto
// library: OpenSSL's libcrypto on Linux, CNG on Windows.
//
// Threading: plain values and functions; no shared state.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "crypto/public_key.h"
#include "crypto/tpm2.h"
#include "digest/digest.h"

namespace qorvex::crypto {

enum class SignatureScheme : std::uint8_t {
    RsassaPkcs1v15,
    RsaPss,
    Ecdsa,
};

// "RSASSA-PKCS1-v1_5", "RSA-PSS", "ECDSA".
const char* SignatureSchemeName(SignatureScheme scheme) noexcept;

struct Signature {
    SignatureScheme scheme = SignatureScheme::RsassaPkcs1v15;
    digest::Algorithm hash = digest::Algorithm::Sha256;
    Bytes rsa;  // RSA schemes: the signature, as long as the modulus
    Bytes r;    // ECDSA: big-endian integers
    Bytes s;

    // "RSASSA-PKCS1-v1_5 with SHA-256".
    std::string Describe() const;
};

// The signature of a TPMT_SIGNATURE. Schemes other than the three above (HMAC, ECDAA, SM2,
// EC-Schnorr, none) and hashes other than SHA-1/256/384/512 throw FormatError naming them.
Signature SignatureFromTpm(const TpmSignature& signature);

enum class Verdict : std::uint8_t {
    Valid,
    Invalid,      // the signature does not verify with the key (or cannot be of that key)
    Unsupported,  // this platform's crypto library cannot check it
};

struct Verification {
    Verdict verdict = Verdict::Invalid;
    std::string detail;  // why, readable: "RSA-PSS with SHA-256 verifies with the RSA 2048 key"
};

// Checks signature over message (the signature's hash of message is what was signed) with key.
// RSA-PSS accepts any salt length the signature carries (a TPM uses the digest's length, or the
// largest the key allows). Never throws but std::bad_alloc.
Verification VerifySignature(const PublicKey& key, const Signature& signature,
                             std::span<const std::uint8_t> message);

}  // namespace qorvex::crypto
