#include "platform/winrt_objects/package_objects.h"

#include <new>
#include <utility>

namespace winrt_objects {
namespace {

using win::HRESULT;
using win::HSTRING;
using win::REFIID;

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Quoted(std::u16string_view text) {
    std::string quoted(1, '"');
    quoted.append(Utf8(text));
    quoted.push_back('"');
    return quoted;
}

// A new HSTRING of text into *out (null on failure).
HRESULT NewString(std::u16string_view text, HSTRING* out) {
    *out = nullptr;
    return win::WindowsCreateString(text.data(), static_cast<win::UINT32>(text.size()), out);
}

std::u16string TextOf(HSTRING text) {
    win::UINT32 length = 0;
    const char16_t* buffer = win::WindowsGetStringRawBuffer(text, &length);
    return buffer != nullptr ? std::u16string(buffer, length) : std::u16string();
}

// Runs one named call: the host may fail it, and learns how it ended.
template <class Body>
HRESULT Serve(Host& host, std::string_view call, std::string args, Body&& body) {
    HRESULT hr = host.Enter(call);
    if (win::SUCCEEDED(hr)) hr = body();
    host.Leave(call, std::move(args), hr);
    return hr;
}

// Reference counting, IUnknown / IInspectable and the interface query for an object that
// implements Interfaces (the first is the one handed out for IUnknown and IInspectable).
// Derived may refuse or fail the query for one of its interfaces in Admit.
template <class Derived, class First, class... Rest>
class Object : public First, public Rest... {
public:
    explicit Object(Host& host) noexcept : m_host(host) { host.ObjectCreated(); }

    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return win::E_POINTER;
        *out = nullptr;
        void* found = nullptr;
        if (iid == win::IUnknown::kIid || iid == win::IInspectable::kIid ||
            iid == win::IidOf<First>) {
            found = static_cast<First*>(this);
        } else {
            (void)((iid == win::IidOf<Rest> ? (found = static_cast<Rest*>(this), true) : false) ||
                   ... || false);
        }
        if (found == nullptr) return win::E_NOINTERFACE;
        const HRESULT admitted = static_cast<Derived*>(this)->Admit(iid);
        if (win::FAILED(admitted)) return admitted;
        AddRef();
        *out = found;
        return win::S_OK;
    }
    win::ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    win::ULONG Release() override {
        const win::ULONG count = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) {
            Host& host = m_host;
            delete static_cast<Derived*>(this);
            host.ObjectDestroyed();
        }
        return count;
    }
    HRESULT GetIids(win::ULONG* count, win::IID** iids) override {
        if (count == nullptr || iids == nullptr) return win::E_POINTER;
        *count = 0;
        *iids = nullptr;
        return win::S_OK;
    }
    HRESULT GetRuntimeClassName(HSTRING* name) override {
        if (name == nullptr) return win::E_POINTER;
        return NewString(Derived::kClassName, name);
    }
    HRESULT GetTrustLevel(win::TrustLevel* level) override {
        if (level == nullptr) return win::E_POINTER;
        *level = win::BaseTrust;
        return win::S_OK;
    }

    HRESULT Admit(REFIID) { return win::S_OK; }

protected:
    ~Object() = default;
    Host& m_host;

private:
    std::atomic<win::ULONG> m_refs{1};
};

template <class T, class... Args>
T* New(Args&&... args) noexcept {
    return new (std::nothrow) T(std::forward<Args>(args)...);
}

// ---- Install folders, packages, ids, volumes -------------------------------------------------

class StorageFolder final : public Object<StorageFolder, win::IStorageFolder, win::IStorageItem> {
public:
    static constexpr char16_t kClassName[] = u"Windows.Storage.StorageFolder";
    StorageFolder(Host& host, std::u16string path, PackageFaults fails)
        : Object(host), m_path(std::move(path)), m_fails(fails) {}

    HRESULT Admit(REFIID iid) {
        if (!(iid == win::IStorageItem::kIid)) return win::S_OK;
        return Serve(m_host, call::kQueryStorageItem, {},
                     [&] { return m_fails.storageItem != 0 ? m_fails.storageItem : win::S_OK; });
    }

    // IStorageItem
    HRESULT RenameAsyncOverloadDefaultOptions(HSTRING, win::IAsyncAction**) override {
        return win::E_NOTIMPL;
    }
    HRESULT RenameAsync(HSTRING, win::NameCollisionOption, win::IAsyncAction**) override {
        return win::E_NOTIMPL;
    }
    HRESULT DeleteAsyncOverloadDefaultOptions(win::IAsyncAction**) override {
        return win::E_NOTIMPL;
    }
    HRESULT DeleteAsync(win::StorageDeleteOption, win::IAsyncAction**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetBasicPropertiesAsync(win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT get_Name(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_Path(HSTRING* value) override {
        if (value == nullptr) return win::E_POINTER;
        *value = nullptr;
        return Serve(m_host, call::kPath, {},
                     [&] { return m_fails.path != 0 ? m_fails.path : NewString(m_path, value); });
    }
    HRESULT get_Attributes(win::FileAttributes*) override { return win::E_NOTIMPL; }
    HRESULT get_DateCreated(win::DateTime*) override { return win::E_NOTIMPL; }
    HRESULT IsOfType(win::StorageItemTypes, win::boolean*) override { return win::E_NOTIMPL; }

    // IStorageFolder
    HRESULT CreateFileAsyncOverloadDefaultOptions(HSTRING,
                                                  win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT CreateFileAsync(HSTRING, win::CreationCollisionOption,
                            win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT CreateFolderAsyncOverloadDefaultOptions(HSTRING,
                                                    win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT CreateFolderAsync(HSTRING, win::CreationCollisionOption,
                              win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetFileAsync(HSTRING, win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetFolderAsync(HSTRING, win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetItemAsync(HSTRING, win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetFilesAsyncOverloadDefaultOptionsStartAndCount(
        win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetFoldersAsyncOverloadDefaultOptionsStartAndCount(
        win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }
    HRESULT GetItemsAsyncOverloadDefaultStartAndCount(
        win::IAsyncOperationOfInspectable**) override {
        return win::E_NOTIMPL;
    }

private:
    std::u16string m_path;
    PackageFaults m_fails;
};

class PackageId final : public Object<PackageId, win::IPackageId> {
public:
    static constexpr char16_t kClassName[] = u"Windows.ApplicationModel.PackageId";
    PackageId(Host& host, std::u16string fullName, PackageFaults fails)
        : Object(host), m_fullName(std::move(fullName)), m_fails(fails) {}

    HRESULT get_Name(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_Version(win::PackageVersion*) override { return win::E_NOTIMPL; }
    HRESULT get_Architecture(win::ProcessorArchitecture*) override { return win::E_NOTIMPL; }
    HRESULT get_ResourceId(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_Publisher(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_PublisherId(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_FullName(HSTRING* value) override {
        if (value == nullptr) return win::E_POINTER;
        *value = nullptr;
        return Serve(m_host, call::kFullName, {}, [&] {
            return m_fails.fullName != 0 ? m_fails.fullName : NewString(m_fullName, value);
        });
    }
    HRESULT get_FamilyName(HSTRING*) override { return win::E_NOTIMPL; }

private:
    std::u16string m_fullName;
    PackageFaults m_fails;
};

class Package final : public Object<Package, win::IPackage> {
public:
    static constexpr char16_t kClassName[] = u"Windows.ApplicationModel.Package";
    Package(Host& host, PackageEntry entry) : Object(host), m_entry(std::move(entry)) {}

    HRESULT get_Id(win::IPackageId** value) override {
        if (value == nullptr) return win::E_POINTER;
        *value = nullptr;
        return Serve(m_host, call::kPackageId, {}, [&]() -> HRESULT {
            if (m_entry.fails.id != 0) return m_entry.fails.id;
            *value = New<PackageId>(m_host, m_entry.fullName, m_entry.fails);
            return *value != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
        });
    }
    HRESULT get_InstalledLocation(win::IStorageFolder** value) override {
        if (value == nullptr) return win::E_POINTER;
        *value = nullptr;
        return Serve(m_host, call::kInstalledLocation, {}, [&]() -> HRESULT {
            if (m_entry.fails.installedLocation != 0) return m_entry.fails.installedLocation;
            if (!m_entry.installedLocation) return kFileNotFound;
            *value = New<StorageFolder>(m_host, *m_entry.installedLocation, m_entry.fails);
            return *value != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
        });
    }
    HRESULT get_IsFramework(win::boolean* value) override {
        if (value == nullptr) return win::E_POINTER;
        *value = 0;
        return win::S_OK;
    }
    HRESULT get_Dependencies(win::IVectorView<win::IPackage>**) override { return win::E_NOTIMPL; }

private:
    PackageEntry m_entry;
};

class PackageVolume final : public Object<PackageVolume, win::IPackageVolume> {
public:
    static constexpr char16_t kClassName[] = u"Windows.Management.Deployment.PackageVolume";
    PackageVolume(Host& host, VolumeEntry entry) : Object(host), m_entry(std::move(entry)) {}

    HRESULT get_IsOffline(win::boolean*) override { return win::E_NOTIMPL; }
    HRESULT get_IsSystemVolume(win::boolean*) override { return win::E_NOTIMPL; }
    HRESULT get_MountPoint(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_Name(HSTRING*) override { return win::E_NOTIMPL; }
    HRESULT get_PackageStorePath(HSTRING* value) override {
        if (value == nullptr) return win::E_POINTER;
        *value = nullptr;
        return Serve(m_host, call::kPackageStorePath, {}, [&] {
            return m_entry.fails != 0 ? m_entry.fails : NewString(m_entry.packageStorePath, value);
        });
    }
    HRESULT get_SupportsHardLinks(win::boolean*) override { return win::E_NOTIMPL; }
    using Packages = win::IVector<win::IPackage>;
    HRESULT FindPackages(Packages**) override { return win::E_NOTIMPL; }
    HRESULT FindPackagesByNamePublisher(HSTRING, HSTRING, Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByPackageFamilyName(HSTRING, Packages**) override { return win::E_NOTIMPL; }
    HRESULT FindPackagesWithPackageTypes(win::PackageTypes, Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByNamePublisherWithPackagesTypes(win::PackageTypes, HSTRING, HSTRING,
                                                         Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByPackageFamilyNameWithPackageTypes(win::PackageTypes, HSTRING,
                                                            Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackageByPackageFullName(HSTRING, Packages**) override { return win::E_NOTIMPL; }
    HRESULT FindPackagesByUserSecurityId(HSTRING, Packages**) override { return win::E_NOTIMPL; }
    HRESULT FindPackagesByUserSecurityIdNamePublisher(HSTRING, HSTRING, HSTRING,
                                                      Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdPackageFamilyName(HSTRING, HSTRING, Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdWithPackageTypes(HSTRING, win::PackageTypes,
                                                         Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdNamePublisherWithPackageTypes(HSTRING, win::PackageTypes,
                                                                      HSTRING, HSTRING,
                                                                      Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdPackageFamilyNameWithPackagesTypes(HSTRING,
                                                                           win::PackageTypes,
                                                                           HSTRING,
                                                                           Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackageByUserSecurityIdPackageFullName(HSTRING, HSTRING, Packages**) override {
        return win::E_NOTIMPL;
    }

private:
    VolumeEntry m_entry;
};

// ---- Collections -------------------------------------------------------------------------------

win::IPackage* NewItem(Host& host, const PackageEntry& entry) {
    return New<Package>(host, entry);
}
win::IPackageVolume* NewItem(Host& host, const VolumeEntry& entry) {
    return New<PackageVolume>(host, entry);
}

template <class T, class Entry>
using Items = std::shared_ptr<const std::vector<Entry>>;

template <class T, class Entry>
class Iterator final : public Object<Iterator<T, Entry>, win::IIterator<T>> {
    using Base = Object<Iterator<T, Entry>, win::IIterator<T>>;

public:
    static constexpr char16_t kClassName[] = u"Windows.Foundation.Collections.IIterator`1";
    Iterator(Host& host, Items<T, Entry> items) : Base(host), m_items(std::move(items)) {}

    HRESULT get_Current(T** current) override {
        if (current == nullptr) return win::E_POINTER;
        *current = nullptr;
        return Serve(this->m_host, call::kCurrent, {}, [&]() -> HRESULT {
            const std::size_t index = m_index.load();
            if (index >= m_items->size()) return win::E_BOUNDS;
            *current = NewItem(this->m_host, (*m_items)[index]);
            return *current != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
        });
    }
    HRESULT get_HasCurrent(win::boolean* has) override {
        if (has == nullptr) return win::E_POINTER;
        *has = 0;
        return Serve(this->m_host, call::kHasCurrent, {}, [&] {
            *has = m_index.load() < m_items->size() ? 1 : 0;
            return win::S_OK;
        });
    }
    HRESULT MoveNext(win::boolean* has) override {
        if (has == nullptr) return win::E_POINTER;
        *has = 0;
        return Serve(this->m_host, call::kMoveNext, {}, [&]() -> HRESULT {
            std::size_t index = m_index.load();
            if (index >= m_items->size()) return win::E_BOUNDS;
            m_index.store(++index);
            *has = index < m_items->size() ? 1 : 0;
            return win::S_OK;
        });
    }
    HRESULT GetMany(win::UINT32 capacity, T** items, win::UINT32* actual) override {
        if (actual == nullptr || (capacity != 0 && items == nullptr)) return win::E_POINTER;
        *actual = 0;
        std::size_t index = m_index.load();
        while (*actual < capacity && index < m_items->size()) {
            T* item = NewItem(this->m_host, (*m_items)[index]);
            if (item == nullptr) return win::E_OUTOFMEMORY;
            items[(*actual)++] = item;
            ++index;
        }
        m_index.store(index);
        return win::S_OK;
    }

private:
    Items<T, Entry> m_items;
    std::atomic<std::size_t> m_index{0};
};

template <class T, class Entry>
class Iterable final : public Object<Iterable<T, Entry>, win::IIterable<T>> {
    using Base = Object<Iterable<T, Entry>, win::IIterable<T>>;

public:
    static constexpr char16_t kClassName[] = u"Windows.Foundation.Collections.IIterable`1";
    Iterable(Host& host, Items<T, Entry> items) : Base(host), m_items(std::move(items)) {}

    HRESULT First(win::IIterator<T>** first) override {
        if (first == nullptr) return win::E_POINTER;
        *first = nullptr;
        return Serve(this->m_host, call::kFirst, {}, [&] {
            *first = New<Iterator<T, Entry>>(this->m_host, m_items);
            return *first != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
        });
    }

private:
    Items<T, Entry> m_items;
};

template <class T, class Entry>
HRESULT NewIterable(Host& host, std::vector<Entry> entries, win::IIterable<T>** out) {
    try {
        auto items = std::make_shared<const std::vector<Entry>>(std::move(entries));
        *out = New<Iterable<T, Entry>>(host, std::move(items));
    } catch (const std::bad_alloc&) {
        *out = nullptr;
    }
    return *out != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
}

// ---- The package manager -----------------------------------------------------------------------

class PackageManager final : public Object<PackageManager, win::IPackageManager,
                                           win::IPackageManager2, win::IPackageManager3> {
public:
    static constexpr char16_t kClassName[] = u"Windows.Management.Deployment.PackageManager";
    PackageManager(Host& host, Offered offered) : Object(host), m_offered(offered) {}

    HRESULT Admit(REFIID iid) {
        if (iid == win::IPackageManager2::kIid) {
            if (!m_offered.packageManager2) return win::E_NOINTERFACE;
            return Serve(m_host, call::kQueryPackageManager2, {}, [] { return win::S_OK; });
        }
        if (iid == win::IPackageManager3::kIid) {
            if (!m_offered.packageManager3) return win::E_NOINTERFACE;
            return Serve(m_host, call::kQueryPackageManager3, {}, [] { return win::S_OK; });
        }
        return win::S_OK;
    }

    using Uri = win::IUriRuntimeClass;
    using Uris = win::IIterableOfUri;
    using Operation = win::IAsyncDeploymentOperation;
    using Packages = win::IIterable<win::IPackage>;

    // IPackageManager
    HRESULT AddPackageAsync(Uri*, Uris*, win::DeploymentOptions, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT UpdatePackageAsync(Uri*, Uris*, win::DeploymentOptions, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT RemovePackageAsync(HSTRING, Operation**) override { return win::E_NOTIMPL; }
    HRESULT StagePackageAsync(Uri*, Uris*, Operation**) override { return win::E_NOTIMPL; }
    HRESULT RegisterPackageAsync(Uri*, Uris*, win::DeploymentOptions, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackages(Packages** packages) override {
        if (packages == nullptr) return win::E_POINTER;
        *packages = nullptr;
        return Serve(m_host, call::kFindPackages, {},
                     [&] { return NewIterable(m_host, m_host.Packages(), packages); });
    }
    HRESULT FindPackagesByUserSecurityId(HSTRING, Packages**) override { return win::E_NOTIMPL; }
    HRESULT FindPackagesByNamePublisher(HSTRING, HSTRING, Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdNamePublisher(HSTRING, HSTRING, HSTRING,
                                                      Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindUsers(HSTRING, win::IIterableOfPackageUserInformation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT SetPackageState(HSTRING fullName, win::PackageState state) override {
        const std::u16string name = TextOf(fullName);
        return Serve(m_host, call::kSetPackageState,
                     Quoted(name).append(", ").append(std::to_string(static_cast<int>(state))),
                     [&] { return m_host.SetPackageState(name, state); });
    }
    HRESULT FindPackageByPackageFullName(HSTRING, win::IPackage**) override {
        return win::E_NOTIMPL;
    }
    HRESULT CleanupPackageForUserAsync(HSTRING, HSTRING, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByPackageFamilyName(HSTRING, Packages**) override { return win::E_NOTIMPL; }
    HRESULT FindPackagesByUserSecurityIdPackageFamilyName(HSTRING, HSTRING, Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackageByUserSecurityIdPackageFullName(HSTRING, HSTRING, win::IPackage**) override {
        return win::E_NOTIMPL;
    }

    // IPackageManager2
    HRESULT RemovePackageWithOptionsAsync(HSTRING, win::RemovalOptions, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT StagePackageWithOptionsAsync(Uri*, Uris*, win::DeploymentOptions,
                                         Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT RegisterPackageByFullNameAsync(HSTRING, win::IIterableOfString*, win::DeploymentOptions,
                                           Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesWithPackageTypes(win::PackageTypes types, Packages** packages) override {
        if (packages == nullptr) return win::E_POINTER;
        *packages = nullptr;
        return Serve(m_host, call::kFindPackagesWithPackageTypes,
                     std::to_string(static_cast<std::uint32_t>(types)),
                     [&] { return NewIterable(m_host, m_host.Packages(), packages); });
    }
    HRESULT FindPackagesByUserSecurityIdWithPackageTypes(HSTRING, win::PackageTypes,
                                                         Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByNamePublisherWithPackageTypes(HSTRING, HSTRING, win::PackageTypes,
                                                        Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdNamePublisherWithPackageTypes(HSTRING, HSTRING, HSTRING,
                                                                      win::PackageTypes,
                                                                      Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByPackageFamilyNameWithPackageTypes(HSTRING, win::PackageTypes,
                                                            Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackagesByUserSecurityIdPackageFamilyNameWithPackageTypes(HSTRING, HSTRING,
                                                                          win::PackageTypes,
                                                                          Packages**) override {
        return win::E_NOTIMPL;
    }
    HRESULT StageUserDataAsync(HSTRING, Operation**) override { return win::E_NOTIMPL; }

    // IPackageManager3
    HRESULT AddPackageVolumeAsync(HSTRING, win::IAsyncPackageVolumeOperation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT AddPackageToVolumeAsync(Uri*, Uris*, win::DeploymentOptions, win::IPackageVolume*,
                                    Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT ClearPackageStatus(HSTRING, win::PackageStatus) override { return win::E_NOTIMPL; }
    HRESULT RegisterPackageWithAppDataVolumeAsync(Uri*, Uris*, win::DeploymentOptions,
                                                  win::IPackageVolume*, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackageVolumeByName(HSTRING, win::IPackageVolume**) override {
        return win::E_NOTIMPL;
    }
    HRESULT FindPackageVolumes(win::IIterable<win::IPackageVolume>** volumes) override {
        if (volumes == nullptr) return win::E_POINTER;
        *volumes = nullptr;
        return Serve(m_host, call::kFindPackageVolumes, {},
                     [&] { return NewIterable(m_host, m_host.Volumes(), volumes); });
    }
    HRESULT GetDefaultPackageVolume(win::IPackageVolume**) override { return win::E_NOTIMPL; }
    HRESULT MovePackageToVolumeAsync(HSTRING, win::DeploymentOptions, win::IPackageVolume*,
                                     Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT RemovePackageVolumeAsync(win::IPackageVolume*, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT SetDefaultPackageVolume(win::IPackageVolume*) override { return win::E_NOTIMPL; }
    HRESULT SetPackageStatus(HSTRING, win::PackageStatus) override { return win::E_NOTIMPL; }
    HRESULT SetPackageVolumeOfflineAsync(win::IPackageVolume*, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT SetPackageVolumeOnlineAsync(win::IPackageVolume*, Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT StagePackageToVolumeAsync(Uri*, Uris*, win::DeploymentOptions, win::IPackageVolume*,
                                      Operation**) override {
        return win::E_NOTIMPL;
    }
    HRESULT StageUserDataWithOptionsAsync(HSTRING, win::DeploymentOptions, Operation**) override {
        return win::E_NOTIMPL;
    }

private:
    Offered m_offered;
};

class PackageManagerFactory final : public Object<PackageManagerFactory, win::IActivationFactory> {
public:
    static constexpr char16_t kClassName[] = u"Windows.Management.Deployment.PackageManager";
    PackageManagerFactory(Host& host, Offered (*offered)() noexcept)
        : Object(host), m_offered(offered) {}

    HRESULT ActivateInstance(win::IInspectable** instance) override {
        if (instance == nullptr) return win::E_POINTER;
        *instance = NewPackageManager(m_host, m_offered());
        return *instance != nullptr ? win::S_OK : win::E_OUTOFMEMORY;
    }

private:
    Offered (*m_offered)() noexcept;
};

}  // namespace

Offered OfferedByVersion(std::uint32_t major, std::uint32_t minor) noexcept {
    Offered offered;
    offered.packageManager2 = major > 6 || (major == 6 && minor >= 3);
    offered.packageManager3 = major >= 10;
    return offered;
}

win::IInspectable* NewPackageManager(Host& host, Offered offered) noexcept {
    return static_cast<win::IPackageManager*>(New<PackageManager>(host, offered));
}

win::IActivationFactory* NewPackageManagerFactory(Host& host,
                                                  Offered (*offered)() noexcept) noexcept {
    return New<PackageManagerFactory>(host, offered);
}

}  // namespace winrt_objects
