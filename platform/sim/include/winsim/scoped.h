// Scoped overrides: change one slice of the machine for a scope and get the previous slice
// back at its end (not the default: an override inside another restores the outer one).
//
// A room's scoped control derives from ScopedOverride<Slice> with the functions that read and
// write its slice:
//
//     class ScopedRegistryValue : public ScopedOverride<std::optional<RegistryValue>> { ... };
//
// Threading: the slice is machine state, so an override is seen by every thread; create and
// end it on one thread.
#pragma once

#include <functional>
#include <utility>

namespace winsim {

template <class Slice>
class ScopedOverride {
public:
    using Get = std::function<Slice()>;
    using Set = std::function<void(Slice)>;

    ScopedOverride(Get get, Set set, Slice value) : m_set(std::move(set)), m_previous(get()) {
        m_set(std::move(value));
    }
    ~ScopedOverride() { m_set(std::move(m_previous)); }
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

    const Slice& Previous() const { return m_previous; }

private:
    Set m_set;
    Slice m_previous;
};

}  // namespace winsim
