#include "crypto/public_key.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "crypto/backend.h"
#include "crypto/internal.h"

namespace qorvex::crypto {

namespace {

// Base64 as PEM writes it: white space anywhere is skipped, '=' only at the end.
Bytes DecodeBase64(std::string_view text) {
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int bitCount = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=') {
            ++padding;
            continue;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        } else {
            throw FormatError("PEM: a character that is not Base64 in the key");
        }
        if (padding != 0) throw FormatError("PEM: Base64 text after '='");
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> bitCount));
        }
    }
    // What is left over must be the zero bits of a final group of 2 or 3 characters.
    if (padding > 2 || bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0)
        throw FormatError("PEM: the Base64 text does not end a whole group");
    return out;
}

}  // namespace

std::size_t EccFieldSize(EccCurve curve) noexcept {
    switch (curve) {
        case EccCurve::NistP256:
            return 32;
        case EccCurve::NistP384:
            return 48;
        case EccCurve::NistP521:
            return 66;
    }
    return 0;
}

const char* EccCurveName(EccCurve curve) noexcept {
    switch (curve) {
        case EccCurve::NistP256:
            return "NIST P-256";
        case EccCurve::NistP384:
            return "NIST P-384";
        case EccCurve::NistP521:
            return "NIST P-521";
    }
    return "unknown curve";
}

std::size_t PublicKey::Bits() const noexcept {
    if (type == KeyType::Ecc) {
        return curve == EccCurve::NistP521 ? 521 : EccFieldSize(curve) * 8;
    }
    if (modulus.empty()) return 0;
    return (modulus.size() - 1) * 8 +
           static_cast<std::size_t>(std::bit_width(static_cast<unsigned>(modulus[0])));
}

std::string PublicKey::Describe() const {
    if (type == KeyType::Ecc) return std::string("ECC ") + EccCurveName(curve);
    return "RSA " + std::to_string(Bits());
}

PublicKey PublicKeyFromTpm(const TpmPublic& tpmKey) {
    PublicKey key;
    if (tpmKey.type == tpm::kAlgRsa) {
        key.type = KeyType::Rsa;
        key.modulus = internal::WithoutLeadingZeros(tpmKey.rsaModulus);
        if (key.modulus.empty()) throw FormatError("TPMT_PUBLIC: the RSA key has no modulus");
        if (tpmKey.rsaModulus.size() * 8 != tpmKey.rsaKeyBits) {
            char text[120];
            std::snprintf(text, sizeof text,
                          "TPMT_PUBLIC: an RSA modulus of %zu bytes for a key of %u bits",
                          tpmKey.rsaModulus.size(), static_cast<unsigned>(tpmKey.rsaKeyBits));
            throw FormatError(text);
        }
        const std::uint32_t exponent = tpmKey.rsaExponent == 0 ? 65537 : tpmKey.rsaExponent;
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(exponent >> 24), static_cast<std::uint8_t>(exponent >> 16),
            static_cast<std::uint8_t>(exponent >> 8), static_cast<std::uint8_t>(exponent)};
        key.exponent = internal::WithoutLeadingZeros(bytes);
        return key;
    }
    if (tpmKey.type == tpm::kAlgEcc) {
        key.type = KeyType::Ecc;
        switch (tpmKey.eccCurve) {
            case tpm::kEccNistP256:
                key.curve = EccCurve::NistP256;
                break;
            case tpm::kEccNistP384:
                key.curve = EccCurve::NistP384;
                break;
            case tpm::kEccNistP521:
                key.curve = EccCurve::NistP521;
                break;
            default: {
                char text[80];
                std::snprintf(text, sizeof text, "TPMT_PUBLIC: ECC curve 0x%04x is not supported",
                              static_cast<unsigned>(tpmKey.eccCurve));
                throw FormatError(text);
            }
        }
        auto x = internal::LeftPadded(tpmKey.eccX, EccFieldSize(key.curve));
        auto y = internal::LeftPadded(tpmKey.eccY, EccFieldSize(key.curve));
        if (!x || !y) throw FormatError("TPMT_PUBLIC: an ECC point larger than its curve");
        key.x = std::move(*x);
        key.y = std::move(*y);
        return key;
    }
    char text[80];
    std::snprintf(text, sizeof text, "TPMT_PUBLIC: object type 0x%04x is not an RSA or ECC key",
                  static_cast<unsigned>(tpmKey.type));
    throw FormatError(text);
}

PublicKey PublicKeyFromSubjectPublicKeyInfo(std::span<const std::uint8_t> der) {
    const auto size = internal::DerElementSize(der, internal::kDerSequence);
    if (!size || *size != der.size())
        throw FormatError("SubjectPublicKeyInfo: not one whole DER SEQUENCE");
    return backend::DecodeSubjectPublicKeyInfo(der);
}

PublicKey PublicKeyFromPem(std::string_view pem) {
    constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
    constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
    const std::size_t begin = pem.find(kBegin);
    if (begin == std::string_view::npos) {
        throw FormatError(pem.find("-----BEGIN ") == std::string_view::npos
                              ? "PEM: no \"-----BEGIN PUBLIC KEY-----\" line"
                              : "PEM: the block is not a \"PUBLIC KEY\"");
    }
    const std::size_t bodyStart = begin + kBegin.size();
    const std::size_t end = pem.find(kEnd, bodyStart);
    if (end == std::string_view::npos) throw FormatError("PEM: no \"-----END PUBLIC KEY-----\"");
    const Bytes der = DecodeBase64(pem.substr(bodyStart, end - bodyStart));
    return PublicKeyFromSubjectPublicKeyInfo(der);
}

PublicKey ReadPublicKey(std::span<const std::uint8_t> file) {
    std::size_t start = 0;
    while (start < file.size() && (file[start] == ' ' || file[start] == '\t' ||
                                   file[start] == '\r' || file[start] == '\n'))
        ++start;
    constexpr std::string_view kPemStart = "-----BEGIN";
    const auto rest = file.subspan(start);
    if (rest.size() >= kPemStart.size() &&
        std::equal(kPemStart.begin(), kPemStart.end(), rest.begin())) {
        return PublicKeyFromPem(
            std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
    }
    // A TPM2B_PUBLIC of 0x3000 bytes or more would start with 0x30; none is that large.
    if (!file.empty() && file[0] == 0x30) return PublicKeyFromSubjectPublicKeyInfo(file);
    return PublicKeyFromTpm(ParseTpmPublic(file));
}

}  // namespace qorvex::crypto
