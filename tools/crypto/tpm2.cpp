#include "crypto/tpm2.h"

#include <algorithm>
#include <cstdio>

namespace qorvex::crypto {

namespace {

// Reads big-endian TPM fields from bytes that may lie about every size. Each read checks the
// bytes left first; a failed read throws FormatError naming the structure, field and offset.
class TpmReader {
public:
    TpmReader(std::span<const std::uint8_t> bytes, const char* structure) noexcept
        : m_bytes(bytes), m_structure(structure) {}

    std::uint8_t U8(const char* field) { return Take(1, field)[0]; }
    std::uint16_t U16(const char* field) {
        const auto b = Take(2, field);
        return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
    }
    std::uint32_t U32(const char* field) {
        const auto b = Take(4, field);
        return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
               (std::uint32_t{b[2]} << 8) | b[3];
    }
    std::uint64_t U64(const char* field) {
        const std::uint64_t high = U32(field);
        return (high << 32) | U32(field);
    }
    // A TPM2B: a 16-bit size, then that many bytes.
    Bytes Sized(const char* field) {
        const std::size_t size = U16(field);
        const auto b = Take(size, field);
        return Bytes(b.begin(), b.end());
    }
    std::span<const std::uint8_t> Take(std::size_t size, const char* field) {
        if (size > Remaining()) {
            char text[200];
            std::snprintf(text, sizeof text, "%s: %s needs %zu bytes at offset %zu, %zu remain",
                          m_structure, field, size, m_offset, Remaining());
            throw FormatError(text);
        }
        const auto taken = m_bytes.subspan(m_offset, size);
        m_offset += size;
        return taken;
    }
    std::span<const std::uint8_t> Rest() noexcept {
        const auto rest = m_bytes.subspan(m_offset);
        m_offset = m_bytes.size();
        return rest;
    }
    void ExpectEnd() const {
        if (Remaining() == 0) return;
        char text[160];
        std::snprintf(text, sizeof text, "%s: %zu bytes follow the structure at offset %zu",
                      m_structure, Remaining(), m_offset);
        throw FormatError(text);
    }
    [[noreturn]] void Fail(const char* what, unsigned value) const {
        char text[200];
        std::snprintf(text, sizeof text, "%s: %s 0x%04x (before offset %zu)", m_structure, what,
                      value, m_offset);
        throw FormatError(text);
    }
    std::size_t Remaining() const noexcept { return m_bytes.size() - m_offset; }
    std::size_t Offset() const noexcept { return m_offset; }

private:
    std::span<const std::uint8_t> m_bytes;
    const char* m_structure;
    std::size_t m_offset = 0;
};

constexpr std::uint8_t kGeneratedValueBytes[4] = {0xff, 0x54, 0x43, 0x47};

// TPML_PCR_SELECTION. Each selection needs at least 3 bytes, so a count larger than the bytes
// left could hold is refused before anything is reserved for it.
std::vector<PcrSelection> ReadPcrSelections(TpmReader& reader) {
    const std::uint32_t count = reader.U32("pcrSelect.count");
    if (count > reader.Remaining() / 3)
        reader.Fail("pcrSelect.count too large for the bytes", count);
    std::vector<PcrSelection> selections;
    selections.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        PcrSelection selection;
        selection.hash = reader.U16("pcrSelections.hash");
        const std::uint8_t sizeofSelect = reader.U8("pcrSelections.sizeofSelect");
        const auto bitmap = reader.Take(sizeofSelect, "pcrSelections.pcrSelect");
        for (std::size_t byte = 0; byte < bitmap.size(); ++byte) {
            for (unsigned bit = 0; bit < 8; ++bit) {
                if (bitmap[byte] & (1u << bit))
                    selection.pcrs.push_back(static_cast<std::uint32_t>(byte * 8 + bit));
            }
        }
        selections.push_back(std::move(selection));
    }
    return selections;
}

// TPMT_SYM_DEF_OBJECT: an algorithm, then (unless TPM_ALG_NULL) its key size and, except for
// XOR, whose "key size" is a hash and which has no mode, its mode.
void SkipSymmetricDefinition(TpmReader& reader) {
    const std::uint16_t algorithm = reader.U16("symmetric.algorithm");
    if (algorithm == tpm::kAlgNull) return;
    reader.U16("symmetric.keyBits");
    if (algorithm != tpm::kAlgXor) reader.U16("symmetric.mode");
}

}  // namespace

std::string AttestationTypeName(std::uint16_t type) {
    switch (type) {
        case tpm::kStAttestNv:
            return "TPM_ST_ATTEST_NV";
        case tpm::kStAttestCommandAudit:
            return "TPM_ST_ATTEST_COMMAND_AUDIT";
        case tpm::kStAttestSessionAudit:
            return "TPM_ST_ATTEST_SESSION_AUDIT";
        case tpm::kStAttestCertify:
            return "TPM_ST_ATTEST_CERTIFY";
        case tpm::kStAttestQuote:
            return "TPM_ST_ATTEST_QUOTE";
        case tpm::kStAttestTime:
            return "TPM_ST_ATTEST_TIME";
        case tpm::kStAttestCreation:
            return "TPM_ST_ATTEST_CREATION";
        case tpm::kStAttestNvDigest:
            return "TPM_ST_ATTEST_NV_DIGEST";
        default: {
            char text[8];
            std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(type));
            return text;
        }
    }
}

std::span<const std::uint8_t> SignedAttestationBytes(std::span<const std::uint8_t> bytes) noexcept {
    // A TPM2B_ATTEST starts with its size, then the magic; a TPMS_ATTEST starts with the magic.
    const bool startsWithMagic =
        bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, kGeneratedValueBytes);
    if (!startsWithMagic && bytes.size() >= 6 &&
        static_cast<std::size_t>((bytes[0] << 8) | bytes[1]) == bytes.size() - 2 &&
        std::equal(bytes.begin() + 2, bytes.begin() + 6, kGeneratedValueBytes)) {
        return bytes.subspan(2);
    }
    return bytes;
}

Attestation ParseAttestation(std::span<const std::uint8_t> bytes) {
    TpmReader reader(SignedAttestationBytes(bytes), "TPMS_ATTEST");
    Attestation attestation;
    attestation.magic = reader.U32("magic");
    attestation.type = reader.U16("type");
    attestation.qualifiedSigner = reader.Sized("qualifiedSigner");
    attestation.extraData = reader.Sized("extraData");
    attestation.clockInfo.clock = reader.U64("clockInfo.clock");
    attestation.clockInfo.resetCount = reader.U32("clockInfo.resetCount");
    attestation.clockInfo.restartCount = reader.U32("clockInfo.restartCount");
    const std::uint8_t safe = reader.U8("clockInfo.safe");
    if (safe > 1) reader.Fail("clockInfo.safe is neither YES nor NO:", safe);
    attestation.clockInfo.safe = safe == 1;
    attestation.firmwareVersion = reader.U64("firmwareVersion");
    const std::size_t attestedStart = reader.Offset();
    if (attestation.type == tpm::kStAttestQuote) {
        QuoteInfo quote;
        quote.pcrSelect = ReadPcrSelections(reader);
        quote.pcrDigest = reader.Sized("pcrDigest");
        reader.ExpectEnd();
        attestation.quote = std::move(quote);
        const auto all = SignedAttestationBytes(bytes);
        attestation.attested.assign(all.begin() + static_cast<std::ptrdiff_t>(attestedStart),
                                    all.end());
    } else {
        const auto rest = reader.Rest();
        attestation.attested.assign(rest.begin(), rest.end());
    }
    return attestation;
}

TpmSignature ParseTpmSignature(std::span<const std::uint8_t> bytes) {
    TpmReader reader(bytes, "TPMT_SIGNATURE");
    TpmSignature signature;
    signature.sigAlg = reader.U16("sigAlg");
    switch (signature.sigAlg) {
        case tpm::kAlgRsaSsa:
        case tpm::kAlgRsaPss:
            signature.hash = reader.U16("signature.hash");
            signature.rsaSignature = reader.Sized("signature.sig");
            break;
        case tpm::kAlgEcdsa:
        case tpm::kAlgEcdaa:
        case tpm::kAlgSm2:
        case tpm::kAlgEcSchnorr:
            signature.hash = reader.U16("signature.hash");
            signature.eccR = reader.Sized("signature.signatureR");
            signature.eccS = reader.Sized("signature.signatureS");
            break;
        case tpm::kAlgHmac: {
            // TPMT_HA: a hash algorithm and a digest of its size.
            signature.hash = reader.U16("signature.hashAlg");
            std::size_t size = 0;
            switch (signature.hash) {
                case tpm::kAlgSha1:
                    size = 20;
                    break;
                case tpm::kAlgSha256:
                case tpm::kAlgSm3_256:
                    size = 32;
                    break;
                case tpm::kAlgSha384:
                    size = 48;
                    break;
                case tpm::kAlgSha512:
                    size = 64;
                    break;
                default:
                    reader.Fail("HMAC with an unknown hash", signature.hash);
            }
            const auto digest = reader.Take(size, "signature.digest");
            signature.hmac.assign(digest.begin(), digest.end());
            break;
        }
        case tpm::kAlgNull:
            break;
        default:
            reader.Fail("unknown sigAlg", signature.sigAlg);
    }
    reader.ExpectEnd();
    return signature;
}

TpmPublic ParseTpmPublic(std::span<const std::uint8_t> bytes) {
    TpmReader outer(bytes, "TPM2B_PUBLIC");
    const std::size_t size = outer.U16("size");
    TpmReader reader(outer.Take(size, "publicArea"), "TPMT_PUBLIC");
    outer.ExpectEnd();

    TpmPublic key;
    key.type = reader.U16("type");
    key.nameAlg = reader.U16("nameAlg");
    key.objectAttributes = reader.U32("objectAttributes");
    key.authPolicy = reader.Sized("authPolicy");
    switch (key.type) {
        case tpm::kAlgRsa:
            SkipSymmetricDefinition(reader);
            key.scheme = reader.U16("scheme.scheme");
            // Every RSA scheme names a hash except RSAES, whose details are empty.
            if (key.scheme != tpm::kAlgNull && key.scheme != tpm::kAlgRsaEs)
                key.schemeHash = reader.U16("scheme.details.hashAlg");
            key.rsaKeyBits = reader.U16("keyBits");
            key.rsaExponent = reader.U32("exponent");
            key.rsaModulus = reader.Sized("unique.rsa");
            break;
        case tpm::kAlgEcc:
            SkipSymmetricDefinition(reader);
            key.scheme = reader.U16("scheme.scheme");
            if (key.scheme != tpm::kAlgNull) {
                key.schemeHash = reader.U16("scheme.details.hashAlg");
                if (key.scheme == tpm::kAlgEcdaa) reader.U16("scheme.details.count");
            }
            key.eccCurve = reader.U16("curveID");
            if (reader.U16("kdf.scheme") != tpm::kAlgNull) reader.U16("kdf.details.hashAlg");
            key.eccX = reader.Sized("unique.ecc.x");
            key.eccY = reader.Sized("unique.ecc.y");
            break;
        case tpm::kAlgKeyedHash: {
            key.scheme = reader.U16("scheme.scheme");
            if (key.scheme == tpm::kAlgHmac) {
                key.schemeHash = reader.U16("scheme.details.hashAlg");
            } else if (key.scheme == tpm::kAlgXor) {
                key.schemeHash = reader.U16("scheme.details.hashAlg");
                reader.U16("scheme.details.kdf");
            } else if (key.scheme != tpm::kAlgNull) {
                reader.Fail("unknown keyed-hash scheme", key.scheme);
            }
            key.unique = reader.Sized("unique.keyedHash");
            break;
        }
        case tpm::kAlgSymCipher:
            SkipSymmetricDefinition(reader);
            key.unique = reader.Sized("unique.sym");
            break;
        default:
            reader.Fail("unknown object type", key.type);
    }
    reader.ExpectEnd();
    return key;
}

}  // namespace qorvex::crypto
