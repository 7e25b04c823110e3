// The digest library on the platform's crypto library (OpenSSL's libcrypto here, CNG under
// Wine): the standard test vectors, digests fed in pieces, the TPM algorithm table, and what a
// build without an algorithm answers for it.
#include "digest/digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using qorvex::digest::Algorithm;
using qorvex::digest::Available;
using qorvex::digest::DigestSize;
using qorvex::digest::FromTpmAlgorithm;
using qorvex::digest::Hash;
using qorvex::digest::Hasher;
using qorvex::digest::ToHex;
using qorvex::digest::TpmAlgorithm;
using qorvex::digest::TpmAlgorithmName;
using Bytes = std::vector<std::uint8_t>;

Bytes AsBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

constexpr std::string_view k448BitMessage =
    "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
// The two-block message of the 64-bit-word algorithms: its padding needs a third block.
constexpr std::string_view k896BitMessage =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rsmnopqrstnopqrstu";

struct DigestVector {
    Algorithm algorithm;
    std::string_view message;
    std::string_view digest;
};

// FIPS 180-4 example values; SM3 from GB/T 32905-2016 (its "abc" and 64-byte examples).
const DigestVector kDigestVectors[] = {
    {Algorithm::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {Algorithm::Sha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {Algorithm::Sha1, k448BitMessage, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {Algorithm::Sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {Algorithm::Sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {Algorithm::Sha256, k448BitMessage,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {Algorithm::Sha384, "abc",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c8"
     "25a7"},
    {Algorithm::Sha384, "",
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898"
     "b95b"},
    {Algorithm::Sha384, k896BitMessage,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa9174"
     "6039"},
    {Algorithm::Sha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fe"
     "ebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {Algorithm::Sha512, "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877e"
     "ec2f63b931bd47417a81a538327af927da3e"},
    {Algorithm::Sha512, k448BitMessage,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea5778"
     "9ca031ad85c7a71dd70354ec631238ca3445"},
    {Algorithm::Sha512, k896BitMessage,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5"
     "433ac7d329eeb6dd26545e96e55b874be909"},
    {Algorithm::Sm3_256, "abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
    {Algorithm::Sm3_256, "abcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcd",
     "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
};

// CNG has no SM3; libcrypto has every algorithm.
bool ExpectedAvailable(Algorithm algorithm) {
#ifdef _WIN32
    return algorithm != Algorithm::Sm3_256;
#else
    (void)algorithm;
    return true;
#endif
}

TEST(DigestTest, StandardVectors) {
    for (const DigestVector& vector : kDigestVectors) {
        SCOPED_TRACE(std::string(vector.message.substr(0, 8)) + " / " +
                     std::to_string(static_cast<int>(vector.algorithm)));
        if (!Available(vector.algorithm)) continue;  // the next test holds what that means
        const Bytes digest = Hash(vector.algorithm, AsBytes(vector.message));
        EXPECT_EQ(digest.size(), DigestSize(vector.algorithm));
        EXPECT_EQ(ToHex(digest), vector.digest);
    }
}

// Fed in uneven pieces, so that pieces end inside, exactly at and across block ends.
TEST(DigestTest, MillionAsFedInPiecesMatchTheStandardValues) {
    const Bytes million(1'000'000, 'a');
    const struct {
        Algorithm algorithm;
        std::string_view digest;
    } cases[] = {
        {Algorithm::Sha1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {Algorithm::Sha256, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {Algorithm::Sha512,
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432c"
         "e577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(Hash(c.algorithm, million)), c.digest);
        Hasher hasher(c.algorithm);
        std::size_t at = 0;
        for (std::size_t piece = 1; at < million.size(); piece = piece % 200 + 1) {
            const std::size_t n = std::min(piece, million.size() - at);
            hasher.Update(std::span(million).subspan(at, n));
            at += n;
        }
        EXPECT_EQ(ToHex(hasher.Finish()), c.digest);
    }
}

// Each TPM bank maps to its algorithm and back, and is named; an algorithm the library lacks is
// to a replay a bank it does not know (named, not replayed), and asking for it is an error.
TEST(DigestTest, TpmAlgorithmTableAndAlgorithmsTheLibraryLacks) {
    const struct {
        std::uint16_t id;
        Algorithm algorithm;
        const char* name;
    } banks[] = {
        {0x0004, Algorithm::Sha1, "sha1"},       {0x000B, Algorithm::Sha256, "sha256"},
        {0x000C, Algorithm::Sha384, "sha384"},   {0x000D, Algorithm::Sha512, "sha512"},
        {0x0012, Algorithm::Sm3_256, "sm3_256"},
    };
    for (const auto& bank : banks) {
        SCOPED_TRACE(bank.name);
        EXPECT_EQ(TpmAlgorithmName(bank.id), bank.name);
        EXPECT_EQ(TpmAlgorithm(bank.algorithm), bank.id);
        EXPECT_EQ(Available(bank.algorithm), ExpectedAvailable(bank.algorithm));
        if (Available(bank.algorithm)) {
            EXPECT_EQ(FromTpmAlgorithm(bank.id), bank.algorithm);
        } else {
            EXPECT_EQ(FromTpmAlgorithm(bank.id), std::nullopt);
            EXPECT_THROW(Hasher{bank.algorithm}, std::invalid_argument);
        }
    }
    for (const std::uint16_t unknown : {0x0000, 0x0027, 0x0028, 0x0029, 0xFFFF})
        EXPECT_EQ(FromTpmAlgorithm(unknown), std::nullopt) << unknown;
    EXPECT_EQ(TpmAlgorithmName(0x0028), "sha3_384");
    EXPECT_EQ(TpmAlgorithmName(0xBEEF), "alg_0xbeef");
}

TEST(DigestTest, SpentOrMovedFromHasherRefusesFurtherUse) {
    Hasher hasher(Algorithm::Sha256);
    hasher.Update(AsBytes("abc"));
    Hasher moved(std::move(hasher));
    EXPECT_THROW(hasher.Update(AsBytes("x")), std::logic_error);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(ToHex(moved.Finish()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_THROW(moved.Finish(), std::logic_error);
    EXPECT_THROW(moved.Update(AsBytes("x")), std::logic_error);
    EXPECT_EQ(ToHex(std::vector<std::uint8_t>{0x00, 0x0f, 0xa5, 0xff}), "000fa5ff");
}

}  // namespace
