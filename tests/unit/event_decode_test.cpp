// The analyst's event decoders: the description tree and its text and JSON renderings; the
// decoders of texts, firmware blobs, handoff tables, separators, EV_NO_ACTION structures, tagged
// events, GPT, image loads and SPDM records on hand-built data, their faults and every cut of
// it; and every event of every real log and example log, with known values spot-checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "component/antimalware/source/trusted_boot/tcg_log_provider/source/tcg_log_parser.h"
#include "decode/event_description.h"
#include "decode/event_types.h"
#include "decode/gpt.h"
#include "decode/guid.h"
#include "digest/digest.h"
#include "fuzz/json_check.h"
#include "tcglog/tcg_log_builder.h"

namespace {

namespace d = qorvex::decode;
namespace tb = antimalware::trusted_boot;
using d::DescribeEvent;
using d::Node;
using d::ToJson;
using d::ToText;
using qorvex::fuzz::IsValidJson;
using qorvex::tools::Bytes;
using qorvex::tools::ByteWriter;
using testing::HasSubstr;
using testing::Not;

const d::Guid kSampleGuid =
    d::MakeGuid(0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef});

Bytes GuidBytes(const d::Guid& guid) {
    return Bytes(guid.bytes.begin(), guid.bytes.end());
}

Bytes Ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string EventJson(std::uint32_t type, const Bytes& data, std::uint32_t pcr = 0) {
    return ToJson(DescribeEvent({pcr, type, data}));
}

// ---- The description tree -------------------------------------------------------------------

std::string Repeated(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

TEST(DescriptionTreeTest, RendersEachKindOfValue) {
    const struct {
        const char* what;
        Node (*make)();
        std::string text;
        std::string json;
    } cases[] = {
        {"number", [] { return Node::Number(42); }, "v: 42\n", "{\"v\": 42}"},
        {"number above 2^53", [] { return Node::Number(UINT64_MAX); }, "v: 18446744073709551615\n",
         "{\"v\": 18446744073709551615}"},
        {"labelled number", [] { return Node::Number(1, "on"); }, "v: 1 (on)\n",
         "{\"v\": 1, \"vName\": \"on\"}"},
        {"hex number", [] { return Node::Hex(0x1F); }, "v: 0x1f\n", "{\"v\": \"0x1f\"}"},
        {"boolean", [] { return Node::Bool(true); }, "v: true\n", "{\"v\": true}"},
        {"text with a line break, a tab, quotes and a backslash",
         [] { return Node::Text("a\nb\t\"c\" \\d"); }, "v: a\\nb\\t\"c\" \\d\n",
         "{\"v\": \"a\\nb\\t\\\"c\\\" \\\\d\"}"},
        {"text with a control character", [] { return Node::Text(std::string_view("x\x01y", 3)); },
         "v: x\\x01y\n", "{\"v\": \"x\\u0001y\"}"},
        {"empty text", [] { return Node::Text(""); }, "v: \"\"\n", "{\"v\": \"\"}"},
        {"text that is not UTF-8", [] { return Node::Text(std::string_view("a\xff", 2)); },
         "v: a\xef\xbf\xbd\n", "{\"v\": \"a\xef\xbf\xbd\"}"},
        {"UTF-16 text with an unpaired surrogate",
         [] { return Node::Text(std::u16string_view(u"\xd800z", 2)); }, "v: \xef\xbf\xbdz\n",
         "{\"v\": \"\xef\xbf\xbdz\"}"},
        {"known GUID", [] { return Node::GuidValue(d::guids::kCertX509); },
         "v: a5c059a1-94e4-4aa7-87b5-ab155c2bf072 (EFI_CERT_X509_GUID)\n",
         "{\"v\": \"a5c059a1-94e4-4aa7-87b5-ab155c2bf072\", \"vName\": \"EFI_CERT_X509_GUID\"}"},
        {"unknown GUID", [] { return Node::GuidValue(kSampleGuid); },
         "v: 12345678-9abc-def0-0123-456789abcdef\n",
         "{\"v\": \"12345678-9abc-def0-0123-456789abcdef\"}"},
        {"bytes",
         [] {
             return Node::Bytes(Bytes{0x00, 0xFF});
         },
         "v: 00ff\n", "{\"v\": \"00ff\"}"},
        {"no bytes", [] { return Node::Bytes({}); }, "v: (empty)\n", "{\"v\": \"\"}"},
        {"bytes cut after 64 in text, whole in JSON", [] { return Node::Bytes(Bytes(100, 0xAB)); },
         "v: " + Repeated("ab", 64) + "... (100 bytes)\n",
         "{\"v\": \"" + Repeated("ab", 100) + "\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Node object = Node::Object();
        object.Add("v", c.make());
        EXPECT_EQ(ToText(object), c.text);
        EXPECT_EQ(ToJson(object), c.json);
        EXPECT_TRUE(IsValidJson(ToJson(object)));
    }
}

TEST(DescriptionTreeTest, NestsObjectsAndListsAsIndentedLinesAndJson) {
    Node tree = Node::Object();
    tree.Add("name", Node::Text("db"))
        .Add("order",
             std::move(Node::List().Push(Node::Text("Boot0001")).Push(Node::Text("Boot0002"))))
        .Add("empty", Node::List())
        .Add("none", Node::Object())
        .Add("lists",
             std::move(
                 Node::List()
                     .Push(std::move(Node::Object()
                                         .Add("type", Node::Hex(1))
                                         .Add("signatures",
                                              std::move(Node::List().Push(std::move(
                                                  Node::Object().Add("owner", Node::Number(7))))))))
                     .Push(Node::Object())
                     .Push(std::move(Node::List().Push(Node::Number(1, "one"))))
                     .Push(std::move(
                         Node::List().Push(std::move(Node::Object().Add("x", Node::Number(2))))))));
    EXPECT_EQ(ToText(tree, 4),
              "    name: db\n"
              "    order: Boot0001, Boot0002\n"
              "    empty: []\n"
              "    none: {}\n"
              "    lists:\n"
              "      - type: 0x1\n"
              "        signatures:\n"
              "          - owner: 7\n"
              "      - {}\n"
              "      - 1 (one)\n"
              "      -\n"
              "        - x: 2\n");
    EXPECT_EQ(
        ToJson(tree),
        "{\"name\": \"db\", \"order\": [\"Boot0001\", \"Boot0002\"], \"empty\": [], \"none\": {}, "
        "\"lists\": [{\"type\": \"0x1\", \"signatures\": [{\"owner\": 7}]}, {}, [{\"value\": 1, "
        "\"name\": \"one\"}], [{\"x\": 2}]]}");
    EXPECT_EQ(ToText(Node::Number(3)), "3\n");
    EXPECT_EQ(ToJson(Node::List()), "[]");
}

// Trees nest as deep as a log says (SIPA containers); nothing recurses on them.
TEST(DescriptionTreeTest, DeepTreesRenderSearchAndDestroyWithoutRecursion) {
    constexpr std::size_t kDepth = 100000;
    Node tree = Node::Object();
    tree.AddMalformed(nullptr);
    {
        d::Malformed fault{"deep fault", 3, {}};
        Node inner = std::move(Node::Object().AddMalformed(&fault));
        for (std::size_t i = 0; i < kDepth; ++i) {
            Node outer = i % 2 == 0 ? Node::Object() : Node::List();
            if (i % 2 == 0) {
                outer.Add("child", std::move(inner));
            } else {
                outer.Push(std::move(inner));
            }
            inner = std::move(outer);
        }
        tree.Add("root", std::move(inner));
    }
    const std::string text = ToText(tree);
    std::size_t longest = 0, lines = 0, start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        longest = std::max(longest, end - start);
        ++lines;
    }
    EXPECT_LT(longest, 120u);
    EXPECT_GT(lines, kDepth / 2);  // an object in a list starts on its item's line
    const std::string json = ToJson(tree);
    EXPECT_TRUE(IsValidJson(json));
    const auto faults = d::FindMalformed(tree);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0]->Find("reason")->text(), "deep fault");
}

TEST(DescriptionTreeTest, FindsEveryFaultInDocumentOrder) {
    d::Malformed first{"first", 0, {}}, second{"second", 1, {}};
    Node tree = Node::Object();
    tree.Add("a", std::move(Node::List().Push(std::move(Node::Object().AddMalformed(&first)))))
        .AddMalformed(&second);
    const auto faults = d::FindMalformed(tree);
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0]->Find("reason")->text(), "first");
    EXPECT_EQ(faults[1]->Find("reason")->text(), "second");
    EXPECT_TRUE(d::FindMalformed(Node::Object()).empty());
}

// ---- Texts, blobs, tables, separators -------------------------------------------------------

struct EventCase {
    const char* what;
    std::uint32_t type;
    Bytes data;
    std::string json;
};

void ExpectDescriptions(std::span<const EventCase> cases) {
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string json = EventJson(c.type, c.data);
        EXPECT_EQ(json, c.json);
        EXPECT_TRUE(IsValidJson(json));
    }
}

TEST(TextEventTest, DescribesTextsBlobsTablesAndSeparators) {
    const EventCase cases[] = {
        {"EFI action", d::kEvEfiAction, Ascii("Calling EFI Application from Boot Option"),
         "{\"text\": \"Calling EFI Application from Boot Option\"}"},
        {"action that is not text", d::kEvAction, Bytes{0x01, 0x02},
         "{\"malformed\": {\"reason\": \"the action is not text\", \"offset\": 0, \"bytes\": "
         "\"0102\"}}"},
        {"S-CRTM version in UTF-16", d::kEvSCrtmVersion,
         ByteWriter().Utf16(u"N1NET22W ", true).Take(), "{\"text\": \"N1NET22W \"}"},
        {"S-CRTM version in 8 bits, not three CJK characters", d::kEvSCrtmVersion, Ascii("N1429 "),
         "{\"text\": \"N1429 \"}"},
        {"S-CRTM version of UTF-16 outside Latin-1", d::kEvSCrtmVersion,
         ByteWriter().Utf16(u"\u7248 1", true).Take(), "{\"text\": \"\xe7\x89\x88 1\"}"},
        {"empty S-CRTM version", d::kEvSCrtmVersion, Bytes{0, 0}, "{\"text\": \"\"}"},
        {"S-CRTM version as a GUID", d::kEvSCrtmVersion, GuidBytes(kSampleGuid),
         "{\"guid\": \"12345678-9abc-def0-0123-456789abcdef\"}"},
        {"S-CRTM version as a vendor record", d::kEvSCrtmVersion,
         Bytes{'M', '6', '0', 0, 0, 0, 2, 0, 0x17, 0}, "{\"data\": \"4d363000000002001700\"}"},
        {"POST code as text", d::kEvPostCode, Ascii("ACPI DATA"), "{\"text\": \"ACPI DATA\"}"},
        {"POST code as a firmware blob", d::kEvPostCode,
         ByteWriter().U64(0xFFA00000).U64(0x3F0000).Take(),
         "{\"base\": \"0xffa00000\", \"length\": 4128768}"},
        {"S-CRTM contents with leading zeros", d::kEvSCrtmContents,
         Bytes{0, 0, 0, 'P', 'O', 'S', 'T', ' ', 'C'}, "{\"data\": \"000000504f53542043\"}"},
        {"IPL command line with its zero", d::kEvIpl,
         ByteWriter().Ascii("grub_cmd: linux /vmlinuz\n  ro").U8(0).Take(),
         "{\"text\": \"grub_cmd: linux /vmlinuz\\n  ro\"}"},
        {"IPL in UTF-16", d::kEvIpl, ByteWriter().Utf16(u"initrd=\\x.img", true).Take(),
         "{\"text\": \"initrd=\\\\x.img\"}"},
        {"IPL in UTF-8", d::kEvIpl, Ascii("r\xc3\xa9sum\xc3\xa9"),
         "{\"text\": \"r\xc3\xa9sum\xc3\xa9\"}"},
        {"IPL of binary data", d::kEvIpl, Bytes{0x7F, 0x00, 0x01}, "{\"data\": \"7f0001\"}"},
        {"firmware blob", d::kEvEfiPlatformFirmwareBlob,
         ByteWriter().U64(0xFFD00000).U64(0x300000).Take(),
         "{\"base\": \"0xffd00000\", \"length\": 3145728}"},
        {"firmware blob cut short", d::kEvEfiPlatformFirmwareBlob, Bytes(15, 0),
         "{\"malformed\": {\"reason\": \"a firmware blob is 16 bytes (base, length); the data "
         "holds 15\", \"offset\": 8, \"bytes\": \"000000000000000000000000000000\"}}"},
        {"firmware blob with a byte more", d::kEvEfiPlatformFirmwareBlob, Bytes(17, 0),
         "{\"base\": \"0x0\", \"length\": 0, \"malformed\": {\"reason\": \"1 bytes follow the "
         "firmware blob's length\", \"offset\": 16, \"bytes\": "
         "\"0000000000000000000000000000000000\"}}"},
        {"firmware blob with a description", d::kEvEfiPlatformFirmwareBlob2,
         ByteWriter().U8(5).Ascii("Fv(A)").U64(0x1000).U64(0x20).Take(),
         "{\"description\": \"Fv(A)\", \"base\": \"0x1000\", \"length\": 32}"},
        {"firmware blob whose description runs past the data", d::kEvEfiPlatformFirmwareBlob2,
         ByteWriter().U8(200).Ascii("Fv").Take(),
         "{\"malformed\": {\"reason\": \"the blob description is cut short\", \"offset\": 1, "
         "\"bytes\": \"c84676\"}}"},
        {"handoff tables", d::kEvEfiHandoffTables,
         ByteWriter()
             .U64(1)
             .Append(GuidBytes(d::MakeGuid(0x8868e871, 0xe4f1, 0x11d3,
                                           {0xbc, 0x22, 0x00, 0x80, 0xc7, 0x3c, 0x88, 0x81})))
             .U64(0x7FB7E000)
             .Take(),
         "{\"numberOfTables\": 1, \"tables\": [{\"guid\": "
         "\"8868e871-e4f1-11d3-bc22-0080c73c8881\", "
         "\"guidName\": \"EFI_ACPI_20_TABLE_GUID\", \"address\": \"0x7fb7e000\"}]}"},
        {"handoff tables counting more than they hold", d::kEvEfiHandoffTables,
         ByteWriter().U64(UINT64_MAX).Append(GuidBytes(kSampleGuid)).U64(1).Take(),
         "{\"numberOfTables\": 18446744073709551615, \"tables\": [{\"guid\": "
         "\"12345678-9abc-def0-0123-456789abcdef\", \"address\": \"0x1\"}], \"malformed\": "
         "{\"reason\": \"the data says 18446744073709551615 tables but holds 1\", \"offset\": 8, "
         "\"bytes\": \"ffffffffffffffff78563412bc9af0de0123456789abcdef0100000000000000\"}}"},
        {"handoff tables with a description", d::kEvEfiHandoffTables2,
         ByteWriter().U8(8).Ascii("TdxTable").U64(0).Take(),
         "{\"description\": \"TdxTable\", \"numberOfTables\": 0, \"tables\": []}"},
        {"separator", d::kEvSeparator, Bytes(4, 0), "{\"value\": \"0x0\", \"error\": false}"},
        {"error separator", d::kEvSeparator, Bytes(4, 0xFF),
         "{\"value\": \"0xffffffff\", \"error\": true}"},
        {"Windows' separator", d::kEvSeparator, Ascii("WBCL"),
         "{\"value\": \"0x4c434257\", \"valueName\": \"WBCL\", \"error\": false}"},
        {"a BIOS's one-byte separator", d::kEvSeparator, Bytes{0xFF}, "{\"data\": \"ff\"}"},
        {"omitted boot device events", d::kEvOmitBootDeviceEvents, Ascii("BOOT ATTEMPTS OMITTED"),
         "{\"text\": \"BOOT ATTEMPTS OMITTED\"}"},
        {"a type without a structure, holding text", d::kEvCpuMicrocode,
         Ascii("Load microcode revision 000000A1"),
         "{\"text\": \"Load microcode revision 000000A1\"}"},
        {"a type without a structure, holding bytes", d::kEvCompactHash, Bytes{0x10, 0, 0, 0},
         "{\"data\": \"10000000\"}"},
        {"zero filler is not empty text", 0x7777, Bytes(4, 0), "{\"data\": \"00000000\"}"},
    };
    ExpectDescriptions(cases);
}

// ---- EV_NO_ACTION and tagged events ---------------------------------------------------------

Bytes Signature(std::string_view text) {
    Bytes signature(16, 0);
    std::copy(text.begin(), text.end(), signature.begin());
    return signature;
}

TEST(NoActionEventTest, DescribesEachStructureBySignature) {
    const Bytes specId03 = ByteWriter()
                               .Append(Signature("Spec ID Event03"))
                               .U32(0)
                               .U8(0)
                               .U8(2)
                               .U8(0)
                               .U8(2)
                               .U32(2)
                               .U16(0x0004)
                               .U16(20)
                               .U16(0x0B)
                               .U16(32)
                               .U8(2)
                               .Append(Bytes{0xCA, 0xFE})
                               .Take();
    Bytes lyingCount = specId03;
    lyingCount[24] = 0xFF;
    const EventCase cases[] = {
        {"Spec ID header", d::kEvNoAction, specId03,
         "{\"signature\": \"Spec ID Event03\", \"platformClass\": 0, \"platformClassName\": "
         "\"client\", \"specVersionMajor\": 2, \"specVersionMinor\": 0, \"specErrata\": 0, "
         "\"uintnSize\": 2, \"uintnSizeName\": \"UINT64\", \"algorithms\": [{\"algorithm\": "
         "\"0x4\", \"algorithmName\": \"sha1\", \"digestSize\": 20}, {\"algorithm\": \"0xb\", "
         "\"algorithmName\": \"sha256\", \"digestSize\": 32}], \"vendorInfo\": \"cafe\"}"},
        {"Spec ID header counting more algorithms than it holds", d::kEvNoAction, lyingCount,
         "{\"signature\": \"Spec ID Event03\", \"platformClass\": 0, \"platformClassName\": "
         "\"client\", \"specVersionMajor\": 2, \"specVersionMinor\": 0, \"specErrata\": 0, "
         "\"uintnSize\": 2, \"uintnSizeName\": \"UINT64\", \"malformed\": {\"reason\": \"the "
         "header says 255 algorithms; 11 bytes follow\", \"offset\": 28, \"bytes\": \"" +
             qorvex::digest::ToHex(lyingCount) + "\"}}"},
        {"TPM 1.2 Spec ID header", d::kEvNoAction,
         ByteWriter()
             .Append(Signature("Spec ID Event00"))
             .U32(1)
             .U8(2)
             .U8(1)
             .U8(2)
             .U8(1)
             .U8(0)
             .Take(),
         "{\"signature\": \"Spec ID Event00\", \"platformClass\": 1, \"platformClassName\": "
         "\"server\", \"specVersionMajor\": 1, \"specVersionMinor\": 2, \"specErrata\": 2, "
         "\"uintnSize\": 1, \"uintnSizeName\": \"UINT32\", \"vendorInfo\": \"\"}"},
        {"startup locality", d::kEvNoAction,
         ByteWriter().Append(Signature("StartupLocality")).U8(3).Take(),
         "{\"signature\": \"StartupLocality\", \"locality\": 3}"},
        {"startup locality of the wrong size", d::kEvNoAction,
         ByteWriter().Append(Signature("StartupLocality")).U8(3).U8(0).Take(),
         "{\"signature\": \"StartupLocality\", \"malformed\": {\"reason\": \"a StartupLocality "
         "event is 17 bytes; this one 18\", \"offset\": 0, \"bytes\": "
         "\"537461727475704c6f63616c69747900"
         "0300\"}}"},
        {"SP800-155 reference manifest, second form", d::kEvNoAction,
         ByteWriter()
             .Append(Bytes(Ascii("SP800-155 Event2")))
             .U32(0x157)
             .Append(GuidBytes(kSampleGuid))
             .U8(4)
             .Ascii("Acme")
             .U8(2)
             .Ascii("X1")
             .U8(1)
             .Ascii("3")
             .U8(3)
             .Ascii("EDK")
             .U32(0x157)
             .U8(3)
             .Ascii("0.7")
             .Take(),
         "{\"signature\": \"SP800-155 Event2\", \"vendorId\": 343, \"referenceManifestGuid\": "
         "\"12345678-9abc-def0-0123-456789abcdef\", \"platformManufacturer\": \"Acme\", "
         "\"platformModel\": \"X1\", \"platformVersion\": \"3\", \"firmwareManufacturer\": "
         "\"EDK\", \"firmwareManufacturerId\": 343, \"firmwareVersion\": \"0.7\"}"},
        {"SP800-155 reference manifest, third form with locators", d::kEvNoAction,
         ByteWriter()
             .Append(Bytes(Ascii("SP800-155 Event3")))
             .U32(1)
             .Append(GuidBytes(kSampleGuid))
             .U8(0)
             .U8(0)
             .U8(0)
             .U8(0)
             .U32(0)
             .U8(0)
             .U32(1)
             .U32(9)
             .Ascii("https://r")
             .U32(0)
             .U32(1)
             .U8(0xAA)
             .Take(),
         "{\"signature\": \"SP800-155 Event3\", \"vendorId\": 1, \"referenceManifestGuid\": "
         "\"12345678-9abc-def0-0123-456789abcdef\", \"platformManufacturer\": \"\", "
         "\"platformModel\": \"\", \"platformVersion\": \"\", \"firmwareManufacturer\": \"\", "
         "\"firmwareManufacturerId\": 0, \"firmwareVersion\": \"\", \"rimLocator\": {\"type\": 1, "
         "\"typeName\": \"URI\", \"uri\": \"https://r\"}, \"platformCertLocator\": {\"type\": 0, "
         "\"typeName\": \"raw\", \"data\": \"aa\"}}"},
        {"SP800-155 reference manifest, first form", d::kEvNoAction,
         ByteWriter()
             .Append(Signature("SP800-155 Event"))
             .U32(7)
             .Append(GuidBytes(kSampleGuid))
             .Take(),
         "{\"signature\": \"SP800-155 Event\", \"vendorId\": 7, \"referenceManifestGuid\": "
         "\"12345678-9abc-def0-0123-456789abcdef\"}"},
        {"NV index dynamic record", d::kEvNoAction,
         ByteWriter()
             .Append(Signature("NvIndexDynamic "))
             .U16(1)
             .Fill(6, 0)
             .U64(0x42)
             .U16(15)
             .Ascii("SPDM CHALLENGE")
             .U8(0)
             .U16(2)
             .Append(Bytes{0x12, 0x34})
             .Take(),
         "{\"signature\": \"NvIndexDynamic \", \"version\": 1, \"uid\": \"0x42\", "
         "\"description\": \"SPDM CHALLENGE\", \"data\": \"1234\"}"},
        {"NV index instance record", d::kEvNoAction,
         ByteWriter()
             .Append(Signature("NvIndexInstance"))
             .U16(1)
             .Fill(6, 0)
             .Append(Bytes(Ascii("SPDM Device Sec2")))
             .U16(2)
             .U8(0)
             .U8(0)
             .U32(0)
             .U32(1)
             .U32(1)
             .U32(0)
             .U64(9)
             .U64(0)
             .Append(Bytes{0xEE})
             .Take(),
         "{\"signature\": \"NvIndexInstance\", \"version\": 1, \"deviceSecurity\": {\"signature\": "
         "\"SPDM Device Sec2\", \"version\": 2, \"authState\": 0, \"authStateName\": \"success\", "
         "\"length\": 0, \"deviceType\": 1, \"deviceTypeName\": \"PCI\", \"subHeaderType\": 1, "
         "\"subHeaderLength\": 0, \"subHeaderUid\": \"0x9\", \"devicePathLength\": 0, "
         "\"devicePath\": \"\", \"data\": \"ee\"}}"},
        {"Windows trust point (SIPA) without a SIPA reader", d::kEvNoAction,
         ByteWriter().U32(0xC0010004).U32(4).U32(7).Take(),
         "{\"sipa\": \"040001c00400000007000000\"}"},
        {"other EV_NO_ACTION data", d::kEvNoAction, Bytes{1, 2, 3}, "{\"data\": \"010203\"}"},
        {"Linux initrd tag", d::kEvEventTag,
         ByteWriter().U32(0x8F3B22EC).U32(12).Ascii("Linux initrd").Take(),
         "{\"tagId\": \"0x8f3b22ec\", \"tagIdName\": \"Linux initrd\", \"dataSize\": 12, \"text\": "
         "\"Linux initrd\"}"},
        {"firmware tag of bytes", d::kEvEventTag,
         ByteWriter().U32(6).U32(3).Append(Bytes{1, 0, 1}).Take(),
         "{\"tagId\": \"0x6\", \"dataSize\": 3, \"data\": \"010001\"}"},
        {"tag whose size lies", d::kEvEventTag, ByteWriter().U32(5).U32(99).U8(1).Take(),
         "{\"tagId\": \"0x5\", \"dataSize\": 99, \"data\": \"01\", \"malformed\": {\"reason\": "
         "\"the tag's data says 99 bytes; 1 follow\", \"offset\": 8, \"bytes\": "
         "\"05000000630000000"
         "1\"}}"},
        {"tag cut short", d::kEvEventTag, Bytes{1, 2, 3},
         "{\"malformed\": {\"reason\": \"a tagged event's header is 8 bytes; the data holds 3\", "
         "\"offset\": 0, \"bytes\": \"010203\"}}"},
        {"SPDM device record, first form", d::kEvEfiSpdmFirmwareBlob,
         ByteWriter()
             .Append(Signature("SPDM Device Sec"))
             .U16(1)
             .U16(0)
             .U32(2)
             .U32(2)
             .U8(0x77)
             .Take(),
         "{\"signature\": \"SPDM Device Sec\", \"version\": 1, \"length\": 0, "
         "\"spdmHashAlgorithm\": \"0x2\", \"deviceType\": 2, \"deviceTypeName\": \"USB\", "
         "\"data\": \"77\"}"},
        {"not an SPDM record", d::kEvEfiSpdmFirmwareConfig, Bytes(18, 0x41),
         "{\"malformed\": {\"reason\": \"not an SPDM device security record\", \"offset\": 0, "
         "\"bytes\": \"414141414141414141414141414141414141\"}}"},
    };
    ExpectDescriptions(cases);
}

// Windows' boot configuration log goes to the caller's SIPA reader; others' tags do not.
TEST(NoActionEventTest, HandsSipaDataToTheCallersReader) {
    const Bytes trustPoint = ByteWriter().U32(0xC0010004).U32(4).U32(7).Take();
    const Bytes windowsTag = ByteWriter().U32(0x40010001).U32(0).Take();
    const Bytes linuxTag = ByteWriter().U32(0x8F3B22ED).U32(1).U8(0x41).Take();
    int calls = 0;
    const d::SipaDescriber sipa = [&](std::span<const std::uint8_t> data) {
        ++calls;
        return std::move(Node::Object().Add("sipaSize", Node::Number(data.size())));
    };
    EXPECT_EQ(ToJson(DescribeEvent({0xFFFFFFFF, d::kEvNoAction, trustPoint}, sipa)),
              "{\"sipaSize\": 12}");
    EXPECT_EQ(ToJson(DescribeEvent({12, d::kEvEventTag, windowsTag}, sipa)), "{\"sipaSize\": 8}");
    EXPECT_THAT(ToJson(DescribeEvent({9, d::kEvEventTag, linuxTag}, sipa)),
                HasSubstr("\"tagIdName\": \"Linux load options\""));
    EXPECT_EQ(calls, 2);

    EXPECT_TRUE(d::IsSipaEvent({0xFFFFFFFF, d::kEvNoAction, trustPoint}));
    EXPECT_TRUE(d::IsSipaEvent({12, d::kEvEventTag, windowsTag}));
    EXPECT_FALSE(d::IsSipaEvent({9, d::kEvEventTag, linuxTag}));
    EXPECT_FALSE(d::IsSipaEvent({1, d::kEvEventTag, ByteWriter().U32(6).U32(0).Take()}));
    EXPECT_FALSE(d::IsSipaEvent({12, d::kEvSeparator, windowsTag}));
    EXPECT_FALSE(d::IsSipaEvent({0, d::kEvNoAction, Signature("StartupLocality")}));
}

// ---- GPT and image loads --------------------------------------------------------------------

Bytes GptHeader(std::uint32_t entrySize = 128, std::string_view signature = "EFI PART") {
    return ByteWriter()
        .Ascii(signature)
        .U32(0x00010000)
        .U32(92)
        .U32(0x1DCEABF2)
        .U32(0)
        .U64(1)
        .U64(0x063FFFFF)
        .U64(34)
        .U64(0x063FFFDE)
        .Append(GuidBytes(kSampleGuid))
        .U64(2)
        .U32(128)
        .U32(entrySize)
        .U32(0x5C000000)
        .Take();
}

Bytes GptEntry(const d::Guid& type, std::u16string_view name, std::size_t size = 128) {
    ByteWriter entry;
    entry.Append(GuidBytes(type)).Append(GuidBytes(kSampleGuid)).U64(2048).U64(4095).U64(0x1);
    entry.Utf16(name, false).Fill(72 - 2 * name.size(), 0).Fill(size - 128, 0xEE);
    return entry.Take();
}

const d::Guid kEfiSystemPartition =
    d::MakeGuid(0xc12a7328, 0xf81f, 0x11d2, {0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b});

TEST(GptEventTest, ReadsTheHeaderAndEachPartition) {
    const Bytes data = ByteWriter()
                           .Append(GptHeader())
                           .U64(2)
                           .Append(GptEntry(kEfiSystemPartition, u"EFI system partition"))
                           .Append(GptEntry(kSampleGuid, u"data"))
                           .Take();
    const d::GptData gpt = d::DecodeGpt(data);
    EXPECT_FALSE(gpt.malformed);
    EXPECT_EQ(gpt.header.lastUsableLba, 0x063FFFDEu);
    ASSERT_EQ(gpt.partitions.size(), 2u);
    EXPECT_EQ(gpt.partitions[0].name, u"EFI system partition");
    EXPECT_EQ(gpt.partitions[1].type, kSampleGuid);
    const std::string json = EventJson(d::kEvEfiGptEvent, data, 5);
    EXPECT_THAT(json,
                HasSubstr("\"header\": {\"signature\": \"EFI PART\", \"revision\": "
                          "\"0x10000\", \"headerSize\": 92, \"headerCrc32\": \"0x1dceabf2\", "
                          "\"myLba\": 1, \"alternateLba\": 104857599, \"firstUsableLba\": 34, "
                          "\"lastUsableLba\": 104857566, \"diskGuid\": "
                          "\"12345678-9abc-def0-0123-456789abcdef\", \"partitionEntryLba\": "
                          "2, \"numberOfPartitionEntries\": 128, \"sizeOfPartitionEntry\": "
                          "128, \"partitionEntryArrayCrc32\": \"0x5c000000\"}"));
    EXPECT_THAT(json, HasSubstr("\"numberOfPartitions\": 2, \"partitions\": [{\"type\": "
                                "\"c12a7328-f81f-11d2-ba4b-00a0c93ec93b\", \"typeName\": \"EFI "
                                "system partition\", \"unique\": "
                                "\"12345678-9abc-def0-0123-456789abcdef\", \"firstLba\": 2048, "
                                "\"lastLba\": 4095, \"attributes\": \"0x1\", \"attributesName\": "
                                "\"required\", \"name\": \"EFI system partition\"}"));

    // Entries of the size the header gives, larger than the 128 bytes of the fields.
    const Bytes wide = ByteWriter()
                           .Append(GptHeader(256))
                           .U64(1)
                           .Append(GptEntry(kSampleGuid, u"wide", 256))
                           .Take();
    const d::GptData wideGpt = d::DecodeGpt(wide);
    EXPECT_FALSE(wideGpt.malformed);
    ASSERT_EQ(wideGpt.partitions.size(), 1u);
    EXPECT_EQ(wideGpt.partitions[0].name, u"wide");
}

TEST(GptEventTest, CountsAndSizesThatLieAreMalformed) {
    const Bytes entry = GptEntry(kSampleGuid, u"p");
    const Bytes header = GptHeader();
    const struct {
        const char* what;
        Bytes data;
        std::string reason;
        std::size_t partitions;
    } cases[] = {
        {"header cut short", Bytes(header.begin(), header.begin() + 91),
         "the GPT header is 92 bytes; the data holds 91", 0},
        {"another signature", ByteWriter().Append(GptHeader(128, "NOT GPT!")).U64(0).Take(),
         "the GPT header does not start with \"EFI PART\"", 0},
        {"count missing", GptHeader(), "the number of partitions is cut short", 0},
        {"entries smaller than their fields",
         ByteWriter().Append(GptHeader(64)).U64(1).Append(entry).Take(),
         "partition entries are at least 128 bytes; the header says 64", 0},
        {"more partitions counted than present",
         ByteWriter().Append(GptHeader()).U64(3).Append(entry).Take(),
         "the data says 3 partitions of 128 bytes; 128 bytes follow", 1},
        {"a partial entry after the last",
         ByteWriter().Append(GptHeader()).U64(1).Append(entry).Fill(5, 0).Take(),
         "the data says 1 partitions of 128 bytes; 133 bytes follow", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const d::GptData gpt = d::DecodeGpt(c.data);
        ASSERT_TRUE(gpt.malformed);
        EXPECT_EQ(gpt.malformed->reason, c.reason);
        EXPECT_EQ(gpt.partitions.size(), c.partitions);
        EXPECT_TRUE(IsValidJson(EventJson(d::kEvEfiGptEvent, c.data)));
    }
}

TEST(ImageLoadEventTest, ReadsLocationLengthAddressAndDevicePath) {
    const Bytes path = ByteWriter()
                           .Append(Bytes{0x04, 0x04, 0x10, 0x00})
                           .Utf16(u"\\a.efi", false)
                           .Append(Bytes{0x7F, 0xFF, 0x04, 0x00})
                           .Take();
    const auto image = [&](std::uint64_t pathLength, const Bytes& tail) {
        return ByteWriter()
            .U64(0x7E5B0018)
            .U64(0x167B38)
            .U64(0x10000000)
            .U64(pathLength)
            .Append(tail)
            .Take();
    };
    const EventCase cases[] = {
        {"with a file path", d::kEvEfiBootServicesApplication, image(path.size(), path),
         "{\"imageLocation\": \"0x7e5b0018\", \"imageLength\": 1473336, \"linkTimeAddress\": "
         "\"0x10000000\", \"devicePathLength\": 20, \"devicePath\": \"\\\\a.efi\"}"},
        {"without a device path", d::kEvEfiBootServicesDriver, image(0, {}),
         "{\"imageLocation\": \"0x7e5b0018\", \"imageLength\": 1473336, \"linkTimeAddress\": "
         "\"0x10000000\", \"devicePathLength\": 0, \"devicePath\": \"\"}"},
        {"a device path length of 2^64 - 1", d::kEvEfiRuntimeServicesDriver,
         image(UINT64_MAX, path),
         "{\"imageLocation\": \"0x7e5b0018\", \"imageLength\": 1473336, \"linkTimeAddress\": "
         "\"0x10000000\", \"devicePathLength\": 18446744073709551615, \"devicePath\": "
         "\"\\\\a.efi\", \"malformed\": {\"reason\": \"the device path says 18446744073709551615 "
         "bytes; 20 follow\", \"offset\": 32, \"bytes\": \"" +
             qorvex::digest::ToHex(image(UINT64_MAX, path)) + "\"}}"},
        {"header cut short", d::kEvEfiBootServicesApplication, Bytes(31, 0),
         "{\"malformed\": {\"reason\": \"the image load event's header is 32 bytes; the data holds "
         "31\", \"offset\": 0, \"bytes\": \"" +
             std::string(62, '0') + "\"}}"},
    };
    ExpectDescriptions(cases);
}

// ---- Every cut of well-formed data ----------------------------------------------------------

// Each decoder reads every prefix of its data (as a log that ends inside an event hands it)
// without reading past it, throwing or writing invalid JSON.
TEST(EventDecodeTest, EveryCutOfEveryKindOfDataDecodes) {
    const Bytes option =
        ByteWriter()
            .U32(1)
            .U16(10)
            .Utf16(u"Disk", true)
            .Append(Bytes{0x03, 0x05, 0x06, 0x00, 0x02, 0x00, 0x7F, 0xFF, 0x04, 0x00})
            .Take();
    const auto variable = [](const d::Guid& vendor, std::u16string_view name, const Bytes& data) {
        return ByteWriter()
            .Append(GuidBytes(vendor))
            .U64(name.size())
            .U64(data.size())
            .Utf16(name, false)
            .Append(data)
            .Take();
    };
    const std::vector<std::pair<std::uint32_t, Bytes>> events = {
        {d::kEvEfiVariableBoot, variable(d::guids::kEfiGlobalVariable, u"Boot0001", option)},
        {d::kEvEfiVariableDriverConfig, variable(d::guids::kImageSecurityDatabase, u"db",
                                                 ByteWriter()
                                                     .Append(GuidBytes(d::guids::kCertSha256))
                                                     .U32(76)
                                                     .U32(0)
                                                     .U32(48)
                                                     .Append(GuidBytes(kSampleGuid))
                                                     .Fill(32, 1)
                                                     .Take())},
        {d::kEvEfiGptEvent,
         ByteWriter().Append(GptHeader()).U64(1).Append(GptEntry(kSampleGuid, u"p")).Take()},
        {d::kEvEfiBootServicesApplication,
         ByteWriter()
             .U64(1)
             .U64(2)
             .U64(3)
             .U64(10)
             .Append(Bytes{0x03, 0x05, 0x06, 0x00, 0x02, 0x00, 0x7F, 0xFF, 0x04, 0x00})
             .Take()},
        {d::kEvEfiHandoffTables2,
         ByteWriter().U8(2).Ascii("ab").U64(1).Append(GuidBytes(kSampleGuid)).U64(5).Take()},
        {d::kEvEfiPlatformFirmwareBlob2, ByteWriter().U8(2).Ascii("ab").U64(1).U64(2).Take()},
        {d::kEvNoAction, ByteWriter()
                             .Append(Signature("Spec ID Event03"))
                             .U32(0)
                             .U32(0x02000200)
                             .U32(1)
                             .U16(11)
                             .U16(32)
                             .U8(1)
                             .U8(9)
                             .Take()},
        {d::kEvNoAction, ByteWriter()
                             .Append(Bytes(Ascii("SP800-155 Event3")))
                             .U32(1)
                             .Append(GuidBytes(kSampleGuid))
                             .U8(1)
                             .Ascii("a")
                             .U8(0)
                             .U8(0)
                             .U8(0)
                             .U32(0)
                             .U8(0)
                             .U32(2)
                             .U32(0)
                             .U32(3)
                             .U32(20)
                             .Append(GuidBytes(kSampleGuid))
                             .U16(0x41)
                             .U16(0)
                             .Take()},
        {d::kEvNoAction, ByteWriter()
                             .Append(Signature("NvIndexDynamic "))
                             .U16(1)
                             .Fill(6, 0)
                             .U64(1)
                             .U16(1)
                             .Ascii("x")
                             .U16(1)
                             .U8(2)
                             .Take()},
        {d::kEvEventTag, ByteWriter().U32(0x8F3B22EC).U32(3).Ascii("abc").Take()},
        {d::kEvEfiSpdmFirmwareBlob,
         ByteWriter()
             .Append(Bytes(Ascii("SPDM Device Sec2")))
             .U16(2)
             .U8(0)
             .U8(0)
             .U32(0)
             .U32(1)
             .U32(0)
             .U32(0)
             .U64(0)
             .U64(10)
             .Append(Bytes{0x03, 0x05, 0x06, 0x00, 0x02, 0x00, 0x7F, 0xFF, 0x04, 0x00})
             .U8(1)
             .Take()},
    };
    for (const auto& [type, data] : events) {
        SCOPED_TRACE(type);
        // The whole event decodes without a fault.
        EXPECT_TRUE(d::FindMalformed(DescribeEvent({0, type, data})).empty())
            << ToJson(DescribeEvent({0, type, data}));
        for (std::size_t size = 0; size <= data.size(); ++size) {
            // A copy of exactly this size, so that a read past it is one past an allocation.
            const Bytes cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size));
            const Node tree = DescribeEvent({0, type, cut});
            EXPECT_TRUE(IsValidJson(ToJson(tree))) << size;
            EXPECT_FALSE(ToText(tree).empty());
        }
    }
}

// ---- Real logs ------------------------------------------------------------------------------

struct LoggedEvent {
    std::uint64_t index;
    std::uint32_t pcr;
    std::uint32_t type;
    std::span<const std::uint8_t> data;
};

class EventCollector final : public tb::TcgLogSink, public tb::TcgLogEventVisitor {
public:
    void OnModulePath(const std::uint8_t*, std::size_t) override {}
    void OnCompactHash(std::uint32_t, const std::uint8_t*) override {}
    void OnLayout(tb::TcgLogLayout, std::span<const tb::TcgDigestAlgorithm>) override {}
    void OnEvent(const tb::TcgEventView& event) override {
        events.push_back({event.index, event.pcrIndex, event.eventType, event.data});
    }
    void OnSipaEvent(std::uint64_t, std::uint32_t, std::span<const std::uint8_t>) override {}

    std::vector<LoggedEvent> events;
};

struct NamedLog {
    std::string name;
    Bytes bytes;
};

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::filesystem::path SamplesFolder() {
    return std::filesystem::path(QORVEX_SHARED_DIR) / "samples";
}

// The shared samples, in name order. The TDX log keeps its Spec ID header in PCR 1, where the
// module's reader does not look for it: it is read here with that header's PCR set to 0, so
// that its events are delimited at all (its 0xFF padding then ends the walk as malformed).
std::vector<NamedLog> SampleLogs() {
    std::vector<NamedLog> logs;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(SamplesFolder(), ec)) {
        if (entry.path().extension() != ".log") continue;
        NamedLog log{entry.path().filename().string(), ReadFile(entry.path())};
        if (log.name == "linux-tdx-ccel-padded.log" && log.bytes.size() > 4) log.bytes[0] = 0;
        logs.push_back(std::move(log));
    }
    std::sort(logs.begin(), logs.end(),
              [](const NamedLog& a, const NamedLog& b) { return a.name < b.name; });
    return logs;
}

std::vector<NamedLog> ExampleLogs() {
    std::vector<NamedLog> logs;
    const auto folder =
        std::filesystem::path(QORVEX_SOURCE_DIR) / "examples/machine/C/Windows/Logs/MeasuredBoot";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        logs.push_back({entry.path().filename().string(), ReadFile(entry.path())});
    }
    std::sort(logs.begin(), logs.end(),
              [](const NamedLog& a, const NamedLog& b) { return a.name < b.name; });
    return logs;
}

std::vector<LoggedEvent> Events(const Bytes& log) {
    EventCollector collector;
    tb::ParseTcgLog(log, collector, &collector);
    return collector.events;
}

// Every event of every real log and example log decodes; the trees render as valid JSON and as
// text lines without control characters; no event is malformed except the example machine's
// Secure Boot databases, which the log builder fills with stand-in bytes.
TEST(SampleLogDecodeTest, EveryEventDecodesAndNoRealEventIsMalformed) {
    std::vector<NamedLog> logs = SampleLogs();
    const bool samples = !logs.empty();
    for (NamedLog& log : ExampleLogs()) logs.push_back(std::move(log));
    std::size_t described = 0;
    for (const NamedLog& log : logs) {
        SCOPED_TRACE(log.name);
        const bool example = log.name.starts_with("00000000");
        std::vector<std::string> malformed;
        for (const LoggedEvent& event : Events(log.bytes)) {
            SCOPED_TRACE(event.index);
            const Node tree = DescribeEvent({event.pcr, event.type, event.data});
            const std::string json = ToJson(tree);
            ASSERT_TRUE(IsValidJson(json)) << json;
            const std::string text = ToText(tree, 4);
            EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) {
                return c == '\n' || static_cast<unsigned char>(c) >= 0x20;
            }));
            if (!d::FindMalformed(tree).empty()) {
                const Node* name = tree.Find("name");
                malformed.push_back(name != nullptr ? name->text() : json);
            }
            ++described;
        }
        if (example) {
            EXPECT_THAT(malformed, testing::ElementsAre("PK", "KEK", "db", "dbx"));
        } else {
            EXPECT_THAT(malformed, testing::IsEmpty());
        }
    }
    EXPECT_GT(described, 100u);
    if (!samples)
        GTEST_SKIP() << "no shared samples in " << SamplesFolder()
                     << "; only the example logs were read";
}

TEST(SampleLogDecodeTest, KnownValuesOfRealLogs) {
    const std::vector<NamedLog> logs = SampleLogs();
    if (logs.empty()) GTEST_SKIP() << "no shared samples in " << SamplesFolder();
    const struct {
        const char* log;
        std::uint64_t index;
        std::string json;  // a part of the event's description
    } cases[] = {
        {"windows-tpm2-dell-latitude7520-sha256.log", 0,
         "\"algorithms\": [{\"algorithm\": \"0xb\", \"algorithmName\": \"sha256\", \"digestSize\": "
         "32}], \"vendorInfo\": \"\"}"},
        {"windows-tpm2-dell-latitude7520-sha256.log", 1, "\"locality\": 3"},
        {"windows-tpm2-dell-latitude7520-sha256.log", 17,
         "\"name\": \"SecureBoot\", \"dataLength\": 1, \"value\": 0, \"valueName\": \"off\""},
        {"windows-tpm2-dell-latitude7520-sha256.log", 21,
         "\"typeName\": \"EFI_CERT_SHA256_GUID\", \"listSize\": 3724, \"headerSize\": 0, "
         "\"signatureSize\": 48, \"count\": 77"},
        {"windows-tpm2-dell-latitude7520-sha256.log", 31,
         "\"bootOrder\": [\"Boot0006\", \"Boot0000\", \"Boot0001\", \"Boot0005\"]"},
        {"windows-tpm2-dell-latitude7520-sha256.log", 32,
         "\"description\": \"Windows Boot Manager\", \"filePathListLength\": 116, \"devicePath\": "
         "\"HD(1,GPT,dba9a4f3-b1b8-4ad8-ae90-da2c39d53955,0x800,0x5f000)/"
         "\\\\EFI\\\\Microsoft\\\\Boot\\\\bootmgfw.efi\", \"optionalDataSize\": 136"},
        {"windows-tpm2-dell-latitude7520-sha256.log", 33,
         "\"devicePath\": \"PciRoot(0x0)/Pci(0x1f,0x6)/MAC(000000000000,0x0)/"
         "IPv4(0.0.0.0,0x0,DHCP,0.0.0.0,0.0.0.0,0.0.0.0)/Uri()\""},
        {"windows-tpm2-dell-latitude7520-sha256.log", 45,
         "\"devicePath\": \"Fv(9375b02b-4c60-5d56-4c1c-55a699717737)/"
         "FvFile(821aca26-29ea-4993-839f-597fc021708d)\""},
        {"windows-tpm2-dell-latitude7520-sha256.log", 47, "\"numberOfPartitions\": 5"},
        {"windows-tpm2-dell-latitude7520-sha256.log", 61,
         "{\"value\": \"0x4c434257\", \"valueName\": \"WBCL\", \"error\": false}"},
        {"windows-tpm2-lenovo-x1yoga2.log", 0,
         "\"algorithms\": [{\"algorithm\": \"0x4\", \"algorithmName\": \"sha1\", \"digestSize\": "
         "20}, {\"algorithm\": \"0xb\", \"algorithmName\": \"sha256\", \"digestSize\": 32}]"},
        {"windows-tpm2-lenovo-x1yoga2.log", 1, "{\"text\": \"N1NET22W \"}"},
        {"windows-tpm12-lenovo-x1carbon3.log", 1, "{\"text\": \"N1429 \"}"},
        {"windows-tpm12-lenovo-x1carbon3.log", 4, "{\"tagId\": \"0x6\", \"dataSize\": 139"},
        {"windows-tpm12-lenovo-x1carbon3.log", 7,
         "\"devicePath\": \"PciRoot(0x0)/Pci(0x1f,0x2)/Sata(0x3,0x0,0x0)/"
         "HD(2,GPT,940c5084-09d4-4dcd-9faf-4cdfae4519a2,0x96800,0x82000)/"
         "\\\\EFI\\\\Microsoft\\\\Boot\\\\bootmgfw.efi\""},
        {"windows-tpm12-lenovo-x1carbon3.log", 23, "\"name\": \"Boot0012\", \"dataLength\": 62"},
        {"windows-tpm12-lenovo-x1carbon3.log", 24,
         "\"signature\": {\"owner\": \"77fa9abd-0359-4d32-bd60-28f4e78f784b\", \"ownerName\": "
         "\"Microsoft\", \"certificate\": \"308205d7"},
        {"windows-option-rom.log", 2, "\"value\": 1, \"valueName\": \"on\""},
        {"windows-option-rom.log", 8,
         "{\"text\": \"Load microcode revision 000000A1 for processor 000306F2\"}"},
        {"windows-option-rom.log", 11,
         "\"devicePath\": \"PciRoot(0x0)/Pci(0x2,0x0)/Pci(0x0,0x0)/Offset(0xf600,0x207ff)\""},
        {"windows-dell-poweredge-startuplocality.log", 12,
         "\"name\": \"DeployedMode\", \"dataLength\": 1, \"value\": 1, \"valueName\": \"on\""},
        {"windows-gcp-shielded-vm.log", 8, "\"numberOfPartitions\": 3"},
        {"firmware-dell-compacthash-pcr4.log", 163,
         "\"devicePath\": \"PcieRoot(0x0)/Pci(0x1a,0x0)/USB(0x0,0x0)/USB(0x5,0x0)/USB(0x1,0x0)/"
         "Unit(0x0)/HD(1,MBR,0x00000000,0x3f,0x18d71)/"
         "\\\\efi\\\\Dell\\\\System_Services\\\\System_Services.efi\""},
        {"firmware-dell-compacthash-pcr4.log", 166, "{\"data\": \"ff\"}"},
        {"linux-tdx-ccel-padded.log", 1, "{\"description\": \"TdxTable\", \"numberOfTables\": 1"},
        {"linux-tdx-ccel-padded.log", 2,
         "{\"description\": \"Fv(48DB5E17-707C-472D-91CD-1613E7EF51B0)\", \"base\": "
         "\"0xffe00000\", "
         "\"length\": 131072}"},
        {"linux-tdx-ccel-padded.log", 17,
         "\"numberOfPartitions\": 12, \"partitions\": [{\"type\": "
         "\"0fc63daf-8483-4772-8e79-3d69d8477de4\", \"typeName\": \"Linux filesystem data\""},
        {"linux-tdx-ccel-padded.log", 21,
         "\"name\": \"SbatLevel\", \"dataLength\": 18, \"text\": "
         "\"sbat,1,2021030218\\n\"}"},
        {"linux-tdx-ccel-padded.log", 41, "{\"text\": \"kernel_cmdline: /syslinux/vmlinuz.A init="},
    };
    std::map<std::string, std::vector<LoggedEvent>> events;
    for (const NamedLog& log : logs) events[log.name] = Events(log.bytes);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.log) + " #" + std::to_string(c.index));
        const auto found = events.find(c.log);
        ASSERT_NE(found, events.end());
        ASSERT_LT(c.index, found->second.size());
        const LoggedEvent& event = found->second[c.index];
        EXPECT_THAT(ToJson(DescribeEvent({event.pcr, event.type, event.data})), HasSubstr(c.json));
    }
    // The Lenovo TPM 1.2 log's one boot variable event holds BootOrder and nine options.
    const LoggedEvent& lenovo = events["windows-tpm12-lenovo-x1carbon3.log"][23];
    const Node tree = DescribeEvent({lenovo.pcr, lenovo.type, lenovo.data});
    ASSERT_NE(tree.Find("followingVariables"), nullptr);
    EXPECT_EQ(tree.Find("followingVariables")->children().size(), 9u);
}

}  // namespace
