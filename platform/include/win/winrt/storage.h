// Windows.Storage.IStorageItem and IStorageFolder, in their published slot order. The module
// only reads a folder's path: IStorageFolder (the default interface of StorageFolder) is
// queried for IStorageItem, whose get_Path gives it.
#pragma once

#include <win/winrt/inspectable.h>

namespace win {

// Results of slots the module never calls; only their pointers cross the ABI.
struct IAsyncAction;
struct IAsyncOperationOfInspectable;

enum NameCollisionOption : std::int32_t {};
enum StorageDeleteOption : std::int32_t {};
enum CreationCollisionOption : std::int32_t {};
enum FileAttributes : std::uint32_t {};
enum StorageItemTypes : std::uint32_t {};

struct DateTime {
    INT64 UniversalTime;
};

// {4207A996-CA2F-42F7-BDE8-8B10457A7F30}
struct IStorageItem : IInspectable {
    static constexpr IID kIid = {
        0x4207A996, 0xCA2F, 0x42F7, {0xBD, 0xE8, 0x8B, 0x10, 0x45, 0x7A, 0x7F, 0x30}};
    virtual HRESULT RenameAsyncOverloadDefaultOptions(HSTRING desiredName,
                                                      IAsyncAction** operation) = 0;
    virtual HRESULT RenameAsync(HSTRING desiredName, NameCollisionOption option,
                                IAsyncAction** operation) = 0;
    virtual HRESULT DeleteAsyncOverloadDefaultOptions(IAsyncAction** operation) = 0;
    virtual HRESULT DeleteAsync(StorageDeleteOption option, IAsyncAction** operation) = 0;
    virtual HRESULT GetBasicPropertiesAsync(IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT get_Name(HSTRING* value) = 0;
    virtual HRESULT get_Path(HSTRING* value) = 0;
    virtual HRESULT get_Attributes(FileAttributes* value) = 0;
    virtual HRESULT get_DateCreated(DateTime* value) = 0;
    virtual HRESULT IsOfType(StorageItemTypes type, boolean* value) = 0;

protected:
    ~IStorageItem() = default;
};

// {72D1CB78-B3EF-4F75-A80B-6FD9DAE2944B}
struct IStorageFolder : IInspectable {
    static constexpr IID kIid = {
        0x72D1CB78, 0xB3EF, 0x4F75, {0xA8, 0x0B, 0x6F, 0xD9, 0xDA, 0xE2, 0x94, 0x4B}};
    virtual HRESULT CreateFileAsyncOverloadDefaultOptions(
        HSTRING desiredName, IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT CreateFileAsync(HSTRING desiredName, CreationCollisionOption options,
                                    IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT CreateFolderAsyncOverloadDefaultOptions(
        HSTRING desiredName, IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT CreateFolderAsync(HSTRING desiredName, CreationCollisionOption options,
                                      IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT GetFileAsync(HSTRING name, IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT GetFolderAsync(HSTRING name, IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT GetItemAsync(HSTRING name, IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT GetFilesAsyncOverloadDefaultOptionsStartAndCount(
        IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT GetFoldersAsyncOverloadDefaultOptionsStartAndCount(
        IAsyncOperationOfInspectable** operation) = 0;
    virtual HRESULT GetItemsAsyncOverloadDefaultStartAndCount(
        IAsyncOperationOfInspectable** operation) = 0;

protected:
    ~IStorageFolder() = default;
};

}  // namespace win
