#include "platform/winrt_objects/inventory.h"

#include <utf/codec.h>

#include "core/json.h"

namespace winrt_objects {
namespace {

using winsim::detail::json::Value;

[[noreturn]] void Fail(const InventoryFailure& fail, const Value& at, const std::string& message) {
    fail(at, message);
    // The failure callback throws; this keeps a callback that forgot to from going on.
    throw std::runtime_error(message);
}

const Value& Expect(const InventoryFailure& fail, const Value& value, Value::Kind kind,
                    const std::string& what) {
    if (value.kind != kind) {
        Fail(fail, value,
             what + " must be " + winsim::detail::json::KindName(kind) + ", not " +
                 winsim::detail::json::KindName(value.kind));
    }
    return value;
}

// A failure HRESULT: "0x" and 1 to 8 hex digits, or a number. Success codes are refused: a
// scripted failure that reads as success would silently script nothing.
win::HRESULT Failure(const InventoryFailure& fail, const Value& value, const std::string& what) {
    std::uint64_t n = 0;
    bool ok = false;
    if (value.kind == Value::Kind::String && value.text.size() > 2 && value.text.size() <= 10 &&
        (value.text.compare(0, 2, "0x") == 0 || value.text.compare(0, 2, "0X") == 0)) {
        ok = true;
        for (std::size_t i = 2; i < value.text.size(); ++i) {
            const char c = value.text[i];
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) ok = false;
            n = n * 16 + static_cast<std::uint64_t>(digit < 0 ? 0 : digit);
        }
    } else if (value.kind == Value::Kind::Number && !value.text.empty() &&
               value.text.size() <= 10 &&
               value.text.find_first_not_of("0123456789") == std::string::npos) {
        ok = true;
        n = std::stoull(value.text);
    }
    if (!ok || n > 0xFFFFFFFFu || (n & 0x80000000u) == 0)
        Fail(fail, value, what + " must be a failure HRESULT such as \"0x80070005\"");
    return static_cast<win::HRESULT>(static_cast<std::uint32_t>(n));
}

std::u16string Text(const InventoryFailure& fail, const Value& value, const std::string& what) {
    return utf::ToUtf16(Expect(fail, value, Value::Kind::String, what).text);
}

}  // namespace

std::vector<PackageEntry> ReadPackages(const Value& value, const InventoryFailure& fail) {
    Expect(fail, value, Value::Kind::Array, "\"packages\"");
    std::vector<PackageEntry> packages;
    for (const Value& item : value.items) {
        Expect(fail, item, Value::Kind::Object, "a package");
        PackageEntry entry;
        const Value* fullName = item.Find("fullName");
        if (fullName == nullptr) Fail(fail, item, "a package needs a \"fullName\"");
        entry.fullName = Text(fail, *fullName, "\"fullName\"");
        if (const Value* location = item.Find("installedLocation")) {
            if (location->kind != Value::Kind::Null)
                entry.installedLocation = Text(fail, *location, "\"installedLocation\"");
        } else {
            Fail(fail, item, "a package needs an \"installedLocation\" (a path or null)");
        }
        if (const Value* fails = item.Find("fails")) {
            Expect(fail, *fails, Value::Kind::Object, "\"fails\"");
            for (const auto& [name, hr] : fails->members) {
                win::HRESULT* slot = name == "Id"                  ? &entry.fails.id
                                     : name == "FullName"          ? &entry.fails.fullName
                                     : name == "InstalledLocation" ? &entry.fails.installedLocation
                                     : name == "StorageItem"       ? &entry.fails.storageItem
                                     : name == "Path"              ? &entry.fails.path
                                                                   : nullptr;
                if (slot == nullptr) {
                    Fail(fail, hr,
                         "\"" + name +
                             "\" is not a package property; use Id, FullName, "
                             "InstalledLocation, StorageItem or Path");
                }
                *slot = Failure(fail, hr, "\"" + name + "\"");
            }
        }
        if (const Value* hr = item.Find("setPackageStateFails"))
            entry.setPackageStateFails = Failure(fail, *hr, "\"setPackageStateFails\"");
        packages.push_back(std::move(entry));
    }
    return packages;
}

std::vector<VolumeEntry> ReadPackageVolumes(const Value& value, const InventoryFailure& fail) {
    Expect(fail, value, Value::Kind::Array, "\"packageVolumes\"");
    std::vector<VolumeEntry> volumes;
    for (const Value& item : value.items) {
        Expect(fail, item, Value::Kind::Object, "a package volume");
        VolumeEntry entry;
        const Value* path = item.Find("packageStorePath");
        const Value* fails = item.Find("fails");
        if (path == nullptr && fails == nullptr)
            Fail(fail, item, "a package volume needs a \"packageStorePath\" or \"fails\"");
        if (path != nullptr) entry.packageStorePath = Text(fail, *path, "\"packageStorePath\"");
        if (fails != nullptr) entry.fails = Failure(fail, *fails, "\"fails\"");
        volumes.push_back(std::move(entry));
    }
    return volumes;
}

}  // namespace winrt_objects
