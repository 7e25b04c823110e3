#include "tcglog/tcg_log_builder.h"

#include "digest/digest.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace qorvex::tools {

// ---- ByteWriter -----------------------------------------------------------------------------

ByteWriter& ByteWriter::U8(std::uint8_t value) {
    m_bytes.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::U16(std::uint16_t value) {
    for (int i = 0; i < 2; ++i) m_bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
}

ByteWriter& ByteWriter::U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
}

ByteWriter& ByteWriter::U64(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) m_bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
}

ByteWriter& ByteWriter::Append(std::span<const std::uint8_t> bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

ByteWriter& ByteWriter::Ascii(std::string_view text) {
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    return *this;
}

ByteWriter& ByteWriter::Utf16(std::u16string_view text, bool terminate) {
    for (const char16_t unit : text) U16(static_cast<std::uint16_t>(unit));
    if (terminate) U16(0);
    return *this;
}

ByteWriter& ByteWriter::Fill(std::size_t count, std::uint8_t value) {
    m_bytes.insert(m_bytes.end(), count, value);
    return *this;
}

// ---- Digests --------------------------------------------------------------------------------

Bytes Sha1(std::span<const std::uint8_t> data) {
    return digest::Hash(digest::Algorithm::Sha1, data);
}

Bytes Sha256(std::span<const std::uint8_t> data) {
    return digest::Hash(digest::Algorithm::Sha256, data);
}

Bytes Measure(std::uint16_t algorithm, std::size_t size, std::span<const std::uint8_t> data) {
    Bytes digest;
    if (algorithm == tcg::kAlgSha1) {
        digest = Sha1(data);
    } else if (algorithm == tcg::kAlgSha256) {
        digest = Sha256(data);
    } else {
        // No real implementation needed by any reader of these logs: a deterministic value that
        // still depends on the data and the algorithm.
        Bytes seed(data.begin(), data.end());
        seed.push_back(static_cast<std::uint8_t>(algorithm));
        seed.push_back(static_cast<std::uint8_t>(algorithm >> 8));
        while (digest.size() < size) {
            const Bytes part = Sha256(seed);
            digest.insert(digest.end(), part.begin(), part.end());
            seed = part;
        }
    }
    digest.resize(size, 0);
    return digest;
}

// ---- SIPA events ----------------------------------------------------------------------------

Bytes Sipa(std::uint32_t type, std::span<const std::uint8_t> data) {
    return SipaSized(type, static_cast<std::uint32_t>(data.size()), data);
}

Bytes SipaSized(std::uint32_t type, std::uint32_t claimedSize, std::span<const std::uint8_t> data) {
    return ByteWriter().U32(type).U32(claimedSize).Append(data).Take();
}

Bytes SipaU8(std::uint32_t type, std::uint8_t value) {
    return Sipa(type, ByteWriter().U8(value).bytes());
}

Bytes SipaU32(std::uint32_t type, std::uint32_t value) {
    return Sipa(type, ByteWriter().U32(value).bytes());
}

Bytes SipaU64(std::uint32_t type, std::uint64_t value) {
    return Sipa(type, ByteWriter().U64(value).bytes());
}

Bytes SipaContainer(std::uint32_t type, std::span<const Bytes> children) {
    ByteWriter body;
    for (const Bytes& child : children) body.Append(child);
    return Sipa(type | tcg::kSipaAggregation, body.bytes());
}

Bytes SipaContainer(std::uint32_t type, std::initializer_list<Bytes> children) {
    return SipaContainer(type, std::span<const Bytes>(children.begin(), children.size()));
}

Bytes SipaTrustBoundary(std::initializer_list<Bytes> children) {
    return SipaContainer(tcg::kSipaTrustBoundary, children);
}

Bytes SipaTrustBoundary(std::span<const Bytes> children) {
    return SipaContainer(tcg::kSipaTrustBoundary, children);
}

Bytes SipaFilePath(std::u16string_view path) {
    return Sipa(tcg::kSipaFilePath, ByteWriter().Utf16(path, true).bytes());
}

Bytes SipaImageSize(std::uint64_t size) {
    return SipaU64(tcg::kSipaImageSize, size);
}

Bytes SipaHashAlgorithmId(std::uint32_t algorithm) {
    return SipaU32(tcg::kSipaHashAlgorithmId, algorithm);
}

Bytes SipaAuthenticodeHash(std::span<const std::uint8_t> hash) {
    return Sipa(tcg::kSipaAuthenticodeHash, hash);
}

Bytes SipaImageBase(std::uint64_t base) {
    return SipaU64(tcg::kSipaImageBase, base);
}

Bytes SipaLoadedModule(const LoadedModule& module) {
    Bytes hash = module.authenticodeHash;
    if (hash.empty()) hash = Sha256(ByteWriter().Utf16(module.path, false).bytes());
    return SipaContainer(tcg::kSipaLoadedModuleAggregation,
                         {SipaFilePath(module.path), SipaImageSize(module.imageSize),
                          SipaHashAlgorithmId(module.hashAlgorithm), SipaAuthenticodeHash(hash),
                          SipaU8(tcg::kSipaImageValidated, 1), SipaImageBase(module.imageBase)});
}

Bytes SipaLoadedModule(std::u16string_view path, std::uint64_t imageSize, std::uint64_t imageBase) {
    LoadedModule module;
    module.path = std::u16string(path);
    module.imageSize = imageSize;
    module.imageBase = imageBase;
    return SipaLoadedModule(module);
}

Bytes SipaAggregationChain(std::size_t depth, std::span<const std::uint8_t> innermost,
                           std::uint32_t type) {
    if ((depth == 0 ? 0 : (depth - 1) * 8) + innermost.size() > 0xFFFFFFFFu) {
        throw std::length_error("SIPA chain larger than 4 GiB");
    }
    Bytes chain(depth * 8 + innermost.size());
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) chain[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    for (std::size_t level = 0; level < depth; ++level) {
        put32(8 * level, type | tcg::kSipaAggregation);
        put32(8 * level + 4,
              static_cast<std::uint32_t>((depth - level - 1) * 8 + innermost.size()));
    }
    std::copy(innermost.begin(), innermost.end(),
              chain.begin() + static_cast<std::ptrdiff_t>(depth * 8));
    return chain;
}

// ---- Events ---------------------------------------------------------------------------------

namespace {

constexpr std::array<std::uint8_t, 16> kEfiGlobalVariable = {
    0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11, 0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c};
constexpr std::array<std::uint8_t, 16> kEfiImageSecurityDatabase = {
    0xcb, 0xb2, 0x19, 0xd7, 0x3a, 0x3d, 0x96, 0x45, 0xa3, 0xbc, 0xda, 0xd0, 0x0e, 0x67, 0x65, 0x6f};
constexpr std::array<std::uint8_t, 16> kAcpi20TableGuid = {
    0x71, 0xe8, 0x68, 0x88, 0xf1, 0xe4, 0xd3, 0x11, 0xbc, 0x22, 0x00, 0x80, 0xc7, 0x3c, 0x88, 0x81};

TcgEvent MakeEvent(std::uint32_t pcr, std::uint32_t type, Bytes data) {
    TcgEvent event;
    event.pcr = pcr;
    event.type = type;
    event.data = std::move(data);
    return event;
}

// A UEFI media file path device path (type 4, subtype 4) and the end node.
Bytes FileDevicePath(std::u16string_view path) {
    const std::size_t nodeLength = 4 + 2 * (path.size() + 1);
    return ByteWriter()
        .U8(4)
        .U8(4)
        .U16(static_cast<std::uint16_t>(nodeLength))
        .Utf16(path, true)
        .U8(0x7F)
        .U8(0xFF)
        .U16(4)
        .Take();
}

// Deterministic filler standing in for certificates and signature lists.
Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::uint8_t& byte : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return out;
}

}  // namespace

TcgEvent EventTag(std::uint32_t pcr, Bytes sipaEvents) {
    return MakeEvent(pcr, tcg::kEvEventTag, std::move(sipaEvents));
}

TcgEvent CompactHash(std::uint32_t pcr, Bytes data) {
    return MakeEvent(pcr, tcg::kEvCompactHash, std::move(data));
}

TcgEvent CompactHashWithDigests(std::uint32_t pcr, std::vector<EventDigest> digests, Bytes data) {
    TcgEvent event = MakeEvent(pcr, tcg::kEvCompactHash, std::move(data));
    event.digests = std::move(digests);
    return event;
}

TcgEvent Separator(std::uint32_t pcr, std::uint32_t value) {
    return MakeEvent(pcr, tcg::kEvSeparator, ByteWriter().U32(value).Take());
}

TcgEvent NoAction(std::uint32_t pcr, Bytes data) {
    return MakeEvent(pcr, tcg::kEvNoAction, std::move(data));
}

TcgEvent StartupLocality(std::uint8_t locality) {
    return NoAction(0, ByteWriter().Ascii("StartupLocality").U8(0).U8(locality).Take());
}

TcgEvent ScrtmVersion(std::u16string_view version) {
    return MakeEvent(0, tcg::kEvSCrtmVersion, ByteWriter().Utf16(version, true).Take());
}

TcgEvent PostCode(std::string_view text) {
    return MakeEvent(0, tcg::kEvPostCode, ByteWriter().Ascii(text).Take());
}

TcgEvent EfiPlatformFirmwareBlob(std::uint32_t pcr, std::uint64_t base, std::uint64_t length) {
    return MakeEvent(pcr, tcg::kEvEfiPlatformFirmwareBlob,
                     ByteWriter().U64(base).U64(length).Take());
}

TcgEvent EfiHandoffTables(std::uint64_t tableCount) {
    ByteWriter data;
    data.U64(tableCount);
    for (std::uint64_t i = 0; i < tableCount; ++i) {
        data.Append(kAcpi20TableGuid).U64(0x7FB7E000 + 0x1000 * i);
    }
    return MakeEvent(1, tcg::kEvEfiHandoffTables, data.Take());
}

TcgEvent EfiVariable(std::uint32_t pcr, std::uint32_t type, std::span<const std::uint8_t, 16> guid,
                     std::u16string_view name, Bytes value) {
    return MakeEvent(pcr, type,
                     ByteWriter()
                         .Append(guid)
                         .U64(name.size())
                         .U64(value.size())
                         .Utf16(name, false)
                         .Append(value)
                         .Take());
}

TcgEvent EfiBootServicesApplication(std::uint64_t location, std::uint64_t length,
                                    std::u16string_view filePath) {
    const Bytes devicePath = FileDevicePath(filePath);
    return MakeEvent(4, tcg::kEvEfiBootServicesApplication,
                     ByteWriter()
                         .U64(location)
                         .U64(length)
                         .U64(0)
                         .U64(devicePath.size())
                         .Append(devicePath)
                         .Take());
}

TcgEvent EfiAction(std::uint32_t pcr, std::string_view text) {
    return MakeEvent(pcr, tcg::kEvEfiAction, ByteWriter().Ascii(text).Take());
}

TcgEvent EfiGptEvent(std::uint32_t partitionCount) {
    ByteWriter data;
    // EFI_PARTITION_TABLE_HEADER (92 bytes).
    data.Ascii("EFI PART").U32(0x00010000).U32(92).U32(0x1DCEABF2).U32(0);
    data.U64(1).U64(0x063FFFFF).U64(34).U64(0x063FFFDE);
    data.Append(Pattern(16, 77));
    data.U64(2).U32(128).U32(128).U32(0x5C000000);
    data.U64(partitionCount);
    for (std::uint32_t i = 0; i < partitionCount; ++i) {
        data.Append(Pattern(16, 100 + i));  // partition type
        data.Append(Pattern(16, 200 + i));  // unique partition id
        data.U64(2048 + 0x100000 * std::uint64_t{i})
            .U64(2048 + 0x100000 * std::uint64_t{i + 1} - 1);
        data.U64(0);
        const std::u16string_view name = i == 0 ? u"EFI system partition" : u"Basic data partition";
        data.Utf16(name, false).Fill(72 - 2 * name.size(), 0);
    }
    return MakeEvent(5, tcg::kEvEfiGptEvent, data.Take());
}

// ---- TcgLogBuilder --------------------------------------------------------------------------

namespace {
constexpr char kSpecIdSignature[] = "Spec ID Event03";  // 15 characters and the zero
}

TcgLogBuilder::TcgLogBuilder(LogLayout layout, std::vector<DigestAlgorithm> algorithms)
    : m_layout(layout), m_algorithms(std::move(algorithms)) {
    if (m_layout == LogLayout::CryptoAgile) m_specIdData = SpecIdEventData(m_algorithms);
}

TcgLogBuilder TcgLogBuilder::Sha1Layout() {
    return TcgLogBuilder(LogLayout::Sha1, {{tcg::kAlgSha1, 20}});
}

TcgLogBuilder TcgLogBuilder::CryptoAgileLayout(std::vector<DigestAlgorithm> algorithms) {
    return TcgLogBuilder(LogLayout::CryptoAgile, std::move(algorithms));
}

TcgLogBuilder TcgLogBuilder::ForLayout(LogLayout layout) {
    return layout == LogLayout::Sha1 ? Sha1Layout() : CryptoAgileLayout();
}

Bytes TcgLogBuilder::SpecIdEventData(std::span<const DigestAlgorithm> algorithms,
                                     Bytes vendorInfo) {
    ByteWriter data;
    data.Append(std::span(reinterpret_cast<const std::uint8_t*>(kSpecIdSignature),
                          sizeof(kSpecIdSignature)));
    data.U32(0).U8(0).U8(2).U8(2).U8(2);
    data.U32(static_cast<std::uint32_t>(algorithms.size()));
    for (const DigestAlgorithm& algorithm : algorithms) {
        data.U16(algorithm.id).U16(algorithm.digestSize);
    }
    data.U8(static_cast<std::uint8_t>(vendorInfo.size())).Append(vendorInfo);
    return data.Take();
}

TcgLogBuilder& TcgLogBuilder::SetSpecIdData(Bytes data) {
    m_specIdData = std::move(data);
    return *this;
}

TcgLogBuilder& TcgLogBuilder::Add(const TcgEvent& event) {
    const Bytes bytes = EventBytes(event);
    m_events.insert(m_events.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes TcgLogBuilder::EventBytes(const TcgEvent& event) const {
    ByteWriter out;
    out.U32(event.pcr).U32(event.type);
    const bool unmeasured = event.type == tcg::kEvNoAction;
    if (m_layout == LogLayout::Sha1) {
        Bytes digest;
        if (event.digests.has_value()) {
            const auto& given = *event.digests;
            const auto sha1 = std::find_if(given.begin(), given.end(), [](const EventDigest& d) {
                return d.algorithm == tcg::kAlgSha1;
            });
            if (sha1 != given.end()) {
                digest = sha1->value;
            } else if (!given.empty()) {
                digest = given.front().value;
            }
        } else if (!unmeasured) {
            digest = Sha1(event.data);
        }
        digest.resize(20, 0);
        out.Append(digest);
    } else {
        std::vector<EventDigest> digests;
        if (event.digests.has_value()) {
            digests = *event.digests;
        } else {
            for (const DigestAlgorithm& algorithm : m_algorithms) {
                digests.push_back(
                    {algorithm.id, unmeasured
                                       ? Bytes(algorithm.digestSize, 0)
                                       : Measure(algorithm.id, algorithm.digestSize, event.data)});
            }
        }
        out.U32(event.claimedDigestCount.value_or(static_cast<std::uint32_t>(digests.size())));
        for (const EventDigest& digest : digests) out.U16(digest.algorithm).Append(digest.value);
    }
    out.U32(event.claimedDataSize.value_or(static_cast<std::uint32_t>(event.data.size())));
    out.Append(event.data);
    return out.Take();
}

TcgLogBuilder& TcgLogBuilder::Add(std::initializer_list<TcgEvent> events) {
    for (const TcgEvent& event : events) Add(event);
    return *this;
}

TcgLogBuilder& TcgLogBuilder::AddRaw(Bytes bytes) {
    m_events.insert(m_events.end(), bytes.begin(), bytes.end());
    return *this;
}

std::size_t TcgLogBuilder::EventHeaderSize() const noexcept {
    if (m_layout == LogLayout::Sha1) return 32;
    std::size_t size = 12 + 4;
    for (const DigestAlgorithm& algorithm : m_algorithms) size += 2 + algorithm.digestSize;
    return size;
}

std::size_t TcgLogBuilder::Size() const noexcept {
    const std::size_t header = m_layout == LogLayout::CryptoAgile ? 32 + m_specIdData.size() : 0;
    return header + m_events.size();
}

Bytes TcgLogBuilder::Build() const {
    ByteWriter log;
    if (m_layout == LogLayout::CryptoAgile) {
        // The header event itself is in the SHA-1 layout, with a zero digest.
        log.U32(0).U32(tcg::kEvNoAction).Fill(20, 0);
        log.U32(static_cast<std::uint32_t>(m_specIdData.size())).Append(m_specIdData);
    }
    log.Append(m_events);
    return log.Take();
}

// ---- Realistic Windows boot logs ------------------------------------------------------------

namespace {

// The modules a cold boot's winload.efi loads, in load order.
constexpr std::u16string_view kColdBootModules[] = {
    u"\\Windows\\system32\\ntoskrnl.exe",
    u"\\Windows\\system32\\hal.dll",
    u"\\Windows\\system32\\kdcom.dll",
    u"\\Windows\\system32\\mcupdate_GenuineIntel.dll",
    u"\\Windows\\System32\\drivers\\msrpc.sys",
    u"\\Windows\\System32\\drivers\\ksecdd.sys",
    u"\\Windows\\System32\\drivers\\werkernel.sys",
    u"\\Windows\\System32\\drivers\\CLFS.SYS",
    u"\\Windows\\System32\\drivers\\tm.sys",
    u"\\Windows\\system32\\PSHED.dll",
    u"\\Windows\\system32\\BOOTVID.dll",
    u"\\Windows\\System32\\drivers\\FLTMGR.SYS",
    u"\\Windows\\System32\\drivers\\clipsp.sys",
    u"\\Windows\\System32\\drivers\\cmimcext.sys",
    u"\\Windows\\System32\\drivers\\ntosext.sys",
    u"\\Windows\\system32\\CI.dll",
    u"\\Windows\\System32\\drivers\\cng.sys",
    u"\\Windows\\System32\\drivers\\Wdf01000.sys",
    u"\\Windows\\System32\\drivers\\WDFLDR.SYS",
    u"\\Windows\\System32\\drivers\\WppRecorder.sys",
    u"\\Windows\\System32\\drivers\\acpiex.sys",
    u"\\Windows\\System32\\drivers\\mssecflt.sys",
    u"\\Windows\\System32\\drivers\\ACPI.sys",
    u"\\Windows\\System32\\drivers\\WMILIB.SYS",
    u"\\Windows\\System32\\drivers\\intelpep.sys",
    u"\\Windows\\System32\\drivers\\pcw.sys",
    u"\\Windows\\System32\\drivers\\msisadrv.sys",
    u"\\Windows\\System32\\drivers\\pci.sys",
    u"\\Windows\\System32\\drivers\\vdrvroot.sys",
    u"\\Windows\\System32\\drivers\\pdc.sys",
    u"\\Windows\\System32\\drivers\\CEA.sys",
    u"\\Windows\\System32\\drivers\\partmgr.sys",
    u"\\Windows\\System32\\drivers\\spaceport.sys",
    u"\\Windows\\System32\\drivers\\volmgr.sys",
    u"\\Windows\\System32\\drivers\\volmgrx.sys",
    u"\\Windows\\System32\\drivers\\mountmgr.sys",
    u"\\Windows\\System32\\drivers\\storahci.sys",
    u"\\Windows\\System32\\drivers\\storport.sys",
    u"\\Windows\\System32\\drivers\\EhStorClass.sys",
    u"\\Windows\\System32\\drivers\\fileinfo.sys",
    u"\\Windows\\System32\\drivers\\Wof.sys",
    u"\\Windows\\System32\\drivers\\WdFilter.sys",
    u"\\Windows\\System32\\drivers\\Ntfs.sys",
    u"\\Windows\\System32\\drivers\\Fs_Rec.sys",
    u"\\Windows\\System32\\drivers\\ndis.sys",
    u"\\Windows\\System32\\drivers\\NETIO.SYS",
    u"\\Windows\\System32\\drivers\\ksecpkg.sys",
    u"\\Windows\\System32\\drivers\\tcpip.sys",
    u"\\Windows\\System32\\drivers\\fwpkclient.sys",
    u"\\Windows\\System32\\drivers\\volsnap.sys",
    u"\\Windows\\System32\\drivers\\disk.sys",
    u"\\Windows\\System32\\drivers\\CLASSPNP.SYS",
};

// The modules winresume.efi measures when the machine resumes from hibernation.
constexpr std::u16string_view kResumeModules[] = {
    u"\\Windows\\system32\\ntoskrnl.exe",        u"\\Windows\\system32\\hal.dll",
    u"\\Windows\\System32\\drivers\\ksecdd.sys", u"\\Windows\\system32\\CI.dll",
    u"\\Windows\\System32\\drivers\\cng.sys",    u"\\Windows\\System32\\drivers\\storahci.sys",
};

std::uint64_t Mix(std::u16string_view text, std::uint64_t seed) {
    std::uint64_t hash = 1469598103934665603ull ^ seed;
    for (const char16_t unit : text) {
        hash ^= unit;
        hash *= 1099511628211ull;
    }
    return hash;
}

LoadedModule MakeModule(std::u16string_view path, std::uint32_t resumeIndex, std::uint64_t base) {
    LoadedModule module;
    module.path = std::u16string(path);
    module.imageSize = 0x8000 + (Mix(path, 1) % 0x200) * 0x1000;
    module.imageBase = base;
    module.authenticodeHash = Sha256(ByteWriter().Utf16(path, false).U32(resumeIndex).bytes());
    return module;
}

Bytes Ascii(std::string_view text) {
    return ByteWriter().Ascii(text).Take();
}

// Firmware events (PCRs 0-7) up to and including the boot manager's launch.
void AddFirmwareEvents(TcgLogBuilder& log) {
    if (log.Layout() == LogLayout::CryptoAgile) log.Add(StartupLocality(0));
    log.Add({ScrtmVersion(u"1.0.0"), EfiPlatformFirmwareBlob(0, 0xFFD00000, 0x00300000),
             EfiPlatformFirmwareBlob(0, 0xFF900000, 0x00200000), EfiHandoffTables(1)});
    log.Add(EfiVariable(1, tcg::kEvEfiVariableBoot, kEfiGlobalVariable, u"BootOrder",
                        ByteWriter().U16(1).U16(0).Take()));
    ByteWriter bootOption;
    const Bytes bootManagerPath = FileDevicePath(u"\\EFI\\Microsoft\\Boot\\bootmgfw.efi");
    bootOption.U32(1).U16(static_cast<std::uint16_t>(bootManagerPath.size()));
    bootOption.Utf16(u"Windows Boot Manager", true).Append(bootManagerPath);
    log.Add(EfiVariable(1, tcg::kEvEfiVariableBoot, kEfiGlobalVariable, u"Boot0001",
                        bootOption.Take()));
    log.Add({EfiVariable(7, tcg::kEvEfiVariableDriverConfig, kEfiGlobalVariable, u"SecureBoot",
                         Bytes{1}),
             EfiVariable(7, tcg::kEvEfiVariableDriverConfig, kEfiGlobalVariable, u"PK",
                         Pattern(806, 1)),
             EfiVariable(7, tcg::kEvEfiVariableDriverConfig, kEfiGlobalVariable, u"KEK",
                         Pattern(1560, 2)),
             EfiVariable(7, tcg::kEvEfiVariableDriverConfig, kEfiImageSecurityDatabase, u"db",
                         Pattern(4708, 3)),
             EfiVariable(7, tcg::kEvEfiVariableDriverConfig, kEfiImageSecurityDatabase, u"dbx",
                         Pattern(3724, 4))});
    for (std::uint32_t pcr = 0; pcr <= 7; ++pcr) log.Add(Separator(pcr));
    log.Add({EfiVariable(7, tcg::kEvEfiVariableAuthority, kEfiImageSecurityDatabase, u"db",
                         Pattern(1537, 5)),
             EfiGptEvent(4), EfiAction(4, "Calling EFI Application from Boot Option"),
             EfiBootServicesApplication(0x7E5B0018, 0x167B38,
                                        u"\\EFI\\Microsoft\\Boot\\bootmgfw.efi")});
}

// The common opening of a Windows trust boundary.
std::vector<Bytes> BoundaryPreamble(std::uint32_t resumeIndex) {
    return {SipaU32(tcg::kSipaApplicationSvn, 1),        SipaU32(tcg::kSipaSvnChainStatus, 0),
            SipaU8(tcg::kSipaBootDebugging, 0),          SipaU8(tcg::kSipaTestSigning, 0),
            SipaU8(tcg::kSipaCodeIntegrity, 1),          SipaU32(tcg::kSipaBitlockerUnlock, 0),
            SipaU64(tcg::kSipaEventCounter, resumeIndex)};
}

Bytes AuthorityKey(std::uint32_t seed, std::size_t size) {
    return Sipa(tcg::kSipaAuthorityPublicKey, Pattern(size, seed));
}

}  // namespace

ExampleBoot DescribeExampleBoot(std::uint32_t resumeIndex, std::uint32_t bootCount) {
    ExampleBoot boot;
    boot.bootCount = bootCount;
    boot.resumeIndex = resumeIndex;
    if (resumeIndex == 0) {
        boot.modules.push_back(MakeModule(u"\\Windows\\system32\\winload.efi", 0, 0x014A0000));
        std::uint64_t base = 0xFFFFF80000000000ull;
        for (const std::u16string_view path : kColdBootModules) {
            boot.modules.push_back(MakeModule(path, 0, base));
            base += boot.modules.back().imageSize + 0x10000;
        }
    } else {
        boot.modules.push_back(
            MakeModule(u"\\Windows\\system32\\winresume.efi", resumeIndex, 0x01380000));
        // Each resume measures a few more of the kernel's modules, so the logs differ.
        const std::size_t count = std::min<std::size_t>(std::size(kResumeModules), 2 + resumeIndex);
        std::uint64_t base = 0xFFFFF80000000000ull + 0x200000ull * resumeIndex;
        for (std::size_t i = 0; i < count; ++i) {
            boot.modules.push_back(MakeModule(kResumeModules[i], resumeIndex, base));
            base += boot.modules.back().imageSize + 0x10000;
        }
    }
    boot.pcr4CompactHashData = ByteWriter()
                                   .Ascii(resumeIndex == 0 ? "bootmgfw.efi boot " : "winresume ")
                                   .U32(bootCount)
                                   .U32(resumeIndex)
                                   .Take();
    boot.pcr8CompactHashData = ByteWriter().Ascii("BCD ").U32(bootCount).U32(resumeIndex).Take();
    return boot;
}

Bytes BuildExampleBootLog(const ExampleBoot& boot, LogLayout layout) {
    TcgLogBuilder log = TcgLogBuilder::ForLayout(layout);
    AddFirmwareEvents(log);
    // An earlier compact hash of the boot manager; the last one of the log is what counts.
    log.Add(CompactHash(4, ByteWriter().Ascii("bootmgfw.efi early ").U32(boot.resumeIndex).Take()));
    log.Add(CompactHash(11, ByteWriter().U32(0x10).Take()));

    // The boot manager's own trust boundary: boot counter, the boot application it starts.
    std::vector<Bytes> first = {SipaU64(tcg::kSipaBootCounter, boot.bootCount)};
    for (Bytes& item : BoundaryPreamble(boot.resumeIndex)) first.push_back(std::move(item));
    first.push_back(SipaU32(tcg::kSipaTransferControl, 1));
    log.Add(EventTag(12, SipaTrustBoundary(first)));

    std::vector<Bytes> loader = BoundaryPreamble(boot.resumeIndex);
    loader.push_back(Sipa(tcg::kSipaBootRevocationList, Pattern(46, 9)));
    if (!boot.modules.empty()) loader.push_back(SipaLoadedModule(boot.modules.front()));
    log.Add(EventTag(13, SipaTrustBoundary(loader)));
    log.Add(EventTag(14, AuthorityKey(11, 294)));
    log.Add(CompactHash(8, boot.pcr8CompactHashData));

    // The OS loader's trust boundary: OS parameters, the ELAM driver, the loaded modules.
    std::vector<Bytes> parameters = BoundaryPreamble(boot.resumeIndex);
    parameters.push_back(SipaU32(tcg::kSipaOsDevice, 0x00010004));
    parameters.push_back(
        Sipa(tcg::kSipaSystemRoot, ByteWriter().Utf16(u"\\Windows", true).bytes()));
    parameters.push_back(SipaU64(tcg::kSipaDataExecutionPrevention, 1));
    parameters.push_back(SipaU8(tcg::kSipaSafeMode, 0));
    parameters.push_back(SipaU8(tcg::kSipaWinPe, 0));
    parameters.push_back(SipaU64(tcg::kSipaHypervisorLaunchType, 0));
    parameters.push_back(SipaContainer(
        tcg::kSipaElamAggregation,
        {Sipa(tcg::kSipaElamKeyName, ByteWriter().Utf16(u"Windows Defender", true).bytes()),
         Sipa(tcg::kSipaElamMeasured, Pattern(20, 12))}));
    log.Add(EventTag(12, SipaTrustBoundary(parameters)));

    std::vector<Bytes> kernel = BoundaryPreamble(boot.resumeIndex);
    for (std::size_t i = 1; i < boot.modules.size(); ++i) {
        kernel.push_back(SipaLoadedModule(boot.modules[i]));
    }
    log.Add(EventTag(13, SipaTrustBoundary(kernel)));
    log.Add(CompactHash(4, boot.pcr4CompactHashData));
    log.Add(EventTag(14, SipaTrustBoundary({AuthorityKey(13, 550), AuthorityKey(14, 294)})));
    log.Add(CompactHash(11, ByteWriter().U32(0xFFFF).Take()));
    for (std::uint32_t pcr = 12; pcr <= 14; ++pcr) log.Add(Separator(pcr, 0x4C434257));  // "WBCL"
    return log.Build();
}

Bytes BuildLargeBootLog(std::size_t size, LogLayout layout) {
    TcgLogBuilder log = TcgLogBuilder::ForLayout(layout);
    AddFirmwareEvents(log);
    // The closing event: a PCR 12 trust boundary holding one information event of any size.
    const std::size_t fillerMinimum = log.EventHeaderSize() + 16;
    if (log.Size() + fillerMinimum > size) {
        throw std::invalid_argument("log size too small for a boot log");
    }
    std::uint64_t base = 0xFFFFF80000000000ull;
    std::size_t next = 0;
    std::uint32_t round = 0;
    // Trust boundaries with 32 loaded modules, each followed by PCR 8 and PCR 4 compact hashes,
    // then single-module boundaries, as long as the closing event still fits after them.
    for (const std::size_t perEvent : {std::size_t{32}, std::size_t{1}}) {
        for (;; ++round) {
            std::vector<Bytes> boundary = BoundaryPreamble(round);
            std::size_t taken = next;
            for (std::size_t i = 0; i < perEvent; ++i, ++taken) {
                const std::u16string_view path =
                    kColdBootModules[taken % std::size(kColdBootModules)];
                LoadedModule module = MakeModule(path, round, base + 0x100000 * i);
                boundary.push_back(SipaLoadedModule(module));
            }
            Bytes block = log.EventBytes(EventTag(13, SipaTrustBoundary(boundary)));
            if (perEvent > 1) {
                for (const TcgEvent& hash :
                     {CompactHash(8, ByteWriter().Ascii("BCD ").U32(round).Take()),
                      CompactHash(4, ByteWriter().Ascii("bootmgr ").U32(round).Take())}) {
                    const Bytes bytes = log.EventBytes(hash);
                    block.insert(block.end(), bytes.begin(), bytes.end());
                }
            }
            if (log.Size() + block.size() + fillerMinimum > size) break;
            log.AddRaw(std::move(block));
            next = taken;
            base += 0x100000 * perEvent;
        }
    }
    const std::size_t padding = size - log.Size() - fillerMinimum;
    log.Add(EventTag(12, SipaTrustBoundary({Sipa(tcg::kSipaInformation, Pattern(padding, 21))})));
    return log.Build();
}

std::vector<NamedLog> FuzzSeedLogs() {
    std::vector<NamedLog> seeds;
    const auto mini = [](LogLayout layout) {
        TcgLogBuilder log = TcgLogBuilder::ForLayout(layout);
        log.Add({ScrtmVersion(u"1.0"), Separator(0), CompactHash(4, Ascii("first")),
                 EventTag(13, SipaTrustBoundary(
                                  {SipaU64(tcg::kSipaBootCounter, 3),
                                   SipaLoadedModule(MakeModule(u"\\Windows\\a.sys", 0, 0x1000)),
                                   SipaLoadedModule(MakeModule(u"\\Windows\\b.sys", 0, 0x2000))})),
                 CompactHash(8, Ascii("bcd")), CompactHash(4, Ascii("second")),
                 EventTag(14, AuthorityKey(1, 40))});
        return log;
    };
    seeds.push_back(
        {"example-sha1-boot", BuildExampleBootLog(DescribeExampleBoot(0), LogLayout::Sha1)});
    seeds.push_back({"example-agile-resume",
                     BuildExampleBootLog(DescribeExampleBoot(1), LogLayout::CryptoAgile)});
    seeds.push_back({"mini-sha1", mini(LogLayout::Sha1).Build()});
    seeds.push_back({"mini-agile", mini(LogLayout::CryptoAgile).Build()});

    TcgLogBuilder banks = TcgLogBuilder::CryptoAgileLayout(
        {{tcg::kAlgSha1, 20}, {tcg::kAlgSha256, 32}, {tcg::kAlgSha384, 48}});
    banks.Add({CompactHash(8, Ascii("three banks")),
               CompactHashWithDigests(4, {{tcg::kAlgSha256, Bytes(32, 0x44)}}),
               CompactHashWithDigests(
                   4, {{tcg::kAlgSha384, Bytes(48, 0x55)}, {tcg::kAlgSha1, Bytes(20, 0x66)}}),
               EventTag(13, SipaFilePath(u"\\bare.sys"))});
    seeds.push_back({"agile-three-banks", banks.Build()});

    TcgLogBuilder sha256Only = TcgLogBuilder::CryptoAgileLayout({{tcg::kAlgSha256, 32}});
    sha256Only.Add({CompactHash(4, Ascii("no sha1")), EventTag(13, SipaFilePath(u"x"))});
    seeds.push_back({"agile-sha256-only", sha256Only.Build()});

    TcgLogBuilder chain = TcgLogBuilder::Sha1Layout();
    chain.Add(EventTag(13, SipaAggregationChain(64, SipaFilePath(u"\\deep.sys"))));
    seeds.push_back({"nested-chain", chain.Build()});

    // Containers whose ends differ at every level: each holds the next one and a path after it.
    Bytes ladder = SipaFilePath(u"core");
    for (int level = 0; level < 24; ++level) {
        ladder = SipaContainer(tcg::kSipaLoadedModuleAggregation, {ladder, SipaFilePath(u"p")});
    }
    seeds.push_back(
        {"nested-ladder", TcgLogBuilder::Sha1Layout().Add(EventTag(13, ladder)).Build()});

    Bytes cut = mini(LogLayout::Sha1).Build();
    // erase, not resize: g++ 12 at -O2 cannot see that the log is longer than 30 bytes and
    // warns about the growth branch of resize.
    cut.erase(cut.end() - std::min<std::ptrdiff_t>(30, static_cast<std::ptrdiff_t>(cut.size())),
              cut.end());
    seeds.push_back({"truncated-sha1", cut});

    TcgLogBuilder lying = TcgLogBuilder::Sha1Layout();
    TcgEvent huge = EventTag(13, SipaTrustBoundary({SipaFilePath(u"kept.sys")}));
    huge.claimedDataSize = 0xFFFFFFFFu;
    lying.Add(std::move(huge));
    seeds.push_back({"lying-event-size", lying.Build()});

    TcgLogBuilder shortPath = TcgLogBuilder::CryptoAgileLayout();
    shortPath.Add({EventTag(13, SipaFilePath(u"before")),
                   EventTag(13, Sipa(tcg::kSipaFilePath, Bytes{0x41})),
                   EventTag(13, SipaFilePath(u"after"))});
    seeds.push_back({"short-file-path", shortPath.Build()});

    TcgLogBuilder badHeader = TcgLogBuilder::CryptoAgileLayout();
    badHeader.SetSpecIdData(TcgLogBuilder::SpecIdEventData(std::vector<DigestAlgorithm>{}));
    badHeader.Add(CompactHash(4, Ascii("unread")));
    seeds.push_back({"spec-id-no-algorithms", badHeader.Build()});
    return seeds;
}

}  // namespace qorvex::tools
