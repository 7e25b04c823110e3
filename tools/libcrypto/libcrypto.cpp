#include "libcrypto/libcrypto.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qorvex::openssl {

namespace {

struct Loaded {
    std::optional<LibcryptoFunctions> functions;
    std::string error;
};

const Loaded& Load() noexcept {
    static const Loaded loaded = []() noexcept {
        Loaded result;
        try {
            result.functions = OpenLibcrypto(kLibcryptoFileName, result.error);
            if (result.functions) {
                // The host reads logs; what the system's openssl.cnf enables or restricts for
                // TLS must not change which PCR banks it replays or which keys it reads.
                result.functions->OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
            }
        } catch (...) {
            result.functions.reset();
        }
        return result;
    }();
    return loaded;
}

}  // namespace

std::optional<LibcryptoFunctions> OpenLibcrypto(const char* fileName, std::string& error) {
    error.clear();
    void* library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        error = std::string("cannot load ") + fileName + ": " + (why ? why : "unknown error");
        return std::nullopt;
    }
    LibcryptoFunctions functions;
#define QORVEX_LIBCRYPTO_RESOLVE(name)                                                  \
    functions.name = reinterpret_cast<decltype(functions.name)>(dlsym(library, #name)); \
    if (functions.name == nullptr) {                                                    \
        error = std::string(fileName) + " has no " #name;                               \
        dlclose(library);                                                               \
        return std::nullopt;                                                            \
    }
    QORVEX_LIBCRYPTO_FUNCTIONS(QORVEX_LIBCRYPTO_RESOLVE)
#undef QORVEX_LIBCRYPTO_RESOLVE
    // Kept open for the life of the process: the pointers above stay valid.
    return functions;
}

const LibcryptoFunctions* TryLibcrypto() noexcept {
    const Loaded& loaded = Load();
    return loaded.functions ? &*loaded.functions : nullptr;
}

const LibcryptoFunctions& Libcrypto() {
    const Loaded& loaded = Load();
    if (!loaded.functions) throw std::runtime_error(loaded.error);
    return *loaded.functions;
}

}  // namespace qorvex::openssl
