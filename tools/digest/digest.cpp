// What the digest library answers the same with every crypto library: sizes, TPM algorithm ids
// and names, hex text.
#include "digest/digest.h"

#include <cstdio>

namespace qorvex::digest {

std::size_t DigestSize(Algorithm algorithm) noexcept {
    switch (algorithm) {
        case Algorithm::Sha1:
            return 20;
        case Algorithm::Sha256:
        case Algorithm::Sm3_256:
            return 32;
        case Algorithm::Sha384:
            return 48;
        case Algorithm::Sha512:
            return 64;
    }
    return 0;
}

std::optional<Algorithm> FromTpmAlgorithm(std::uint16_t id) noexcept {
    std::optional<Algorithm> algorithm;
    switch (id) {
        case 0x0004:
            algorithm = Algorithm::Sha1;
            break;
        case 0x000B:
            algorithm = Algorithm::Sha256;
            break;
        case 0x000C:
            algorithm = Algorithm::Sha384;
            break;
        case 0x000D:
            algorithm = Algorithm::Sha512;
            break;
        case 0x0012:
            algorithm = Algorithm::Sm3_256;
            break;
        default:
            break;
    }
    // A bank this build cannot hash is, to a replay, a bank it does not know.
    if (algorithm && !Available(*algorithm)) return std::nullopt;
    return algorithm;
}

std::uint16_t TpmAlgorithm(Algorithm algorithm) noexcept {
    switch (algorithm) {
        case Algorithm::Sha1:
            return 0x0004;
        case Algorithm::Sha256:
            return 0x000B;
        case Algorithm::Sha384:
            return 0x000C;
        case Algorithm::Sha512:
            return 0x000D;
        case Algorithm::Sm3_256:
            return 0x0012;
    }
    return 0;
}

std::string TpmAlgorithmName(std::uint16_t id) {
    switch (id) {
        case 0x0004:
            return "sha1";
        case 0x000B:
            return "sha256";
        case 0x000C:
            return "sha384";
        case 0x000D:
            return "sha512";
        case 0x0012:
            return "sm3_256";
        case 0x0027:
            return "sha3_256";
        case 0x0028:
            return "sha3_384";
        case 0x0029:
            return "sha3_512";
        default: {
            char name[16];
            std::snprintf(name, sizeof name, "alg_0x%04x", static_cast<unsigned>(id));
            return name;
        }
    }
}

std::vector<std::uint8_t> Hash(Algorithm algorithm, std::span<const std::uint8_t> data) {
    return Hasher(algorithm).Update(data).Finish();
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0xF];
    }
    return hex;
}

}  // namespace qorvex::digest
