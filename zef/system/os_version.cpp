#include "zef/system/os_version.h"

#include <atomic>
#include <new>

#include "zef/system/detail/system_caches.h"
#include "zef/system/detail/system_functions.h"

namespace zef::system {
namespace {

constexpr ResultCode kUnspecifiedError = static_cast<ResultCode>(0x8000004Bu);

// The answer of OsVersionInfo. Published whole through one atomic pointer, so a reader either
// sees no answer or a complete one.
struct VersionAnswer {
    ResultCode result = rc::kOk;
    win::RTL_OSVERSIONINFOEXW record{};
};

std::atomic<const VersionAnswer*> g_versionAnswer{nullptr};
std::atomic<const OsInfoRecord*> g_osInfo{nullptr};
std::atomic<win::GetSystemInfoFunction> g_nativeSystemInfo{nullptr};

// The records live until the module is unloaded; a host that loads and unloads the module
// repeatedly would otherwise lose them on every unload. No thread runs module code by then
// (zefCanUnloadModule answered 0).
struct ReleaseAtUnload {
    ~ReleaseAtUnload() {
        delete g_osInfo.exchange(nullptr);
        delete g_versionAnswer.exchange(nullptr);
    }
} g_releaseAtUnload;

// Publishes a fresh answer unless another thread was first; returns the one that stays.
template <class T>
const T* Publish(std::atomic<const T*>& slot, const T* fresh) noexcept {
    const T* expected = nullptr;
    if (slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel,
                                     std::memory_order_acquire))
        return fresh;
    delete fresh;
    return expected;
}

void ReadVersion(VersionAnswer& answer) noexcept {
    win::FARPROC proc = nullptr;
    answer.result = detail::LookUpFunction(u"ntdll.dll", "RtlGetVersion", &proc);
    if (Failed(answer.result)) return;
    answer.record.dwOSVersionInfoSize = sizeof(win::RTL_OSVERSIONINFOEXW);
    const win::NTSTATUS status = win::ProcAs<win::RtlGetVersionFunction>(proc)(&answer.record);
    answer.result = status == win::STATUS_SUCCESS ? rc::kOk : kUnspecifiedError;
}

win::GetSystemInfoFunction NativeSystemInfoFunction() noexcept {
    if (const auto cached = g_nativeSystemInfo.load(std::memory_order_acquire)) return cached;
    win::FARPROC proc = nullptr;
    win::GetSystemInfoFunction function = &win::GetSystemInfo;
    if (Succeeded(detail::LookUpFunction(u"kernel32.dll", "GetNativeSystemInfo", &proc)))
        function = win::ProcAs<win::GetSystemInfoFunction>(proc);
    g_nativeSystemInfo.exchange(function, std::memory_order_acq_rel);
    return function;
}

std::uint32_t ArchitectureClassOf(win::WORD architecture) noexcept {
    switch (architecture) {
        case win::PROCESSOR_ARCHITECTURE_INTEL:
            return static_cast<std::uint32_t>(ArchitectureClass::kX86);
        case win::PROCESSOR_ARCHITECTURE_AMD64:
            return static_cast<std::uint32_t>(ArchitectureClass::kAmd64);
        case win::PROCESSOR_ARCHITECTURE_IA64:
            return static_cast<std::uint32_t>(ArchitectureClass::kIa64);
        default:
            return static_cast<std::uint32_t>(ArchitectureClass::kOther);
    }
}

}  // namespace

ResultCode OsVersionInfo(const win::RTL_OSVERSIONINFOEXW** record) noexcept {
    const VersionAnswer* answer = g_versionAnswer.load(std::memory_order_acquire);
    if (answer == nullptr) {
        auto* fresh = new (std::nothrow) VersionAnswer;
        // Not kept: running out of memory says nothing about the system.
        if (fresh == nullptr) return rc::kOutOfMemory;
        ReadVersion(*fresh);
        answer = Publish(g_versionAnswer, static_cast<const VersionAnswer*>(fresh));
    }
    if (answer->result == rc::kOk) *record = &answer->record;
    return answer->result;
}

ResultCode GetProductType(const win::RTL_OSVERSIONINFOEXW& version,
                          std::uint32_t* productType) noexcept {
    win::FARPROC proc = nullptr;
    const ResultCode found = detail::LookUpFunction(u"kernel32.dll", "GetProductInfo", &proc);
    if (Failed(found)) return found;
    win::DWORD type = 0;
    if (!win::ProcAs<win::GetProductInfoFunction>(proc)(
            version.dwMajorVersion, version.dwMinorVersion, version.wServicePackMajor,
            version.wServicePackMinor, &type))
        return kUnspecifiedError;
    *productType = type;
    return rc::kOk;
}

ResultCode OsInfo(const OsInfoRecord** record) noexcept {
    if (const OsInfoRecord* built = g_osInfo.load(std::memory_order_acquire)) {
        *record = built;
        return rc::kOk;
    }
    const win::RTL_OSVERSIONINFOEXW* version = nullptr;
    const ResultCode versionResult = OsVersionInfo(&version);
    if (versionResult != rc::kOk) return versionResult;

    win::SYSTEM_INFO systemInfo{};
    NativeSystemInfoFunction()(&systemInfo);

    auto* fresh = new (std::nothrow) OsInfoRecord{};
    if (fresh == nullptr) return rc::kOutOfMemory;
    fresh->majorVersion = version->dwMajorVersion;
    fresh->minorVersion = version->dwMinorVersion;
    fresh->buildNumber = version->dwBuildNumber;
    fresh->servicePackMajor = version->wServicePackMajor;
    fresh->architectureClass = ArchitectureClassOf(systemInfo.wProcessorArchitecture);
    fresh->isServer = version->wProductType != win::VER_NT_WORKSTATION ? 1u : 0u;
    std::uint32_t productType = 0;
    if (Failed(GetProductType(*version, &productType))) productType = 0;
    fresh->productType = productType;
    *record = Publish(g_osInfo, static_cast<const OsInfoRecord*>(fresh));
    return rc::kOk;
}

namespace detail {

void ResetVersionCaches() noexcept {
    delete g_osInfo.exchange(nullptr);
    delete g_versionAnswer.exchange(nullptr);
    g_nativeSystemInfo.store(nullptr);
}

}  // namespace detail
}  // namespace zef::system
