// The Windows binding of win/registry.h.
#include "binding.h"

using win::binding::Wide;

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
