// The crypto library on OpenSSL's libcrypto (Linux builds), loaded on first use.
#include <openssl/core_names.h>

#include <cstring>
#include <ctime>
#include <string>

#include "crypto/backend.h"
#include "crypto/internal.h"
#include "libcrypto/libcrypto.h"

namespace qorvex::crypto::backend {

namespace {

using openssl::LibcryptoFunctions;
using openssl::Owned;
using Key = Owned<EVP_PKEY, &LibcryptoFunctions::EVP_PKEY_free>;
using KeyContext = Owned<EVP_PKEY_CTX, &LibcryptoFunctions::EVP_PKEY_CTX_free>;
using BigNumber = Owned<BIGNUM, &LibcryptoFunctions::BN_free>;
using ParamBuilder = Owned<OSSL_PARAM_BLD, &LibcryptoFunctions::OSSL_PARAM_BLD_free>;
using Params = Owned<OSSL_PARAM, &LibcryptoFunctions::OSSL_PARAM_free>;
using EcdsaSignature = Owned<ECDSA_SIG, &LibcryptoFunctions::ECDSA_SIG_free>;
using Certificate = Owned<X509, &LibcryptoFunctions::X509_free>;
using Digest = Owned<EVP_MD, &LibcryptoFunctions::EVP_MD_free>;

// libcrypto's memory (OPENSSL_malloc), freed with CRYPTO_free.
struct LibcryptoMemoryFree {
    void operator()(void* pointer) const noexcept {
        openssl::TryLibcrypto()->CRYPTO_free(pointer, __FILE__, __LINE__);
    }
};
using LibcryptoMemory = std::unique_ptr<unsigned char, LibcryptoMemoryFree>;

// libcrypto reports failures on a per-thread error queue; a failure here is answered with a
// result, so the queue is emptied for whoever looks at it next.
struct ErrorQueueCleaner {
    const LibcryptoFunctions& library;
    ~ErrorQueueCleaner() { library.ERR_clear_error(); }
};

// The loaded library, or FormatError saying why there is none (a key or certificate that
// cannot be decoded here cannot be read).
const LibcryptoFunctions& RequireLibrary(const char* what) {
    try {
        return openssl::Libcrypto();
    } catch (const std::runtime_error& e) {
        throw FormatError(std::string(what) + ": " + e.what());
    }
}

const char* CurveGroupName(EccCurve curve) noexcept {
    switch (curve) {
        case EccCurve::NistP256:
            return "P-256";
        case EccCurve::NistP384:
            return "P-384";
        case EccCurve::NistP521:
            return "P-521";
    }
    return "";
}

BigNumber ToBigNumber(const LibcryptoFunctions& library, std::span<const std::uint8_t> bytes) {
    BigNumber number(library.BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
    if (!number) throw std::bad_alloc();
    return number;
}

Bytes FromBigNumber(const LibcryptoFunctions& library, const BIGNUM* number) {
    Bytes bytes(static_cast<std::size_t>((library.BN_num_bits(number) + 7) / 8));
    if (!bytes.empty()) library.BN_bn2binpad(number, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

// The key object libcrypto verifies with, made from the key's numbers.
Key MakeKey(const LibcryptoFunctions& library, const PublicKey& key) {
    ParamBuilder builder(library.OSSL_PARAM_BLD_new());
    if (!builder) throw std::bad_alloc();
    BigNumber n, e;
    Bytes point;
    if (key.type == KeyType::Rsa) {
        n = ToBigNumber(library, key.modulus);
        e = ToBigNumber(library, key.exponent);
        if (library.OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
            library.OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
            throw std::bad_alloc();
    } else {
        // The uncompressed point: 0x04, x, y.
        point.push_back(0x04);
        point.insert(point.end(), key.x.begin(), key.x.end());
        point.insert(point.end(), key.y.begin(), key.y.end());
        if (library.OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME,
                                                    CurveGroupName(key.curve), 0) != 1 ||
            library.OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY,
                                                     point.data(), point.size()) != 1)
            throw std::bad_alloc();
    }
    Params params(library.OSSL_PARAM_BLD_to_param(builder.get()));
    if (!params) throw std::bad_alloc();
    KeyContext context(library.EVP_PKEY_CTX_new_from_name(
        nullptr, key.type == KeyType::Rsa ? "RSA" : "EC", nullptr));
    EVP_PKEY* made = nullptr;
    if (!context || library.EVP_PKEY_fromdata_init(context.get()) != 1 ||
        library.EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        return Key();
    }
    return Key(made);
}

const char* DigestName(digest::Algorithm algorithm) noexcept {
    switch (algorithm) {
        case digest::Algorithm::Sha1:
            return "SHA1";
        case digest::Algorithm::Sha256:
            return "SHA256";
        case digest::Algorithm::Sha384:
            return "SHA384";
        case digest::Algorithm::Sha512:
            return "SHA512";
        case digest::Algorithm::Sm3_256:
            return "SM3";
    }
    return "";
}

// The DER ECDSA-Sig-Value that libcrypto verifies, from r and s.
Bytes EncodeEcdsaSignature(const LibcryptoFunctions& library, const Signature& signature) {
    EcdsaSignature value(library.ECDSA_SIG_new());
    if (!value) throw std::bad_alloc();
    BigNumber r = ToBigNumber(library, signature.r);
    BigNumber s = ToBigNumber(library, signature.s);
    if (library.ECDSA_SIG_set0(value.get(), r.get(), s.get()) != 1) throw std::bad_alloc();
    (void)r.release();  // owned by value now
    (void)s.release();
    unsigned char* der = nullptr;
    const int size = library.i2d_ECDSA_SIG(value.get(), &der);
    if (size <= 0) throw std::bad_alloc();
    LibcryptoMemory owned(der);
    return Bytes(der, der + size);
}

bool Verifies(const LibcryptoFunctions& library, EVP_PKEY* key, const Signature& signature,
              std::span<const std::uint8_t> digest, int padding) {
    KeyContext context(library.EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!context || library.EVP_PKEY_verify_init(context.get()) != 1) return false;
    if (padding != 0) {
        if (library.EVP_PKEY_CTX_set_rsa_padding(context.get(), padding) != 1) return false;
        if (padding == RSA_PKCS1_PSS_PADDING &&
            library.EVP_PKEY_CTX_set_rsa_pss_saltlen(context.get(), RSA_PSS_SALTLEN_AUTO) != 1)
            return false;
    }
    // The context takes its own reference to the digest.
    const Digest md(library.EVP_MD_fetch(nullptr, DigestName(signature.hash), nullptr));
    if (!md || library.EVP_PKEY_CTX_set_signature_md(context.get(), md.get()) != 1) return false;
    const Bytes encoded = signature.scheme == SignatureScheme::Ecdsa
                              ? EncodeEcdsaSignature(library, signature)
                              : signature.rsa;
    return library.EVP_PKEY_verify(context.get(), encoded.data(), encoded.size(), digest.data(),
                                   digest.size()) == 1;
}

// The attributes of a name in encoding order, each with the index of its RDN.
bool ReadName(const LibcryptoFunctions& library, const X509_NAME* name,
              std::vector<NameAttribute>& attributes) {
    if (name == nullptr) return false;
    const int count = library.X509_NAME_entry_count(name);
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* entry = library.X509_NAME_get_entry(name, i);
        if (entry == nullptr) return false;
        NameAttribute attribute;
        attribute.rdn = static_cast<std::size_t>(library.X509_NAME_ENTRY_set(entry));
        char oid[256];
        const int oidLength =
            library.OBJ_obj2txt(oid, sizeof oid, library.X509_NAME_ENTRY_get_object(entry), 1);
        if (oidLength <= 0 || oidLength >= static_cast<int>(sizeof oid)) return false;
        attribute.oid.assign(oid, static_cast<std::size_t>(oidLength));
        const ASN1_STRING* data = library.X509_NAME_ENTRY_get_data(entry);
        unsigned char* text = nullptr;
        const int textLength = library.ASN1_STRING_to_UTF8(&text, data);
        if (textLength >= 0) {
            const LibcryptoMemory ownedText(text);
            attribute.value.assign(reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(textLength));
        } else {
            // Not a string type: its content bytes.
            library.ERR_clear_error();
            attribute.isText = false;
            const unsigned char* bytes = library.ASN1_STRING_get0_data(data);
            const int length = library.ASN1_STRING_length(data);
            if (bytes != nullptr && length > 0)
                attribute.value.assign(reinterpret_cast<const char*>(bytes),
                                       static_cast<std::size_t>(length));
        }
        attributes.push_back(std::move(attribute));
    }
    return true;
}

bool ReadTime(const LibcryptoFunctions& library, const ASN1_TIME* time, CivilTime& civil) {
    std::tm tm{};
    if (time == nullptr || library.ASN1_TIME_to_tm(time, &tm) != 1) return false;
    civil = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    return true;
}

}  // namespace

const char* LibraryName() noexcept {
    return "libcrypto";
}

PublicKey DecodeSubjectPublicKeyInfo(std::span<const std::uint8_t> der) {
    const LibcryptoFunctions* library = &RequireLibrary("SubjectPublicKeyInfo");
    ErrorQueueCleaner cleaner{*library};
    const unsigned char* at = der.data();
    Key key(library->d2i_PUBKEY(nullptr, &at, static_cast<long>(der.size())));
    if (!key || at != der.data() + der.size())
        throw FormatError("SubjectPublicKeyInfo: libcrypto cannot decode the key");
    PublicKey result;
    const int id = library->EVP_PKEY_get_base_id(key.get());
    if (id == EVP_PKEY_RSA) {
        BIGNUM* n = nullptr;
        BIGNUM* e = nullptr;
        const bool got =
            library->EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
            library->EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &e) == 1;
        BigNumber ownedN(n), ownedE(e);
        if (!got) throw FormatError("SubjectPublicKeyInfo: an RSA key without its numbers");
        result.type = KeyType::Rsa;
        result.modulus = FromBigNumber(*library, n);
        result.exponent = FromBigNumber(*library, e);
        return result;
    }
    if (id == EVP_PKEY_EC) {
        char group[64] = {};
        std::size_t groupLength = 0;
        if (library->EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group,
                                                    sizeof group, &groupLength) != 1)
            throw FormatError("SubjectPublicKeyInfo: an ECC key on an unnamed curve");
        const std::string name(group, groupLength);
        result.type = KeyType::Ecc;
        if (name == "prime256v1" || name == "P-256") {
            result.curve = EccCurve::NistP256;
        } else if (name == "secp384r1" || name == "P-384") {
            result.curve = EccCurve::NistP384;
        } else if (name == "secp521r1" || name == "P-521") {
            result.curve = EccCurve::NistP521;
        } else {
            throw FormatError("SubjectPublicKeyInfo: ECC curve " + name + " is not supported");
        }
        BIGNUM* x = nullptr;
        BIGNUM* y = nullptr;
        const bool got =
            library->EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
            library->EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1;
        BigNumber ownedX(x), ownedY(y);
        if (!got) throw FormatError("SubjectPublicKeyInfo: an ECC key without its point");
        const std::size_t size = EccFieldSize(result.curve);
        result.x = *internal::LeftPadded(FromBigNumber(*library, x), size);
        result.y = *internal::LeftPadded(FromBigNumber(*library, y), size);
        return result;
    }
    throw FormatError("SubjectPublicKeyInfo: not an RSA or ECC key");
}

Verification VerifyDigest(const PublicKey& key, const Signature& signature,
                          std::span<const std::uint8_t> digest) {
    const LibcryptoFunctions* library = openssl::TryLibcrypto();
    if (library == nullptr) {
        try {
            (void)openssl::Libcrypto();
        } catch (const std::runtime_error& e) {
            return {Verdict::Unsupported, e.what()};
        }
    }
    ErrorQueueCleaner cleaner{*library};
    const Key made = MakeKey(*library, key);
    if (!made)
        return {Verdict::Invalid, "libcrypto does not accept the " + key.Describe() + " key"};
    int padding = 0;
    if (signature.scheme == SignatureScheme::RsassaPkcs1v15) padding = RSA_PKCS1_PADDING;
    if (signature.scheme == SignatureScheme::RsaPss) padding = RSA_PKCS1_PSS_PADDING;
    if (Verifies(*library, made.get(), signature, digest, padding))
        return {Verdict::Valid,
                signature.Describe() + " verifies with the " + key.Describe() + " key"};
    return {Verdict::Invalid,
            signature.Describe() + " does not verify with the " + key.Describe() + " key"};
}

std::optional<DecodedCertificate> DecodeCertificate(std::span<const std::uint8_t> der,
                                                    std::string& error) {
    const LibcryptoFunctions* library = openssl::TryLibcrypto();
    if (library == nullptr) {
        try {
            (void)openssl::Libcrypto();
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        return std::nullopt;
    }
    ErrorQueueCleaner cleaner{*library};
    const unsigned char* at = der.data();
    const Certificate certificate(library->d2i_X509(nullptr, &at, static_cast<long>(der.size())));
    if (!certificate || at != der.data() + der.size()) {
        error = "not an X.509 certificate";
        return std::nullopt;
    }
    DecodedCertificate decoded;
    if (!ReadName(*library, library->X509_get_subject_name(certificate.get()), decoded.subject) ||
        !ReadName(*library, library->X509_get_issuer_name(certificate.get()), decoded.issuer)) {
        error = "a name that cannot be read";
        return std::nullopt;
    }
    unsigned char* serial = nullptr;
    const int serialSize =
        library->i2d_ASN1_INTEGER(library->X509_get0_serialNumber(certificate.get()), &serial);
    if (serialSize <= 0) {
        error = "a serial number that cannot be read";
        return std::nullopt;
    }
    const LibcryptoMemory ownedSerial(serial);
    const auto content = internal::DerContent(
        std::span(serial, static_cast<std::size_t>(serialSize)), internal::kDerInteger);
    if (!content) {
        error = "a serial number that cannot be read";
        return std::nullopt;
    }
    decoded.serialNumber.assign(content->begin(), content->end());
    if (!ReadTime(*library, library->X509_get0_notBefore(certificate.get()), decoded.notBefore) ||
        !ReadTime(*library, library->X509_get0_notAfter(certificate.get()), decoded.notAfter)) {
        error = "a validity time that cannot be read";
        return std::nullopt;
    }
    return decoded;
}

}  // namespace qorvex::crypto::backend
