// Message digests in portable C++ for the host and the tools: SHA-1, SHA-256, SHA-384, SHA-512
// and SM3, the hash algorithms of TPM 2.0 PCR banks that measured-boot logs carry. They serve
// the analyst's PCR replay, never a security decision, and favour plainness over speed.
//
// Threading: a Hasher is used by one thread at a time; the free functions keep no state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// The algorithm of a TPM_ALG_ID, when it is one of the above.
std::optional<Algorithm> FromTpmAlgorithm(std::uint16_t id) noexcept;

// The lower-case name of a TPM_ALG_ID as PCR bank listings write it ("sha1", "sha256",
// "sm3_256", "sha3_384", ...), or "alg_0x" and four hex digits for an id without a name.
std::string TpmAlgorithmName(std::uint16_t id);

// An incremental digest: Update any number of times, then Finish once.
class Hasher {
public:
    explicit Hasher(Algorithm algorithm) noexcept;

    Hasher& Update(std::span<const std::uint8_t> data) noexcept;
    // The digest (DigestSize(algorithm) bytes). The hasher is spent afterwards.
    std::vector<std::uint8_t> Finish();

    Algorithm algorithm() const noexcept { return m_algorithm; }

private:
    void Compress(const std::uint8_t* block) noexcept;
    std::size_t BlockSize() const noexcept;

    Algorithm m_algorithm;
    // SHA-1, SHA-256 and SM3 use the low 32 bits of the first five or eight words.
    std::array<std::uint64_t, 8> m_state{};
    std::array<std::uint8_t, 128> m_block{};
    std::size_t m_blockUsed = 0;
    std::uint64_t m_totalBytes = 0;  // messages up to 2^61 bytes, far beyond any log
};

std::vector<std::uint8_t> Hash(Algorithm algorithm, std::span<const std::uint8_t> data);

// Bytes as lower-case hex digits, two per byte, as digests are printed.
std::string ToHex(std::span<const std::uint8_t> bytes);

}  // namespace qorvex::digest
