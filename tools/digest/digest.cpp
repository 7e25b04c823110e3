#include "digest/digest.h"

#include <bit>
#include <cstdio>

namespace qorvex::digest {

namespace {

constexpr std::uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint64_t kSha512K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

std::uint32_t Load32(const std::uint8_t* p) noexcept {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

std::uint64_t Load64(const std::uint8_t* p) noexcept {
    return (std::uint64_t{Load32(p)} << 32) | Load32(p + 4);
}

void Sha1Compress(std::array<std::uint64_t, 8>& state, const std::uint8_t* block) noexcept {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = Load32(block + 4 * i);
    for (int i = 16; i < 80; ++i) w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = static_cast<std::uint32_t>(state[0]),
                  b = static_cast<std::uint32_t>(state[1]),
                  c = static_cast<std::uint32_t>(state[2]),
                  d = static_cast<std::uint32_t>(state[3]),
                  e = static_cast<std::uint32_t>(state[4]);
    for (int i = 0; i < 80; ++i) {
        std::uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    const std::uint32_t out[5] = {a, b, c, d, e};
    for (int i = 0; i < 5; ++i) state[i] = static_cast<std::uint32_t>(state[i] + out[i]);
}

void Sha256Compress(std::array<std::uint64_t, 8>& state, const std::uint8_t* block) noexcept {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = Load32(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 =
            std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 =
            std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = static_cast<std::uint32_t>(state[i]);
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = std::rotr(v[4], 6) ^ std::rotr(v[4], 11) ^ std::rotr(v[4], 25);
        const std::uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + ch + kSha256K[i] + w[i];
        const std::uint32_t s0 = std::rotr(v[0], 2) ^ std::rotr(v[0], 13) ^ std::rotr(v[0], 22);
        const std::uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        for (int j = 7; j > 0; --j) v[j] = v[j - 1];
        v[4] += t1;
        v[0] = t1 + s0 + maj;
    }
    for (int i = 0; i < 8; ++i) state[i] = static_cast<std::uint32_t>(state[i] + v[i]);
}

void Sha512Compress(std::array<std::uint64_t, 8>& state, const std::uint8_t* block) noexcept {
    std::uint64_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = Load64(block + 8 * i);
    for (int i = 16; i < 80; ++i) {
        const std::uint64_t s0 =
            std::rotr(w[i - 15], 1) ^ std::rotr(w[i - 15], 8) ^ (w[i - 15] >> 7);
        const std::uint64_t s1 =
            std::rotr(w[i - 2], 19) ^ std::rotr(w[i - 2], 61) ^ (w[i - 2] >> 6);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint64_t, 8> v = state;
    for (int i = 0; i < 80; ++i) {
        const std::uint64_t s1 = std::rotr(v[4], 14) ^ std::rotr(v[4], 18) ^ std::rotr(v[4], 41);
        const std::uint64_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint64_t t1 = v[7] + s1 + ch + kSha512K[i] + w[i];
        const std::uint64_t s0 = std::rotr(v[0], 28) ^ std::rotr(v[0], 34) ^ std::rotr(v[0], 39);
        const std::uint64_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        for (int j = 7; j > 0; --j) v[j] = v[j - 1];
        v[4] += t1;
        v[0] = t1 + s0 + maj;
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];
}

// SM3 (GB/T 32905-2016).
void Sm3Compress(std::array<std::uint64_t, 8>& state, const std::uint8_t* block) noexcept {
    auto p0 = [](std::uint32_t x) { return x ^ std::rotl(x, 9) ^ std::rotl(x, 17); };
    auto p1 = [](std::uint32_t x) { return x ^ std::rotl(x, 15) ^ std::rotl(x, 23); };
    std::uint32_t w[68];
    for (int i = 0; i < 16; ++i) w[i] = Load32(block + 4 * i);
    for (int i = 16; i < 68; ++i) {
        w[i] =
            p1(w[i - 16] ^ w[i - 9] ^ std::rotl(w[i - 3], 15)) ^ std::rotl(w[i - 13], 7) ^ w[i - 6];
    }
    std::uint32_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = static_cast<std::uint32_t>(state[i]);
    auto [a, b, c, d, e, f, g, h] = v;
    for (int j = 0; j < 64; ++j) {
        const std::uint32_t t = j < 16 ? 0x79cc4519u : 0x7a879d8au;
        const std::uint32_t a12 = std::rotl(a, 12);
        const std::uint32_t ss1 = std::rotl(a12 + e + std::rotl(t, j % 32), 7);
        const std::uint32_t ss2 = ss1 ^ a12;
        const std::uint32_t ff = j < 16 ? (a ^ b ^ c) : ((a & b) | (a & c) | (b & c));
        const std::uint32_t gg = j < 16 ? (e ^ f ^ g) : ((e & f) | (~e & g));
        const std::uint32_t tt1 = ff + d + ss2 + (w[j] ^ w[j + 4]);
        const std::uint32_t tt2 = gg + h + ss1 + w[j];
        d = c;
        c = std::rotl(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = std::rotl(f, 19);
        f = e;
        e = p0(tt2);
    }
    const std::uint32_t out[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) state[i] = static_cast<std::uint32_t>(state[i]) ^ out[i];
}

}  // namespace

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
    switch (id) {
        case 0x0004:
            return Algorithm::Sha1;
        case 0x000B:
            return Algorithm::Sha256;
        case 0x000C:
            return Algorithm::Sha384;
        case 0x000D:
            return Algorithm::Sha512;
        case 0x0012:
            return Algorithm::Sm3_256;
        default:
            return std::nullopt;
    }
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

Hasher::Hasher(Algorithm algorithm) noexcept : m_algorithm(algorithm) {
    switch (algorithm) {
        case Algorithm::Sha1:
            m_state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
            break;
        case Algorithm::Sha256:
            m_state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
            break;
        case Algorithm::Sha384:
            m_state = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                       0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                       0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
            break;
        case Algorithm::Sha512:
            m_state = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                       0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                       0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
            break;
        case Algorithm::Sm3_256:
            m_state = {0x7380166f, 0x4914b2b9, 0x172442d7, 0xda8a0600,
                       0xa96f30bc, 0x163138aa, 0xe38dee4d, 0xb0fb0e4e};
            break;
    }
}

std::size_t Hasher::BlockSize() const noexcept {
    return m_algorithm == Algorithm::Sha384 || m_algorithm == Algorithm::Sha512 ? 128 : 64;
}

void Hasher::Compress(const std::uint8_t* block) noexcept {
    switch (m_algorithm) {
        case Algorithm::Sha1:
            Sha1Compress(m_state, block);
            break;
        case Algorithm::Sha256:
            Sha256Compress(m_state, block);
            break;
        case Algorithm::Sha384:
        case Algorithm::Sha512:
            Sha512Compress(m_state, block);
            break;
        case Algorithm::Sm3_256:
            Sm3Compress(m_state, block);
            break;
    }
}

Hasher& Hasher::Update(std::span<const std::uint8_t> data) noexcept {
    const std::size_t blockSize = BlockSize();
    m_totalBytes += data.size();
    std::size_t at = 0;
    if (m_blockUsed != 0) {
        while (at < data.size() && m_blockUsed < blockSize) m_block[m_blockUsed++] = data[at++];
        if (m_blockUsed < blockSize) return *this;
        Compress(m_block.data());
        m_blockUsed = 0;
    }
    for (; data.size() - at >= blockSize; at += blockSize) Compress(data.data() + at);
    while (at < data.size()) m_block[m_blockUsed++] = data[at++];
    return *this;
}

std::vector<std::uint8_t> Hasher::Finish() {
    const std::size_t blockSize = BlockSize();
    // The message length in bits, big-endian, in the last 8 bytes (SHA-384 and SHA-512 have a
    // 16-byte length field whose upper half is zero here).
    const std::uint64_t bits = m_totalBytes * 8;
    const std::size_t lengthField = blockSize == 128 ? 16 : 8;
    m_block[m_blockUsed++] = 0x80;
    if (m_blockUsed > blockSize - lengthField) {
        while (m_blockUsed < blockSize) m_block[m_blockUsed++] = 0;
        Compress(m_block.data());
        m_blockUsed = 0;
    }
    while (m_blockUsed < blockSize - 8) m_block[m_blockUsed++] = 0;
    for (int i = 7; i >= 0; --i)
        m_block[m_blockUsed++] = static_cast<std::uint8_t>(bits >> (8 * i));
    Compress(m_block.data());
    m_blockUsed = 0;

    const bool wide = blockSize == 128;
    std::vector<std::uint8_t> digest;
    const std::size_t size = DigestSize(m_algorithm);
    digest.reserve(size);
    for (std::size_t i = 0; digest.size() < size; ++i) {
        const int bytes = wide ? 8 : 4;
        for (int b = bytes - 1; b >= 0 && digest.size() < size; --b)
            digest.push_back(static_cast<std::uint8_t>(m_state[i] >> (8 * b)));
    }
    return digest;
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
