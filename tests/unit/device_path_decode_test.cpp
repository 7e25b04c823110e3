// UEFI device paths in their text form: each node kind the decoder knows, nodes too short for
// their fields, the generic form, multi-instance and packed paths, and paths whose lengths lie.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode/device_path.h"
#include "decode/guid.h"
#include "tcglog/tcg_log_builder.h"

namespace {

using qorvex::decode::DecodeDevicePath;
using qorvex::decode::DecodeDevicePaths;
using qorvex::decode::DevicePath;
using qorvex::decode::Guid;
using qorvex::decode::MakeGuid;
using qorvex::tools::Bytes;
using qorvex::tools::ByteWriter;
using testing::HasSubstr;

const Guid kSampleGuid =
    MakeGuid(0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef});

Bytes GuidBytes(const Guid& guid) {
    return Bytes(guid.bytes.begin(), guid.bytes.end());
}

// One node: its header (type, subtype, length) and data.
Bytes Node(std::uint8_t type, std::uint8_t subType, const Bytes& data) {
    return ByteWriter()
        .U8(type)
        .U8(subType)
        .U16(static_cast<std::uint16_t>(4 + data.size()))
        .Append(data)
        .Take();
}

const Bytes kEnd = {0x7F, 0xFF, 0x04, 0x00};
const Bytes kEndInstance = {0x7F, 0x01, 0x04, 0x00};

Bytes Path(std::initializer_list<Bytes> nodes) {
    ByteWriter path;
    for (const Bytes& node : nodes) path.Append(node);
    return path.Append(kEnd).Take();
}

std::string NodeText(std::uint8_t type, std::uint8_t subType, const Bytes& data) {
    return qorvex::decode::DevicePathNodeText(type, subType, data);
}

TEST(DevicePathTest, WritesEachKnownNodeInItsTextForm) {
    const struct {
        const char* what;
        std::uint8_t type, subType;
        Bytes data;
        std::string text;
    } cases[] = {
        {"PCI: function, then device", 1, 1, {0x02, 0x1F}, "Pci(0x1f,0x2)"},
        {"PC card", 1, 2, {0x03}, "PcCard(0x3)"},
        {"memory mapped", 1, 3, ByteWriter().U32(11).U64(0xB43EA000).U64(0xB4689FFF).Take(),
         "MemoryMapped(0xb,0xb43ea000,0xb4689fff)"},
        {"hardware vendor with data", 1, 4,
         ByteWriter().Append(GuidBytes(kSampleGuid)).U8(0xAB).Take(),
         "VenHw(12345678-9abc-def0-0123-456789abcdef,ab)"},
        {"controller", 1, 5, ByteWriter().U32(2).Take(), "Ctrl(0x2)"},
        {"BMC", 1, 6, ByteWriter().U8(1).U64(0xCA2).Take(), "BMC(0x1,0xca2)"},
        {"ACPI PCI root", 2, 1, ByteWriter().U32(0x0A0341D0).U32(0).Take(), "PciRoot(0x0)"},
        {"ACPI PCIe root", 2, 1, ByteWriter().U32(0x0A0841D0).U32(1).Take(), "PcieRoot(0x1)"},
        {"ACPI serial", 2, 1, ByteWriter().U32(0x050141D0).U32(0).Take(), "Serial(0x0)"},
        {"ACPI other PNP id", 2, 1, ByteWriter().U32(0x0C0941D0).U32(2).Take(),
         "Acpi(PNP0C09,0x2)"},
        {"ACPI id that is not PNP", 2, 1, ByteWriter().U32(0x12345678).U32(2).Take(),
         "Acpi(0x12345678,0x2)"},
        {"expanded ACPI with strings", 2, 2,
         ByteWriter()
             .U32(0x000141D0)
             .U32(5)
             .U32(0x050141D0)
             .Ascii("HIDX")
             .U8(0)
             .Ascii("U1")
             .U8(0)
             .Ascii("CIDX")
             .U8(0)
             .Take(),
         "AcpiEx(PNP0001,PNP0501,0x5,HIDX,CIDX,U1)"},
        {"expanded ACPI without strings", 2, 2,
         ByteWriter().U32(0x000141D0).U32(0).U32(0x050141D0).U8(0).Ascii("COM9").U8(0).U8(0).Take(),
         "AcpiExp(PNP0001,PNP0501,COM9)"},
        {"expanded ACPI PCI root by CID", 2, 2,
         ByteWriter().U32(0x12345678).U32(3).U32(0x0A0341D0).U8(0).U8(0).U8(0).Take(),
         "PciRoot(0x3)"},
        {"ACPI _ADR with more addresses", 2, 3, ByteWriter().U32(0x80010100).U32(0x80010200).Take(),
         "AcpiAdr(0x80010100,0x80010200)"},
        {"ATAPI", 3, 1, ByteWriter().U8(1).U8(0).U16(0).Take(), "Ata(Secondary,Master,0x0)"},
        {"SCSI", 3, 2, ByteWriter().U16(1).U16(2).Take(), "Scsi(0x1,0x2)"},
        {"Fibre Channel", 3, 3, ByteWriter().U32(0).U64(0x5000).U64(1).Take(), "Fibre(0x5000,0x1)"},
        {"1394", 3, 4, ByteWriter().U32(0).U64(0xABCDEF).Take(), "I1394(0000000000abcdef)"},
        {"USB", 3, 5, {0x05, 0x00}, "USB(0x5,0x0)"},
        {"I2O", 3, 6, ByteWriter().U32(7).Take(), "I2O(0x7)"},
        {"messaging vendor", 3, 10, GuidBytes(kSampleGuid),
         "VenMsg(12345678-9abc-def0-0123-456789abcdef)"},
        {"VT-100 terminal", 3, 10,
         GuidBytes(MakeGuid(0xdfa66065, 0xb419, 0x11d3,
                            {0x9a, 0x2d, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d})),
         "VenVt100()"},
        {"UART flow control", 3, 10,
         ByteWriter()
             .Append(GuidBytes(MakeGuid(0x37499a9d, 0x542f, 0x4c89,
                                        {0xa0, 0x26, 0x35, 0xda, 0x14, 0x20, 0x94, 0xe4})))
             .U32(1)
             .Take(),
         "UartFlowCtrl(Hardware)"},
        {"Ethernet MAC", 3, 11,
         ByteWriter().Append(Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}).Fill(26, 0).U8(1).Take(),
         "MAC(001122334455,0x1)"},
        {"IPv4 with gateway and mask", 3, 12,
         ByteWriter()
             .Append(Bytes{192, 168, 0, 2})
             .Append(Bytes{10, 0, 0, 1})
             .U16(0)
             .U16(80)
             .U16(6)
             .U8(1)
             .Append(Bytes{192, 168, 0, 1})
             .Append(Bytes{255, 255, 255, 0})
             .Take(),
         "IPv4(10.0.0.1,TCP,Static,192.168.0.2,192.168.0.1,255.255.255.0)"},
        {"IPv4 of UEFI 2.0, without them", 3, 12,
         ByteWriter().Fill(4, 0).Fill(4, 0).U16(0).U16(0).U16(17).U8(0).Take(),
         "IPv4(0.0.0.0,UDP,DHCP,0.0.0.0)"},
        {"IPv6", 3, 13,
         ByteWriter()
             .Fill(15, 0)
             .U8(1)
             .Append(Bytes{0x20, 0x01, 0x0d, 0xb8})
             .Fill(12, 0)
             .U16(0)
             .U16(0)
             .U16(6)
             .U8(1)
             .U8(64)
             .Fill(16, 0)
             .Take(),
         "IPv6(2001:0db8:0000:0000:0000:0000:0000:0000,TCP,StatelessAutoConfigure,"
         "0000:0000:0000:0000:0000:0000:0000:0001,0x40,0000:0000:0000:0000:0000:0000:0000:0000)"},
        {"UART", 3, 14, ByteWriter().U32(0).U64(115200).U8(8).U8(1).U8(1).Take(),
         "Uart(115200,8,N,1)"},
        {"UART defaults", 3, 14, ByteWriter().U32(0).U64(0).U8(0).U8(0).U8(0).Take(),
         "Uart(DEFAULT,DEFAULT,D,D)"},
        {"USB mass storage class", 3, 15,
         ByteWriter().U16(0x0781).U16(0x5581).U8(8).U8(6).U8(0x50).Take(),
         "UsbMassStorage(0x781,0x5581,0x6,0x50)"},
        {"USB class without a name", 3, 15, ByteWriter().U16(1).U16(2).U8(0x77).U8(0).U8(0).Take(),
         "UsbClass(0x1,0x2,0x77,0x0,0x0)"},
        {"USB WWID", 3, 16,
         ByteWriter().U16(0).U16(0x0781).U16(0x5581).Utf16(u"4C53", false).Take(),
         "UsbWwid(0x781,0x5581,0x0,\"4C53\")"},
        {"logical unit", 3, 17, {0x03}, "Unit(0x3)"},
        {"SATA", 3, 18, ByteWriter().U16(3).U16(0xFFFF).U16(0).Take(), "Sata(0x3,0xffff,0x0)"},
        {"iSCSI", 3, 19,
         ByteWriter().U16(0).U16(0x0002).Fill(8, 0).U16(1).Ascii("iqn.2001-04.com.example").Take(),
         "iSCSI(iqn.2001-04.com.example,0x1,0x0000000000000000,CRC32C,None,CHAP_BI,TCP)"},
        {"VLAN", 3, 20, ByteWriter().U16(100).Take(), "Vlan(100)"},
        {"NVMe: the EUI-64 most significant byte first", 3, 23,
         ByteWriter().U32(1).Append(Bytes{0xEA, 0x46, 0xB2, 0x71, 0xB5, 0x38, 0x25, 0x00}).Take(),
         "NVMe(0x1,00-25-38-b5-71-b2-46-ea)"},
        {"URI", 3, 24, ByteWriter().Ascii("http://boot.example/x.efi").Take(),
         "Uri(http://boot.example/x.efi)"},
        {"empty URI", 3, 24, {}, "Uri()"},
        {"SD", 3, 26, {0x01}, "SD(0x1)"},
        {"eMMC", 3, 29, {0x00}, "eMMC(0x0)"},
        {"DNS servers", 3, 31,
         ByteWriter()
             .U8(0)
             .Append(Bytes{8, 8, 8, 8})
             .Fill(12, 0)
             .Append(Bytes{1, 1, 1, 1})
             .Fill(12, 0)
             .Take(),
         "Dns(8.8.8.8,1.1.1.1)"},
        {"GPT hard drive", 4, 1,
         ByteWriter()
             .U32(1)
             .U64(0x800)
             .U64(0x32000)
             .Append(GuidBytes(kSampleGuid))
             .U8(2)
             .U8(2)
             .Take(),
         "HD(1,GPT,12345678-9abc-def0-0123-456789abcdef,0x800,0x32000)"},
        {"MBR hard drive", 4, 1,
         ByteWriter().U32(2).U64(0x3F).U64(0x18D71).U32(0xBE1AFDFA).Fill(12, 0).U8(1).U8(1).Take(),
         "HD(2,MBR,0xbe1afdfa,0x3f,0x18d71)"},
        {"hard drive without a signature", 4, 1,
         ByteWriter().U32(3).U64(1).U64(2).Fill(16, 0).U8(0).U8(0).Take(), "HD(3,0,0,0x1,0x2)"},
        {"CD-ROM", 4, 2, ByteWriter().U32(0).U64(0x100).U64(0x200).Take(),
         "CDROM(0x0,0x100,0x200)"},
        {"media vendor", 4, 3, ByteWriter().Append(GuidBytes(kSampleGuid)).U8(1).U8(2).Take(),
         "VenMedia(12345678-9abc-def0-0123-456789abcdef,0102)"},
        {"file path", 4, 4, ByteWriter().Utf16(u"\\EFI\\BOOT\\BOOTX64.EFI", true).Take(),
         "\\EFI\\BOOT\\BOOTX64.EFI"},
        {"file path without its zero", 4, 4, ByteWriter().Utf16(u"\\a.efi", false).Take(),
         "\\a.efi"},
        {"media protocol", 4, 5, GuidBytes(kSampleGuid),
         "Media(12345678-9abc-def0-0123-456789abcdef)"},
        {"firmware file", 4, 6, GuidBytes(kSampleGuid),
         "FvFile(12345678-9abc-def0-0123-456789abcdef)"},
        {"firmware volume", 4, 7, GuidBytes(kSampleGuid),
         "Fv(12345678-9abc-def0-0123-456789abcdef)"},
        {"offset range", 4, 8, ByteWriter().U32(0).U64(0xA000).U64(0x147FF).Take(),
         "Offset(0xa000,0x147ff)"},
        {"RAM disk", 4, 9,
         ByteWriter().U64(0x1000).U64(0x1FFF).Append(GuidBytes(kSampleGuid)).U16(1).Take(),
         "RamDisk(0x1000,0x1fff,1,12345678-9abc-def0-0123-456789abcdef)"},
        {"BBS", 5, 1, ByteWriter().U16(2).U16(0).Ascii("SATA0").U8(0).Take(), "BBS(HD,SATA0,0x0)"},
        {"unknown type", 9, 3, {0xDE, 0xAD}, "Path(9,3,dead)"},
        {"unknown subtype of a known type", 3, 99, {0x01}, "Path(3,99,01)"},
        {"PCI node too short for its fields", 1, 1, {0x02}, "Path(1,1,02)"},
        {"hard drive too short for its fields", 4, 1, ByteWriter().U32(1).U64(0).Take(),
         "Path(4,1,010000000000000000000000)"},
        {"vendor node too short for its GUID", 3, 10, {0x01, 0x02}, "Path(3,10,0102)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(NodeText(c.type, c.subType, c.data), c.text);
    }
}

TEST(DevicePathTest, JoinsNodesWithSlashesAndInstancesWithCommas) {
    const Bytes pciRoot = Node(2, 1, ByteWriter().U32(0x0A0341D0).U32(0).Take());
    const Bytes pci = Node(1, 1, {0x00, 0x1D});
    const Bytes usb = Node(3, 5, {0x01, 0x00});
    const Bytes file = Node(4, 4, ByteWriter().Utf16(u"\\x.efi", true).Take());

    const Bytes bytes = Path({pciRoot, pci, usb, file});
    const DevicePath path = DecodeDevicePath(bytes);
    EXPECT_EQ(path.Text(), "PciRoot(0x0)/Pci(0x1d,0x0)/USB(0x1,0x0)/\\x.efi");
    EXPECT_TRUE(path.terminated);
    EXPECT_FALSE(path.malformed);
    ASSERT_EQ(path.nodes.size(), 4u);
    EXPECT_EQ(path.nodes[2].type, 3);
    EXPECT_EQ(path.nodes[2].subType, 5);
    EXPECT_EQ(path.nodes[2].data.data(), bytes.data() + 22);  // the node's data, in place

    const Bytes twoInstances = Path({pciRoot, pci, kEndInstance, pciRoot, usb});
    const DevicePath instances = DecodeDevicePath(twoInstances);
    EXPECT_EQ(instances.Text(), "PciRoot(0x0)/Pci(0x1d,0x0),PciRoot(0x0)/USB(0x1,0x0)");
}

// A load option's file path list holds device paths back to back; each ends at its End node.
TEST(DevicePathTest, ReadsPackedPathsUntilTheBytesEnd) {
    const Bytes first = Path({Node(4, 4, ByteWriter().Utf16(u"\\a.efi", true).Take())});
    const Bytes second = Path({Node(3, 5, {0x02, 0x00})});
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());

    const auto paths = DecodeDevicePaths(both);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0].Text(), "\\a.efi");
    EXPECT_EQ(paths[1].Text(), "USB(0x2,0x0)");
    EXPECT_TRUE(DecodeDevicePaths({}).empty());

    std::size_t consumed = 0;
    DecodeDevicePath(both, &consumed);
    EXPECT_EQ(consumed, first.size());
}

TEST(DevicePathTest, LengthsThatLieAreMalformedAndKeepTheNodesBefore) {
    const Bytes usb = Node(3, 5, {0x01, 0x00});
    const struct {
        const char* what;
        Bytes bytes;
        std::string reason;
        std::size_t offset;
    } cases[] = {
        {"a node shorter than its header",
         ByteWriter().Append(usb).Append(Bytes{0x03, 0x05, 0x02, 0x00}).Take(),
         "less than its header", 6},
        {"a node of zero length (would never advance)",
         ByteWriter().Append(usb).Append(Bytes{0x04, 0x04, 0x00, 0x00}).Append(kEnd).Take(),
         "less than its header", 6},
        {"a node longer than the bytes left",
         ByteWriter().Append(usb).Append(Bytes{0x04, 0x04, 0xFF, 0xFF, 0x41}).Take(),
         "65535 bytes long; 5 are left", 6},
        {"a header cut short", ByteWriter().Append(usb).Append(Bytes{0x04, 0x04}).Take(),
         "cut short", 6},
        {"no end node", usb, "no end node", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DevicePath path = DecodeDevicePath(c.bytes);
        ASSERT_TRUE(path.malformed);
        EXPECT_THAT(path.malformed->reason, HasSubstr(c.reason));
        EXPECT_EQ(path.malformed->offset, c.offset);
        EXPECT_EQ(path.malformed->bytes.size(), c.bytes.size());
        EXPECT_EQ(path.Text(), "USB(0x1,0x0)");
        EXPECT_FALSE(path.terminated);
    }
}

// The text of a description tree: a malformed path becomes {"text", "malformed"}.
TEST(DevicePathTest, DescribesTheFirstPathTheOthersAndAFault) {
    const Bytes first = Path({Node(3, 5, {0x01, 0x00})});
    const Bytes broken = ByteWriter().Append(first).Append(Bytes{0x04, 0x04, 0x09, 0x00}).Take();
    qorvex::decode::Node object = qorvex::decode::Node::Object();
    qorvex::decode::AddDevicePaths(object, DecodeDevicePaths(broken));
    const std::string json = qorvex::decode::ToJson(object);
    EXPECT_THAT(json,
                HasSubstr("{\"devicePath\": \"USB(0x1,0x0)\", \"moreDevicePaths\": [{\"text\": "
                          "\"\", \"malformed\": {\"reason\": \"a device path node says it is 9 "
                          "bytes long; 4 are left\", \"offset\": 0, \"bytes\": \"04040900\"}}]}"));
}

}  // namespace
