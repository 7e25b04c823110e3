#include "zef/system/detail/system_functions.h"

#include "zef/rtl/result_codes.h"

namespace zef::system::detail {

ResultCode LookUpFunction(const char16_t* moduleName, const char* functionName,
                          win::FARPROC* function) noexcept {
    *function = nullptr;
    const win::HMODULE module = win::GetModuleHandleW(moduleName);
    if (module == nullptr) return FailureFromLastError();
    const win::FARPROC found = win::GetProcAddress(module, functionName);
    if (found == nullptr) return FailureFromLastError();
    *function = found;
    return rc::kOk;
}

}  // namespace zef::system::detail
