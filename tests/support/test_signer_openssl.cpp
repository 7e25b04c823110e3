// Test keys and signatures with OpenSSL's libcrypto, linked directly: start-up cost does not
// matter to a test.
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <stdexcept>

#include "support/test_signer.h"

namespace qorvex::test {

namespace {

[[noreturn]] void Fail(const char* step) {
    ERR_clear_error();
    throw std::runtime_error(std::string("test signer: ") + step + " failed");
}

crypto::Bytes Number(const EVP_PKEY* key, const char* name, std::size_t size = 0) {
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) Fail(name);
    const std::size_t bytes = size != 0 ? size : static_cast<std::size_t>(BN_num_bytes(number));
    crypto::Bytes out(bytes);
    BN_bn2binpad(number, out.data(), static_cast<int>(out.size()));
    BN_free(number);
    return out;
}

const char* DigestName(digest::Algorithm algorithm) {
    switch (algorithm) {
        case digest::Algorithm::Sha1:
            return "SHA1";
        case digest::Algorithm::Sha256:
            return "SHA256";
        case digest::Algorithm::Sha384:
            return "SHA384";
        case digest::Algorithm::Sha512:
            return "SHA512";
        case digest::Algorithm::Sm3_256:
            return "SM3";
    }
    return "";
}

}  // namespace

bool RunningUnderWine() {
    return false;
}

struct TestSigningKey::Impl {
    EVP_PKEY* key = nullptr;
    crypto::PublicKey publicKey;
    ~Impl() { EVP_PKEY_free(key); }
};

TestSigningKey::TestSigningKey(TestKeyType type) : m_impl(std::make_unique<Impl>()) {
    crypto::PublicKey& pub = m_impl->publicKey;
    if (type == TestKeyType::Rsa2048) {
        m_impl->key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        if (m_impl->key == nullptr) Fail("RSA key generation");
        pub.type = crypto::KeyType::Rsa;
        pub.modulus = Number(m_impl->key, OSSL_PKEY_PARAM_RSA_N);
        pub.exponent = Number(m_impl->key, OSSL_PKEY_PARAM_RSA_E);
        return;
    }
    const bool p256 = type == TestKeyType::EcdsaP256;
    m_impl->key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", p256 ? "P-256" : "P-384");
    if (m_impl->key == nullptr) Fail("ECC key generation");
    pub.type = crypto::KeyType::Ecc;
    pub.curve = p256 ? crypto::EccCurve::NistP256 : crypto::EccCurve::NistP384;
    pub.x = Number(m_impl->key, OSSL_PKEY_PARAM_EC_PUB_X, crypto::EccFieldSize(pub.curve));
    pub.y = Number(m_impl->key, OSSL_PKEY_PARAM_EC_PUB_Y, crypto::EccFieldSize(pub.curve));
}

TestSigningKey::~TestSigningKey() = default;
TestSigningKey::TestSigningKey(TestSigningKey&&) noexcept = default;
TestSigningKey& TestSigningKey::operator=(TestSigningKey&&) noexcept = default;

const crypto::PublicKey& TestSigningKey::Public() const noexcept {
    return m_impl->publicKey;
}

crypto::Signature TestSigningKey::Sign(crypto::SignatureScheme scheme, digest::Algorithm hash,
                                       std::span<const std::uint8_t> message, PssSalt salt) const {
    const crypto::Bytes digest = digest::Hash(hash, message);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_pkey(nullptr, m_impl->key, nullptr);
    if (context == nullptr || EVP_PKEY_sign_init(context) != 1) Fail("EVP_PKEY_sign_init");
    EVP_MD* md = EVP_MD_fetch(nullptr, DigestName(hash), nullptr);
    bool ok = md != nullptr && EVP_PKEY_CTX_set_signature_md(context, md) == 1;
    if (ok && scheme == crypto::SignatureScheme::RsassaPkcs1v15)
        ok = EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1;
    if (ok && scheme == crypto::SignatureScheme::RsaPss) {
        ok = EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PSS_PADDING) == 1 &&
             EVP_PKEY_CTX_set_rsa_pss_saltlen(context, salt == PssSalt::DigestLength
                                                           ? RSA_PSS_SALTLEN_DIGEST
                                                           : RSA_PSS_SALTLEN_MAX) == 1;
    }
    std::size_t size = 0;
    ok = ok && EVP_PKEY_sign(context, nullptr, &size, digest.data(), digest.size()) == 1;
    crypto::Bytes signed_(size);
    ok = ok && EVP_PKEY_sign(context, signed_.data(), &size, digest.data(), digest.size()) == 1;
    EVP_MD_free(md);
    EVP_PKEY_CTX_free(context);
    if (!ok) Fail("EVP_PKEY_sign");
    signed_.resize(size);

    crypto::Signature signature;
    signature.scheme = scheme;
    signature.hash = hash;
    if (scheme != crypto::SignatureScheme::Ecdsa) {
        signature.rsa = std::move(signed_);
        return signature;
    }
    // libcrypto writes an ECDSA-Sig-Value; the TPM and the library want r and s.
    const unsigned char* at = signed_.data();
    ECDSA_SIG* value = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(signed_.size()));
    if (value == nullptr) Fail("d2i_ECDSA_SIG");
    const std::size_t field = crypto::EccFieldSize(m_impl->publicKey.curve);
    signature.r.resize(field);
    signature.s.resize(field);
    BN_bn2binpad(ECDSA_SIG_get0_r(value), signature.r.data(), static_cast<int>(field));
    BN_bn2binpad(ECDSA_SIG_get0_s(value), signature.s.data(), static_cast<int>(field));
    ECDSA_SIG_free(value);
    return signature;
}

}  // namespace qorvex::test
