// Test keys and signatures with CNG (the Windows half of tests/support/test_signer.h).
#include <windows.h>

// bcrypt.h uses the types of windows.h.
#include <bcrypt.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "support/test_signer.h"

namespace qorvex::test {

namespace {

[[noreturn]] void Fail(const char* step, NTSTATUS status) {
    char text[120];
    std::snprintf(text, sizeof text, "test signer: %s failed with 0x%08lx", step,
                  static_cast<unsigned long>(status));
    throw std::runtime_error(text);
}

const wchar_t* HashName(digest::Algorithm algorithm) {
    switch (algorithm) {
        case digest::Algorithm::Sha1:
            return BCRYPT_SHA1_ALGORITHM;
        case digest::Algorithm::Sha256:
            return BCRYPT_SHA256_ALGORITHM;
        case digest::Algorithm::Sha384:
            return BCRYPT_SHA384_ALGORITHM;
        case digest::Algorithm::Sha512:
            return BCRYPT_SHA512_ALGORITHM;
        case digest::Algorithm::Sm3_256:
            return nullptr;
    }
    return nullptr;
}

}  // namespace

bool RunningUnderWine() {
    // Wine's ntdll exports wine_get_version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct TestSigningKey::Impl {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    crypto::PublicKey publicKey;
    ~Impl() {
        if (key != nullptr) BCryptDestroyKey(key);
        if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
    }
};

TestSigningKey::TestSigningKey(TestKeyType type) : m_impl(std::make_unique<Impl>()) {
    const wchar_t* algorithm = type == TestKeyType::Rsa2048     ? BCRYPT_RSA_ALGORITHM
                               : type == TestKeyType::EcdsaP256 ? BCRYPT_ECDSA_P256_ALGORITHM
                                                                : BCRYPT_ECDSA_P384_ALGORITHM;
    const ULONG bits = type == TestKeyType::Rsa2048     ? 2048
                       : type == TestKeyType::EcdsaP256 ? 256
                                                        : 384;
    NTSTATUS status = BCryptOpenAlgorithmProvider(&m_impl->provider, algorithm, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptOpenAlgorithmProvider", status);
    status = BCryptGenerateKeyPair(m_impl->provider, &m_impl->key, bits, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptGenerateKeyPair", status);
    status = BCryptFinalizeKeyPair(m_impl->key, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptFinalizeKeyPair", status);

    const wchar_t* blobType =
        type == TestKeyType::Rsa2048 ? BCRYPT_RSAPUBLIC_BLOB : BCRYPT_ECCPUBLIC_BLOB;
    ULONG size = 0;
    status = BCryptExportKey(m_impl->key, nullptr, blobType, nullptr, 0, &size, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptExportKey", status);
    crypto::Bytes blob(size);
    status = BCryptExportKey(m_impl->key, nullptr, blobType, blob.data(), size, &size, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptExportKey", status);

    crypto::PublicKey& pub = m_impl->publicKey;
    if (type == TestKeyType::Rsa2048) {
        const auto* header = reinterpret_cast<const BCRYPT_RSAKEY_BLOB*>(blob.data());
        const std::uint8_t* numbers = blob.data() + sizeof *header;
        pub.type = crypto::KeyType::Rsa;
        pub.exponent.assign(numbers, numbers + header->cbPublicExp);
        pub.modulus.assign(numbers + header->cbPublicExp,
                           numbers + header->cbPublicExp + header->cbModulus);
        while (!pub.exponent.empty() && pub.exponent.front() == 0)
            pub.exponent.erase(pub.exponent.begin());
        while (!pub.modulus.empty() && pub.modulus.front() == 0)
            pub.modulus.erase(pub.modulus.begin());
    } else {
        const auto* header = reinterpret_cast<const BCRYPT_ECCKEY_BLOB*>(blob.data());
        const std::uint8_t* point = blob.data() + sizeof *header;
        pub.type = crypto::KeyType::Ecc;
        pub.curve = type == TestKeyType::EcdsaP256 ? crypto::EccCurve::NistP256
                                                   : crypto::EccCurve::NistP384;
        pub.x.assign(point, point + header->cbKey);
        pub.y.assign(point + header->cbKey, point + 2 * header->cbKey);
    }
}

TestSigningKey::~TestSigningKey() = default;
TestSigningKey::TestSigningKey(TestSigningKey&&) noexcept = default;
TestSigningKey& TestSigningKey::operator=(TestSigningKey&&) noexcept = default;

const crypto::PublicKey& TestSigningKey::Public() const noexcept {
    return m_impl->publicKey;
}

crypto::Signature TestSigningKey::Sign(crypto::SignatureScheme scheme, digest::Algorithm hash,
                                       std::span<const std::uint8_t> message, PssSalt salt) const {
    crypto::Bytes digest = digest::Hash(hash, message);
    BCRYPT_PKCS1_PADDING_INFO pkcs1{HashName(hash)};
    const std::size_t largestSalt = m_impl->publicKey.modulus.size() - digest.size() - 2;
    BCRYPT_PSS_PADDING_INFO pss{
        HashName(hash),
        static_cast<ULONG>(salt == PssSalt::DigestLength ? digest.size() : largestSalt)};
    void* padding = nullptr;
    ULONG flags = 0;
    if (scheme == crypto::SignatureScheme::RsassaPkcs1v15) {
        padding = &pkcs1;
        flags = BCRYPT_PAD_PKCS1;
    } else if (scheme == crypto::SignatureScheme::RsaPss) {
        padding = &pss;
        flags = BCRYPT_PAD_PSS;
    }
    // The signature's size is known; Wine's CNG answers the size query of an ECDSA key with
    // half of it.
    const crypto::PublicKey& pub = m_impl->publicKey;
    ULONG size =
        static_cast<ULONG>(pub.type == crypto::KeyType::Rsa ? pub.modulus.size()
                                                            : 2 * crypto::EccFieldSize(pub.curve));
    crypto::Bytes signed_(size);
    const NTSTATUS status =
        BCryptSignHash(m_impl->key, padding, digest.data(), static_cast<ULONG>(digest.size()),
                       signed_.data(), size, &size, flags);
    if (!BCRYPT_SUCCESS(status)) Fail("BCryptSignHash", status);
    signed_.resize(size);

    crypto::Signature signature;
    signature.scheme = scheme;
    signature.hash = hash;
    if (scheme != crypto::SignatureScheme::Ecdsa) {
        signature.rsa = std::move(signed_);
        return signature;
    }
    // CNG writes r and s side by side.
    const std::size_t half = signed_.size() / 2;
    signature.r.assign(signed_.begin(), signed_.begin() + static_cast<std::ptrdiff_t>(half));
    signature.s.assign(signed_.begin() + static_cast<std::ptrdiff_t>(half), signed_.end());
    return signature;
}

}  // namespace qorvex::test
