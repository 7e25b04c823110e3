// Public keys for signature checks: an attestation key as tpm2_createak / tpm2_readpublic write
// it (TPM2B_PUBLIC) or as a PEM or DER SubjectPublicKeyInfo (tpm2_createak -f pem / der,
// openssl pkey -pubout). A key is held as its numbers, the same on every platform, so that keys
// read from either form compare equal and each crypto library builds its own key object from
// them when it verifies.
//
// Threading: plain values and functions; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crypto/tpm2.h"

namespace qorvex::crypto {

enum class KeyType : std::uint8_t {
    Rsa,
    Ecc,
};

enum class EccCurve : std::uint8_t {
    NistP256,
    NistP384,
    NistP521,
};

// Bytes of a coordinate of the curve (32, 48, 66).
std::size_t EccFieldSize(EccCurve curve) noexcept;
// "NIST P-256", "NIST P-384", "NIST P-521".
const char* EccCurveName(EccCurve curve) noexcept;

struct PublicKey {
    KeyType type = KeyType::Rsa;
    Bytes modulus;   // RSA: big-endian, no leading zero bytes
    Bytes exponent;  // RSA: big-endian, no leading zero bytes
    EccCurve curve = EccCurve::NistP256;
    Bytes x;  // ECC: big-endian, EccFieldSize(curve) bytes
    Bytes y;

    // The modulus size in bits, or the curve's size (256, 384, 521).
    std::size_t Bits() const noexcept;
    // "RSA 2048", "ECC NIST P-256".
    std::string Describe() const;

    friend bool operator==(const PublicKey&, const PublicKey&) = default;
};

// The RSA or ECC key of a TPMT_PUBLIC. Other object types, curves other than NIST P-256, P-384
// and P-521, and a modulus whose size disagrees with keyBits throw FormatError.
PublicKey PublicKeyFromTpm(const TpmPublic& key);

// A DER SubjectPublicKeyInfo of an RSA key or an ECC key on one of the curves above, decoded by
// the platform's crypto library. Throws FormatError.
PublicKey PublicKeyFromSubjectPublicKeyInfo(std::span<const std::uint8_t> der);

// A PEM "PUBLIC KEY" (SubjectPublicKeyInfo). Text around the block is ignored; another label,
// bad Base64 or a key that cannot be decoded throws FormatError.
PublicKey PublicKeyFromPem(std::string_view pem);

// A key file in any of the forms above: PEM (it starts with "-----BEGIN", after white space),
// DER SubjectPublicKeyInfo (it starts with a SEQUENCE tag, which no TPM2B_PUBLIC's size can
// have) or TPM2B_PUBLIC. Throws FormatError.
PublicKey ReadPublicKey(std::span<const std::uint8_t> file);

}  // namespace qorvex::crypto
