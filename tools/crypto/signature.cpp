#include "crypto/signature.h"

#include <cstdio>

#include "crypto/backend.h"

namespace qorvex::crypto {

namespace {

const char* HashName(digest::Algorithm algorithm) noexcept {
    switch (algorithm) {
        case digest::Algorithm::Sha1:
            return "SHA-1";
        case digest::Algorithm::Sha256:
            return "SHA-256";
        case digest::Algorithm::Sha384:
            return "SHA-384";
        case digest::Algorithm::Sha512:
            return "SHA-512";
        case digest::Algorithm::Sm3_256:
            return "SM3";
    }
    return "unknown hash";
}

}  // namespace

const char* SignatureSchemeName(SignatureScheme scheme) noexcept {
    switch (scheme) {
        case SignatureScheme::RsassaPkcs1v15:
            return "RSASSA-PKCS1-v1_5";
        case SignatureScheme::RsaPss:
            return "RSA-PSS";
        case SignatureScheme::Ecdsa:
            return "ECDSA";
    }
    return "unknown scheme";
}

std::string Signature::Describe() const {
    return std::string(SignatureSchemeName(scheme)) + " with " + HashName(hash);
}

Signature SignatureFromTpm(const TpmSignature& tpmSignature) {
    Signature signature;
    switch (tpmSignature.sigAlg) {
        case tpm::kAlgRsaSsa:
            signature.scheme = SignatureScheme::RsassaPkcs1v15;
            signature.rsa = tpmSignature.rsaSignature;
            break;
        case tpm::kAlgRsaPss:
            signature.scheme = SignatureScheme::RsaPss;
            signature.rsa = tpmSignature.rsaSignature;
            break;
        case tpm::kAlgEcdsa:
            signature.scheme = SignatureScheme::Ecdsa;
            signature.r = tpmSignature.eccR;
            signature.s = tpmSignature.eccS;
            break;
        default: {
            const char* name = tpmSignature.sigAlg == tpm::kAlgHmac        ? "HMAC"
                               : tpmSignature.sigAlg == tpm::kAlgEcdaa     ? "ECDAA"
                               : tpmSignature.sigAlg == tpm::kAlgSm2       ? "SM2"
                               : tpmSignature.sigAlg == tpm::kAlgEcSchnorr ? "EC-Schnorr"
                               : tpmSignature.sigAlg == tpm::kAlgNull      ? "no signature"
                                                                           : nullptr;
            char text[120];
            if (name != nullptr) {
                std::snprintf(text, sizeof text, "TPMT_SIGNATURE: %s is not a supported scheme",
                              name);
            } else {
                std::snprintf(text, sizeof text, "TPMT_SIGNATURE: sigAlg 0x%04x is not supported",
                              static_cast<unsigned>(tpmSignature.sigAlg));
            }
            throw FormatError(text);
        }
    }
    // SM3 signs nothing that these schemes define with it.
    const auto hash = digest::FromTpmAlgorithm(tpmSignature.hash);
    if (!hash || *hash == digest::Algorithm::Sm3_256) {
        throw FormatError("TPMT_SIGNATURE: hash " + digest::TpmAlgorithmName(tpmSignature.hash) +
                          " is not SHA-1, SHA-256, SHA-384 or SHA-512");
    }
    signature.hash = *hash;
    return signature;
}

Verification VerifySignature(const PublicKey& key, const Signature& signature,
                             std::span<const std::uint8_t> message) {
    const bool rsaScheme = signature.scheme != SignatureScheme::Ecdsa;
    if (rsaScheme != (key.type == KeyType::Rsa)) {
        return {Verdict::Invalid, "an " + key.Describe() + " key does not make " +
                                      SignatureSchemeName(signature.scheme) + " signatures"};
    }
    if (!digest::Available(signature.hash)) {
        return {Verdict::Unsupported, std::string(backend::LibraryName()) + " cannot compute " +
                                          HashName(signature.hash)};
    }
    if (rsaScheme && signature.rsa.size() != key.modulus.size()) {
        return {Verdict::Invalid, signature.Describe() + ": a signature of " +
                                      std::to_string(signature.rsa.size()) + " bytes for an " +
                                      key.Describe() + " key"};
    }
    const Bytes messageDigest = digest::Hash(signature.hash, message);
    return backend::VerifyDigest(key, signature, messageDigest);
}

}  // namespace qorvex::crypto
