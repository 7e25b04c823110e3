// The Windows Runtime room. HSTRINGs are real reference-counted strings: WindowsDuplicateString
// shares the string as combase does, and the last WindowsDeleteString frees it. Apartments are
// per thread with combase's answers (S_OK, S_FALSE, RPC_E_CHANGED_MODE, CO_E_NOTINITIALIZED).
// The package manager's objects come from platform/winrt_objects, with this room as their host:
// each of their calls is an injectable, journaled call of the machine.
#include "winrt/winrt.h"

#include <atomic>
#include <new>
#include <string>
#include <unordered_set>

#include <utf/codec.h>
#include <win/winrt/winrt.h>

#include "core/json.h"
#include "platform/winrt_objects/package_objects.h"
#include "system/system.h"

namespace {

using namespace winsim::core;
using winsim::detail::json::Value;
using winsim::winrt::Apartment;
using winsim::winrt::ApartmentKind;

// ---- State -------------------------------------------------------------------------------------

struct StringObject {
    std::atomic<std::uint32_t> references{1};
    std::u16string text;
};

struct Room {
    std::vector<winrt_objects::PackageEntry> packages;
    std::vector<winrt_objects::VolumeEntry> volumes;
    std::vector<winrt_objects::SetPackageStateCall> calls;
    std::unordered_set<const StringObject*> strings;  // live, survive resets like heap blocks
    std::uint64_t invalidStringDeletes = 0;
    std::uint64_t unbalancedUninitializations = 0;
};

Room& State() {
    static auto* room = new Room;
    return *room;
}

std::atomic<std::uint64_t> g_liveObjects{0};

thread_local PerThread<Apartment> t_apartment([] { return Apartment{}; });

void ResetWinRt() {
    Room& room = State();
    room.packages.clear();
    room.volumes.clear();
    room.calls.clear();
}

QORVEX_SIM_ROOM(winrt, 0, ResetWinRt);

void LoadPackagesMember(const Value& value, const Loading& loading) {
    State().packages = winrt_objects::ReadPackages(
        value, [&](const Value& at, const std::string& message) { loading.Fail(at, message); });
}
void LoadPackageVolumesMember(const Value& value, const Loading& loading) {
    State().volumes = winrt_objects::ReadPackageVolumes(
        value, [&](const Value& at, const std::string& message) { loading.Fail(at, message); });
}

QORVEX_SIM_MACHINE_MEMBER("packages", 0, LoadPackagesMember);
QORVEX_SIM_MACHINE_MEMBER("packageVolumes", 0, LoadPackageVolumesMember);

StringObject* Live(win::HSTRING handle) {
    auto* object = reinterpret_cast<StringObject*>(handle);
    return State().strings.count(object) != 0 ? object : nullptr;
}

std::string StringText(win::HSTRING handle) {
    if (handle == nullptr) return "null";
    const StringObject* object = Live(handle);
    return object != nullptr ? Quote(std::u16string_view(object->text)) : Pointer(handle);
}

// ---- The package manager's host ------------------------------------------------------------

// Lock held. The interfaces the machine's Windows version offers, decided at activation.
winrt_objects::Offered OfferedNow() noexcept {
    const winsim::system::OsVersion os = winsim::system::Os();
    return winrt_objects::OfferedByVersion(os.major, os.minor);
}

class MachineHost final : public winrt_objects::Host {
public:
    win::HRESULT Enter(std::string_view call) override {
        Lock lock(MachineLock());
        const auto fault = TakeFault(call);
        return fault ? static_cast<win::HRESULT>(*fault) : win::S_OK;
    }
    void Leave(std::string_view call, std::string args, win::HRESULT hr) override {
        Lock lock(MachineLock());
        const CallDescriptor* descriptor = FindCall(call);
        if (descriptor != nullptr && Journals(*descriptor))
            Record(call, std::move(args), Hex(static_cast<std::uint32_t>(hr)));
    }
    void ObjectCreated() noexcept override { g_liveObjects.fetch_add(1); }
    void ObjectDestroyed() noexcept override { g_liveObjects.fetch_sub(1); }
    std::vector<winrt_objects::PackageEntry> Packages() override {
        Lock lock(MachineLock());
        return State().packages;
    }
    std::vector<winrt_objects::VolumeEntry> Volumes() override {
        Lock lock(MachineLock());
        return State().volumes;
    }
    win::HRESULT SetPackageState(std::u16string_view fullName, win::PackageState state) override {
        Lock lock(MachineLock());
        Room& room = State();
        win::HRESULT answer = win::HRESULT_INSTALL_PACKAGE_NOT_FOUND;
        for (auto& package : room.packages) {
            if (package.fullName != fullName) continue;
            answer = package.setPackageStateFails;
            if (answer == 0) package.state = state;
            break;
        }
        room.calls.push_back({std::u16string(fullName), state, answer});
        return answer;
    }
};

MachineHost& TheHost() {
    static auto* host = new MachineHost;
    return *host;
}

// The runtime methods of the package manager's objects are calls of the machine: listed by
// InjectableCalls, failed by InjectFault, written to the journal. Each needs a key of its own.
template <std::size_t N>
void MethodKey() {}

struct MethodRegistrations {
    std::vector<CallDescriptor> descriptors;
    std::vector<CallRegistration> registrations;
};

template <std::size_t... N>
void RegisterMethods(MethodRegistrations& methods, std::index_sequence<N...>) {
    const auto& names = winrt_objects::CallNames();
    methods.descriptors.reserve(sizeof...(N));
    (methods.descriptors.push_back(CallDescriptor{names[N], Channel::HResult}), ...);
    (methods.registrations.emplace_back(methods.descriptors[N], KeyOf(&MethodKey<N>)), ...);
}

constexpr std::size_t kMethodCount = 16;

const MethodRegistrations& TheMethods() {
    static auto* methods = [] {
        auto* m = new MethodRegistrations;
        RegisterMethods(*m, std::make_index_sequence<kMethodCount>());
        return m;
    }();
    return *methods;
}

[[maybe_unused]] const MethodRegistrations& g_methods = TheMethods();

}  // namespace

// ---- Calls ------------------------------------------------------------------------------------

QORVEX_SIM_CALL(RoInitialize, Channel::HResult, error);
QORVEX_SIM_CALL(RoUninitialize, Channel::None, 0);
QORVEX_SIM_CALL(RoActivateInstance, Channel::HResult, error);
QORVEX_SIM_CALL(WindowsCreateString, Channel::HResult, error);
QORVEX_SIM_CALL(WindowsDuplicateString, Channel::HResult, error);
QORVEX_SIM_CALL(WindowsDeleteString, Channel::HResult, error);
QORVEX_SIM_CALL(WindowsGetStringRawBuffer, Channel::NullOnly, nullptr);

win::HRESULT win::RoInitialize(RO_INIT_TYPE initType) {
    return Simulate<&win::RoInitialize>(
        {initType}, [&] { return std::to_string(static_cast<int>(initType)); },
        [&]() -> HRESULT {
            if (initType != RO_INIT_SINGLETHREADED && initType != RO_INIT_MULTITHREADED)
                return E_INVALIDARG;
            const ApartmentKind wanted = initType == RO_INIT_MULTITHREADED
                                             ? ApartmentKind::MultiThreaded
                                             : ApartmentKind::SingleThreaded;
            Apartment& apartment = t_apartment.Get();
            if (apartment.initializations == 0) {
                apartment = Apartment{wanted, 1};
                return S_OK;
            }
            if (apartment.kind != wanted) return RPC_E_CHANGED_MODE;
            ++apartment.initializations;
            return S_FALSE;
        });
}

void win::RoUninitialize() {
    Simulate<&win::RoUninitialize>(
        {}, [] { return std::string(); },
        [] {
            Apartment& apartment = t_apartment.Get();
            if (apartment.initializations == 0) {
                ++State().unbalancedUninitializations;
                return;
            }
            if (--apartment.initializations == 0) apartment.kind = ApartmentKind::None;
        });
}

win::HRESULT win::RoActivateInstance(HSTRING activatableClassId, IInspectable** instance) {
    return Simulate<&win::RoActivateInstance>(
        {activatableClassId, instance}, [&] { return StringText(activatableClassId); },
        [&]() -> HRESULT {
            // No place for the instance is E_POINTER, as Microsoft documents the call (this
            // machine used to answer E_INVALIDARG).
            if (instance == nullptr) return E_POINTER;
            *instance = nullptr;
            if (t_apartment.Get().initializations == 0) return CO_E_NOTINITIALIZED;
            const StringObject* name = Live(activatableClassId);
            if (name == nullptr || name->text != kRuntimeClassPackageManager)
                return REGDB_E_CLASSNOTREG;
            *instance = winrt_objects::NewPackageManager(TheHost(), OfferedNow());
            return *instance != nullptr ? S_OK : E_OUTOFMEMORY;
        },
        [&] {
            if (instance != nullptr) *instance = nullptr;
        });
}

win::HRESULT win::WindowsCreateString(PCWSTR sourceString, UINT32 length, HSTRING* string) {
    return Simulate<&win::WindowsCreateString>(
        {sourceString, length, string},
        [&] {
            return sourceString == nullptr ? "null, " + std::to_string(length)
                                           : Quote(std::u16string_view(sourceString, length)) +
                                                 ", " + std::to_string(length);
        },
        [&]() -> HRESULT {
            if (string == nullptr) return E_INVALIDARG;
            *string = nullptr;
            if (length == 0) return S_OK;
            if (sourceString == nullptr) return E_POINTER;
            auto* object = new (std::nothrow) StringObject;
            if (object == nullptr) return E_OUTOFMEMORY;
            try {
                object->text.assign(sourceString, length);
                State().strings.insert(object);
            } catch (const std::bad_alloc&) {
                delete object;
                return E_OUTOFMEMORY;
            }
            *string = reinterpret_cast<HSTRING>(object);
            return S_OK;
        },
        [&] {
            if (string != nullptr) *string = nullptr;
        });
}

win::HRESULT win::WindowsDuplicateString(HSTRING string, HSTRING* newString) {
    return Simulate<&win::WindowsDuplicateString>(
        {string, newString}, [&] { return StringText(string); },
        [&]() -> HRESULT {
            if (newString == nullptr) return E_INVALIDARG;
            *newString = nullptr;
            if (string == nullptr) return S_OK;
            StringObject* object = Live(string);
            if (object == nullptr) return E_INVALIDARG;
            object->references.fetch_add(1);
            *newString = string;
            return S_OK;
        },
        [&] {
            if (newString != nullptr) *newString = nullptr;
        });
}

win::HRESULT win::WindowsDeleteString(HSTRING string) {
    return Simulate<&win::WindowsDeleteString>(
        {string}, [&] { return StringText(string); },
        [&]() -> HRESULT {
            if (string == nullptr) return S_OK;
            StringObject* object = Live(string);
            if (object == nullptr) {
                // Windows would corrupt its heap here; the machine counts it for the test.
                ++State().invalidStringDeletes;
                return S_OK;
            }
            if (object->references.fetch_sub(1) == 1) {
                State().strings.erase(object);
                delete object;
            }
            return S_OK;
        });
}

win::PCWSTR win::WindowsGetStringRawBuffer(HSTRING string, UINT32* length) {
    return Simulate<&win::WindowsGetStringRawBuffer>(
        {string, length}, [&] { return StringText(string); },
        [&]() -> PCWSTR {
            if (length != nullptr) *length = 0;
            const StringObject* object = string != nullptr ? Live(string) : nullptr;
            if (object == nullptr) return u"";
            if (length != nullptr) *length = static_cast<UINT32>(object->text.size());
            return object->text.c_str();
        },
        [&] {
            if (length != nullptr) *length = 0;
        });
}

// ---- Room functions
// ------------------------------------------------------------------------------

namespace winsim::winrt {

Apartment ThreadApartment() {
    return t_apartment.Get();
}

Counters GetCounters() {
    const Room& room = State();
    Counters counters;
    counters.liveObjects = g_liveObjects.load();
    counters.liveStrings = room.strings.size();
    counters.invalidStringDeletes = room.invalidStringDeletes;
    counters.unbalancedUninitializations = room.unbalancedUninitializations;
    return counters;
}

std::vector<winrt_objects::PackageEntry> Packages() {
    return State().packages;
}
void SetPackages(std::vector<winrt_objects::PackageEntry> packages) {
    State().packages = std::move(packages);
}
std::vector<winrt_objects::VolumeEntry> Volumes() {
    return State().volumes;
}
void SetVolumes(std::vector<winrt_objects::VolumeEntry> volumes) {
    State().volumes = std::move(volumes);
}
std::vector<winrt_objects::SetPackageStateCall> SetPackageStateCalls() {
    return State().calls;
}
void ClearSetPackageStateCalls() {
    State().calls.clear();
}

}  // namespace winsim::winrt
