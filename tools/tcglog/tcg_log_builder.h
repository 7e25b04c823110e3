// Builds TCG measured-boot event logs, as Windows archives them, from tables of events: in the
// SHA-1 layout (TCG_PCClientPCREvent) and in the crypto-agile layout (a "Spec ID Event03"
// header event, then TCG_PCR_EVENT2 events with one digest per algorithm of a chosen table).
// Tests, benchmarks, the fuzz seed corpus and the example machine use it.
//
// Events are plain values (TcgEvent) made by the helpers below or by hand. Digests are measured
// from the event data unless given; SHA-1 and SHA-256 are real, other algorithms get a
// deterministic stand-in. For hostile logs a TcgEvent can claim a data size or digest count that
// differs from what is written, SipaSized writes a lying SIPA size, a log header's Spec ID data can
// be replaced wholesale, and raw bytes can be appended anywhere; cut a built log with resize().
//
// Threading: values only; a TcgLogBuilder is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qorvex::tools {

using Bytes = std::vector<std::uint8_t>;

// Appends little-endian numbers and text to a byte buffer.
class ByteWriter {
public:
    ByteWriter& U8(std::uint8_t value);
    ByteWriter& U16(std::uint16_t value);
    ByteWriter& U32(std::uint32_t value);
    ByteWriter& U64(std::uint64_t value);
    ByteWriter& Append(std::span<const std::uint8_t> bytes);
    ByteWriter& Ascii(std::string_view text);
    // UTF-16LE code units, with a zero unit after them when terminate is set.
    ByteWriter& Utf16(std::u16string_view text, bool terminate);
    ByteWriter& Fill(std::size_t count, std::uint8_t value);

    const Bytes& bytes() const noexcept { return m_bytes; }
    Bytes Take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

namespace tcg {
// TCG PC Client event types.
inline constexpr std::uint32_t kEvPostCode = 0x00000001;
inline constexpr std::uint32_t kEvNoAction = 0x00000003;
inline constexpr std::uint32_t kEvSeparator = 0x00000004;
inline constexpr std::uint32_t kEvAction = 0x00000005;
inline constexpr std::uint32_t kEvEventTag = 0x00000006;
inline constexpr std::uint32_t kEvSCrtmContents = 0x00000007;
inline constexpr std::uint32_t kEvSCrtmVersion = 0x00000008;
inline constexpr std::uint32_t kEvCpuMicrocode = 0x00000009;
inline constexpr std::uint32_t kEvCompactHash = 0x0000000C;
inline constexpr std::uint32_t kEvEfiVariableDriverConfig = 0x80000001;
inline constexpr std::uint32_t kEvEfiVariableBoot = 0x80000002;
inline constexpr std::uint32_t kEvEfiBootServicesApplication = 0x80000003;
inline constexpr std::uint32_t kEvEfiBootServicesDriver = 0x80000004;
inline constexpr std::uint32_t kEvEfiGptEvent = 0x80000006;
inline constexpr std::uint32_t kEvEfiAction = 0x80000007;
inline constexpr std::uint32_t kEvEfiPlatformFirmwareBlob = 0x80000008;
inline constexpr std::uint32_t kEvEfiHandoffTables = 0x80000009;
inline constexpr std::uint32_t kEvEfiVariableAuthority = 0x800000E0;

// TPM 2.0 algorithm ids.
inline constexpr std::uint16_t kAlgSha1 = 0x0004;
inline constexpr std::uint16_t kAlgSha256 = 0x000B;
inline constexpr std::uint16_t kAlgSha384 = 0x000C;
inline constexpr std::uint16_t kAlgSha512 = 0x000D;
inline constexpr std::uint16_t kAlgSm3_256 = 0x0012;

// Windows boot configuration log (SIPA) event types.
inline constexpr std::uint32_t kSipaAggregation = 0x40000000;
inline constexpr std::uint32_t kSipaTrustBoundary = 0x40010001;
inline constexpr std::uint32_t kSipaElamAggregation = 0x40010002;
inline constexpr std::uint32_t kSipaLoadedModuleAggregation = 0x40010003;
inline constexpr std::uint32_t kSipaInformation = 0x00020001;
inline constexpr std::uint32_t kSipaBootCounter = 0x00020002;
inline constexpr std::uint32_t kSipaTransferControl = 0x00020003;
inline constexpr std::uint32_t kSipaBitlockerUnlock = 0x00020005;
inline constexpr std::uint32_t kSipaEventCounter = 0x00020006;
inline constexpr std::uint32_t kSipaApplicationSvn = 0x00020009;
inline constexpr std::uint32_t kSipaSvnChainStatus = 0x0002000A;
inline constexpr std::uint32_t kSipaMorBitApiStatus = 0x0002000B;
inline constexpr std::uint32_t kSipaBootDebugging = 0x00040001;
inline constexpr std::uint32_t kSipaBootRevocationList = 0x00040002;
inline constexpr std::uint32_t kSipaOsKernelDebug = 0x00050001;
inline constexpr std::uint32_t kSipaCodeIntegrity = 0x00050002;
inline constexpr std::uint32_t kSipaTestSigning = 0x00050003;
inline constexpr std::uint32_t kSipaDataExecutionPrevention = 0x00050004;
inline constexpr std::uint32_t kSipaSafeMode = 0x00050005;
inline constexpr std::uint32_t kSipaWinPe = 0x00050006;
inline constexpr std::uint32_t kSipaOsDevice = 0x00050008;
inline constexpr std::uint32_t kSipaSystemRoot = 0x00050009;
inline constexpr std::uint32_t kSipaHypervisorLaunchType = 0x0005000A;
inline constexpr std::uint32_t kSipaAuthorityPublicKey = 0x00060002;
inline constexpr std::uint32_t kSipaFilePath = 0x00070001;
inline constexpr std::uint32_t kSipaImageSize = 0x00070002;
inline constexpr std::uint32_t kSipaHashAlgorithmId = 0x00070003;
inline constexpr std::uint32_t kSipaAuthenticodeHash = 0x00070004;
inline constexpr std::uint32_t kSipaAuthorityIssuer = 0x00070005;
inline constexpr std::uint32_t kSipaImageBase = 0x00070007;
inline constexpr std::uint32_t kSipaImageValidated = 0x0007000A;
inline constexpr std::uint32_t kSipaModuleSvn = 0x0007000B;
inline constexpr std::uint32_t kSipaElamKeyName = 0x00090001;
inline constexpr std::uint32_t kSipaElamMeasured = 0x00090004;

// Windows CryptoAPI ALG_ID of SHA-256, as SIPAEVENT_HASH_ALGORITHM_ID records it.
inline constexpr std::uint32_t kCalgSha256 = 0x0000800C;
}  // namespace tcg

Bytes Sha1(std::span<const std::uint8_t> data);
Bytes Sha256(std::span<const std::uint8_t> data);
// The digest an algorithm gives for data: real for SHA-1 and SHA-256, otherwise a
// deterministic stand-in of the given size.
Bytes Measure(std::uint16_t algorithm, std::size_t size, std::span<const std::uint8_t> data);

// ---- SIPA events (the data of EV_EVENT_TAG events) ------------------------------------------

Bytes Sipa(std::uint32_t type, std::span<const std::uint8_t> data);
// A SIPA event whose size field says claimedSize while data is written as given.
Bytes SipaSized(std::uint32_t type, std::uint32_t claimedSize, std::span<const std::uint8_t> data);
Bytes SipaU8(std::uint32_t type, std::uint8_t value);
Bytes SipaU32(std::uint32_t type, std::uint32_t value);
Bytes SipaU64(std::uint32_t type, std::uint64_t value);
// A container (type with kSipaAggregation set) holding the given events in order.
Bytes SipaContainer(std::uint32_t type, std::span<const Bytes> children);
Bytes SipaContainer(std::uint32_t type, std::initializer_list<Bytes> children);
Bytes SipaTrustBoundary(std::initializer_list<Bytes> children);
Bytes SipaTrustBoundary(std::span<const Bytes> children);
// A file path with its terminating zero unit.
Bytes SipaFilePath(std::u16string_view path);
Bytes SipaImageSize(std::uint64_t size);
Bytes SipaHashAlgorithmId(std::uint32_t algorithm);
Bytes SipaAuthenticodeHash(std::span<const std::uint8_t> hash);
Bytes SipaImageBase(std::uint64_t base);

struct LoadedModule {
    std::u16string path;
    std::uint64_t imageSize = 0;
    std::uint64_t imageBase = 0;
    std::uint32_t hashAlgorithm = tcg::kCalgSha256;
    Bytes authenticodeHash;  // empty: SHA-256 of the path
};
// A loaded-module aggregation as Windows writes it: file path, image size, hash algorithm,
// authenticode hash, image validated, image base.
Bytes SipaLoadedModule(const LoadedModule& module);
Bytes SipaLoadedModule(std::u16string_view path, std::uint64_t imageSize, std::uint64_t imageBase);
// depth containers of type, each holding only the next one, the innermost holding innermost.
// Built without recursion, for any depth.
Bytes SipaAggregationChain(std::size_t depth, std::span<const std::uint8_t> innermost,
                           std::uint32_t type = tcg::kSipaLoadedModuleAggregation);

// ---- Events ---------------------------------------------------------------------------------

struct EventDigest {
    std::uint16_t algorithm = 0;
    Bytes value;
};

struct TcgEvent {
    std::uint32_t pcr = 0;
    std::uint32_t type = 0;
    Bytes data;
    // Unset: measured from data with every algorithm of the log (zeros for EV_NO_ACTION). In
    // the SHA-1 layout the SHA-1 entry (or else the first) is written, cut or padded to 20.
    std::optional<std::vector<EventDigest>> digests;
    // Written in place of the true data size or digest count (hostile logs).
    std::optional<std::uint32_t> claimedDataSize;
    std::optional<std::uint32_t> claimedDigestCount;
};

TcgEvent EventTag(std::uint32_t pcr, Bytes sipaEvents);
TcgEvent CompactHash(std::uint32_t pcr, Bytes data);
// An EV_COMPACT_HASH event that carries exactly these digests.
TcgEvent CompactHashWithDigests(std::uint32_t pcr, std::vector<EventDigest> digests,
                                Bytes data = {});
TcgEvent Separator(std::uint32_t pcr, std::uint32_t value = 0);
TcgEvent NoAction(std::uint32_t pcr, Bytes data);
// The "StartupLocality" EV_NO_ACTION event of TPM 2.0 firmware.
TcgEvent StartupLocality(std::uint8_t locality);
TcgEvent ScrtmVersion(std::u16string_view version);
TcgEvent PostCode(std::string_view text);
TcgEvent EfiPlatformFirmwareBlob(std::uint32_t pcr, std::uint64_t base, std::uint64_t length);
TcgEvent EfiHandoffTables(std::uint64_t tableCount);
// UEFI_VARIABLE_DATA events: EV_EFI_VARIABLE_DRIVER_CONFIG (PCR 7: SecureBoot, PK, KEK, db,
// dbx), EV_EFI_VARIABLE_BOOT (PCR 1: BootOrder, Boot####), EV_EFI_VARIABLE_AUTHORITY (PCR 7).
TcgEvent EfiVariable(std::uint32_t pcr, std::uint32_t type, std::span<const std::uint8_t, 16> guid,
                     std::u16string_view name, Bytes value);
TcgEvent EfiBootServicesApplication(std::uint64_t location, std::uint64_t length,
                                    std::u16string_view filePath);
TcgEvent EfiAction(std::uint32_t pcr, std::string_view text);
TcgEvent EfiGptEvent(std::uint32_t partitionCount);

struct DigestAlgorithm {
    std::uint16_t id = 0;
    std::uint16_t digestSize = 0;
};
inline const std::vector<DigestAlgorithm> kSha1AndSha256 = {{tcg::kAlgSha1, 20},
                                                            {tcg::kAlgSha256, 32}};

enum class LogLayout { Sha1, CryptoAgile };

class TcgLogBuilder {
public:
    static TcgLogBuilder Sha1Layout();
    static TcgLogBuilder CryptoAgileLayout(
        std::vector<DigestAlgorithm> algorithms = kSha1AndSha256);
    static TcgLogBuilder ForLayout(LogLayout layout);

    // Data of a Spec ID event: signature, platform class 0, version 2.0 errata 2,
    // uintnSize 2, the algorithm table, vendorInfoSize and vendorInfo.
    static Bytes SpecIdEventData(std::span<const DigestAlgorithm> algorithms,
                                 Bytes vendorInfo = {});

    // Replaces this log's Spec ID event's data (malformed headers). The algorithms given to
    // CryptoAgileLayout still decide the digests of later events.
    TcgLogBuilder& SetSpecIdData(Bytes data);
    TcgLogBuilder& Add(const TcgEvent& event);
    TcgLogBuilder& Add(std::initializer_list<TcgEvent> events);
    TcgLogBuilder& AddRaw(Bytes bytes);
    // The bytes Add would append for event.
    Bytes EventBytes(const TcgEvent& event) const;

    LogLayout Layout() const noexcept { return m_layout; }
    const std::vector<DigestAlgorithm>& Algorithms() const noexcept { return m_algorithms; }
    // Bytes an event adds before its data with default digests.
    std::size_t EventHeaderSize() const noexcept;
    // Size of the log Build() returns.
    std::size_t Size() const noexcept;
    Bytes Build() const;

private:
    TcgLogBuilder(LogLayout layout, std::vector<DigestAlgorithm> algorithms);

    LogLayout m_layout;
    std::vector<DigestAlgorithm> m_algorithms;
    Bytes m_specIdData;  // the header event's data (crypto-agile layout only)
    Bytes m_events;      // everything after the header event
};

// ---- Realistic Windows boot logs ------------------------------------------------------------

// What one example log holds, for building it and for checking what a reader finds in it.
struct ExampleBoot {
    std::uint32_t bootCount = 17;
    std::uint32_t resumeIndex = 0;
    std::vector<LoadedModule> modules;  // in log order; their paths are the module paths
    Bytes pcr4CompactHashData;          // the last PCR 4 EV_COMPACT_HASH event's data
    Bytes pcr8CompactHashData;          // the last PCR 8 EV_COMPACT_HASH event's data
};

// Resume 0 is a cold boot through winload.efi with the kernel and its boot drivers; a later
// resume index is a resume from hibernation through winresume.efi. Module lists, image bases and
// compact-hash data depend on the resume index, so the logs of one boot differ.
ExampleBoot DescribeExampleBoot(std::uint32_t resumeIndex, std::uint32_t bootCount = 17);

// The whole log: firmware events in PCRs 0-7 (S-CRTM version, firmware blobs, Secure Boot
// variables, boot variables, GPT, the boot manager application, separators), EV_COMPACT_HASH
// events in PCRs 4, 8 and 11, and the Windows boot configuration log in PCRs 12-14 (boot
// counter and OS parameters, a trust boundary holding the loaded-module aggregations and an
// ELAM aggregation, the boot authority's public key, "WBCL" separators).
Bytes BuildExampleBootLog(const ExampleBoot& boot, LogLayout layout);

// A log of exactly size bytes (at least 64 KiB) with the shape of the example boot: the
// firmware events, then Windows boot configuration events with loaded-module aggregations and
// compact hashes until the size is reached.
Bytes BuildLargeBootLog(std::size_t size, LogLayout layout);

// Small logs that cover each shape the reader knows (both layouts, nesting, compact hashes,
// cut and lying sizes), named for the fuzz seed corpus.
struct NamedLog {
    std::string name;
    Bytes bytes;
};
std::vector<NamedLog> FuzzSeedLogs();

}  // namespace qorvex::tools
