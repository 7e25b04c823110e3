#include "decode/device_path.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "decode/byte_reader.h"
#include "digest/digest.h"
#include "utf/codec.h"

namespace qorvex::decode {

namespace {

enum : std::uint8_t {
    kHardware = 0x01,
    kAcpi = 0x02,
    kMessaging = 0x03,
    kMedia = 0x04,
    kBbs = 0x05,
};

std::string Format(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) return {};
    return std::string(text,
                       std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

std::string Hex(std::uint64_t value) {
    return Format("0x%llx", static_cast<unsigned long long>(value));
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    return digest::ToHex(bytes);
}

// Fixed-size fields of a node's data, read in order; a node too short for them is written in
// the generic form instead.
class Fields {
public:
    explicit Fields(std::span<const std::uint8_t> data) : m_reader(data) {}
    std::uint64_t U8() { return Read<std::uint8_t>(); }
    std::uint64_t U16() { return Read<std::uint16_t>(); }
    std::uint64_t U32() { return Read<std::uint32_t>(); }
    std::uint64_t U64() { return Read<std::uint64_t>(); }
    Guid ReadGuid() {
        Guid guid;
        m_ok = m_ok && m_reader.ReadGuid(guid);
        return guid;
    }
    std::span<const std::uint8_t> Bytes(std::size_t count) {
        std::span<const std::uint8_t> bytes;
        m_ok = m_ok && m_reader.Take(count, bytes);
        return bytes;
    }
    std::span<const std::uint8_t> Rest() const { return m_reader.Rest(); }
    bool ok() const { return m_ok; }

private:
    template <typename T>
    std::uint64_t Read() {
        T value = 0;
        if (m_ok) {
            if constexpr (sizeof(T) == 1) m_ok = m_reader.U8(value);
            if constexpr (sizeof(T) == 2) m_ok = m_reader.U16(value);
            if constexpr (sizeof(T) == 4) m_ok = m_reader.U32(value);
            if constexpr (sizeof(T) == 8) m_ok = m_reader.U64(value);
        }
        return value;
    }

    ByteReader m_reader;
    bool m_ok = true;
};

// Narrow text up to its first zero byte.
std::string CString(std::span<const std::uint8_t> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    std::string text(bytes.begin(), end);
    return utf::ToUtf8(utf::ToUtf16(text));
}

// UTF-16LE text up to its first zero unit.
std::string WideString(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) break;
        text += unit;
    }
    return utf::ToUtf8(text);
}

// A compressed EISA id as its 7-character form ("PNP0A03").
std::string EisaIdText(std::uint32_t id) {
    const auto letter = [](std::uint32_t bits) {
        return static_cast<char>('A' - 1 + (bits & 0x1F));
    };
    return Format("%c%c%c%04X", letter(id >> 10), letter(id >> 5), letter(id),
                  static_cast<unsigned>(id >> 16));
}

constexpr std::uint32_t kPnpEisaPrefix = 0x41D0;  // "PNP" compressed

std::uint32_t PnpNumber(std::uint32_t id) {
    return (id & 0xFFFF) == kPnpEisaPrefix ? id >> 16 : 0xFFFFFFFF;
}

std::string Generic(std::uint8_t type, std::uint8_t subType, std::span<const std::uint8_t> data) {
    std::string text =
        Format("Path(%u,%u", static_cast<unsigned>(type), static_cast<unsigned>(subType));
    if (!data.empty()) text += "," + HexBytes(data);
    return text + ")";
}

std::string Ipv4Text(std::span<const std::uint8_t> a) {
    return Format("%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
}

std::string Ipv6Text(std::span<const std::uint8_t> a) {
    std::string text;
    for (std::size_t i = 0; i < 16; i += 2) {
        if (i != 0) text += ':';
        text += Format("%02x%02x", a[i], a[i + 1]);
    }
    return text;
}

std::string ProtocolText(std::uint64_t protocol) {
    if (protocol == 6) return "TCP";
    if (protocol == 17) return "UDP";
    return Hex(protocol);
}

std::string VendorText(const char* kind, std::span<const std::uint8_t> data) {
    Fields fields(data);
    const Guid guid = fields.ReadGuid();
    std::string text = std::string("Ven") + kind + "(" + GuidText(guid);
    if (!fields.Rest().empty()) text += "," + HexBytes(fields.Rest());
    return text + ")";
}

// Terminal types and other messaging vendor nodes that have a text form of their own.
std::optional<std::string> MessagingVendorShortcut(std::span<const std::uint8_t> data) {
    static const struct {
        Guid guid;
        const char* text;
    } kShortcuts[] = {
        {MakeGuid(0xe0c14753, 0xf9be, 0x11d2, {0x9a, 0x0c, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d}),
         "VenPcAnsi()"},
        {MakeGuid(0xdfa66065, 0xb419, 0x11d3, {0x9a, 0x2d, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d}),
         "VenVt100()"},
        {MakeGuid(0x7baec70b, 0x57e0, 0x4c76, {0x8e, 0x87, 0x2f, 0x9e, 0x28, 0x08, 0x83, 0x43}),
         "VenVt100Plus()"},
        {MakeGuid(0xad15a0d6, 0x8bec, 0x4acf, {0xa0, 0x73, 0xd0, 0x1d, 0xe7, 0x7e, 0x2d, 0x88}),
         "VenUtf8()"},
        {MakeGuid(0xeba4e8d2, 0x3858, 0x41ec, {0xa2, 0x81, 0x26, 0x47, 0xba, 0x96, 0x60, 0xd0}),
         "DebugPort()"},
    };
    constexpr Guid kUartFlowControl =
        MakeGuid(0x37499a9d, 0x542f, 0x4c89, {0xa0, 0x26, 0x35, 0xda, 0x14, 0x20, 0x94, 0xe4});
    const Guid guid = GuidAt(data);
    for (const auto& shortcut : kShortcuts) {
        if (shortcut.guid == guid && data.size() == 16) return shortcut.text;
    }
    if (guid == kUartFlowControl && data.size() >= 20) {
        Fields fields(data.subspan(16));
        static const char* const kFlowControl[] = {"None", "Hardware", "XonXoff"};
        const std::uint64_t map = fields.U32() & 0x3;
        if (map < 3) return std::string("UartFlowCtrl(") + kFlowControl[map] + ")";
    }
    return std::nullopt;
}

std::string SasTopology(std::uint64_t topology) {
    if ((topology & 0x0F) == 0 && (topology & 0x80) == 0) return "NoTopology,0,0,0";
    if ((topology & 0x0F) <= 2 && (topology & 0x80) == 0) {
        std::string text = (topology & 0x10) != 0 ? "SATA," : "SAS,";
        text += (topology & 0x20) != 0 ? "External," : "Internal,";
        text += (topology & 0x40) != 0 ? "Expanded," : "Direct,";
        // Bits 8-15 count drives from 0 for drive 1.
        text += (topology & 0x0F) == 1 ? "0" : Hex(((topology >> 8) & 0xFF) + 1);
        return text;
    }
    return Hex(topology) + ",0,0,0";
}

std::optional<std::string> HardwareText(std::uint8_t subType, std::span<const std::uint8_t> data) {
    Fields f(data);
    std::string text;
    switch (subType) {
        case 1: {  // PCI: function, then device
            const auto function = f.U8();
            const auto device = f.U8();
            text = "Pci(" + Hex(device) + "," + Hex(function) + ")";
            break;
        }
        case 2:
            text = "PcCard(" + Hex(f.U8()) + ")";
            break;
        case 3: {
            const auto type = f.U32();
            const auto start = f.U64();
            const auto end = f.U64();
            text = "MemoryMapped(" + Hex(type) + "," + Hex(start) + "," + Hex(end) + ")";
            break;
        }
        case 4:
            if (data.size() < 16) return std::nullopt;
            return VendorText("Hw", data);
        case 5:
            text = "Ctrl(" + Hex(f.U32()) + ")";
            break;
        case 6: {
            const auto interfaceType = f.U8();
            const auto base = f.U64();
            text = "BMC(" + Hex(interfaceType) + "," + Hex(base) + ")";
            break;
        }
        default:
            return std::nullopt;
    }
    if (!f.ok()) return std::nullopt;
    return text;
}

std::optional<std::string> AcpiText(std::uint8_t subType, std::span<const std::uint8_t> data) {
    Fields f(data);
    switch (subType) {
        case 1: {
            const auto hid = static_cast<std::uint32_t>(f.U32());
            const auto uid = f.U32();
            if (!f.ok()) return std::nullopt;
            switch (PnpNumber(hid)) {
                case 0x0A03:
                    return "PciRoot(" + Hex(uid) + ")";
                case 0x0A08:
                    return "PcieRoot(" + Hex(uid) + ")";
                case 0x0604:
                    return "Floppy(" + Hex(uid) + ")";
                case 0x0301:
                    return "Keyboard(" + Hex(uid) + ")";
                case 0x0501:
                    return "Serial(" + Hex(uid) + ")";
                case 0x0401:
                    return "ParallelPort(" + Hex(uid) + ")";
                case 0xFFFFFFFF:
                    return Format("Acpi(0x%08x,", static_cast<unsigned>(hid)) + Hex(uid) + ")";
                default:
                    return "Acpi(" + EisaIdText(hid) + "," + Hex(uid) + ")";
            }
        }
        case 2: {
            const auto hid = static_cast<std::uint32_t>(f.U32());
            const auto uid = f.U32();
            const auto cid = static_cast<std::uint32_t>(f.U32());
            if (!f.ok()) return std::nullopt;
            // Three zero-terminated strings follow: _HID, _UID and _CID; any may be missing.
            auto rest = f.Rest();
            std::string strings[3];
            for (std::string& s : strings) {
                s = CString(rest);
                rest = rest.subspan(std::min(rest.size(), s.size() + 1));
            }
            const std::string& hidText = strings[0];
            const std::string& uidText = strings[1];
            const std::string& cidText = strings[2];
            const std::string uidShown = uidText.empty() ? Hex(uid) : uidText;
            if (PnpNumber(hid) == 0x0A08 || PnpNumber(cid) == 0x0A08)
                return "PcieRoot(" + uidShown + ")";
            if (PnpNumber(hid) == 0x0A03 || PnpNumber(cid) == 0x0A03)
                return "PciRoot(" + uidShown + ")";
            const std::string hidId = EisaIdText(hid);
            const std::string cidId = cid == 0 ? "0" : EisaIdText(cid);
            if (hidText.empty() && cidText.empty() && uid == 0)
                return "AcpiExp(" + hidId + "," + cidId + "," + uidText + ")";
            return "AcpiEx(" + hidId + "," + cidId + "," + Hex(uid) + "," + hidText + "," +
                   cidText + "," + uidText + ")";
        }
        case 3: {
            std::string text = "AcpiAdr(" + Hex(f.U32());
            if (!f.ok()) return std::nullopt;
            while (f.Rest().size() >= 4) text += "," + Hex(f.U32());
            return text + ")";
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::string> MessagingText(std::uint8_t subType, std::span<const std::uint8_t> data) {
    Fields f(data);
    std::string text;
    switch (subType) {
        case 1: {
            const auto secondary = f.U8();
            const auto slave = f.U8();
            const auto lun = f.U16();
            text = std::string("Ata(") + (secondary == 1 ? "Secondary," : "Primary,") +
                   (slave == 1 ? "Slave," : "Master,") + Hex(lun) + ")";
            break;
        }
        case 2: {
            const auto pun = f.U16();
            const auto lun = f.U16();
            text = "Scsi(" + Hex(pun) + "," + Hex(lun) + ")";
            break;
        }
        case 3: {
            f.U32();
            const auto wwn = f.U64();
            const auto lun = f.U64();
            text = "Fibre(" + Hex(wwn) + "," + Hex(lun) + ")";
            break;
        }
        case 4: {
            f.U32();
            text = Format("I1394(%016llx)", static_cast<unsigned long long>(f.U64()));
            break;
        }
        case 5: {
            const auto port = f.U8();
            const auto interfaceNumber = f.U8();
            text = "USB(" + Hex(port) + "," + Hex(interfaceNumber) + ")";
            break;
        }
        case 6:
            text = "I2O(" + Hex(f.U32()) + ")";
            break;
        case 9: {
            const auto flags = f.U32();
            const Guid gid = f.ReadGuid();
            const auto serviceId = f.U64();
            const auto targetPort = f.U64();
            const auto deviceId = f.U64();
            text = "Infiniband(" + Hex(flags) + "," + GuidText(gid) + "," + Hex(serviceId) + "," +
                   Hex(targetPort) + "," + Hex(deviceId) + ")";
            break;
        }
        case 10:
            if (data.size() < 16) return std::nullopt;
            if (auto shortcut = MessagingVendorShortcut(data)) return shortcut;
            return VendorText("Msg", data);
        case 11: {
            const auto address = f.Bytes(32);
            const auto interfaceType = f.U8();
            if (!f.ok()) return std::nullopt;
            // Ethernet (and the unset type 0) addresses are 6 bytes of the 32.
            const std::size_t shown = interfaceType <= 1 ? 6 : 32;
            text = "MAC(" + HexBytes(address.first(shown)) + "," + Hex(interfaceType) + ")";
            break;
        }
        case 12: {
            const auto local = f.Bytes(4);
            const auto remote = f.Bytes(4);
            f.U16();
            f.U16();
            const auto protocol = f.U16();
            const auto staticAddress = f.U8();
            if (!f.ok()) return std::nullopt;
            text = "IPv4(" + Ipv4Text(remote) + "," + ProtocolText(protocol) + "," +
                   (staticAddress != 0 ? "Static" : "DHCP") + "," + Ipv4Text(local);
            if (f.Rest().size() >= 8) {
                const auto gateway = f.Bytes(4);
                const auto mask = f.Bytes(4);
                text += "," + Ipv4Text(gateway) + "," + Ipv4Text(mask);
            }
            text += ")";
            break;
        }
        case 13: {
            const auto local = f.Bytes(16);
            const auto remote = f.Bytes(16);
            f.U16();
            f.U16();
            const auto protocol = f.U16();
            const auto origin = f.U8();
            if (!f.ok()) return std::nullopt;
            static const char* const kOrigins[] = {"Static", "StatelessAutoConfigure",
                                                   "StatefulAutoConfigure"};
            text = "IPv6(" + Ipv6Text(remote) + "," + ProtocolText(protocol) + "," +
                   kOrigins[std::min<std::uint64_t>(origin, 2)] + "," + Ipv6Text(local);
            if (f.Rest().size() >= 17) {
                const auto prefixLength = f.U8();
                const auto gateway = f.Bytes(16);
                text += "," + Hex(prefixLength) + "," + Ipv6Text(gateway);
            }
            text += ")";
            break;
        }
        case 14: {
            f.U32();
            const auto baud = f.U64();
            const auto dataBits = f.U8();
            const auto parity = f.U8();
            const auto stopBits = f.U8();
            static const char kParity[] = {'D', 'N', 'E', 'O', 'M', 'S'};
            static const char* const kStopBits[] = {"D", "1", "1.5", "2"};
            text = "Uart(" + (baud == 0 ? std::string("DEFAULT") : std::to_string(baud)) + "," +
                   (dataBits == 0 ? std::string("DEFAULT") : std::to_string(dataBits)) + "," +
                   (parity < 6 ? kParity[parity] : 'x') + "," +
                   (stopBits < 4 ? kStopBits[stopBits] : "x") + ")";
            break;
        }
        case 15: {
            const auto vendor = f.U16();
            const auto product = f.U16();
            const auto deviceClass = f.U8();
            const auto subClass = f.U8();
            const auto protocol = f.U8();
            if (!f.ok()) return std::nullopt;
            static const struct {
                std::uint8_t deviceClass;
                const char* name;
            } kClasses[] = {{0x01, "UsbAudio"}, {0x02, "UsbCDCControl"}, {0x03, "UsbHID"},
                            {0x06, "UsbImage"}, {0x07, "UsbPrinter"},    {0x08, "UsbMassStorage"},
                            {0x09, "UsbHub"},   {0x0A, "UsbCDCData"},    {0x0B, "UsbSmartCard"},
                            {0x0E, "UsbVideo"}, {0xDC, "UsbDiagnostic"}, {0xE0, "UsbWireless"}};
            for (const auto& known : kClasses) {
                if (known.deviceClass == deviceClass) {
                    return std::string(known.name) + "(" + Hex(vendor) + "," + Hex(product) + "," +
                           Hex(subClass) + "," + Hex(protocol) + ")";
                }
            }
            if (deviceClass == 0xFE) {
                static const char* const kApplication[] = {
                    nullptr, "UsbDeviceFirmwareUpdate", "UsbIrdaBridge", "UsbTestAndMeasurement"};
                if (subClass >= 1 && subClass <= 3) {
                    return std::string(kApplication[subClass]) + "(" + Hex(vendor) + "," +
                           Hex(product) + "," + Hex(protocol) + ")";
                }
            }
            text = "UsbClass(" + Hex(vendor) + "," + Hex(product) + "," + Hex(deviceClass) + "," +
                   Hex(subClass) + "," + Hex(protocol) + ")";
            break;
        }
        case 16: {
            const auto interfaceNumber = f.U16();
            const auto vendor = f.U16();
            const auto product = f.U16();
            if (!f.ok()) return std::nullopt;
            text = "UsbWwid(" + Hex(vendor) + "," + Hex(product) + "," + Hex(interfaceNumber) +
                   ",\"" + WideString(f.Rest()) + "\")";
            break;
        }
        case 17:
            text = "Unit(" + Hex(f.U8()) + ")";
            break;
        case 18: {
            const auto hbaPort = f.U16();
            const auto multiplierPort = f.U16();
            const auto lun = f.U16();
            text = "Sata(" + Hex(hbaPort) + "," + Hex(multiplierPort) + "," + Hex(lun) + ")";
            break;
        }
        case 19: {
            const auto protocol = f.U16();
            const auto options = f.U16();
            const auto lun = f.Bytes(8);
            const auto portalGroup = f.U16();
            if (!f.ok()) return std::nullopt;
            const char* authentication = (options & 0x0800) != 0   ? "None"
                                         : (options & 0x1000) != 0 ? "CHAP_UNI"
                                                                   : "CHAP_BI";
            text = "iSCSI(" + CString(f.Rest()) + "," + Hex(portalGroup) + ",0x" + HexBytes(lun) +
                   "," + ((options & 0x0002) != 0 ? "CRC32C" : "None") + "," +
                   ((options & 0x0008) != 0 ? "CRC32C" : "None") + "," + authentication + "," +
                   (protocol == 0 ? "TCP" : "reserved") + ")";
            break;
        }
        case 20:
            text = "Vlan(" + std::to_string(f.U16()) + ")";
            break;
        case 21: {
            f.U32();
            const auto wwn = f.Bytes(8);
            const auto lun = f.Bytes(8);
            if (!f.ok()) return std::nullopt;
            text = "FibreEx(0x" + HexBytes(wwn) + ",0x" + HexBytes(lun) + ")";
            break;
        }
        case 22: {
            const auto address = f.Bytes(8);
            const auto lun = f.Bytes(8);
            const auto topology = f.U16();
            const auto targetPort = f.U16();
            if (!f.ok()) return std::nullopt;
            text = "SasEx(0x" + HexBytes(address) + ",0x" + HexBytes(lun) + "," + Hex(targetPort) +
                   "," + SasTopology(topology) + ")";
            break;
        }
        case 23: {
            const auto namespaceId = f.U32();
            const auto eui = f.Bytes(8);
            if (!f.ok()) return std::nullopt;
            // The EUI-64 is stored as a little-endian number and written most significant
            // byte first.
            text = "NVMe(" + Hex(namespaceId) + ",";
            for (std::size_t i = 0; i < 8; ++i) {
                if (i != 0) text += '-';
                text += Format("%02x", eui[7 - i]);
            }
            text += ")";
            break;
        }
        case 24:
            return "Uri(" + utf::ToUtf8(utf::ToUtf16(std::string(data.begin(), data.end()))) + ")";
        case 25: {
            const auto pun = f.U8();
            const auto lun = f.U8();
            text = "UFS(" + Hex(pun) + "," + Hex(lun) + ")";
            break;
        }
        case 26:
            text = "SD(" + Hex(f.U8()) + ")";
            break;
        case 27: {
            const auto address = f.Bytes(6);
            if (!f.ok()) return std::nullopt;
            text = "Bluetooth(" + HexBytes(address) + ")";
            break;
        }
        case 28: {
            const auto ssid = f.Bytes(32);
            if (!f.ok()) return std::nullopt;
            text = "Wi-Fi(" + CString(ssid) + ")";
            break;
        }
        case 29:
            text = "eMMC(" + Hex(f.U8()) + ")";
            break;
        case 30: {
            const auto address = f.Bytes(6);
            const auto addressType = f.U8();
            if (!f.ok()) return std::nullopt;
            text = "BluetoothLE(" + HexBytes(address) + "," +
                   Format("0x%02x", unsigned(addressType)) + ")";
            break;
        }
        case 31: {
            const auto isIpv6 = f.U8();
            if (!f.ok()) return std::nullopt;
            // Each server address takes the 16 bytes of an EFI_IP_ADDRESS.
            text = "Dns(";
            auto rest = f.Rest();
            for (bool first = true; rest.size() >= 16; rest = rest.subspan(16), first = false) {
                if (!first) text += ',';
                text += isIpv6 != 0 ? Ipv6Text(rest) : Ipv4Text(rest);
            }
            text += ")";
            break;
        }
        default:
            return std::nullopt;
    }
    if (!f.ok()) return std::nullopt;
    return text;
}

std::optional<std::string> MediaText(std::uint8_t subType, std::span<const std::uint8_t> data) {
    Fields f(data);
    std::string text;
    switch (subType) {
        case 1: {
            const auto partition = f.U32();
            const auto start = f.U64();
            const auto size = f.U64();
            const auto signature = f.Bytes(16);
            f.U8();  // MBR type
            const auto signatureType = f.U8();
            if (!f.ok()) return std::nullopt;
            text = "HD(" + std::to_string(partition) + ",";
            if (signatureType == 1) {
                const unsigned mbrSignature = signature[0] | signature[1] << 8 |
                                              signature[2] << 16 |
                                              static_cast<unsigned>(signature[3]) << 24;
                text += Format("MBR,0x%08x,", mbrSignature);
            } else if (signatureType == 2) {
                text += "GPT," + GuidText(GuidAt(signature)) + ",";
            } else {
                text += std::to_string(signatureType) + ",0,";
            }
            text += Hex(start) + "," + Hex(size) + ")";
            break;
        }
        case 2: {
            const auto entry = f.U32();
            const auto start = f.U64();
            const auto size = f.U64();
            text = "CDROM(" + Hex(entry) + "," + Hex(start) + "," + Hex(size) + ")";
            break;
        }
        case 3:
            if (data.size() < 16) return std::nullopt;
            return VendorText("Media", data);
        case 4:
            return WideString(data);
        case 5:
            text = "Media(" + GuidText(f.ReadGuid()) + ")";
            break;
        case 6:
            text = "FvFile(" + GuidText(f.ReadGuid()) + ")";
            break;
        case 7:
            text = "Fv(" + GuidText(f.ReadGuid()) + ")";
            break;
        case 8: {
            f.U32();
            const auto start = f.U64();
            const auto end = f.U64();
            text = "Offset(" + Hex(start) + "," + Hex(end) + ")";
            break;
        }
        case 9: {
            const auto start = f.U64();
            const auto end = f.U64();
            const Guid type = f.ReadGuid();
            const auto instance = f.U16();
            text = "RamDisk(" + Hex(start) + "," + Hex(end) + "," + std::to_string(instance) + "," +
                   GuidText(type) + ")";
            break;
        }
        default:
            return std::nullopt;
    }
    if (!f.ok()) return std::nullopt;
    return text;
}

std::optional<std::string> BbsText(std::uint8_t subType, std::span<const std::uint8_t> data) {
    if (subType != 1) return std::nullopt;
    Fields f(data);
    const auto deviceType = f.U16();
    const auto status = f.U16();
    if (!f.ok()) return std::nullopt;
    static const char* const kTypes[] = {nullptr,  "Floppy", "HD",     "CDROM",
                                         "PCMCIA", "USB",    "Network"};
    const std::string type =
        deviceType >= 1 && deviceType <= 6 ? kTypes[deviceType] : Hex(deviceType);
    return "BBS(" + type + "," + CString(f.Rest()) + "," + Hex(status) + ")";
}

}  // namespace

std::string DevicePathNodeText(std::uint8_t type, std::uint8_t subType,
                               std::span<const std::uint8_t> data) {
    std::optional<std::string> text;
    switch (type) {
        case kHardware:
            text = HardwareText(subType, data);
            break;
        case kAcpi:
            text = AcpiText(subType, data);
            break;
        case kMessaging:
            text = MessagingText(subType, data);
            break;
        case kMedia:
            text = MediaText(subType, data);
            break;
        case kBbs:
            text = BbsText(subType, data);
            break;
        case kDevicePathEndType:
            if (subType == kDevicePathEndInstance) text = ",";
            break;
        default:
            break;
    }
    return text ? std::move(*text) : Generic(type, subType, data);
}

std::string DevicePath::Text() const {
    std::string text;
    for (const DevicePathNode& node : nodes) {
        const bool instanceEnd =
            node.type == kDevicePathEndType && node.subType == kDevicePathEndInstance;
        if (!instanceEnd && !text.empty() && text.back() != ',') text += '/';
        text += node.text;
    }
    return text;
}

DevicePath DecodeDevicePath(std::span<const std::uint8_t> bytes, std::size_t* consumed) {
    DevicePath path;
    ByteReader reader(bytes);
    while (!reader.AtEnd()) {
        const std::size_t start = reader.offset();
        std::uint8_t type = 0, subType = 0;
        std::uint16_t length = 0;
        if (!reader.U8(type) || !reader.U8(subType) || !reader.U16(length)) {
            path.malformed =
                Malformed{"a device path node is cut short in its header", start, bytes};
            break;
        }
        std::span<const std::uint8_t> data;
        if (length < 4) {
            path.malformed = Malformed{"a device path node says it is " + std::to_string(length) +
                                           " bytes long, less than its header",
                                       start, bytes};
            break;
        }
        if (!reader.Take(length - 4u, data)) {
            path.malformed =
                Malformed{"a device path node says it is " + std::to_string(length) +
                              " bytes long; " + std::to_string(bytes.size() - start) + " are left",
                          start, bytes};
            break;
        }
        if (type == kDevicePathEndType && subType == kDevicePathEndEntire) {
            path.terminated = true;
            break;
        }
        path.nodes.push_back({type, subType, data, DevicePathNodeText(type, subType, data)});
    }
    if (!path.terminated && !path.malformed) {
        path.malformed = Malformed{"the device path has no end node", reader.offset(), bytes};
    }
    if (consumed != nullptr) *consumed = reader.offset();
    return path;
}

std::vector<DevicePath> DecodeDevicePaths(std::span<const std::uint8_t> bytes) {
    std::vector<DevicePath> paths;
    while (!bytes.empty()) {
        std::size_t consumed = 0;
        paths.push_back(DecodeDevicePath(bytes, &consumed));
        if (paths.back().malformed || consumed == 0) break;
        bytes = bytes.subspan(consumed);
    }
    return paths;
}

void AddDevicePaths(Node& object, const std::vector<DevicePath>& paths) {
    const auto describe = [](const DevicePath& path) {
        if (!path.malformed) return Node::Text(path.Text());
        Node node = Node::Object();
        node.Add("text", Node::Text(path.Text())).AddMalformed(&*path.malformed);
        return node;
    };
    if (paths.empty()) {
        object.Add("devicePath", Node::Text(""));
        return;
    }
    object.Add("devicePath", describe(paths.front()));
    if (paths.size() > 1) {
        Node more = Node::List();
        for (std::size_t i = 1; i < paths.size(); ++i) more.Push(describe(paths[i]));
        object.Add("moreDevicePaths", std::move(more));
    }
}

}  // namespace qorvex::decode
