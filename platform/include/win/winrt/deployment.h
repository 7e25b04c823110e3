// Windows.ApplicationModel.IPackage / IPackageId and Windows.Management.Deployment's
// IPackageManager, IPackageManager2, IPackageManager3 and IPackageVolume, in their published
// slot order with their published IIDs, and the collections over packages and volumes with
// their parameterised IIDs. A runtime class crosses the ABI as its default interface
// (Package as IPackage*, PackageVolume as IPackageVolume*, StorageFolder as IStorageFolder*).
#pragma once

#include <win/winrt/collections.h>
#include <win/winrt/storage.h>

namespace win {

// The class the module activates.
constexpr WCHAR kRuntimeClassPackageManager[] = u"Windows.Management.Deployment.PackageManager";

enum PackageTypes : std::uint32_t {
    PackageTypes_None = 0x0,
    PackageTypes_Main = 0x1,
    PackageTypes_Framework = 0x2,
    PackageTypes_Resource = 0x4,
    PackageTypes_Bundle = 0x8,
    PackageTypes_Xap = 0x10,
    PackageTypes_Optional = 0x20,
};

enum PackageState : std::int32_t {
    PackageState_Normal = 0,
    PackageState_LicenseInvalid = 1,
    PackageState_Modified = 2,
    PackageState_Tampered = 3,
};

enum DeploymentOptions : std::uint32_t {};
enum RemovalOptions : std::uint32_t {};
enum PackageStatus : std::uint32_t {};
enum ProcessorArchitecture : std::int32_t {};

struct PackageVersion {
    UINT16 Major;
    UINT16 Minor;
    UINT16 Build;
    UINT16 Revision;
};

// Types of slots the module never calls; only their pointers cross the ABI.
struct IUriRuntimeClass;
struct IAsyncDeploymentOperation;  // IAsyncOperationWithProgress<DeploymentResult, ...>
struct IAsyncPackageVolumeOperation;
struct IIterableOfUri;
struct IIterableOfString;
struct IIterableOfPackageUserInformation;
struct IPackage;

// {1ADB665E-37C7-4790-9980-DD7AE74E8BB2}
struct IPackageId : IInspectable {
    static constexpr IID kIid = {
        0x1ADB665E, 0x37C7, 0x4790, {0x99, 0x80, 0xDD, 0x7A, 0xE7, 0x4E, 0x8B, 0xB2}};
    virtual HRESULT get_Name(HSTRING* value) = 0;
    virtual HRESULT get_Version(PackageVersion* value) = 0;
    virtual HRESULT get_Architecture(ProcessorArchitecture* value) = 0;
    virtual HRESULT get_ResourceId(HSTRING* value) = 0;
    virtual HRESULT get_Publisher(HSTRING* value) = 0;
    virtual HRESULT get_PublisherId(HSTRING* value) = 0;
    virtual HRESULT get_FullName(HSTRING* value) = 0;
    virtual HRESULT get_FamilyName(HSTRING* value) = 0;

protected:
    ~IPackageId() = default;
};

// {163C792F-BD75-413C-BF23-B1FE7B95D825}
struct IPackage : IInspectable {
    static constexpr IID kIid = {
        0x163C792F, 0xBD75, 0x413C, {0xBF, 0x23, 0xB1, 0xFE, 0x7B, 0x95, 0xD8, 0x25}};
    virtual HRESULT get_Id(IPackageId** value) = 0;
    virtual HRESULT get_InstalledLocation(IStorageFolder** value) = 0;
    virtual HRESULT get_IsFramework(boolean* value) = 0;
    virtual HRESULT get_Dependencies(IVectorView<IPackage>** value) = 0;

protected:
    ~IPackage() = default;
};

template <>
struct CollectionIids<IPackage> {
    static constexpr const char* kRuntimeClass = "Windows.ApplicationModel.Package";
    // {69AD6AA7-0C49-5F27-A5EB-EF4D59467B6D}
    static constexpr IID kIterable = {
        0x69AD6AA7, 0x0C49, 0x5F27, {0xA5, 0xEB, 0xEF, 0x4D, 0x59, 0x46, 0x7B, 0x6D}};
    // {0217F069-025C-5EE6-A87F-E782E3B623AE}
    static constexpr IID kIterator = {
        0x0217F069, 0x025C, 0x5EE6, {0xA8, 0x7F, 0xE7, 0x82, 0xE3, 0xB6, 0x23, 0xAE}};
};

// {CF2672C3-1A40-4450-9739-2ACE2E898853}
struct IPackageVolume : IInspectable {
    static constexpr IID kIid = {
        0xCF2672C3, 0x1A40, 0x4450, {0x97, 0x39, 0x2A, 0xCE, 0x2E, 0x89, 0x88, 0x53}};
    virtual HRESULT get_IsOffline(boolean* value) = 0;
    virtual HRESULT get_IsSystemVolume(boolean* value) = 0;
    virtual HRESULT get_MountPoint(HSTRING* value) = 0;
    virtual HRESULT get_Name(HSTRING* value) = 0;
    virtual HRESULT get_PackageStorePath(HSTRING* value) = 0;
    virtual HRESULT get_SupportsHardLinks(boolean* value) = 0;
    // A volume's searches answer IVector<Package> and put the package types first; two names
    // carry the published misspelling "PackagesTypes".
    virtual HRESULT FindPackages(IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByNamePublisher(HSTRING packageName, HSTRING packagePublisher,
                                                IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByPackageFamilyName(HSTRING packageFamilyName,
                                                    IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesWithPackageTypes(PackageTypes packageTypes,
                                                 IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByNamePublisherWithPackagesTypes(PackageTypes packageTypes,
                                                                 HSTRING packageName,
                                                                 HSTRING packagePublisher,
                                                                 IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByPackageFamilyNameWithPackageTypes(
        PackageTypes packageTypes, HSTRING packageFamilyName, IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackageByPackageFullName(HSTRING packageFullName,
                                                 IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityId(HSTRING userSecurityId,
                                                 IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdNamePublisher(HSTRING userSecurityId,
                                                              HSTRING packageName,
                                                              HSTRING packagePublisher,
                                                              IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdPackageFamilyName(HSTRING userSecurityId,
                                                                  HSTRING packageFamilyName,
                                                                  IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdWithPackageTypes(HSTRING userSecurityId,
                                                                 PackageTypes packageTypes,
                                                                 IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdNamePublisherWithPackageTypes(
        HSTRING userSecurityId, PackageTypes packageTypes, HSTRING packageName,
        HSTRING packagePublisher, IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdPackageFamilyNameWithPackagesTypes(
        HSTRING userSecurityId, PackageTypes packageTypes, HSTRING packageFamilyName,
        IVector<IPackage>** packages) = 0;
    virtual HRESULT FindPackageByUserSecurityIdPackageFullName(HSTRING userSecurityId,
                                                               HSTRING packageFullName,
                                                               IVector<IPackage>** packages) = 0;

protected:
    ~IPackageVolume() = default;
};

template <>
struct CollectionIids<IPackageVolume> {
    static constexpr const char* kRuntimeClass = "Windows.Management.Deployment.PackageVolume";
    // {A6199162-B163-56A1-9980-DB0C3F4E9284}
    static constexpr IID kIterable = {
        0xA6199162, 0xB163, 0x56A1, {0x99, 0x80, 0xDB, 0x0C, 0x3F, 0x4E, 0x92, 0x84}};
    // {A8D5B736-4E68-5EF1-9F07-F06837988C73}
    static constexpr IID kIterator = {
        0xA8D5B736, 0x4E68, 0x5EF1, {0x9F, 0x07, 0xF0, 0x68, 0x37, 0x98, 0x8C, 0x73}};
};

// {9A7D4B65-5E8F-4FC7-A2E5-7F6925CB8B53}
struct IPackageManager : IInspectable {
    static constexpr IID kIid = {
        0x9A7D4B65, 0x5E8F, 0x4FC7, {0xA2, 0xE5, 0x7F, 0x69, 0x25, 0xCB, 0x8B, 0x53}};
    virtual HRESULT AddPackageAsync(IUriRuntimeClass* packageUri,
                                    IIterableOfUri* dependencyPackageUris,
                                    DeploymentOptions deploymentOptions,
                                    IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT UpdatePackageAsync(IUriRuntimeClass* packageUri,
                                       IIterableOfUri* dependencyPackageUris,
                                       DeploymentOptions deploymentOptions,
                                       IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT RemovePackageAsync(HSTRING packageFullName,
                                       IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT StagePackageAsync(IUriRuntimeClass* packageUri,
                                      IIterableOfUri* dependencyPackageUris,
                                      IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT RegisterPackageAsync(IUriRuntimeClass* manifestUri,
                                         IIterableOfUri* dependencyPackageUris,
                                         DeploymentOptions deploymentOptions,
                                         IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT FindPackages(IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityId(HSTRING userSecurityId,
                                                 IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByNamePublisher(HSTRING packageName, HSTRING packagePublisher,
                                                IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdNamePublisher(HSTRING userSecurityId,
                                                              HSTRING packageName,
                                                              HSTRING packagePublisher,
                                                              IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindUsers(HSTRING packageFullName,
                              IIterableOfPackageUserInformation** users) = 0;
    virtual HRESULT SetPackageState(HSTRING packageFullName, PackageState packageState) = 0;
    virtual HRESULT FindPackageByPackageFullName(HSTRING packageFullName, IPackage** package) = 0;
    virtual HRESULT CleanupPackageForUserAsync(HSTRING packageName, HSTRING userSecurityId,
                                               IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT FindPackagesByPackageFamilyName(HSTRING packageFamilyName,
                                                    IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdPackageFamilyName(
        HSTRING userSecurityId, HSTRING packageFamilyName, IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackageByUserSecurityIdPackageFullName(HSTRING userSecurityId,
                                                               HSTRING packageFullName,
                                                               IPackage** package) = 0;

protected:
    ~IPackageManager() = default;
};

// {F7AAD08D-0840-46F2-B5D8-CAD47693A095}
struct IPackageManager2 : IInspectable {
    static constexpr IID kIid = {
        0xF7AAD08D, 0x0840, 0x46F2, {0xB5, 0xD8, 0xCA, 0xD4, 0x76, 0x93, 0xA0, 0x95}};
    virtual HRESULT RemovePackageWithOptionsAsync(HSTRING packageFullName,
                                                  RemovalOptions removalOptions,
                                                  IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT StagePackageWithOptionsAsync(IUriRuntimeClass* packageUri,
                                                 IIterableOfUri* dependencyPackageUris,
                                                 DeploymentOptions deploymentOptions,
                                                 IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT RegisterPackageByFullNameAsync(HSTRING mainPackageFullName,
                                                   IIterableOfString* dependencyPackageFullNames,
                                                   DeploymentOptions deploymentOptions,
                                                   IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT FindPackagesWithPackageTypes(PackageTypes packageTypes,
                                                 IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdWithPackageTypes(
        HSTRING userSecurityId, PackageTypes packageTypes, IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByNamePublisherWithPackageTypes(HSTRING packageName,
                                                                HSTRING packagePublisher,
                                                                PackageTypes packageTypes,
                                                                IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdNamePublisherWithPackageTypes(
        HSTRING userSecurityId, HSTRING packageName, HSTRING packagePublisher,
        PackageTypes packageTypes, IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByPackageFamilyNameWithPackageTypes(
        HSTRING packageFamilyName, PackageTypes packageTypes, IIterable<IPackage>** packages) = 0;
    virtual HRESULT FindPackagesByUserSecurityIdPackageFamilyNameWithPackageTypes(
        HSTRING userSecurityId, HSTRING packageFamilyName, PackageTypes packageTypes,
        IIterable<IPackage>** packages) = 0;
    virtual HRESULT StageUserDataAsync(HSTRING packageFullName,
                                       IAsyncDeploymentOperation** operation) = 0;

protected:
    ~IPackageManager2() = default;
};

// {DAAD9948-36F1-41A7-9188-BC263E0DCB72}
struct IPackageManager3 : IInspectable {
    static constexpr IID kIid = {
        0xDAAD9948, 0x36F1, 0x41A7, {0x91, 0x88, 0xBC, 0x26, 0x3E, 0x0D, 0xCB, 0x72}};
    virtual HRESULT AddPackageVolumeAsync(HSTRING packageStorePath,
                                          IAsyncPackageVolumeOperation** packageVolume) = 0;
    virtual HRESULT AddPackageToVolumeAsync(IUriRuntimeClass* packageUri,
                                            IIterableOfUri* dependencyPackageUris,
                                            DeploymentOptions deploymentOptions,
                                            IPackageVolume* targetVolume,
                                            IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT ClearPackageStatus(HSTRING packageFullName, PackageStatus status) = 0;
    virtual HRESULT RegisterPackageWithAppDataVolumeAsync(
        IUriRuntimeClass* manifestUri, IIterableOfUri* dependencyPackageUris,
        DeploymentOptions deploymentOptions, IPackageVolume* appDataVolume,
        IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT FindPackageVolumeByName(HSTRING volumeName, IPackageVolume** volume) = 0;
    virtual HRESULT FindPackageVolumes(IIterable<IPackageVolume>** volumes) = 0;
    virtual HRESULT GetDefaultPackageVolume(IPackageVolume** volume) = 0;
    virtual HRESULT MovePackageToVolumeAsync(HSTRING packageFullName,
                                             DeploymentOptions deploymentOptions,
                                             IPackageVolume* targetVolume,
                                             IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT RemovePackageVolumeAsync(IPackageVolume* volume,
                                             IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT SetDefaultPackageVolume(IPackageVolume* volume) = 0;
    virtual HRESULT SetPackageStatus(HSTRING packageFullName, PackageStatus status) = 0;
    virtual HRESULT SetPackageVolumeOfflineAsync(IPackageVolume* packageVolume,
                                                 IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT SetPackageVolumeOnlineAsync(IPackageVolume* packageVolume,
                                                IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT StagePackageToVolumeAsync(IUriRuntimeClass* packageUri,
                                              IIterableOfUri* dependencyPackageUris,
                                              DeploymentOptions deploymentOptions,
                                              IPackageVolume* targetVolume,
                                              IAsyncDeploymentOperation** operation) = 0;
    virtual HRESULT StageUserDataWithOptionsAsync(HSTRING packageFullName,
                                                  DeploymentOptions deploymentOptions,
                                                  IAsyncDeploymentOperation** operation) = 0;

protected:
    ~IPackageManager3() = default;
};

}  // namespace win
