// The Windows binding of win.h: every function forwards to the operating system or its C
// runtime. This is the only place that includes <windows.h>; UTF-16 text is cast between
// char16_t and wchar_t (the same 16-bit units on Windows) here and nowhere else.
//
// win.h comes first on purpose: <windows.h> defines macros (TRUE, S_OK, ERROR_*, FAILED ...)
// that would rewrite the constants win.h declares. Below the includes, only Windows' own names
// are used for those constants, and parameter types that are macros there (REFKNOWNFOLDERID)
// are spelled out.
#include <win/win.h>

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include <windows.h>

#include <shlobj.h>
// Last: strsafe.h retires the unsafe string functions by redefining their names.
#include <strsafe.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(::GUID) == sizeof(win::GUID));
static_assert(sizeof(::DWORD) == sizeof(win::DWORD));
static_assert(sizeof(::mbstate_t) <= sizeof(win::mbstate_t));
static_assert(sizeof(::wint_t) == sizeof(win::wint_t));

namespace {

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

::GUID NativeGuid(const win::GUID& id) {
    ::GUID native;
    std::memcpy(&native, &id, sizeof native);
    return native;
}

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

win::DWORD win::GetLastError() {
    return ::GetLastError();
}

void win::SetLastError(win::DWORD error) {
    ::SetLastError(error);
}

win::HANDLE win::GetProcessHeap() {
    return ::GetProcessHeap();
}

win::LPVOID win::HeapAlloc(win::HANDLE heap, win::DWORD flags, win::SIZE_T bytes) {
    return ::HeapAlloc(heap, flags, bytes);
}

win::BOOL win::HeapFree(win::HANDLE heap, win::DWORD flags, win::LPVOID block) {
    return ::HeapFree(heap, flags, block);
}

win::BOOL win::DisableThreadLibraryCalls(win::HMODULE module) {
    return ::DisableThreadLibraryCalls(static_cast<::HMODULE>(module));
}

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

win::LSTATUS win::RegGetValueW(win::HKEY key, win::LPCWSTR subKey, win::LPCWSTR value,
                               win::DWORD flags, win::DWORD* type, void* data,
                               win::DWORD* dataSize) {
    // Start from the caller's values so that whatever Windows leaves unwritten stays as it was.
    ::DWORD nativeType = type != nullptr ? *type : 0;
    ::DWORD nativeSize = dataSize != nullptr ? *dataSize : 0;
    const ::LSTATUS status = ::RegGetValueW(static_cast<::HKEY>(key), Wide(subKey), Wide(value),
                                            flags, type != nullptr ? &nativeType : nullptr, data,
                                            dataSize != nullptr ? &nativeSize : nullptr);
    if (type != nullptr) *type = nativeType;
    if (dataSize != nullptr) *dataSize = nativeSize;
    return status;
}

win::HRESULT win::SHGetKnownFolderPath(const win::GUID& id, win::DWORD flags, win::HANDLE token,
                                       win::PWSTR* path) {
    if (path == nullptr) return E_INVALIDARG;
    const ::GUID native = NativeGuid(id);
    ::PWSTR result = nullptr;
    const ::HRESULT hr = ::SHGetKnownFolderPath(native, flags, token, &result);
    *path = reinterpret_cast<win::PWSTR>(result);
    return hr;
}

void win::CoTaskMemFree(win::LPVOID block) {
    ::CoTaskMemFree(block);
}

win::HANDLE win::CreateFileW(win::LPCWSTR name, win::DWORD access, win::DWORD shareMode,
                             void* security, win::DWORD disposition, win::DWORD flagsAndAttributes,
                             win::HANDLE templateFile) {
    return ::CreateFileW(Wide(name), access, shareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(security), disposition,
                         flagsAndAttributes, templateFile);
}

win::DWORD win::GetFileSize(win::HANDLE file, win::DWORD* high) {
    ::DWORD nativeHigh = high != nullptr ? *high : 0;
    const ::DWORD low = ::GetFileSize(file, high != nullptr ? &nativeHigh : nullptr);
    if (high != nullptr) *high = nativeHigh;
    return low;
}

win::BOOL win::ReadFile(win::HANDLE file, void* buffer, win::DWORD toRead, win::DWORD* read,
                        void* overlapped) {
    ::DWORD nativeRead = read != nullptr ? *read : 0;
    const ::BOOL ok = ::ReadFile(file, buffer, toRead, read != nullptr ? &nativeRead : nullptr,
                                 static_cast<LPOVERLAPPED>(overlapped));
    if (read != nullptr) *read = nativeRead;
    return ok;
}

win::BOOL win::CloseHandle(win::HANDLE handle) {
    return ::CloseHandle(handle);
}

win::HRESULT win::StringCchPrintfW(win::WCHAR* dest, std::size_t destUnits, win::LPCWSTR format,
                                   ...) {
    va_list args;
    va_start(args, format);
    const ::HRESULT hr =
        ::StringCchVPrintfW(reinterpret_cast<wchar_t*>(dest), destUnits, Wide(format), args);
    va_end(args);
    return hr;
}
