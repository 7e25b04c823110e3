// OpenSSL's libcrypto, loaded on first use (Linux builds of the host and the tools).
//
// qorvex-host's runs that hash nothing (--version, chain, tcg-log on the module) must start as
// fast as they did before the host used libcrypto. Linked in, statically or as a shared library,
// it costs every start about a hundred page faults (its relocations and loading); loaded here
// with dlopen, it costs only the runs that use it, once. Each function is called through a
// pointer whose type is taken from OpenSSL's own declaration, so a call that does not match the
// header does not compile.
//
// Threading: Libcrypto() loads the library once for the whole process (concurrent first calls
// wait for one load); the table it returns is immutable afterwards.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>

namespace qorvex::openssl {

// Every libcrypto function the tools call: the digests first, then keys, signatures and
// certificates. Macros of OpenSSL's headers (OPENSSL_free, BN_num_bytes, ...) are not functions
// and are not listed; their functions are.
#define QORVEX_LIBCRYPTO_FUNCTIONS(F)   \
    F(OPENSSL_init_crypto)              \
    F(ERR_clear_error)                  \
    F(CRYPTO_free)                      \
    F(EVP_MD_fetch)                     \
    F(EVP_MD_free)                      \
    F(EVP_MD_CTX_new)                   \
    F(EVP_MD_CTX_free)                  \
    F(EVP_DigestInit_ex2)               \
    F(EVP_DigestUpdate)                 \
    F(EVP_DigestFinal_ex)               \
    F(BN_bin2bn)                        \
    F(BN_bn2binpad)                     \
    F(BN_num_bits)                      \
    F(BN_free)                          \
    F(OSSL_PARAM_BLD_new)               \
    F(OSSL_PARAM_BLD_push_BN)           \
    F(OSSL_PARAM_BLD_push_utf8_string)  \
    F(OSSL_PARAM_BLD_push_octet_string) \
    F(OSSL_PARAM_BLD_to_param)          \
    F(OSSL_PARAM_BLD_free)              \
    F(OSSL_PARAM_free)                  \
    F(EVP_PKEY_CTX_new_from_name)       \
    F(EVP_PKEY_CTX_new_from_pkey)       \
    F(EVP_PKEY_CTX_free)                \
    F(EVP_PKEY_fromdata_init)           \
    F(EVP_PKEY_fromdata)                \
    F(EVP_PKEY_free)                    \
    F(EVP_PKEY_get_base_id)             \
    F(EVP_PKEY_get_bn_param)            \
    F(EVP_PKEY_get_utf8_string_param)   \
    F(EVP_PKEY_verify_init)             \
    F(EVP_PKEY_verify)                  \
    F(EVP_PKEY_CTX_set_rsa_padding)     \
    F(EVP_PKEY_CTX_set_rsa_pss_saltlen) \
    F(EVP_PKEY_CTX_set_signature_md)    \
    F(ECDSA_SIG_new)                    \
    F(ECDSA_SIG_free)                   \
    F(ECDSA_SIG_set0)                   \
    F(i2d_ECDSA_SIG)                    \
    F(d2i_PUBKEY)                       \
    F(d2i_X509)                         \
    F(X509_free)                        \
    F(X509_get_subject_name)            \
    F(X509_get_issuer_name)             \
    F(X509_get0_serialNumber)           \
    F(X509_get0_notBefore)              \
    F(X509_get0_notAfter)               \
    F(X509_NAME_entry_count)            \
    F(X509_NAME_get_entry)              \
    F(X509_NAME_ENTRY_get_object)       \
    F(X509_NAME_ENTRY_get_data)         \
    F(X509_NAME_ENTRY_set)              \
    F(OBJ_obj2txt)                      \
    F(ASN1_STRING_to_UTF8)              \
    F(ASN1_STRING_get0_data)            \
    F(ASN1_STRING_length)               \
    F(ASN1_STRING_type)                 \
    F(i2d_ASN1_INTEGER)                 \
    F(ASN1_TIME_to_tm)

// The loaded library: one pointer per function, named as the function.
struct LibcryptoFunctions {
#define QORVEX_LIBCRYPTO_POINTER(name) decltype(&::name) name = nullptr;
    QORVEX_LIBCRYPTO_FUNCTIONS(QORVEX_LIBCRYPTO_POINTER)
#undef QORVEX_LIBCRYPTO_POINTER
};

// The shared library's file name: the ABI of OpenSSL 3, whose headers the tools compile with.
inline constexpr const char* kLibcryptoFileName = "libcrypto.so.3";

// Opens fileName and resolves every function. Without the library, or when a function is
// missing, answers nothing and says why in `error`; the library is not loaded then.
std::optional<LibcryptoFunctions> OpenLibcrypto(const char* fileName, std::string& error);

// The process's libcrypto (kLibcryptoFileName, opened once and never closed), or null when it
// cannot be opened.
const LibcryptoFunctions* TryLibcrypto() noexcept;
// The same, or std::runtime_error saying why there is none.
const LibcryptoFunctions& Libcrypto();

// The owner of a libcrypto object: a std::unique_ptr that frees it with the loaded library's
// own free function, e.g. Owned<X509, &LibcryptoFunctions::X509_free>. Only objects that the
// loaded library made are ever owned, so the library is there when one is freed.
template <auto FreeFunction>
struct FreeWithLibcrypto {
    template <class Pointer>
    void operator()(Pointer pointer) const noexcept {
        (TryLibcrypto()->*FreeFunction)(pointer);
    }
};
template <class T, auto FreeFunction>
using Owned = std::unique_ptr<T, FreeWithLibcrypto<FreeFunction>>;

}  // namespace qorvex::openssl
