// The Windows binding of win/crt_text.h: the C runtime's own functions.
#include "binding.h"

#include <cwchar>
#include <cwctype>

static_assert(sizeof(::mbstate_t) <= sizeof(win::mbstate_t));
static_assert(sizeof(::wint_t) == sizeof(win::wint_t));

namespace {

// The caller's conversion state travels in win::mbstate_t; the runtime's own state is copied in
// before and out after each call so that a partial character carries over between calls.
class NativeState {
public:
    explicit NativeState(win::mbstate_t* state) : m_state(state) {
        if (m_state != nullptr) std::memcpy(&m_native, m_state->opaque, sizeof m_native);
    }
    ~NativeState() {
        if (m_state != nullptr) std::memcpy(m_state->opaque, &m_native, sizeof m_native);
    }
    NativeState(const NativeState&) = delete;
    NativeState& operator=(const NativeState&) = delete;
    ::mbstate_t* get() { return m_state != nullptr ? &m_native : nullptr; }

private:
    win::mbstate_t* m_state;
    ::mbstate_t m_native{};
};

}  // namespace

std::size_t win::mbrtowc(win::WCHAR* out, const char* s, std::size_t n, win::mbstate_t* state) {
    NativeState native(state);
    return ::mbrtowc(reinterpret_cast<wchar_t*>(out), s, n, native.get());
}

win::errno_t win::wcrtomb_s(std::size_t* written, char* out, std::size_t outSize, win::WCHAR wc,
                            win::mbstate_t* state) {
    NativeState native(state);
    return ::wcrtomb_s(written, out, outSize, static_cast<wchar_t>(wc), native.get());
}

win::wint_t win::towlower(win::wint_t c) {
    return static_cast<win::wint_t>(::towlower(c));
}
