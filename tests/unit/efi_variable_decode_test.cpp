// UEFI variables in measured-boot events: UEFI_VARIABLE_DATA and its lying sizes, several
// variables in one event, the variables people read (Secure Boot switches, signature databases,
// BootOrder, load options, SBAT levels) and the authorities of EV_EFI_VARIABLE_AUTHORITY.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode/efi_variable.h"
#include "decode/event_description.h"
#include "decode/event_types.h"
#include "decode/signature_list.h"
#include "tcglog/tcg_log_builder.h"

namespace {

namespace guids = qorvex::decode::guids;
using qorvex::decode::DecodeAuthorityData;
using qorvex::decode::DecodeLoadOption;
using qorvex::decode::DecodeSignatureDatabase;
using qorvex::decode::DecodeUefiVariableEvent;
using qorvex::decode::DescribeEvent;
using qorvex::decode::Guid;
using qorvex::decode::MakeGuid;
using qorvex::decode::ToJson;
using qorvex::tools::Bytes;
using qorvex::tools::ByteWriter;
using testing::HasSubstr;
using testing::Not;

constexpr std::uint32_t kDriverConfig = qorvex::decode::kEvEfiVariableDriverConfig;
constexpr std::uint32_t kBoot = qorvex::decode::kEvEfiVariableBoot;
constexpr std::uint32_t kAuthority = qorvex::decode::kEvEfiVariableAuthority;

const Guid kVendorGuid =
    MakeGuid(0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef});
const Guid kMicrosoftOwner =
    MakeGuid(0x77fa9abd, 0x0359, 0x4d32, {0xbd, 0x60, 0x28, 0xf4, 0xe7, 0x8f, 0x78, 0x4b});

Bytes GuidBytes(const Guid& guid) {
    return Bytes(guid.bytes.begin(), guid.bytes.end());
}

// UEFI_VARIABLE_DATA as firmware writes it; the lengths can be made to lie.
Bytes Variable(const Guid& vendor, std::u16string_view name, const Bytes& data,
               std::optional<std::uint64_t> nameLength = {},
               std::optional<std::uint64_t> dataLength = {}) {
    return ByteWriter()
        .Append(GuidBytes(vendor))
        .U64(nameLength.value_or(name.size()))
        .U64(dataLength.value_or(data.size()))
        .Utf16(name, false)
        .Append(data)
        .Take();
}

// A certificate-shaped DER element: a SEQUENCE of n bytes.
Bytes Der(std::size_t n) {
    ByteWriter der;
    der.U8(0x30);
    if (n < 0x80) {
        der.U8(static_cast<std::uint8_t>(n));
    } else {
        der.U8(0x82).U8(static_cast<std::uint8_t>(n >> 8)).U8(static_cast<std::uint8_t>(n));
    }
    return der.Fill(n, 0x5A).Take();
}

// An EFI_SIGNATURE_LIST of entries of one data size.
Bytes SignatureList(const Guid& type, const std::vector<Bytes>& entries, Bytes header = {},
                    std::optional<std::uint32_t> signatureSize = {}) {
    const std::uint32_t entrySize = signatureSize.value_or(
        entries.empty() ? 16 : 16 + static_cast<std::uint32_t>(entries[0].size()));
    std::uint32_t listSize = 28 + static_cast<std::uint32_t>(header.size());
    for (const Bytes& entry : entries) listSize += 16 + static_cast<std::uint32_t>(entry.size());
    ByteWriter list;
    list.Append(GuidBytes(type)).U32(listSize).U32(static_cast<std::uint32_t>(header.size()));
    list.U32(entrySize).Append(header);
    for (const Bytes& entry : entries) list.Append(GuidBytes(kMicrosoftOwner)).Append(entry);
    return list.Take();
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    ByteWriter out;
    for (const Bytes& part : parts) out.Append(part);
    return out.Take();
}

std::string EventJson(std::uint32_t type, const Bytes& data) {
    return ToJson(DescribeEvent({7, type, data}));
}

// ---- UEFI_VARIABLE_DATA ---------------------------------------------------------------------

TEST(UefiVariableTest, ReadsVendorNameLengthsAndData) {
    // The decoded variable points into these bytes.
    const Bytes data = Variable(guids::kEfiGlobalVariable, u"SecureBoot", {1});
    const auto event = DecodeUefiVariableEvent(data);
    ASSERT_EQ(event.variables.size(), 1u);
    EXPECT_FALSE(event.malformed);
    const auto& variable = event.variables[0];
    EXPECT_EQ(variable.vendor, guids::kEfiGlobalVariable);
    EXPECT_EQ(variable.name, u"SecureBoot");
    EXPECT_EQ(variable.nameLength, 10u);
    EXPECT_EQ(variable.dataLength, 1u);
    EXPECT_EQ(Bytes(variable.data.begin(), variable.data.end()), Bytes{1});
    EXPECT_EQ(EventJson(kDriverConfig, data),
              "{\"guid\": \"8be4df61-93ca-11d2-aa0d-00e098032b8c\", \"guidName\": "
              "\"EFI_GLOBAL_VARIABLE\", \"name\": \"SecureBoot\", \"dataLength\": 1, \"value\": 1, "
              "\"valueName\": \"on\"}");
}

// A Lenovo TPM 1.2 firmware measures BootOrder and every Boot#### in one event.
TEST(UefiVariableTest, ReadsEveryVariableOfAnEventThatHoldsSeveral) {
    const Bytes data = Concat({Variable(guids::kEfiGlobalVariable, u"BootOrder", {1, 0, 2, 0}),
                               Variable(guids::kEfiGlobalVariable, u"Boot0001", {}),
                               Variable(kVendorGuid, u"Other", {9})});
    const auto event = DecodeUefiVariableEvent(data);
    ASSERT_EQ(event.variables.size(), 3u);
    EXPECT_EQ(event.variables[2].name, u"Other");
    const std::string json = EventJson(kBoot, data);
    EXPECT_THAT(json, HasSubstr("\"bootOrder\": [\"Boot0001\", \"Boot0002\"], "
                                "\"followingVariables\": [{\"guid\""));
    EXPECT_THAT(json, HasSubstr("\"name\": \"Other\", \"dataLength\": 1, \"data\": \"09\"}]}"));
}

TEST(UefiVariableTest, SizesThatLieAreMalformed) {
    const Bytes secureBoot = Variable(guids::kEfiGlobalVariable, u"SecureBoot", {1});
    const struct {
        const char* what;
        Bytes data;
        std::size_t variables;
        std::string reason;
    } cases[] = {
        {"header cut short", Bytes(secureBoot.begin(), secureBoot.begin() + 20), 0,
         "a variable's header is 32 bytes; 20 are left"},
        {"name length of 2^64 - 1",
         Variable(guids::kEfiGlobalVariable, u"SecureBoot", {1}, UINT64_MAX), 1,
         "the variable's name says 18446744073709551615 characters; 21 bytes follow"},
        {"data length of 2^64 - 1",
         Variable(guids::kEfiGlobalVariable, u"SecureBoot", {1}, {}, UINT64_MAX), 1,
         "the variable's data says 18446744073709551615 bytes; 1 follow"},
        {"data length one more than present",
         Variable(guids::kEfiGlobalVariable, u"SecureBoot", {1}, {}, 2), 1,
         "the variable's data says 2 bytes; 1 follow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto event = DecodeUefiVariableEvent(c.data);
        ASSERT_EQ(event.variables.size(), c.variables);
        const auto& fault = c.variables == 0 ? event.malformed : event.variables[0].malformed;
        ASSERT_TRUE(fault);
        EXPECT_EQ(fault->reason, c.reason);
        EXPECT_THAT(EventJson(kDriverConfig, c.data), HasSubstr("\"malformed\": {\"reason\""));
    }

    // Bytes after the variable that are no variable of their own.
    const Bytes trailing = Concat({secureBoot, Bytes{1, 2, 3}});
    const auto event = DecodeUefiVariableEvent(trailing);
    ASSERT_EQ(event.variables.size(), 1u);
    ASSERT_TRUE(event.malformed);
    EXPECT_EQ(event.malformed->reason, "3 bytes follow the variable's data");
    EXPECT_EQ(event.malformed->offset, secureBoot.size());
    EXPECT_THAT(
        EventJson(kDriverConfig, trailing),
        HasSubstr("\"value\": 1, \"valueName\": \"on\", \"afterVariables\": {\"malformed\": "
                  "{\"reason\": \"3 bytes follow the variable's data\""));
}

// ---- What each variable holds ---------------------------------------------------------------

TEST(VariableContentTest, DecodesTheDataByVendorAndName) {
    const Bytes option = ByteWriter()
                             .U32(1)
                             .U16(10)
                             .Utf16(u"Disk", true)
                             .Append(Bytes{0x03, 0x05, 0x06, 0x00, 0x02, 0x00})
                             .Append(Bytes{0x7F, 0xFF, 0x04, 0x00})
                             .Take();
    const struct {
        const char* what;
        std::uint32_t eventType;
        Guid vendor;
        std::u16string name;
        Bytes data;
        std::string json;  // what follows "dataLength": N
    } cases[] = {
        {"Secure Boot off",
         kDriverConfig,
         guids::kEfiGlobalVariable,
         u"SecureBoot",
         {0},
         ", \"value\": 0, \"valueName\": \"off\"}"},
        {"Secure Boot not set", kDriverConfig, guids::kEfiGlobalVariable, u"SecureBoot", {}, "}"},
        {"a switch of another value",
         kDriverConfig,
         guids::kEfiGlobalVariable,
         u"DeployedMode",
         {7},
         ", \"value\": 7}"},
        {"a switch of two bytes",
         kDriverConfig,
         guids::kEfiGlobalVariable,
         u"AuditMode",
         {0, 1},
         ", \"data\": \"0001\", \"malformed\": {\"reason\": \"a switch holds one byte; this one "
         "2\", "
         "\"offset\": 0, \"bytes\": \"0001\"}}"},
        {"BootOrder",
         kBoot,
         guids::kEfiGlobalVariable,
         u"BootOrder",
         {0x06, 0, 0x1A, 0},
         ", \"bootOrder\": [\"Boot0006\", \"Boot001A\"]}"},
        {"BootOrder of an odd size",
         kBoot,
         guids::kEfiGlobalVariable,
         u"BootOrder",
         {1, 0, 2},
         ", \"bootOrder\": [\"Boot0001\"], \"malformed\": {\"reason\": \"BootOrder holds an odd "
         "number of bytes\", \"offset\": 2, \"bytes\": \"010002\"}}"},
        {"a load option", kBoot, guids::kEfiGlobalVariable, u"Boot0001", option,
         ", \"loadOption\": {\"attributes\": \"0x1\", \"attributesName\": \"active\", "
         "\"description\": \"Disk\", \"filePathListLength\": 10, \"devicePath\": \"USB(0x2,0x0)\", "
         "\"optionalDataSize\": 0}}"},
        {"a load option not set",
         kBoot,
         guids::kEfiGlobalVariable,
         u"Boot0001",
         {},
         ", \"data\": \"\"}"},
        {"a driver option", kBoot, guids::kEfiGlobalVariable, u"Driver00AF", option,
         ", \"loadOption\": {"},
        {"no option: three digits",
         kBoot,
         guids::kEfiGlobalVariable,
         u"Boot001",
         {1},
         ", \"data\": \"01\"}"},
        {"no option: lower-case hex",
         kBoot,
         guids::kEfiGlobalVariable,
         u"Boot000a",
         {1},
         ", \"data\": \"01\"}"},
        {"an empty db",
         kDriverConfig,
         guids::kImageSecurityDatabase,
         u"db",
         {},
         ", \"signatureLists\": []}"},
        {"db under the global vendor is no database",
         kDriverConfig,
         guids::kEfiGlobalVariable,
         u"db",
         {1},
         ", \"data\": \"01\"}"},
        {"shim's SBAT level", kAuthority, guids::kShimLock, u"SbatLevel",
         Bytes{'s', 'b', 'a', 't', ',', '1', '\n'}, ", \"text\": \"sbat,1\\n\"}"},
        {"shim's switch recorded as an authority",
         kAuthority,
         guids::kShimLock,
         u"MokListTrusted",
         {1},
         ", \"value\": 1, \"valueName\": \"on\"}"},
        {"a vendor's own variable",
         kDriverConfig,
         kVendorGuid,
         u"Setup",
         {0, 1},
         ", \"data\": \"0001\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string json = EventJson(c.eventType, Variable(c.vendor, c.name, c.data));
        const std::string prefix = "\"dataLength\": " + std::to_string(c.data.size());
        EXPECT_THAT(json, HasSubstr(prefix + c.json));
    }
}

// ---- Signature databases --------------------------------------------------------------------

TEST(SignatureDatabaseTest, ReadsCertificateAndHashLists) {
    const Bytes hashA(32, 0xA1), hashB(32, 0xB2);
    const Bytes data = Concat({SignatureList(guids::kCertX509, {Der(300)}),
                               SignatureList(guids::kCertSha256, {hashA, hashB}),
                               SignatureList(kVendorGuid, {Bytes(4, 1)}, Bytes{7, 7})});
    const auto database = DecodeSignatureDatabase(data);
    EXPECT_FALSE(database.malformed);
    ASSERT_EQ(database.lists.size(), 3u);
    EXPECT_EQ(database.lists[0].type, guids::kCertX509);
    ASSERT_EQ(database.lists[0].signatures.size(), 1u);
    EXPECT_EQ(database.lists[0].signatures[0].owner, kMicrosoftOwner);
    EXPECT_EQ(database.lists[0].signatures[0].data.size(), 304u);
    EXPECT_EQ(database.lists[1].signatureSize, 48u);
    EXPECT_EQ(database.lists[1].signatures.size(), 2u);
    EXPECT_EQ(database.lists[2].header.size(), 2u);

    const std::string json =
        EventJson(kDriverConfig, Variable(guids::kImageSecurityDatabase, u"dbx", data));
    EXPECT_THAT(json,
                HasSubstr("{\"type\": \"c1c41626-504c-4092-aca9-41f936934328\", "
                          "\"typeName\": \"EFI_CERT_SHA256_GUID\", \"listSize\": 124, "
                          "\"headerSize\": 0, \"signatureSize\": 48, \"count\": 2, "
                          "\"signatures\": [{\"owner\": \"77fa9abd-0359-4d32-bd60-28f4e78f784b\", "
                          "\"ownerName\": \"Microsoft\", \"hash\": \"a1a1"));
    EXPECT_THAT(json, HasSubstr("\"typeName\": \"EFI_CERT_X509_GUID\", \"listSize\": 348"));
    EXPECT_THAT(json, HasSubstr("\"count\": 1, \"header\": \"0707\", \"signatures\": [{\"owner\""));
    EXPECT_THAT(json, HasSubstr("\"certificate\": \"3082012c5a5a"));
    EXPECT_THAT(json, Not(HasSubstr("malformed")));
}

TEST(SignatureDatabaseTest, SizesThatDisagreeAreMalformedAndKeepTheListsBefore) {
    const Bytes good = SignatureList(guids::kCertSha256, {Bytes(32, 1)});
    // A list with one of its header's sizes overwritten (list size at 16, header size at 20).
    const auto patched = [](Bytes list, std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) list[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return list;
    };
    const Bytes certificates = SignatureList(guids::kCertX509, {Der(10)});
    const struct {
        const char* what;
        Bytes second;
        std::string reason;
    } cases[] = {
        {"header cut short", Bytes(20, 0), "a signature list header is cut short: 20 bytes left"},
        {"list shorter than its header", patched(certificates, 16, 27),
         "a signature list says it is 27 bytes long; 56 are left"},
        {"list longer than the bytes left", patched(certificates, 16, 0xFFFFFFFF),
         "a signature list says it is 4294967295 bytes long; 56 are left"},
        {"header larger than the list",
         patched(SignatureList(guids::kCertX509, {}, Bytes(8, 0), 16), 20, 9),
         "a signature list's header of 9 bytes does not fit in the list"},
        {"entries smaller than their owner", SignatureList(kVendorGuid, {Bytes(4, 1)}, {}, 8),
         "a signature list of 20 bytes of entries has entries of 8 bytes"},
        {"entries that do not divide the list", SignatureList(kVendorGuid, {Bytes(4, 1)}, {}, 19),
         "a signature list of 20 bytes of entries has entries of 19 bytes"},
        {"a SHA-256 entry of the wrong size", SignatureList(guids::kCertSha256, {Bytes(20, 1)}),
         "an EFI_CERT_SHA256_GUID entry is 48 bytes; this list says 36"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes data = Concat({good, c.second});
        const auto database = DecodeSignatureDatabase(data);
        ASSERT_TRUE(database.malformed);
        EXPECT_EQ(database.malformed->reason, c.reason);
        EXPECT_EQ(database.malformed->offset, good.size());
        ASSERT_EQ(database.lists.size(), 1u);
        EXPECT_EQ(database.lists[0].signatures.size(), 1u);
    }
}

// ---- Load options ---------------------------------------------------------------------------

TEST(LoadOptionTest, ReadsAttributesDescriptionPathsAndOptionalData) {
    const Bytes usb = {0x03, 0x05, 0x06, 0x00, 0x01, 0x00, 0x7F, 0xFF, 0x04, 0x00};
    const Bytes file = ByteWriter()
                           .Append(Bytes{0x04, 0x04, 0x10, 0x00})
                           .Utf16(u"\\a.efi", false)
                           .Append(Bytes{0x7F, 0xFF, 0x04, 0x00})
                           .Take();
    const Bytes data = ByteWriter()
                           .U32(0x109)
                           .U16(static_cast<std::uint16_t>(usb.size() + file.size()))
                           .Utf16(u"Windows Boot Manager", true)
                           .Append(usb)
                           .Append(file)
                           .Ascii("WINDOWS")
                           .Take();
    const auto option = DecodeLoadOption(data);
    EXPECT_FALSE(option.malformed);
    EXPECT_EQ(option.attributes, 0x109u);
    EXPECT_EQ(option.description, u"Windows Boot Manager");
    ASSERT_EQ(option.devicePaths.size(), 2u);
    EXPECT_EQ(option.devicePaths[1].Text(), "\\a.efi");
    EXPECT_EQ(std::string(option.optionalData.begin(), option.optionalData.end()), "WINDOWS");
    EXPECT_EQ(ToJson(Describe(option)),
              "{\"attributes\": \"0x109\", \"attributesName\": \"active, hidden, application\", "
              "\"description\": \"Windows Boot Manager\", \"filePathListLength\": 30, "
              "\"devicePath\": \"USB(0x1,0x0)\", \"moreDevicePaths\": [\"\\\\a.efi\"], "
              "\"optionalDataSize\": 7, \"optionalData\": \"57494e444f5753\"}");
}

TEST(LoadOptionTest, CutOrLyingOptionsAreMalformed) {
    const Bytes usb = {0x03, 0x05, 0x06, 0x00, 0x01, 0x00, 0x7F, 0xFF, 0x04, 0x00};
    const struct {
        const char* what;
        Bytes data;
        std::string reason;
        std::size_t paths;
    } cases[] = {
        {"header cut short", {1, 0, 0}, "the load option's header is cut short", 0},
        {"description without its zero", ByteWriter().U32(1).U16(0).Utf16(u"Boot", false).Take(),
         "the load option's description has no terminating zero", 0},
        {"path list longer than the bytes left",
         ByteWriter().U32(1).U16(200).Utf16(u"A", true).Append(usb).Take(),
         "the load option's device paths say 200 bytes; 10 follow", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto option = DecodeLoadOption(c.data);
        ASSERT_TRUE(option.malformed);
        EXPECT_EQ(option.malformed->reason, c.reason);
        EXPECT_EQ(option.devicePaths.size(), c.paths);
        EXPECT_THAT(ToJson(Describe(option)), HasSubstr("\"malformed\": {\"reason\""));
    }
}

// ---- Authorities ----------------------------------------------------------------------------

TEST(AuthorityDataTest, ShowsTheEntryThatAllowedAnImageInWhateverFormItCame) {
    const struct {
        const char* what;
        Bytes data;
        std::string json;  // what follows "dataLength": N
    } cases[] = {
        // The stand-in DER elements are no certificates: the certificate library says so.
        {"owner and certificate (firmware's db entry)",
         Concat({GuidBytes(kMicrosoftOwner), Der(3)}),
         ", \"signature\": {\"owner\": \"77fa9abd-0359-4d32-bd60-28f4e78f784b\", \"ownerName\": "
         "\"Microsoft\", \"certificate\": \"30035a5a5a\", \"x509Error\": \"not a signed "
         "certificate (TBSCertificate, algorithm, signature)\"}}"},
        {"owner and a SHA-256 hash", Concat({GuidBytes(kVendorGuid), Bytes(32, 0xEE)}),
         ", \"signature\": {\"owner\": \"12345678-9abc-def0-0123-456789abcdef\", \"hash\": "
         "\"eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee\"}}"},
        {"a certificate alone (shim's built-in one)", Der(20),
         ", \"certificate\": \"30145a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a\", \"x509Error\": "
         "\"not a signed certificate (TBSCertificate, algorithm, signature)\"}"},
        {"text", Bytes{'a', 'b', 'c'}, ", \"text\": \"abc\"}"},
        {"anything else", Bytes{0, 1, 2}, ", \"data\": \"000102\"}"},
        {"an owner and nothing more", GuidBytes(kVendorGuid),
         ", \"data\": \"78563412bc9af0de0123456789abcdef\"}"},
        {"a certificate whose length runs past the data",
         Concat({GuidBytes(kVendorGuid), Bytes{0x30, 0x82, 0x10, 0x00, 1}}),
         ", \"data\": \"78563412bc9af0de0123456789abcdef3082100001\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string json =
            EventJson(kAuthority, Variable(guids::kImageSecurityDatabase, u"db", c.data));
        EXPECT_THAT(json, HasSubstr("\"dataLength\": " + std::to_string(c.data.size()) + c.json));
    }
}

}  // namespace
