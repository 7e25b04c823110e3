// zef::unique_resource: the one owner template for OS resources (file handles, COM task
// memory, and later HSTRINGs, tokens, find handles). Each kind is a traits type naming its
// pointer type, its invalid value, its validity test and its close call; the named scope types
// are aliases of this template.
//
// Threading: an owner is used by one thread at a time.
#pragma once

#include <utility>

namespace zef {

template <class Traits>
class unique_resource {
public:
    using pointer = typename Traits::pointer;

    unique_resource() noexcept = default;
    explicit unique_resource(pointer value) noexcept : m_value(value) {}
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    ~unique_resource() { reset(); }

    void reset() noexcept {
        const pointer value = std::exchange(m_value, Traits::Invalid());
        if (Traits::IsValid(value)) Traits::Close(value);
    }
    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return Traits::IsValid(m_value); }
    // For out-parameters; whatever the callee writes is owned, even when it reports failure.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

private:
    pointer m_value = Traits::Invalid();
};

}  // namespace zef
