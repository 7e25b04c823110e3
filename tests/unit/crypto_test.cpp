// The crypto library on the platform's libraries (libcrypto here, CNG and crypt32 under Wine):
// TPM 2.0 structures read defensively, public keys in TPM2B_PUBLIC, PEM and DER form,
// signatures of every scheme made in the test, quote verification against altered quotes, and
// the real Secure Boot certificates of the shared sample logs, which must read the same on both
// platforms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "crypto/certificate.h"
#include "crypto/public_key.h"
#include "crypto/quote.h"
#include "crypto/signature.h"
#include "crypto/tpm2.h"
#include "digest/digest.h"
#include "support/test_signer.h"

namespace {

namespace tb = antimalware::trusted_boot;
namespace tpm = qorvex::crypto::tpm;
namespace digest = qorvex::digest;
using namespace qorvex::crypto;
using qorvex::test::PssSalt;
using qorvex::test::RunningUnderWine;
using qorvex::test::TestKeyType;
using qorvex::test::TestSigningKey;

Bytes FromHex(std::string_view hex) {
    Bytes bytes;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return bytes;
}

Bytes AsBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// ---- TPM structures as a TPM and tpm2-tools write them ------------------------------------

class TpmWriter {
public:
    TpmWriter& U8(std::uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    TpmWriter& U16(std::uint16_t v) { return U8(static_cast<std::uint8_t>(v >> 8)).U8(v & 0xFF); }
    TpmWriter& U32(std::uint32_t v) {
        return U16(static_cast<std::uint16_t>(v >> 16)).U16(v & 0xFFFF);
    }
    TpmWriter& U64(std::uint64_t v) {
        return U32(static_cast<std::uint32_t>(v >> 32)).U32(v & 0xFFFFFFFF);
    }
    TpmWriter& Raw(std::span<const std::uint8_t> b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    TpmWriter& Sized(std::span<const std::uint8_t> b) {
        return U16(static_cast<std::uint16_t>(b.size())).Raw(b);
    }
    Bytes bytes;
};

struct AttestationSpec {
    std::uint32_t magic = tpm::kGeneratedValue;
    std::uint16_t type = tpm::kStAttestQuote;
    Bytes nonce;
    std::vector<PcrSelection> selection;
    Bytes pcrDigest;
};

// A TPMS_ATTEST. A quote carries its selection and digest; a certify structure two names.
Bytes MakeAttestation(const AttestationSpec& spec) {
    TpmWriter w;
    Bytes signerName = {0x00, 0x0b};
    signerName.resize(34, 0xA5);
    w.U32(spec.magic).U16(spec.type).Sized(signerName).Sized(spec.nonce);
    w.U64(0x0000000123456789).U32(7).U32(3).U8(1).U64(0x2023042500120000);
    if (spec.type == tpm::kStAttestQuote) {
        w.U32(static_cast<std::uint32_t>(spec.selection.size()));
        for (const PcrSelection& selection : spec.selection) {
            std::uint8_t bitmap[3] = {};
            for (const std::uint32_t pcr : selection.pcrs)
                bitmap[pcr / 8] |= static_cast<std::uint8_t>(1u << (pcr % 8));
            w.U16(selection.hash).U8(3).Raw(bitmap);
        }
        w.Sized(spec.pcrDigest);
    } else {
        w.Sized(signerName).Sized(signerName);
    }
    return w.bytes;
}

// TPM2B_PUBLIC of an attestation key as tpm2_createak writes it.
Bytes MakeTpmPublic(const PublicKey& key, std::uint16_t schemeHash = tpm::kAlgSha256) {
    TpmWriter area;
    const bool rsa = key.type == KeyType::Rsa;
    area.U16(rsa ? tpm::kAlgRsa : tpm::kAlgEcc).U16(tpm::kAlgSha256).U32(0x00050072).U16(0);
    area.U16(tpm::kAlgNull);  // symmetric
    if (rsa) {
        area.U16(tpm::kAlgRsaSsa).U16(schemeHash);
        area.U16(static_cast<std::uint16_t>(key.modulus.size() * 8));
        area.U32(key.exponent == Bytes{0x01, 0x00, 0x01} ? 0 : 3);
        area.Sized(key.modulus);
    } else {
        area.U16(tpm::kAlgEcdsa).U16(schemeHash);
        area.U16(key.curve == EccCurve::NistP256 ? tpm::kEccNistP256 : tpm::kEccNistP384);
        area.U16(tpm::kAlgNull);  // kdf
        area.Sized(key.x).Sized(key.y);
    }
    return TpmWriter().Sized(area.bytes).bytes;
}

Bytes MakeTpmSignature(const Signature& signature) {
    TpmWriter w;
    const std::uint16_t sigAlg = signature.scheme == SignatureScheme::RsassaPkcs1v15
                                     ? tpm::kAlgRsaSsa
                                 : signature.scheme == SignatureScheme::RsaPss ? tpm::kAlgRsaPss
                                                                               : tpm::kAlgEcdsa;
    w.U16(sigAlg).U16(digest::TpmAlgorithm(signature.hash));
    if (signature.scheme == SignatureScheme::Ecdsa) {
        w.Sized(signature.r).Sized(signature.s);
    } else {
        w.Sized(signature.rsa);
    }
    return w.bytes;
}

// Keys are made once per test program: RSA key generation takes a while, under Wine more so.
const TestSigningKey& Key(TestKeyType type, int which = 0) {
    static std::map<std::pair<TestKeyType, int>, TestSigningKey> keys;
    auto found = keys.find({type, which});
    if (found == keys.end())
        found = keys.emplace(std::pair{type, which}, TestSigningKey(type)).first;
    return found->second;
}

// ---- TPM structures ------------------------------------------------------------------------

TEST(TpmStructuresTest, QuoteReadsFieldByFieldInEitherFileForm) {
    AttestationSpec spec;
    spec.nonce = AsBytes("nonce-0123456789");
    spec.selection = {{tpm::kAlgSha1, {0, 7}}, {tpm::kAlgSha256, {0, 1, 2, 3, 4, 5, 6, 7, 23}}};
    spec.pcrDigest = Bytes(32, 0x5A);
    const Bytes plain = MakeAttestation(spec);
    const Bytes sized = TpmWriter().Sized(plain).bytes;  // TPM2B_ATTEST

    for (const Bytes* file : {&plain, &sized}) {
        const Attestation a = ParseAttestation(*file);
        EXPECT_EQ(a.magic, tpm::kGeneratedValue);
        EXPECT_EQ(a.type, tpm::kStAttestQuote);
        EXPECT_EQ(a.qualifiedSigner.size(), 34u);
        EXPECT_EQ(a.extraData, spec.nonce);
        EXPECT_EQ(a.clockInfo.clock, 0x123456789u);
        EXPECT_EQ(a.clockInfo.resetCount, 7u);
        EXPECT_EQ(a.clockInfo.restartCount, 3u);
        EXPECT_TRUE(a.clockInfo.safe);
        EXPECT_EQ(a.firmwareVersion, 0x2023042500120000u);
        ASSERT_TRUE(a.quote.has_value());
        ASSERT_EQ(a.quote->pcrSelect.size(), 2u);
        EXPECT_EQ(a.quote->pcrSelect[0].hash, tpm::kAlgSha1);
        EXPECT_EQ(a.quote->pcrSelect[0].pcrs, (std::vector<std::uint32_t>{0, 7}));
        EXPECT_EQ(a.quote->pcrSelect[1].pcrs,
                  (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 23}));
        EXPECT_EQ(a.quote->pcrDigest, spec.pcrDigest);
        EXPECT_EQ(Bytes(SignedAttestationBytes(*file).begin(), SignedAttestationBytes(*file).end()),
                  plain);
    }
    EXPECT_EQ(AttestationTypeName(tpm::kStAttestCertify), "TPM_ST_ATTEST_CERTIFY");
    EXPECT_EQ(AttestationTypeName(0x1234), "0x1234");
}

// Every size may lie: every cut of a valid structure, a byte after it and sizes beyond the
// bytes at hand are each a FormatError, never a read outside the bytes.
TEST(TpmStructuresTest, TruncationsTrailingBytesAndLyingSizesAreFormatErrors) {
    AttestationSpec spec;
    spec.nonce = Bytes(16, 1);
    spec.selection = {{tpm::kAlgSha256, {0, 1, 2}}};
    spec.pcrDigest = Bytes(32, 2);
    const Bytes attestation = MakeAttestation(spec);
    const Bytes rsaPublic = MakeTpmPublic(Key(TestKeyType::Rsa2048).Public());
    const Bytes eccPublic = MakeTpmPublic(Key(TestKeyType::EcdsaP256).Public());
    Signature ecdsa;
    ecdsa.scheme = SignatureScheme::Ecdsa;
    ecdsa.r = Bytes(32, 3);
    ecdsa.s = Bytes(32, 4);
    const Bytes signature = MakeTpmSignature(ecdsa);

    const struct {
        const char* name;
        const Bytes& bytes;
        std::function<void(std::span<const std::uint8_t>)> parse;
    } structures[] = {
        {"TPMS_ATTEST", attestation, [](auto b) { ParseAttestation(b); }},
        {"TPM2B_PUBLIC RSA", rsaPublic, [](auto b) { ParseTpmPublic(b); }},
        {"TPM2B_PUBLIC ECC", eccPublic, [](auto b) { ParseTpmPublic(b); }},
        {"TPMT_SIGNATURE", signature, [](auto b) { ParseTpmSignature(b); }},
    };
    for (const auto& s : structures) {
        SCOPED_TRACE(s.name);
        EXPECT_NO_THROW(s.parse(s.bytes));
        for (std::size_t cut = 0; cut < s.bytes.size(); ++cut) {
            // A copy of exactly the cut, so that a read past it is a read past an allocation.
            const Bytes prefix(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_THROW(s.parse(prefix), FormatError) << "cut at " << cut;
        }
        Bytes longer = s.bytes;
        longer.push_back(0);
        EXPECT_THROW(s.parse(longer), FormatError);
    }

    // Lying counts and sizes inside an attestation.
    Bytes hugeCount = attestation;
    const std::size_t countAt = attestation.size() - (4 + 2 + 1 + 3 + 2 + 32);
    hugeCount[countAt] = 0xFF;  // pcrSelect.count 0xFF000001
    EXPECT_THROW(ParseAttestation(hugeCount), FormatError);
    Bytes bigSelect = attestation;
    bigSelect[countAt + 6] = 0xF0;  // sizeofSelect 240
    EXPECT_THROW(ParseAttestation(bigSelect), FormatError);
    Bytes bigNonce = attestation;
    bigNonce[4 + 2 + 2 + 34] = 0xFF;  // extraData.size
    EXPECT_THROW(ParseAttestation(bigNonce), FormatError);
    Bytes unsafeClock = attestation;
    unsafeClock[4 + 2 + 2 + 34 + 2 + 16 + 16] = 2;  // clockInfo.safe is a TPMI_YES_NO
    EXPECT_THROW(ParseAttestation(unsafeClock), FormatError);

    // A message names what is wrong and where.
    try {
        ParseAttestation(Bytes(attestation.begin(), attestation.begin() + 50));
        ADD_FAILURE();
    } catch (const FormatError& e) {
        EXPECT_NE(std::string(e.what()).find("TPMS_ATTEST"), std::string::npos) << e.what();
    }
}

// ---- Public keys ---------------------------------------------------------------------------

constexpr std::string_view kRsa1024Pem = R"(-----BEGIN PUBLIC KEY-----
MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQC3IjPN6Si1iCl0E5NxWeIQUrKa
5y0yebtTiqpxxXiAH7QJAnxWElzrLenRij//W1bqdbWQf78G9+gTNHSnR+4QCJ0q
HFqYR2A00NMVk/27ADf/H2B3OaME7TQbPI+0AW0/bIl6OdYGr0e16gNurHft6xvi
nbQ7l8/LguDsd0w8jQIDAQAB
-----END PUBLIC KEY-----
)";
constexpr std::string_view kRsa1024ModulusSha256 =
    "06594b0c30ab8ce2941a5b5d1c86e14a4e74227cedc0948f09688c4c405cc0ce";

constexpr std::string_view kP256Pem = R"(-----BEGIN PUBLIC KEY-----
MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE/OYK034EH9/kUaSYBxDqGYXbkM9o
3v/NtD4c/nUl0zCM7bOYEZ3c7fNLM6pcD9DZNlzOWVeXPzYrVTM+e3zqnQ==
-----END PUBLIC KEY-----)";
constexpr std::string_view kP256Der =
    "3059301306072a8648ce3d020106082a8648ce3d03010703420004fce60ad37e041fdfe451a4980710ea1985db90"
    "cf68deffcdb43e1cfe7525d3308cedb398119ddcedf34b33aa5c0fd0d9365cce5957973f362b55333e7b7cea9d";

constexpr std::string_view kP521Pem = R"(-----BEGIN PUBLIC KEY-----
MIGbMBAGByqGSM49AgEGBSuBBAAjA4GGAAQAt6xECBIyPMk13PTYt5P1sI6itc6A
5R2fbqi5/3H0Tv+FSvz/0rboah3i2wpFJcPEaq//NEpVTTwEd93pRk7Qy8UAqpA4
EQq+HBxSeL98dUuOJ5G2981sg281bY9IeFLNjUm5g6IQ1VUe1t46uCI96/ezYE3e
Mx55QNIzWend+huCn2Y=
-----END PUBLIC KEY-----)";

TEST(PublicKeyTest, PemDerAndTpmFormsOfOneKeyReadAlike) {
    const PublicKey rsa = ReadPublicKey(AsBytes(kRsa1024Pem));
    EXPECT_EQ(rsa.type, KeyType::Rsa);
    EXPECT_EQ(rsa.Describe(), "RSA 1024");
    EXPECT_EQ(digest::ToHex(digest::Hash(digest::Algorithm::Sha256, rsa.modulus)),
              kRsa1024ModulusSha256);
    EXPECT_EQ(rsa.exponent, (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(ReadPublicKey(MakeTpmPublic(rsa)), rsa);

    const PublicKey p256 = ReadPublicKey(AsBytes(kP256Pem));
    EXPECT_EQ(p256.Describe(), "ECC NIST P-256");
    EXPECT_EQ(digest::ToHex(p256.x),
              "fce60ad37e041fdfe451a4980710ea1985db90cf68deffcdb43e1cfe7525d330");
    EXPECT_EQ(digest::ToHex(p256.y),
              "8cedb398119ddcedf34b33aa5c0fd0d9365cce5957973f362b55333e7b7cea9d");
    EXPECT_EQ(ReadPublicKey(FromHex(kP256Der)), p256);
    EXPECT_EQ(ReadPublicKey(MakeTpmPublic(p256)), p256);
    // White space before the block and CRLF line ends, as files copied off Windows have.
    std::string crlf = "\r\n  ";
    for (const char c : kP256Pem) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(ReadPublicKey(AsBytes(crlf)), p256);

    const PublicKey p521 = ReadPublicKey(AsBytes(kP521Pem));
    EXPECT_EQ(p521.Describe(), "ECC NIST P-521");
    EXPECT_EQ(p521.x.size(), 66u);
    EXPECT_EQ(p521.Bits(), 521u);
}

TEST(PublicKeyTest, FilesThatHoldNoUsableKeyAreFormatErrors) {
    const Bytes p256Tpm = MakeTpmPublic(ReadPublicKey(AsBytes(kP256Pem)));
    Bytes otherCurve = p256Tpm;
    otherCurve[2 + 2 + 2 + 4 + 2 + 2 + 2 + 2 + 1] = 0x10;  // TPM_ECC_BN_P256
    Bytes keyedHash = TpmWriter()
                          .Sized(TpmWriter()
                                     .U16(tpm::kAlgKeyedHash)
                                     .U16(tpm::kAlgSha256)
                                     .U32(0)
                                     .U16(0)
                                     .U16(tpm::kAlgHmac)
                                     .U16(tpm::kAlgSha256)
                                     .Sized(Bytes(32, 1))
                                     .bytes)
                          .bytes;
    PublicKey shortModulus = ReadPublicKey(AsBytes(kRsa1024Pem));
    Bytes wrongBits = MakeTpmPublic(shortModulus);
    wrongBits[2 + 2 + 2 + 4 + 2 + 2 + 2 + 2] = 0x08;  // keyBits 2048 for a 1024-bit modulus

    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"empty file", ""},
        {"a certificate, not a public key",
         "-----BEGIN CERTIFICATE-----\nMAA=\n-----END CERTIFICATE-----\n"},
        {"no end line", "-----BEGIN PUBLIC KEY-----\nMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE\n"},
        {"not Base64", "-----BEGIN PUBLIC KEY-----\nMFkw*EwYH\n-----END PUBLIC KEY-----\n"},
        {"Base64 cut inside a group",
         "-----BEGIN PUBLIC KEY-----\nMFkwE\n-----END PUBLIC KEY-----"},
        {"half a key", std::string(kP256Pem.substr(0, 60)) + "\n-----END PUBLIC KEY-----"},
        {"Ed25519",
         "-----BEGIN PUBLIC "
         "KEY-----\nMCowBQYDK2VwAyEA5yPn6RQJSngDOowgG1d73IHhZY2z1/C6ltjA8Eu2XV8=\n"
         "-----END PUBLIC KEY-----\n"},
        {"secp256k1",
         "-----BEGIN PUBLIC "
         "KEY-----\nMFYwEAYHKoZIzj0CAQYFK4EEAAoDQgAEZoJZtnPdHrINl0OoPwzITQIe+oWgW2Cy\n"
         "SV90bX0os9dXct3nSbno29GN8wM8zNC0/jTCB61lUSY23OEfG4p6TQ==\n-----END PUBLIC KEY-----\n"},
        {"DER with a byte after it", std::string(1, '\x30') + std::string(1, '\x00') + "x"},
        {"TPM2B_PUBLIC of a BN P-256 key", std::string(otherCurve.begin(), otherCurve.end())},
        {"TPM2B_PUBLIC of a keyed-hash object", std::string(keyedHash.begin(), keyedHash.end())},
        {"TPM2B_PUBLIC whose keyBits disagree with the modulus",
         std::string(wrongBits.begin(), wrongBits.end())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(ReadPublicKey(AsBytes(c.file)), FormatError);
    }

    // A compressed point: libcrypto decompresses it; crypt32 decodes only uncompressed points.
    const Bytes compressed = AsBytes(
        "-----BEGIN PUBLIC "
        "KEY-----\nMDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgADqBoK5ISshDCxT0HM88IgJxzynmOV\n"
        "pWrtgMlEFkJK4Xo=\n-----END PUBLIC KEY-----\n");
#ifdef _WIN32
    EXPECT_THROW(ReadPublicKey(compressed), FormatError);
#else
    EXPECT_EQ(ReadPublicKey(compressed).x.size(), 32u);
#endif
}

// ---- Signatures ----------------------------------------------------------------------------

struct SignatureCase {
    const char* name;
    TestKeyType key;
    SignatureScheme scheme;
    digest::Algorithm hash;
    PssSalt salt = PssSalt::DigestLength;
    // Why Wine's CNG cannot check it, when it cannot; the row then runs on Linux (and Windows).
    const char* wineLacks = nullptr;
};

const SignatureCase kSignatureCases[] = {
    {"RSASSA SHA-1", TestKeyType::Rsa2048, SignatureScheme::RsassaPkcs1v15,
     digest::Algorithm::Sha1},
    {"RSASSA SHA-256", TestKeyType::Rsa2048, SignatureScheme::RsassaPkcs1v15,
     digest::Algorithm::Sha256},
    {"RSASSA SHA-384", TestKeyType::Rsa2048, SignatureScheme::RsassaPkcs1v15,
     digest::Algorithm::Sha384},
    {"RSASSA SHA-512", TestKeyType::Rsa2048, SignatureScheme::RsassaPkcs1v15,
     digest::Algorithm::Sha512},
    {"RSA-PSS SHA-256", TestKeyType::Rsa2048, SignatureScheme::RsaPss, digest::Algorithm::Sha256},
    {"RSA-PSS SHA-1", TestKeyType::Rsa2048, SignatureScheme::RsaPss, digest::Algorithm::Sha1},
    {"RSA-PSS SHA-384, largest salt", TestKeyType::Rsa2048, SignatureScheme::RsaPss,
     digest::Algorithm::Sha384, PssSalt::Largest},
    {"ECDSA P-256 SHA-256", TestKeyType::EcdsaP256, SignatureScheme::Ecdsa,
     digest::Algorithm::Sha256},
    {"ECDSA P-256 SHA-1", TestKeyType::EcdsaP256, SignatureScheme::Ecdsa, digest::Algorithm::Sha1},
    {"ECDSA P-384 SHA-384", TestKeyType::EcdsaP384, SignatureScheme::Ecdsa,
     digest::Algorithm::Sha384},
    {"ECDSA P-384 SHA-256", TestKeyType::EcdsaP384, SignatureScheme::Ecdsa,
     digest::Algorithm::Sha256},
    {"ECDSA P-256 SHA-512", TestKeyType::EcdsaP256, SignatureScheme::Ecdsa,
     digest::Algorithm::Sha512, PssSalt::DigestLength,
     "Wine 8's CNG checks ECDSA only over 20-, 32- and 48-byte digests and calls any other "
     "signature invalid"},
};

// Wine 8's CNG does not sign reliably with the keys it makes (GnuTLS 3.7 refuses most
// signatures: "Some constraint limits were reached", "The request is invalid"), so the tests
// that sign their own messages run on Linux and on Windows; under Wine, CNG's checks meet the
// TPM-made quotes below instead.
#define SKIP_UNDER_WINE_WHICH_CANNOT_SIGN()                                                   \
    do {                                                                                      \
        if (RunningUnderWine()) GTEST_SKIP() << "Wine's CNG does not sign with its own keys"; \
    } while (false)

bool SkippedUnderWine(const SignatureCase& c) {
    if (c.wineLacks == nullptr || !RunningUnderWine()) return false;
    std::printf("[  SKIPPED ] %s under Wine: %s\n", c.name, c.wineLacks);
    return true;
}

// Each scheme and hash verifies; the same signature over another message, with another key of
// the same kind, with one byte changed or claiming another hash does not.
TEST(SignatureTest, EachSchemeVerifiesAndEveryAlterationIsRefused) {
    SKIP_UNDER_WINE_WHICH_CANNOT_SIGN();
    const Bytes message = AsBytes("the attestation structure a TPM signs");
    const Bytes otherMessage = AsBytes("the attestation structure a TPM signs.");
    for (const SignatureCase& c : kSignatureCases) {
        SCOPED_TRACE(c.name);
        if (SkippedUnderWine(c)) continue;
        const TestSigningKey& key = Key(c.key);
        const Signature signature = key.Sign(c.scheme, c.hash, message, c.salt);
        const Verification valid = VerifySignature(key.Public(), signature, message);
        EXPECT_EQ(valid.verdict, Verdict::Valid) << valid.detail;
        EXPECT_NE(valid.detail.find(signature.Describe()), std::string::npos) << valid.detail;

        EXPECT_EQ(VerifySignature(key.Public(), signature, otherMessage).verdict, Verdict::Invalid);
        EXPECT_EQ(VerifySignature(Key(c.key, 1).Public(), signature, message).verdict,
                  Verdict::Invalid);
        Signature flipped = signature;
        Bytes& part = flipped.scheme == SignatureScheme::Ecdsa ? flipped.s : flipped.rsa;
        part[part.size() / 2] ^= 0x01;
        EXPECT_EQ(VerifySignature(key.Public(), flipped, message).verdict, Verdict::Invalid);
        Signature otherHash = signature;
        otherHash.hash = c.hash == digest::Algorithm::Sha256 ? digest::Algorithm::Sha384
                                                             : digest::Algorithm::Sha256;
        EXPECT_EQ(VerifySignature(key.Public(), otherHash, message).verdict, Verdict::Invalid);
    }
}

TEST(SignatureTest, SchemesKeysAndHashesThatDoNotMatchAreRefused) {
    SKIP_UNDER_WINE_WHICH_CANNOT_SIGN();
    const Bytes message = AsBytes("message");
    const Signature ecdsa = Key(TestKeyType::EcdsaP256)
                                .Sign(SignatureScheme::Ecdsa, digest::Algorithm::Sha256, message);
    const Verification onRsa = VerifySignature(Key(TestKeyType::Rsa2048).Public(), ecdsa, message);
    EXPECT_EQ(onRsa.verdict, Verdict::Invalid);
    EXPECT_EQ(onRsa.detail, "an RSA 2048 key does not make ECDSA signatures");
    // An ECDSA signature of P-384 size against the P-256 key.
    const Signature p384 = Key(TestKeyType::EcdsaP384)
                               .Sign(SignatureScheme::Ecdsa, digest::Algorithm::Sha256, message);
    EXPECT_EQ(VerifySignature(Key(TestKeyType::EcdsaP256).Public(), p384, message).verdict,
              Verdict::Invalid);
    Signature shortRsa =
        Key(TestKeyType::Rsa2048)
            .Sign(SignatureScheme::RsassaPkcs1v15, digest::Algorithm::Sha256, message);
    shortRsa.rsa.pop_back();
    EXPECT_EQ(VerifySignature(Key(TestKeyType::Rsa2048).Public(), shortRsa, message).verdict,
              Verdict::Invalid);

    // Schemes and hashes a TPMT_SIGNATURE may name that are not checked here.
    const struct {
        const char* name;
        Bytes bytes;
    } unsupported[] = {
        {"HMAC", TpmWriter().U16(tpm::kAlgHmac).U16(tpm::kAlgSha256).Raw(Bytes(32, 0)).bytes},
        {"ECDAA", TpmWriter()
                      .U16(tpm::kAlgEcdaa)
                      .U16(tpm::kAlgSha256)
                      .Sized(Bytes(32, 1))
                      .Sized(Bytes(32, 2))
                      .bytes},
        {"SM2", TpmWriter()
                    .U16(tpm::kAlgSm2)
                    .U16(tpm::kAlgSm3_256)
                    .Sized(Bytes(32, 1))
                    .Sized(Bytes(32, 2))
                    .bytes},
        {"no signature", TpmWriter().U16(tpm::kAlgNull).bytes},
        {"RSASSA with SHA3-256",
         TpmWriter().U16(tpm::kAlgRsaSsa).U16(0x0027).Sized(Bytes(256, 1)).bytes},
        {"ECDSA with SM3", TpmWriter()
                               .U16(tpm::kAlgEcdsa)
                               .U16(tpm::kAlgSm3_256)
                               .Sized(Bytes(32, 1))
                               .Sized(Bytes(32, 2))
                               .bytes},
    };
    for (const auto& u : unsupported) {
        SCOPED_TRACE(u.name);
        EXPECT_THROW(SignatureFromTpm(ParseTpmSignature(u.bytes)), FormatError);
    }
    EXPECT_THROW(ParseTpmSignature(TpmWriter().U16(0x7777).bytes), FormatError);
}

// ---- Quotes --------------------------------------------------------------------------------

// The PCR values a log replays to: distinct values in SHA-1 and SHA-256 for PCRs 0-15.
std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes> ReplayedValues() {
    std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes> values;
    for (std::uint32_t pcr = 0; pcr < 16; ++pcr) {
        const Bytes seed = AsBytes("pcr " + std::to_string(pcr));
        values[{tpm::kAlgSha1, pcr}] = digest::Hash(digest::Algorithm::Sha1, seed);
        values[{tpm::kAlgSha256, pcr}] = digest::Hash(digest::Algorithm::Sha256, seed);
    }
    return values;
}

Bytes PcrDigest(const std::vector<PcrSelection>& selection,
                const std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes>& values,
                digest::Algorithm hash) {
    digest::Hasher hasher(hash);
    for (const PcrSelection& s : selection) {
        for (const std::uint32_t pcr : s.pcrs) hasher.Update(values.at({s.hash, pcr}));
    }
    return hasher.Finish();
}

struct AkCase {
    const char* name;
    TestKeyType key;
    SignatureScheme scheme;
    digest::Algorithm hash;
};

const AkCase kAkCases[] = {
    {"RSA 2048 RSASSA", TestKeyType::Rsa2048, SignatureScheme::RsassaPkcs1v15,
     digest::Algorithm::Sha256},
    {"RSA 2048 RSA-PSS", TestKeyType::Rsa2048, SignatureScheme::RsaPss, digest::Algorithm::Sha256},
    {"ECDSA P-256", TestKeyType::EcdsaP256, SignatureScheme::Ecdsa, digest::Algorithm::Sha256},
    {"ECDSA P-384", TestKeyType::EcdsaP384, SignatureScheme::Ecdsa, digest::Algorithm::Sha384},
};

// What one quote test starts from; each case changes some of it before or after signing.
struct QuoteScenario {
    AttestationSpec spec;
    std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes> tpmValues;  // what the TPM held
    std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes> replayed;   // what the log gives
    Bytes attestation;
    Bytes signature;
    Bytes akPublic;
    std::optional<Bytes> nonce;
};

struct QuoteCase {
    const char* name;
    std::function<void(QuoteScenario&)> beforeSigning;
    std::function<void(QuoteScenario&)> afterSigning;
    CheckResult signature, quote, nonce, pcrDigest;
    const char* reasonPart = "";  // in the reason of the first failed check
};

const auto kNothing = [](QuoteScenario&) {};
constexpr CheckResult P = CheckResult::Passed;
constexpr CheckResult F = CheckResult::Failed;
constexpr CheckResult S = CheckResult::Skipped;

const QuoteCase kQuoteCases[] = {
    {"genuine quote", kNothing, kNothing, P, P, P, P},
    {"genuine quote, no nonce given", kNothing, [](QuoteScenario& q) { q.nonce.reset(); }, P, P, S,
     P},
    {"genuine quote of a SHA-1 and a SHA-256 bank",
     [](QuoteScenario& q) {
         q.spec.selection = {{tpm::kAlgSha1, {0, 2, 4}}, {tpm::kAlgSha256, {0, 1, 7, 14}}};
     },
     kNothing, P, P, P, P},
    {"genuine quote in a TPM2B_ATTEST file", kNothing,
     [](QuoteScenario& q) { q.attestation = TpmWriter().Sized(q.attestation).bytes; }, P, P, P, P},
    {"one byte of the attestation changed", kNothing,
     [](QuoteScenario& q) { q.attestation[4 + 2 + 2 + 34 + 2 + 16 + 3] ^= 0x40; }, F, P, P, P,
     "does not verify"},
    {"another nonce given", kNothing,
     [](QuoteScenario& q) { q.nonce = AsBytes("another nonce!!!"); }, P, P, F, P,
     "is not the nonce"},
    {"signed by another key", kNothing,
     [](QuoteScenario& q) { q.akPublic = MakeTpmPublic(Key(TestKeyType::EcdsaP384, 1).Public()); },
     F, P, P, P, ""},
    {"the TPM's PCR 7 differs from the replay",
     [](QuoteScenario& q) {
         q.tpmValues[{tpm::kAlgSha256, 7}][0] ^= 0xFF;
     },
     kNothing, P, P, P, F, "the replayed PCRs give"},
    {"a quote of PCRs the log does not extend",
     [](QuoteScenario& q) {
         q.spec.selection = {{tpm::kAlgSha256, {16}}};
         q.tpmValues[{tpm::kAlgSha256, 16}] = Bytes(32, 0);
     },
     kNothing, P, P, P, F, "PCR sha256:16 has no replayed value"},
    {"wrong magic", [](QuoteScenario& q) { q.spec.magic = 0xff544348; }, kNothing, P, F, P, P,
     "is not TPM_GENERATED_VALUE"},
    {"a certify structure, not a quote",
     [](QuoteScenario& q) { q.spec.type = tpm::kStAttestCertify; }, kNothing, P, F, P, F,
     "TPM_ST_ATTEST_CERTIFY is not TPM_ST_ATTEST_QUOTE"},
    {"attestation cut short", kNothing, [](QuoteScenario& q) { q.attestation.pop_back(); }, F, F, F,
     F, "does not verify"},
    {"a byte after the attestation", kNothing, [](QuoteScenario& q) { q.attestation.push_back(0); },
     F, F, F, F, "does not verify"},
    {"signature cut short", kNothing, [](QuoteScenario& q) { q.signature.resize(10); }, F, P, P, P,
     "the signature cannot be read"},
    {"AK file that holds no key", kNothing,
     [](QuoteScenario& q) {
         q.akPublic = {0x00, 0x02, 0x00};
     },
     F, P, P, P, "the AK public key cannot be read"},
};

TEST(QuoteTest, EachCheckPassesOnlyForTheGenuineParts) {
    SKIP_UNDER_WINE_WHICH_CANNOT_SIGN();
    for (const AkCase& ak : kAkCases) {
        for (const QuoteCase& c : kQuoteCases) {
            SCOPED_TRACE(std::string(ak.name) + ": " + c.name);
            QuoteScenario q;
            q.spec.nonce = AsBytes("nonce-0123456789");
            q.spec.selection = {{tpm::kAlgSha256, {0, 1, 2, 3, 4, 5, 6, 7}}};
            q.tpmValues = ReplayedValues();
            q.replayed = ReplayedValues();
            q.nonce = q.spec.nonce;
            c.beforeSigning(q);
            q.spec.pcrDigest = PcrDigest(q.spec.selection, q.tpmValues, ak.hash);
            q.attestation = MakeAttestation(q.spec);
            const TestSigningKey& key = Key(ak.key);
            q.signature = MakeTpmSignature(key.Sign(ak.scheme, ak.hash, q.attestation));
            q.akPublic = MakeTpmPublic(key.Public(), digest::TpmAlgorithm(ak.hash));
            c.afterSigning(q);

            QuoteInput input;
            input.attestation = q.attestation;
            input.signature = q.signature;
            input.akPublic = q.akPublic;
            input.nonce = q.nonce;
            input.pcrValue = [&](std::uint16_t bank, std::uint32_t pcr) -> std::optional<Bytes> {
                const auto found = q.replayed.find({bank, pcr});
                if (found == q.replayed.end()) return std::nullopt;
                return found->second;
            };
            const QuoteReport report = VerifyQuote(input);
            ASSERT_EQ(report.checks.size(), 4u);
            const CheckResult expected[] = {c.signature, c.quote, c.nonce, c.pcrDigest};
            const char* names[] = {"signature", "quote", "nonce", "pcr-digest"};
            bool allPass = true;
            const QuoteCheck* firstFailed = nullptr;
            for (std::size_t i = 0; i < 4; ++i) {
                EXPECT_EQ(report.checks[i].name, names[i]);
                EXPECT_EQ(CheckResultName(report.checks[i].result), CheckResultName(expected[i]))
                    << names[i] << ": " << report.checks[i].reason;
                EXPECT_FALSE(report.checks[i].reason.empty());
                if (expected[i] == F) {
                    allPass = false;
                    if (firstFailed == nullptr) firstFailed = &report.checks[i];
                }
            }
            EXPECT_EQ(report.Verified(), allPass);
            if (firstFailed != nullptr) {
                EXPECT_NE(firstFailed->reason.find(c.reasonPart), std::string::npos)
                    << firstFailed->reason;
            }
        }
    }
}

TEST(QuoteTest, ReportCarriesTheAttestationAndTheKey) {
    SKIP_UNDER_WINE_WHICH_CANNOT_SIGN();
    QuoteScenario q;
    AttestationSpec spec;
    spec.selection = {{tpm::kAlgSha256, {0}}};
    const auto values = ReplayedValues();
    spec.pcrDigest = PcrDigest(spec.selection, values, digest::Algorithm::Sha256);
    const Bytes attestation = MakeAttestation(spec);
    const TestSigningKey& key = Key(TestKeyType::EcdsaP256);
    const Bytes signature =
        MakeTpmSignature(key.Sign(SignatureScheme::Ecdsa, digest::Algorithm::Sha256, attestation));
    const Bytes ak = MakeTpmPublic(key.Public());
    QuoteInput input{attestation, signature, ak, std::nullopt,
                     [&](std::uint16_t bank, std::uint32_t pcr) -> std::optional<Bytes> {
                         return values.at({bank, pcr});
                     }};
    const QuoteReport report = VerifyQuote(input);
    EXPECT_TRUE(report.Verified());
    ASSERT_TRUE(report.attestation && report.ak);
    EXPECT_EQ(report.attestation->clockInfo.resetCount, 7u);
    EXPECT_EQ(*report.ak, key.Public());
    ASSERT_NE(report.Find("pcr-digest"), nullptr);
    EXPECT_EQ(report.Find("pcr-digest")->reason,
              "sha256 digest of sha256:0 as replayed equals the quote's " +
                  digest::ToHex(spec.pcrDigest));
    EXPECT_EQ(report.Find("no such check"), nullptr);

    // Without a source of PCR values the digest cannot be checked.
    input.pcrValue = nullptr;
    EXPECT_EQ(VerifyQuote(input).Find("pcr-digest")->result, CheckResult::Failed);
}

// ---- Quotes made by a TPM -------------------------------------------------------------------

// Quotes of sha256:0,1 with nonce 00112233445566778899aabbccddeeff made by swtpm 0.7.1 through
// tpm2-tools 5.4 with tests/scripts/lib/swtpm.sh, after extending PCR 0 with sha256("event 0")
// and PCR 1 with sha256("event 1"): an RSA 2048 AK signing RSASSA and RSA-PSS with SHA-256, an
// ECC P-256 AK signing ECDSA with SHA-256 and an ECC P-384 AK signing ECDSA with SHA-384. They
// hold the libraries to what a TPM writes on every platform, including under Wine, whose CNG
// cannot make the test's own signatures.
constexpr std::string_view kSwtpmRsassaAk =
    "01180001000b00050072000000100014000b0800000000000100c3d4aaa1130f545d88ac9712cd77d983567d9573"
    "81d54dac37c2ea835d007ff67ebc79cafa5fe83b325170bb2252c95169bd998c0293ead6a904fb16c29aa55bfd99"
    "1c0bb2b85d291dcdd1c3f0860854890a642d51a8218493950a772454914f448c061e7f37a0e4feb357b60abfc685"
    "483c33eb3ec504b8ae62a10154192680a45da2b7f83df9a06e5d73f09c91a49e8de30bbfbeb3323bc7e54d690b2b"
    "7568240a881da8a3ab58e988ac675fd55b4fe8a1141155f9662554bf85b456d6dc6d372a8d92ee09bd8ff239a1eb"
    "c70fa84f8e145c6f7f9f103d6bedd53dfd60e6f4cb7ed2936cf5c5745a0153fe1d4125d03c1a5c5dec9d6d82303c"
    "162731ab10c3";
constexpr std::string_view kSwtpmRsassaAttest =
    "ff54434780180022000b6095000d1c72175d305701f57c341ed9a53d8222e6342a73a05ff46217f439d800100011"
    "2233445566778899aabbccddeeff0000000000004409000000010000000001201910230016363600000001000b03"
    "0300000020893e239cd7aca4fe1835b7850fa6c9626212675a1d53cfd7d3e75e2b9a25b3e4";
constexpr std::string_view kSwtpmRsassaSig =
    "0014000b01004fbd1fe682e85fa753290dee8c4931937c73e0fcf7bdfe9c27ca717c3cd93a5eb371cfc13a15f956"
    "b625abcfe4d00a36c8d6de2b517fae1acd8bdb9ad406b6ad39428aa670bf36415d8dedb578a4dd1e3056133b6419"
    "df256d5bf817b3a275a38679684e87d59c724e47ebafb8eac2e57bb7eff809cd89f23ed4f3a2c7d52cb034317d5f"
    "5904badb731ee18826c14b13f28829faa802c2af860534edc1e83865c6d8097fb0575f1401c610d327eeab533f44"
    "5037b813cc19157c431fe609b17bd328f0389fd4f0bf1dcc36477890d0868b09ecffd594f81808503abbb1251ab0"
    "4984ed4879eb2418346899273a2c494038afdffeca5fe0e03dbef9d44fdc110b";
constexpr std::string_view kSwtpmRsaPssAk =
    "01180001000b00050072000000100016000b08000000000001009ce32c59f54dd90b30d0fd63f8be64d963ac77ac"
    "6614a26d961f205a19b15977d6abc661899761a87682cb4c7422a39e3b479436f28e7e5e88fba10bae19834772c8"
    "af14fc429b0b596141443e2d5336f7529a45663d30558524404ec42d27f54b5eec204e1d2e654b9e2d896ef0e95f"
    "0c3f3003bab1dc23a264c2905028c03206e1c54a76eee74bb4486388363b8a180a06a7be965fb69ad8417b327322"
    "e4cf9f792f841b6b8d642ef8cd39340ff650a2a34c61dbb5c05a4a884e648b9f0debdebfb9b94fdb47bf0c85ec88"
    "5f18c423565dd238907fed623f9d0c151fef209b7e61cc0476562876f0f835eb57e7d5f27b740fa9b9fb67cea20e"
    "87ea3185e231";
constexpr std::string_view kSwtpmRsaPssAttest =
    "ff54434780180022000b5d02f27492c5ebf7dbe713d434d30e271b861b417536fd33db4516f607ea768500100011"
    "2233445566778899aabbccddeeff0000000000004767000000010000000001201910230016363600000001000b03"
    "0300000020893e239cd7aca4fe1835b7850fa6c9626212675a1d53cfd7d3e75e2b9a25b3e4";
constexpr std::string_view kSwtpmRsaPssSig =
    "0016000b01008e6b5367c277c913b66681d7069b8d5d6ee2bca43bc82834db29e2667902c44a8495dd952c8eb271"
    "d95a0a21dfd928afc73a0eadd973c9fd87fbe373bd8568ab139519e75f366dd5f0551416eae4c21c4cd324fcde6c"
    "b1e397bcf76e9402409cfa0c71c28e8ab3230b10cdd6712d0afe690ed3a63c78432967c06c4a92c4126a8e056d58"
    "0263044cd9ac091dd92008113a12bd9fcfa75ded1c745f9b9bd05eab8bb2aa090d313de1d393064d2295b6801da6"
    "f8f233d5e676a26dbcd46fe1b274bc934c772eb16ecaca514d94e325f47310e4d058001858c42505bfafe685379a"
    "83482d0454d1dc7e1b6d16ce3d42db9bf35660acfe833d97e413d81e13b95438";
constexpr std::string_view kSwtpmP256Ak =
    "00580023000b00050072000000100018000b000300100020bed79c8e28cec2cb6a32db6b4cfb0f5687a90e653242"
    "39dcfcdcd62733b75ef3002029b0e466bd544384c860bc12dc9b0d2402bfb8ed8ea880ce8dd8a8306f1ff23d";
constexpr std::string_view kSwtpmP256Attest =
    "ff54434780180022000b856f42df36584a87e97bcb56f7b527224e8830e6fa932cc242946ea4ad29b35800100011"
    "2233445566778899aabbccddeeff0000000000004d36000000010000000001201910230016363600000001000b03"
    "0300000020893e239cd7aca4fe1835b7850fa6c9626212675a1d53cfd7d3e75e2b9a25b3e4";
constexpr std::string_view kSwtpmP256Sig =
    "0018000b0020d915de3992550eaddeec94e988ab6219f95965035ad07447eb579641fa0fe609002047e9fa1b4a36"
    "62768641d5e7616a5fc4da82207f3b614c30fc4acfba353826ac";
constexpr std::string_view kSwtpmP384Ak =
    "00780023000b00050072000000100018000c00040010003064bc2ce044a8d61456c78a1dde758514013e599f8545"
    "61f159254e4f4d80ca369dd346898386b91fbccd7f9d518f6fd100307c8bd7620c201202c15c3f1f7be20ae7737c"
    "cabdfb7d1d5a33f1c56cd227478969d10f8b40d51be7377c107cf04e328d";
constexpr std::string_view kSwtpmP384Attest =
    "ff54434780180022000b795acfa50d201df84b0698021f0aaee9e33aef39720bf780dc73e9ea8eaf627c00100011"
    "2233445566778899aabbccddeeff00000000000052a2000000010000000001201910230016363600000001000b03"
    "03000000305ce546d746f020f62c6b5d33d7945ba319cf5ee70d4b3a8b8c6ba607dbfd54c6500334c500156cdef4"
    "a9939b586ab15e";
constexpr std::string_view kSwtpmP384Sig =
    "0018000c00305e6fdec75e0480da95980797e0886960d4e0ca16178e0e96b649b69e9613616be688ed06fa6ca987"
    "029347ca0faedb8b0030a76d434e414478f568148cbdffacbcf71daaf53775d9314b24f163f5c702653550352713"
    "f05323f07d089eb142d768c3";

struct TpmQuoteFixture {
    const char* name;
    std::string_view ak;
    std::string_view attestation;
    std::string_view signature;
};

const TpmQuoteFixture kTpmQuotes[] = {
    {"RSASSA SHA-256", kSwtpmRsassaAk, kSwtpmRsassaAttest, kSwtpmRsassaSig},
    {"RSA-PSS SHA-256", kSwtpmRsaPssAk, kSwtpmRsaPssAttest, kSwtpmRsaPssSig},
    {"ECDSA P-256 SHA-256", kSwtpmP256Ak, kSwtpmP256Attest, kSwtpmP256Sig},
    {"ECDSA P-384 SHA-384", kSwtpmP384Ak, kSwtpmP384Attest, kSwtpmP384Sig},
};

TEST(QuoteTest, QuotesMadeByATpmVerifyAndEachAlterationFailsItsCheck) {
    // The log: one event in PCR 0 and one in PCR 1 of the SHA-256 bank.
    std::map<std::uint32_t, Bytes> log;
    for (std::uint32_t pcr = 0; pcr < 2; ++pcr) {
        const Bytes event =
            digest::Hash(digest::Algorithm::Sha256, AsBytes("event " + std::to_string(pcr)));
        log[pcr] =
            digest::Hasher(digest::Algorithm::Sha256).Update(Bytes(32, 0)).Update(event).Finish();
    }
    std::map<std::uint32_t, Bytes> otherLog = log;
    otherLog[1][31] ^= 1;
    const Bytes nonce = FromHex("00112233445566778899aabbccddeeff");

    for (const TpmQuoteFixture& fixture : kTpmQuotes) {
        SCOPED_TRACE(fixture.name);
        const Bytes ak = FromHex(fixture.ak), attestation = FromHex(fixture.attestation),
                    signature = FromHex(fixture.signature);
        Bytes changed = attestation;
        // A byte of the clock, which follows the nonce.
        const auto clock = std::search(changed.begin(), changed.end(), nonce.begin(), nonce.end()) +
                           static_cast<std::ptrdiff_t>(nonce.size()) + 5;
        ASSERT_LT(clock, changed.end());
        *clock ^= 0x01;
        const Bytes otherAk = FromHex(&fixture == &kTpmQuotes[0] ? kSwtpmP256Ak : kSwtpmRsassaAk);
        const struct {
            const char* name;
            const Bytes& attestation;
            const Bytes& ak;
            Bytes nonce;
            const std::map<std::uint32_t, Bytes>& log;
            const char* failed;  // the one check that fails, or null
        } cases[] = {
            {"genuine", attestation, ak, nonce, log, nullptr},
            {"changed attestation", changed, ak, nonce, log, "signature"},
            {"another nonce", attestation, ak, FromHex("0011"), log, "nonce"},
            {"another AK", attestation, otherAk, nonce, log, "signature"},
            {"another log", attestation, ak, nonce, otherLog, "pcr-digest"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            QuoteInput input{c.attestation, signature, c.ak, c.nonce,
                             [&](std::uint16_t bank, std::uint32_t pcr) -> std::optional<Bytes> {
                                 if (bank != tpm::kAlgSha256 || !c.log.count(pcr))
                                     return std::nullopt;
                                 return c.log.at(pcr);
                             }};
            const QuoteReport report = VerifyQuote(input);
            for (const QuoteCheck& check : report.checks) {
                const bool shouldFail = c.failed != nullptr && check.name == c.failed;
                EXPECT_EQ(check.result, shouldFail ? CheckResult::Failed : CheckResult::Passed)
                    << check.name << ": " << check.reason;
            }
            EXPECT_EQ(report.Verified(), c.failed == nullptr);
        }
    }
}

// ---- Certificates --------------------------------------------------------------------------

constexpr std::uint32_t kEvEfiVariableDriverConfig = 0x80000001;
constexpr std::uint8_t kEfiCertX509Guid[16] = {0xa1, 0x59, 0xc0, 0xa5, 0xe4, 0x94, 0xa7, 0x4a,
                                               0x87, 0xb5, 0xab, 0x15, 0x5c, 0x2b, 0xf0, 0x72};

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

std::uint64_t Le64(std::span<const std::uint8_t> b, std::size_t at) {
    return Le32(b, at) | (std::uint64_t{Le32(b, at + 4)} << 32);
}

// The X.509 entries of the EFI signature lists inside a UEFI_VARIABLE_DATA (PK, KEK, db, dbx).
void CollectX509Entries(std::span<const std::uint8_t> event, std::vector<Bytes>& out) {
    if (event.size() < 32) return;
    const std::uint64_t nameUnits = Le64(event, 16), dataSize = Le64(event, 24);
    if (nameUnits > event.size() || dataSize > event.size() ||
        32 + 2 * nameUnits + dataSize > event.size())
        return;
    auto data = event.subspan(32 + 2 * nameUnits, dataSize);
    while (data.size() >= 28) {
        const std::uint32_t listSize = Le32(data, 16), headerSize = Le32(data, 20),
                            entrySize = Le32(data, 24);
        if (listSize < 28 || listSize > data.size() || headerSize > listSize - 28) return;
        if (std::equal(std::begin(kEfiCertX509Guid), std::end(kEfiCertX509Guid), data.begin()) &&
            entrySize > 16) {
            for (std::size_t at = 28 + headerSize; at + entrySize <= listSize; at += entrySize)
                out.emplace_back(data.begin() + at + 16, data.begin() + at + entrySize);
        }
        data = data.subspan(listSize);
    }
}

class VariableCollector : public tb::TcgLogSink, public tb::TcgLogEventVisitor {
public:
    void OnModulePath(const std::uint8_t*, std::size_t) override {}
    void OnCompactHash(std::uint32_t, const std::uint8_t*) override {}
    void OnLayout(tb::TcgLogLayout, std::span<const tb::TcgDigestAlgorithm>) override {}
    void OnEvent(const tb::TcgEventView& event) override {
        if (event.eventType == kEvEfiVariableDriverConfig && event.complete)
            CollectX509Entries(event.data, certificates);
    }
    void OnSipaEvent(std::uint64_t, std::uint32_t, std::span<const std::uint8_t>) override {}
    std::vector<Bytes> certificates;
};

std::filesystem::path SamplesDir() {
    return std::filesystem::path(QORVEX_SHARED_DIR) / "samples";
}

// The certificates of a sample log's EFI variable events, in log order.
std::vector<Bytes> SampleCertificates(const std::string& log) {
    std::ifstream in(SamplesDir() / log, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    VariableCollector collector;
    tb::ParseTcgLog(bytes, collector, &collector);
    return collector.certificates;
}

struct CertificateRow {
    const char* log;
    const char* sha256;
    const char* sha1;
    const char* subject;
    const char* issuer;
    const char* serial;
    const char* notBefore;
    const char* notAfter;
};

constexpr const char* kMicrosoftRoot2010 =
    "CN=Microsoft Root Certificate Authority 2010,O=Microsoft Corporation,L=Redmond,"
    "ST=Washington,C=US";

// Values as `openssl x509 -nameopt RFC2253 -subject -issuer -serial -dates -fingerprint` prints
// them, in this library's notation.
const CertificateRow kCertificateRows[] = {
    {"windows-dell-poweredge-startuplocality.log",
     "a1117f516a32cefcba3f2d1ace10a87972fd6bbe8fe0d0b996e09e65d802a503",
     "31590bfd89c9d74ed087dfac66334b3931254b30",
     "CN=Microsoft Corporation KEK CA 2011,O=Microsoft Corporation,L=Redmond,ST=Washington,C=US",
     "CN=Microsoft Corporation Third Party Marketplace Root,O=Microsoft Corporation,L=Redmond,"
     "ST=Washington,C=US",
     "610ad188000000000003", "2011-06-24T20:41:29Z", "2026-06-24T20:51:29Z"},
    {"windows-dell-poweredge-startuplocality.log",
     "d484739ddd38e1b38117cec209b7ed125f61933052fe1f8a42fbb95d38017187",
     "137e571f0b818a0f5c323da27f4aeccf95980c96", "O=VMware\\, Inc.,L=Palo Alto,ST=California,C=US",
     "O=VMware\\, Inc.,L=Palo Alto,ST=California,C=US", "e9d9ff69e6f3e7e4", "2008-10-16T17:16:05Z",
     "2019-12-31T17:16:05Z"},
    {"windows-gcp-shielded-vm.log",
     "d1d217acf60ba4e4a890210322d006d673c0b82de9d65ad7f2d55897635429e2",
     "34291bbf7389eafebbf3fb6fe3d7cc7412313eaf", "CN=newpk", "CN=newpk", "d54a14e867835dea",
     "2018-08-21T21:51:15Z", "2018-09-20T21:51:15Z"},
    {"windows-gcp-shielded-vm.log",
     "e8e95f0733a55e8bad7be0a1413ee23c51fcea64b3c8fa6a786935fddcc71961",
     "580a6f4cc4e4b669b9ebdc1b2b3e087b80d0678d",
     "CN=Microsoft Windows Production PCA 2011,O=Microsoft Corporation,L=Redmond,ST=Washington,"
     "C=US",
     kMicrosoftRoot2010, "61077656000000000008", "2011-10-19T18:41:42Z", "2026-10-19T18:51:42Z"},
    {"windows-option-rom.log", "dd92dc4c351631d99c90711c3cb4fd7104ada10d1254ce69cf84e5e54cd5879b",
     "bba4b07810638f77e1a86200e36ec1619df14e81",
     "CN=Hewlett-Packard UEFI Secure Boot Platform Key,OU=Long Lived CodeSigning Certificate,"
     "O=Hewlett-Packard Company",
     "CN=Hewlett-Packard Printing Device Infrastructure CA,O=Hewlett-Packard Company,C=US",
     "1b6aef498cfb7f90b681321ae89ec2ef", "2012-08-08T00:00:00Z", "2032-08-08T23:59:59Z"},
    {"windows-tpm12-lenovo-x1carbon3.log",
     "99abba42419f80cc967a95cbb6a0ecd754f4d243accb778ed2fef17899d3618e",
     "cb0259714826c867d1422c310b88150160398f0b",
     "CN=Lenovo UEFI CA 2014,O=Lenovo,ST=North Carolina,C=US",
     "CN=Lenovo UEFI CA 2014,O=Lenovo,ST=North Carolina,C=US", "03094862903475928734958723094d",
     "2014-01-24T16:14:24Z", "2034-01-19T16:14:24Z"},
    {"windows-tpm2-lenovo-x1yoga2.log",
     "fbe14729e6a1d72e49c15e245f165f5e10fc77cfed5f460bf8dbbd0bfed732f5",
     "49c6331a4b581010fc63f80617c012f5e04f39fa",
     "CN=Lenovo Ltd. PK CA 2012,O=Lenovo Ltd.,L=Yokohama,ST=Kanagawa,C=JP",
     "CN=Lenovo Ltd. PK CA 2012,O=Lenovo Ltd.,L=Yokohama,ST=Kanagawa,C=JP", "ebb513d46bb1dc6e",
     "2012-06-29T10:34:36Z", "2032-06-24T10:34:36Z"},
    {"windows-tpm2-dell-latitude7520-sha256.log",
     "04069b41636d9234a79a62153ed88d4ed184fb8dd1e7277f9d8ab99c758cae43",
     "f118703532b370164b6c3872c018dd68a9fe8a2d",
     "CN=Dell Bios DB Key,O=Dell Inc.,L=Round Rock,ST=TX,C=USA",
     "CN=Dell Bios Key Exchange Key,O=Dell Inc.,L=Round Rock,ST=TX,C=USA",
     "1d6d9590d4808c8e4f82a0089a16fe39", "2018-08-09T23:04:36Z", "2028-08-09T23:14:36Z"},
    {"windows-tpm2-dell-latitude7520-sha256.log",
     "e28d59ca489bd2ad580f2ea5d62d6a29bb9c02ae5a818434a37da7fc11dff9e9",
     "d4884608aea442433cf06e5a2164bff8d3d310d6",
     "CN=Dell Inc. Key Exchange Key,O=Dell Inc.,L=Round Rock,ST=Texas,C=US",
     "CN=Dell Inc. Platform Key,O=Dell Inc.,L=Round Rock,ST=Texas,C=US",
     "279bad52bf5dabb24c367742f4ebaccd", "2016-06-01T20:22:48Z", "2023-06-01T20:32:47Z"},
};

void ExpectRow(const Certificate& c, const CertificateRow& row) {
    EXPECT_TRUE(c.parsed) << c.error;
    EXPECT_EQ(c.sha256Fingerprint, row.sha256);
    EXPECT_EQ(c.sha1Thumbprint, row.sha1);
    EXPECT_EQ(c.subject, row.subject);
    EXPECT_EQ(c.issuer, row.issuer);
    EXPECT_EQ(c.serialNumber, row.serial);
    EXPECT_EQ(c.notBefore, row.notBefore);
    EXPECT_EQ(c.notAfter, row.notAfter);
}

TEST(CertificateTest, SecureBootCertificatesOfTheSampleLogsReadAsPinned) {
    if (!std::filesystem::is_directory(SamplesDir()))
        GTEST_SKIP() << "no shared samples at " << SamplesDir().string();
    for (const CertificateRow& row : kCertificateRows) {
        SCOPED_TRACE(std::string(row.log) + " " + row.subject);
        bool found = false;
        for (const Bytes& der : SampleCertificates(row.log)) {
            const Certificate c = ReadCertificate(der);
            if (c.sha256Fingerprint != row.sha256) continue;
            found = true;
            ExpectRow(c, row);
        }
        EXPECT_TRUE(found);
    }
}

TEST(CertificateTest, EveryX509EntryOfEverySampleLogParses) {
    if (!std::filesystem::is_directory(SamplesDir()))
        GTEST_SKIP() << "no shared samples at " << SamplesDir().string();
    std::size_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SamplesDir())) {
        if (entry.path().extension() != ".log") continue;
        for (const Bytes& der : SampleCertificates(entry.path().filename().string())) {
            const Certificate c = ReadCertificate(der);
            EXPECT_TRUE(c.parsed) << entry.path() << ": " << c.error;
            EXPECT_EQ(c.sha256Fingerprint,
                      digest::ToHex(digest::Hash(digest::Algorithm::Sha256, der)));
            EXPECT_FALSE(c.subject.empty());
            ++total;
        }
    }
    // 38 X.509 entries in the six Windows logs; the log reader does not walk the TDX log's
    // events (its Spec ID event is in PCR 1), so its seven are not counted.
    EXPECT_GE(total, 38u);
}

// A certificate made for this test (openssl req -x509 -utf8 -multivalue-rdn -set_serial -4660)
// whose names need every escape, hold a multi-valued RDN, text beyond ASCII and attributes
// without an RFC 4514 name, with a negative serial number and a notAfter in 2126.
constexpr std::string_view kOddNamesCertificate =
    "308202c030820265a0030201020202edcc300a06082a8648ce3d0403023081bc31173015060a0992268993f22c6401"
    "19"
    "16076578616d706c65310b3009060355040613024445311d301b060355040a0c1442c3a4636b65722c2053c3b6686e"
    "65"
    "202620436f3123300c06035504030c0523686173683013060355040b0c0c6d756c74692076616c7565643115301306"
    "03"
    "5504030c0c20737061636564203c783e20310b30090603550405130234323110300e060355040c0c0744722e3b2251"
    "22"
    "311a301806092a864886f70d010901160b6140622e6578616d706c653020170d3236313231313133333734365a180f"
    "32"
    "313236313131373133333734365a3081bc31173015060a0992268993f22c64011916076578616d706c65310b300906"
    "03"
    "55040613024445311d301b060355040a0c1442c3a4636b65722c2053c3b6686e65202620436f3123300c0603550403"
    "0c"
    "0523686173683013060355040b0c0c6d756c74692076616c7565643115301306035504030c0c20737061636564203c"
    "78"
    "3e20310b30090603550405130234323110300e060355040c0c0744722e3b225122311a301806092a864886f70d0109"
    "01"
    "160b6140622e6578616d706c653059301306072a8648ce3d020106082a8648ce3d030107034200041b842205d6032e"
    "85"
    "9891f17e8adc5210b43ec53f6aff3169016e8fe5364781596fb55f4e0599f9bfd47dc84d72446e53c2ad1b0f556d03"
    "bf"
    "32d18bba9706f9b8a3533051301d0603551d0e04160414509343090a178f260cd8b0561e3540172dc9ef5e301f0603"
    "55"
    "1d23041830168014509343090a178f260cd8b0561e3540172dc9ef5e300f0603551d130101ff040530030101ff300a"
    "06"
    "082a8648ce3d0403020349003046022100d0ff2d7398a05a8daec1b16040c0630531c6d949f486a5cff5175c194987"
    "a5"
    "f3022100e6fde73da36582670142b5c3f825ebcd6b7e0c6e47ad246a1e859e4d452bcf04";

TEST(CertificateTest, NamesAreEscapedAndSerialNumbersSignedAlikeOnEveryPlatform) {
    const char* name =
        "E=a@b.example,T=Dr.\\;\\\"Q\\\",SERIALNUMBER=42,CN=\\ spaced \\<x\\>\\ ,"
        "CN=\\#hash+OU=multi valued,O=B\xc3\xa4"
        "cker\\, S\xc3\xb6hne & Co,C=DE,DC=example";
    const CertificateRow row = {"",
                                "fb46bfb42a698483ccf5a8f39383e34cb67626bc7d6bc26471b3e27409fca39f",
                                "f8973a59f5c43f25b0627a29226ff09298fbc08f",
                                name,
                                name,
                                "-1234",
                                "2026-12-11T13:37:46Z",
                                "2126-11-17T13:37:46Z"};
    const Bytes der = FromHex(kOddNamesCertificate);
    ExpectRow(ReadCertificate(der), row);

    // Bytes after the certificate (signature lists may pad entries) are not part of it.
    Bytes padded = der;
    padded.insert(padded.end(), {0, 0, 0});
    ExpectRow(ReadCertificate(padded), row);
}

TEST(CertificateTest, BytesThatHoldNoCertificateAreReportedNotParsed) {
    const Bytes der = FromHex(kOddNamesCertificate);
    Bytes tbsOnly(der.begin() + 4, der.begin() + 4 + 4 + 0x265);  // the TBSCertificate alone
    Bytes badTag = der;
    badTag[4] = 0x31;  // the TBSCertificate as a SET
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"no bytes", {}},
        {"a tag alone", {0x30}},
        {"indefinite length", {0x30, 0x80, 0x00, 0x00}},
        {"first half of a certificate", Bytes(der.begin(), der.begin() + 300)},
        {"a SEQUENCE holding an INTEGER", {0x30, 0x03, 0x02, 0x01, 0x00}},
        {"the TBSCertificate without its signature", tbsOnly},
        {"a certificate whose TBSCertificate is a SET", badTag},
        {"text", AsBytes("-----BEGIN CERTIFICATE-----")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Certificate certificate = ReadCertificate(c.bytes);
        EXPECT_FALSE(certificate.parsed);
        EXPECT_FALSE(certificate.error.empty());
        EXPECT_TRUE(certificate.subject.empty() && certificate.sha256Fingerprint.empty());
    }
}

}  // namespace
