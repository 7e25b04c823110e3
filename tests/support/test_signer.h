// Keys made in a test with the platform's crypto library (libcrypto on Linux, CNG on Windows)
// and signatures made with them, so that the crypto library's checks meet real signatures of
// every scheme without key files in the repository. Test-only: it signs.
//
// Threading: a key is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "crypto/public_key.h"
#include "crypto/signature.h"

namespace qorvex::test {

enum class TestKeyType : std::uint8_t {
    Rsa2048,
    EcdsaP256,
    EcdsaP384,
};

// The RSA-PSS salt length: the digest's (what TPMs use now) or the largest the key allows
// (what some older TPMs used).
enum class PssSalt : std::uint8_t {
    DigestLength,
    Largest,
};

// True when the test runs under Wine, whose CNG lacks some of what Windows' has.
bool RunningUnderWine();

class TestSigningKey {
public:
    explicit TestSigningKey(TestKeyType type);  // a new key; throws std::runtime_error
    ~TestSigningKey();
    TestSigningKey(TestSigningKey&&) noexcept;
    TestSigningKey& operator=(TestSigningKey&&) noexcept;

    const crypto::PublicKey& Public() const noexcept;
    // A signature over message: the key signs the message's digest in `hash`.
    crypto::Signature Sign(crypto::SignatureScheme scheme, digest::Algorithm hash,
                           std::span<const std::uint8_t> message,
                           PssSalt salt = PssSalt::DigestLength) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qorvex::test
