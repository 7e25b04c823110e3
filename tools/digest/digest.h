// Message digests for the host and the tools: SHA-1, SHA-256, SHA-384, SHA-512 and SM3, the hash
// algorithms of TPM 2.0 PCR banks that measured-boot logs carry. They come from the platform's
// crypto library (OpenSSL's libcrypto on Linux, CNG on Windows); this header is all that the
// host and the tools see of it. The module never links this library.
//
// A library may lack an algorithm (CNG has no SM3): Available() says so, FromTpmAlgorithm()
// answers nothing for it, so a PCR replay names such a bank (TpmAlgorithmName) and reports it as
// not replayed, as it does for a bank it does not know at all.
//
// Threading: a Hasher is used by one thread at a time; the free functions keep no state of
// their own and may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorvex::digest {

enum class Algorithm : std::uint8_t {
    Sha1,
    Sha256,
    Sha384,
    Sha512,
    Sm3_256,
};

// Digest size in bytes.
std::size_t DigestSize(Algorithm algorithm) noexcept;

// Whether this build's crypto library computes the algorithm.
bool Available(Algorithm algorithm) noexcept;

// The algorithm of a TPM_ALG_ID, when it is one of the above and Available().
std::optional<Algorithm> FromTpmAlgorithm(std::uint16_t id) noexcept;

// The TPM_ALG_ID of an algorithm (TPM_ALG_SHA1 0x0004, ..., TPM_ALG_SM3_256 0x0012).
std::uint16_t TpmAlgorithm(Algorithm algorithm) noexcept;

// The lower-case name of a TPM_ALG_ID as PCR bank listings write it ("sha1", "sha256",
// "sm3_256", "sha3_384", ...), or "alg_0x" and four hex digits for an id without a name.
std::string TpmAlgorithmName(std::uint16_t id);

// An incremental digest: Update any number of times, then Finish once. Constructing one for an
// algorithm that is not Available() throws std::invalid_argument; a failure of the crypto
// library throws std::runtime_error, and using a spent hasher std::logic_error.
class Hasher {
public:
    explicit Hasher(Algorithm algorithm);
    ~Hasher();
    Hasher(Hasher&& other) noexcept;
    Hasher& operator=(Hasher&& other) noexcept;
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    Hasher& Update(std::span<const std::uint8_t> data);
    // The digest (DigestSize(algorithm) bytes). The hasher is spent afterwards.
    std::vector<std::uint8_t> Finish();

    Algorithm algorithm() const noexcept { return m_algorithm; }

private:
    // The crypto library's own state; each backend defines it.
    struct State;
    struct StateDeleter {
        void operator()(State* state) const noexcept;
    };

    Algorithm m_algorithm;
    std::unique_ptr<State, StateDeleter> m_state;
};

std::vector<std::uint8_t> Hash(Algorithm algorithm, std::span<const std::uint8_t> data);

// Bytes as lower-case hex digits, two per byte, as digests are printed.
std::string ToHex(std::span<const std::uint8_t> bytes);

}  // namespace qorvex::digest
