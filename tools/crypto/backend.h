// What each crypto library provides to the crypto library's portable part (openssl/ on Linux,
// windows/ on Windows): decoding keys and certificates, and checking a signature over a digest.
// Not for use outside tools/crypto.
//
// Threading: plain functions; the libraries' own objects live within one call.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crypto/public_key.h"
#include "crypto/signature.h"

namespace qorvex::crypto::backend {

// The library's name for messages: "libcrypto", "CNG".
const char* LibraryName() noexcept;

// A DER SubjectPublicKeyInfo's RSA or ECC key. Throws FormatError.
PublicKey DecodeSubjectPublicKeyInfo(std::span<const std::uint8_t> der);

// Checks signature with key over digest, the signature's hash of the message. The key and the
// scheme have been matched by the caller, and the digest has the hash's size.
Verification VerifyDigest(const PublicKey& key, const Signature& signature,
                          std::span<const std::uint8_t> digest);

// One attribute of a distinguished name, in encoding order.
struct NameAttribute {
    std::size_t rdn = 0;  // which RelativeDistinguishedName it belongs to, from 0
    std::string oid;      // dotted, "2.5.4.3"
    std::string value;    // UTF-8 text, or the content bytes when not a string type
    bool isText = true;
};

struct CivilTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct DecodedCertificate {
    std::vector<NameAttribute> subject;
    std::vector<NameAttribute> issuer;
    std::vector<std::uint8_t> serialNumber;  // the INTEGER's content bytes, big-endian, as encoded
    CivilTime notBefore;
    CivilTime notAfter;
};

// Decodes exactly `der`, one X.509 certificate. Answers nothing and says why in `error`.
std::optional<DecodedCertificate> DecodeCertificate(std::span<const std::uint8_t> der,
                                                    std::string& error);

}  // namespace qorvex::crypto::backend
