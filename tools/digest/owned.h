// qorvex::owned::Owned: the one owner of the crypto libraries' objects in the tools (an OpenSSL
// EVP_PKEY, a CNG key handle, a crypt32 certificate context): a std::unique_ptr whose deleter is
// the library's own free function, so each owner is a one-line alias beside the code that uses
// it and every object is freed on every path, exceptions included.
//
// Threading: an owner is used by one thread at a time.
#pragma once

#include <memory>

namespace qorvex::owned {

template <auto Free>
struct FreeWith {
    template <class Pointer>
    void operator()(Pointer pointer) const noexcept {
        Free(pointer);
    }
};

// T is the pointee (or void for opaque handles that are pointers, such as CNG's).
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

}  // namespace qorvex::owned
