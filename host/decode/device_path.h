// UEFI device paths (EFI_DEVICE_PATH_PROTOCOL) in UEFI's standard device path text form, the one
// of the firmware's Device Path to Text protocol, as firmware shells and boot managers print them:
// "PciRoot(0x0)/Pci(0x1d,0x0)/NVMe(0x1,00-25-38-b5-71-b2-46-ea)/HD(1,GPT,...,0x800,0x32000)/
// \EFI\Microsoft\Boot\bootmgfw.efi". Nodes are separated by "/", the end of one instance of a
// multi-instance path by ",". Numbers are lower-case hex with "0x", GUIDs in registry form.
//
// Known nodes: PCI, PC card, memory mapped, hardware vendor, controller, BMC; ACPI (PciRoot,
// PcieRoot, Floppy, Keyboard, Serial, ParallelPort, Acpi), expanded ACPI (AcpiEx, AcpiExp and
// the PciRoot / PcieRoot shortcuts), _ADR; ATAPI, SCSI, Fibre Channel (and Ex), 1394, USB, I2O,
// InfiniBand, messaging vendor (with the terminal and debug port shortcuts), MAC, IPv4, IPv6,
// UART, USB class, USB WWID, logical unit, SATA, iSCSI, VLAN, SAS Ex, NVMe, URI, UFS, SD,
// Bluetooth, Wi-Fi, eMMC, Bluetooth LE, DNS; hard drive (MBR and GPT signatures), CD-ROM, media
// vendor, file path, media protocol, firmware file and volume, offset range, RAM disk; BBS; and
// the end nodes. Any other node, or a known node too short for its fields, is written
// "Path(type,subtype,hex of its data)" with type and subtype in decimal.
//
// A node shorter than its 4-byte header or longer than the bytes left, and a path that stops
// without an End node, are malformed; the nodes before the fault are kept.
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/description.h"

namespace qorvex::decode {

inline constexpr std::uint8_t kDevicePathEndType = 0x7F;
inline constexpr std::uint8_t kDevicePathEndEntire = 0xFF;
inline constexpr std::uint8_t kDevicePathEndInstance = 0x01;

struct DevicePathNode {
    std::uint8_t type = 0;
    std::uint8_t subType = 0;
    std::span<const std::uint8_t> data;  // after the node's 4-byte header
    std::string text;                    // this node alone, e.g. "Pci(0x1c,0x0)"
};

// One device path up to its End Entire node, which is not kept; End Instance nodes are.
struct DevicePath {
    std::vector<DevicePathNode> nodes;
    bool terminated = false;  // the End Entire node was found
    std::optional<Malformed> malformed;

    std::string Text() const;
};

// The text of one node.
std::string DevicePathNodeText(std::uint8_t type, std::uint8_t subType,
                               std::span<const std::uint8_t> data);

// The device path at the start of bytes; consumed (when given) receives the bytes it took, End
// Entire node included.
DevicePath DecodeDevicePath(std::span<const std::uint8_t> bytes, std::size_t* consumed = nullptr);

// Device paths packed back to back, as in an EFI_LOAD_OPTION's FilePathList: decoded until the
// bytes are used up or a path is malformed (the last one then carries the fault). No bytes, no
// paths.
std::vector<DevicePath> DecodeDevicePaths(std::span<const std::uint8_t> bytes);

// Adds "devicePath" (the first path's text) and "moreDevicePaths" (the texts of the others, when
// there are more) to an object. A malformed path is written as an object instead of its text:
// {"text": the nodes before the fault, "malformed": {...}}.
void AddDevicePaths(Node& object, const std::vector<DevicePath>& paths);

}  // namespace qorvex::decode
