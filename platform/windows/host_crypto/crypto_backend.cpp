// The crypto library on CNG (bcrypt: keys, signature checks) and crypt32 (DER decoding of keys
// and certificates), Windows builds.
#include <windows.h>

// bcrypt.h and wincrypt.h use the types of windows.h.
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/backend.h"
#include "crypto/internal.h"
#include "digest/owned.h"

namespace qorvex::crypto::backend {

namespace {

using owned::Owned;
using CertificateContext = Owned<const CERT_CONTEXT, &CertFreeCertificateContext>;
using KeyHandle = Owned<void, &BCryptDestroyKey>;
// What CryptDecodeObjectEx allocates with CRYPT_DECODE_ALLOC_FLAG is freed with LocalFree.
template <class T>
using Decoded = Owned<T, &LocalFree>;

constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000);

// Decodes one crypt32 structure; null when crypt32 refuses the bytes.
template <class T>
Decoded<T> Decode(LPCSTR structType, std::span<const std::uint8_t> bytes) {
    void* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, structType, bytes.data(),
                             static_cast<DWORD>(bytes.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &decoded, &size)) {
        return Decoded<T>();
    }
    return Decoded<T>(static_cast<T*>(decoded));
}

std::string StatusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(status));
    return text;
}

// The signature algorithm providers, opened once for the process (as the digest ones are):
// RSA, ECDSA P-256, P-384, P-521. A provider the system lacks stays null.
enum ProviderIndex : std::size_t { kRsa, kEcdsaP256, kEcdsaP384, kEcdsaP521, kProviderCount };

BCRYPT_ALG_HANDLE Provider(ProviderIndex index) noexcept {
    static const std::array<BCRYPT_ALG_HANDLE, kProviderCount> providers = [] {
        constexpr const wchar_t* kNames[kProviderCount] = {
            BCRYPT_RSA_ALGORITHM, BCRYPT_ECDSA_P256_ALGORITHM, BCRYPT_ECDSA_P384_ALGORITHM,
            BCRYPT_ECDSA_P521_ALGORITHM};
        std::array<BCRYPT_ALG_HANDLE, kProviderCount> opened{};
        for (std::size_t i = 0; i < kProviderCount; ++i) {
            BCRYPT_ALG_HANDLE handle = nullptr;
            if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, kNames[i], nullptr, 0)))
                opened[i] = handle;
        }
        return opened;
    }();
    return providers[index];
}

const wchar_t* HashAlgorithmName(digest::Algorithm algorithm) noexcept {
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

void Append(std::vector<std::uint8_t>& out, const void* bytes, std::size_t size) {
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    out.insert(out.end(), begin, begin + size);
}

// The key as a CNG key handle (BCRYPT_RSAPUBLIC_BLOB / BCRYPT_ECCPUBLIC_BLOB); null with the
// status when CNG refuses it.
KeyHandle ImportKey(const PublicKey& key, NTSTATUS& status) {
    std::vector<std::uint8_t> blob;
    BCRYPT_ALG_HANDLE provider = nullptr;
    const wchar_t* blobType = nullptr;
    if (key.type == KeyType::Rsa) {
        BCRYPT_RSAKEY_BLOB header{};
        header.Magic = BCRYPT_RSAPUBLIC_MAGIC;
        header.BitLength = static_cast<ULONG>(key.Bits());
        header.cbPublicExp = static_cast<ULONG>(key.exponent.size());
        header.cbModulus = static_cast<ULONG>(key.modulus.size());
        Append(blob, &header, sizeof header);
        Append(blob, key.exponent.data(), key.exponent.size());
        Append(blob, key.modulus.data(), key.modulus.size());
        provider = Provider(kRsa);
        blobType = BCRYPT_RSAPUBLIC_BLOB;
    } else {
        BCRYPT_ECCKEY_BLOB header{};
        ProviderIndex index = kEcdsaP256;
        switch (key.curve) {
            case EccCurve::NistP256:
                header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
                index = kEcdsaP256;
                break;
            case EccCurve::NistP384:
                header.dwMagic = BCRYPT_ECDSA_PUBLIC_P384_MAGIC;
                index = kEcdsaP384;
                break;
            case EccCurve::NistP521:
                header.dwMagic = BCRYPT_ECDSA_PUBLIC_P521_MAGIC;
                index = kEcdsaP521;
                break;
        }
        header.cbKey = static_cast<ULONG>(EccFieldSize(key.curve));
        Append(blob, &header, sizeof header);
        Append(blob, key.x.data(), key.x.size());
        Append(blob, key.y.data(), key.y.size());
        provider = Provider(index);
        blobType = BCRYPT_ECCPUBLIC_BLOB;
    }
    if (provider == nullptr) {
        status = static_cast<NTSTATUS>(0xC00000BB);  // STATUS_NOT_SUPPORTED
        return KeyHandle();
    }
    BCRYPT_KEY_HANDLE handle = nullptr;
    status = BCryptImportKeyPair(provider, nullptr, blobType, &handle, blob.data(),
                                 static_cast<ULONG>(blob.size()), 0);
    return BCRYPT_SUCCESS(status) ? KeyHandle(handle) : KeyHandle();
}

NTSTATUS VerifyWith(BCRYPT_KEY_HANDLE key, void* padding, std::span<const std::uint8_t> digest,
                    std::span<const std::uint8_t> signature, ULONG flags) {
    return BCryptVerifySignature(
        key, padding, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
        const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), flags);
}

std::string Utf8FromUtf16(const wchar_t* text, std::size_t units) {
    if (units == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), out.data(), size, nullptr,
                            nullptr);
    return out;
}

bool IsStringType(DWORD valueType) noexcept {
    switch (valueType & CERT_RDN_TYPE_MASK) {
        case CERT_RDN_NUMERIC_STRING:
        case CERT_RDN_PRINTABLE_STRING:
        case CERT_RDN_TELETEX_STRING:
        case CERT_RDN_VIDEOTEX_STRING:
        case CERT_RDN_IA5_STRING:
        case CERT_RDN_GRAPHIC_STRING:
        case CERT_RDN_VISIBLE_STRING:
        case CERT_RDN_GENERAL_STRING:
        case CERT_RDN_UNIVERSAL_STRING:
        case CERT_RDN_BMP_STRING:
        case CERT_RDN_UTF8_STRING:
            return true;
        default:
            return false;
    }
}

// The attributes of a name in encoding order. With X509_UNICODE_NAME crypt32 gives every
// string value as UTF-16.
bool ReadName(const CERT_NAME_BLOB& blob, std::vector<NameAttribute>& attributes) {
    const auto name =
        Decode<CERT_NAME_INFO>(X509_UNICODE_NAME, std::span(blob.pbData, blob.cbData));
    if (!name) return false;
    for (DWORD r = 0; r < name->cRDN; ++r) {
        const CERT_RDN& rdn = name->rgRDN[r];
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
            const CERT_RDN_ATTR& attr = rdn.rgRDNAttr[a];
            NameAttribute attribute;
            attribute.rdn = r;
            attribute.oid = attr.pszObjId != nullptr ? attr.pszObjId : "";
            if (IsStringType(attr.dwValueType)) {
                std::size_t units = attr.Value.cbData / sizeof(wchar_t);
                const auto* text = reinterpret_cast<const wchar_t*>(attr.Value.pbData);
                // crypt32 counts the terminating zero of a UTF8String value in cbData (Wine's
                // conformance tests record it of Windows), and of no other string type.
                if ((attr.dwValueType & CERT_RDN_TYPE_MASK) == CERT_RDN_UTF8_STRING && units > 0 &&
                    text[units - 1] == L'\0')
                    --units;
                attribute.value = Utf8FromUtf16(text, units);
            } else {
                attribute.isText = false;
                attribute.value.assign(reinterpret_cast<const char*>(attr.Value.pbData),
                                       attr.Value.cbData);
            }
            attributes.push_back(std::move(attribute));
        }
    }
    return true;
}

bool ReadTime(const FILETIME& time, CivilTime& civil) {
    SYSTEMTIME system{};
    if (!FileTimeToSystemTime(&time, &system)) return false;
    civil = {system.wYear, system.wMonth,  system.wDay,
             system.wHour, system.wMinute, system.wSecond};
    return true;
}

}  // namespace

const char* LibraryName() noexcept {
    return "CNG";
}

PublicKey DecodeSubjectPublicKeyInfo(std::span<const std::uint8_t> der) {
    const auto info = Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, der);
    if (!info) throw FormatError("SubjectPublicKeyInfo: crypt32 cannot decode the key");
    const char* algorithm = info->Algorithm.pszObjId != nullptr ? info->Algorithm.pszObjId : "";
    const std::span<const std::uint8_t> bits(info->PublicKey.pbData, info->PublicKey.cbData);
    PublicKey key;
    if (std::strcmp(algorithm, szOID_RSA_RSA) == 0) {
        const auto rsa = Decode<BCRYPT_RSAKEY_BLOB>(CNG_RSA_PUBLIC_KEY_BLOB, bits);
        if (!rsa) throw FormatError("SubjectPublicKeyInfo: crypt32 cannot decode the RSA key");
        const auto* numbers = reinterpret_cast<const std::uint8_t*>(rsa.get() + 1);
        key.type = KeyType::Rsa;
        key.exponent = internal::WithoutLeadingZeros(std::span(numbers, rsa->cbPublicExp));
        key.modulus =
            internal::WithoutLeadingZeros(std::span(numbers + rsa->cbPublicExp, rsa->cbModulus));
        return key;
    }
    if (std::strcmp(algorithm, szOID_ECC_PUBLIC_KEY) == 0) {
        const auto curve = Decode<LPSTR>(
            X509_OBJECT_IDENTIFIER,
            std::span(info->Algorithm.Parameters.pbData, info->Algorithm.Parameters.cbData));
        if (!curve || *curve == nullptr)
            throw FormatError("SubjectPublicKeyInfo: an ECC key without a named curve");
        key.type = KeyType::Ecc;
        if (std::strcmp(*curve, szOID_ECC_CURVE_P256) == 0) {
            key.curve = EccCurve::NistP256;
        } else if (std::strcmp(*curve, szOID_ECC_CURVE_P384) == 0) {
            key.curve = EccCurve::NistP384;
        } else if (std::strcmp(*curve, szOID_ECC_CURVE_P521) == 0) {
            key.curve = EccCurve::NistP521;
        } else {
            throw FormatError(std::string("SubjectPublicKeyInfo: ECC curve ") + *curve +
                              " is not supported");
        }
        // The uncompressed point: 0x04, x, y.
        const std::size_t size = EccFieldSize(key.curve);
        if (bits.size() != 1 + 2 * size || bits[0] != 0x04)
            throw FormatError(
                "SubjectPublicKeyInfo: the ECC point is not an uncompressed point "
                "of its curve");
        key.x.assign(bits.begin() + 1, bits.begin() + 1 + static_cast<std::ptrdiff_t>(size));
        key.y.assign(bits.begin() + 1 + static_cast<std::ptrdiff_t>(size), bits.end());
        return key;
    }
    throw FormatError("SubjectPublicKeyInfo: not an RSA or ECC key");
}

Verification VerifyDigest(const PublicKey& key, const Signature& signature,
                          std::span<const std::uint8_t> digest) {
    NTSTATUS status = 0;
    const KeyHandle handle = ImportKey(key, status);
    if (!handle) {
        return {Verdict::Unsupported,
                "CNG does not take the " + key.Describe() + " key (" + StatusText(status) + ")"};
    }
    const wchar_t* hashName = HashAlgorithmName(signature.hash);
    switch (signature.scheme) {
        case SignatureScheme::RsassaPkcs1v15: {
            BCRYPT_PKCS1_PADDING_INFO padding{hashName};
            status = VerifyWith(handle.get(), &padding, digest, signature.rsa, BCRYPT_PAD_PKCS1);
            break;
        }
        case SignatureScheme::RsaPss: {
            // CNG checks one salt length: a TPM's is the digest's length, or (older TPMs) the
            // largest the key allows.
            const std::size_t largest = key.modulus.size() >= digest.size() + 2
                                            ? key.modulus.size() - digest.size() - 2
                                            : digest.size();
            for (const std::size_t salt : {digest.size(), largest}) {
                BCRYPT_PSS_PADDING_INFO padding{hashName, static_cast<ULONG>(salt)};
                status = VerifyWith(handle.get(), &padding, digest, signature.rsa, BCRYPT_PAD_PSS);
                if (status != kStatusInvalidSignature) break;
            }
            break;
        }
        case SignatureScheme::Ecdsa: {
            // CNG takes r and s side by side, each as long as a coordinate.
            const std::size_t size = EccFieldSize(key.curve);
            const auto r = internal::LeftPadded(signature.r, size);
            const auto s = internal::LeftPadded(signature.s, size);
            if (!r || !s) {
                return {Verdict::Invalid, signature.Describe() + ": r or s is larger than the " +
                                              key.Describe() + " curve"};
            }
            std::vector<std::uint8_t> rs = *r;
            rs.insert(rs.end(), s->begin(), s->end());
            status = VerifyWith(handle.get(), nullptr, digest, rs, 0);
            break;
        }
    }
    if (BCRYPT_SUCCESS(status))
        return {Verdict::Valid,
                signature.Describe() + " verifies with the " + key.Describe() + " key"};
    if (status == kStatusInvalidSignature) {
        return {Verdict::Invalid,
                signature.Describe() + " does not verify with the " + key.Describe() + " key"};
    }
    return {Verdict::Unsupported, "CNG cannot check " + signature.Describe() + " with the " +
                                      key.Describe() + " key (" + StatusText(status) + ")"};
}

std::optional<DecodedCertificate> DecodeCertificate(std::span<const std::uint8_t> der,
                                                    std::string& error) {
    const CertificateContext context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                  static_cast<DWORD>(der.size())));
    if (!context) {
        char text[80];
        std::snprintf(text, sizeof text, "not an X.509 certificate (error 0x%08lx)",
                      static_cast<unsigned long>(GetLastError()));
        error = text;
        return std::nullopt;
    }
    const CERT_INFO& info = *context->pCertInfo;
    DecodedCertificate decoded;
    if (!ReadName(info.Subject, decoded.subject) || !ReadName(info.Issuer, decoded.issuer)) {
        error = "a name that cannot be read";
        return std::nullopt;
    }
    // crypt32 keeps the INTEGER's content bytes least significant first.
    decoded.serialNumber.assign(info.SerialNumber.pbData,
                                info.SerialNumber.pbData + info.SerialNumber.cbData);
    std::reverse(decoded.serialNumber.begin(), decoded.serialNumber.end());
    if (!ReadTime(info.NotBefore, decoded.notBefore) ||
        !ReadTime(info.NotAfter, decoded.notAfter)) {
        error = "a validity time that cannot be read";
        return std::nullopt;
    }
    return decoded;
}

}  // namespace qorvex::crypto::backend
