// The measured-boot logs captured from real machines (the shared samples folder), each read
// through the module's exports as the only archived log of the current boot: on Linux from the
// simulated machine, in the Windows build from the real registry and Windows folder under Wine.
// What each must yield is what the samples' README states: path count, first and last path, and
// the PCR 4 / PCR 8 compact-hash digests. The table is the README's; the file's size and the
// start of its SHA-256 make sure the log read is the one described.
//
// The samples are read where they lie (QORVEX_SHARED_DIR/samples) and never copied into the
// repository; without that folder every case is skipped.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/tcg_log.h"
#include "tcglog/tcg_log_builder.h"
#include "zef/string.h"
#include "zef/vector.h"

#if defined(_WIN32)
#include "windows/current_boot.h"
#else
#include "winsim/sim.h"
#endif

namespace qorvex::test {
namespace {

constexpr zef::ResultCode kNotFound = static_cast<zef::ResultCode>(0x8000004Cu);

struct SampleLog {
    const char* file;
    std::uintmax_t bytes;
    const char* sha256Start;  // the first 16 hex digits
    std::size_t pathCount;
    const char* firstPath;  // null when there are no paths
    const char* lastPath;
    const char* pcr4;  // 40 hex digits, or null for "Not found"
    const char* pcr8;
};

const SampleLog kSamples[] = {
    {"windows-gcp-shielded-vm.log", 43324, "adab9f2b3291952a", 64,
     "\\Windows\\system32\\winload.efi", "\\Windows\\System32\\Drivers\\ksecpkg.sys", nullptr,
     nullptr},
    {"windows-tpm12-lenovo-x1carbon3.log", 52287, "0a4e8c35d12ab52d", 75,
     "\\WINDOWS\\system32\\winload.efi", "\\WINDOWS\\system32\\hvloader.dll", nullptr, nullptr},
    {"windows-tpm2-lenovo-x1yoga2.log", 53808, "1ccd30bd8d198745", 72,
     "\\WINDOWS\\system32\\winload.efi", "\\WINDOWS\\System32\\drivers\\tcpip.sys", nullptr,
     nullptr},
    {"windows-tpm2-dell-latitude7520-sha256.log", 68790, "9e705e580c942aa2", 87,
     "\\WINDOWS\\system32\\winload.efi", "\\WINDOWS\\System32\\drivers\\vpci.sys", nullptr,
     nullptr},
    {"windows-dell-poweredge-startuplocality.log", 53538, "6c87c4858f4a2a27", 70,
     "\\EFI\\Microsoft\\Boot\\en-US\\bootmgfw.efi.MUI",
     "\\Windows\\System32\\drivers\\CLASSPNP.SYS", nullptr, nullptr},
    {"windows-option-rom.log", 72817, "b079e8d43989244f", 109, "\\WINDOWS\\system32\\winload.efi",
     "\\WINDOWS\\system32\\PSHED.dll", nullptr, nullptr},
    {"firmware-dell-compacthash-pcr4.log", 15493, "a9845e92cf92c333", 0, nullptr, nullptr,
     "8d27c0f2834390a4d6abba3ed5bac839b908eb77", nullptr},
    {"linux-tdx-ccel-padded.log", 262144, "090dc18758380a5c", 0, nullptr, nullptr, nullptr,
     nullptr},
};

std::string SamplesDir() {
    return std::string(QORVEX_SHARED_DIR) + "/samples";
}

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

// The paths are ASCII; anything else shows as an escape and fails the comparison visibly.
std::string Narrow(const zef::wstring_t& path) {
    std::string text;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t unit = path.data()[i];
        if (unit < 0x80) {
            text += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
            text += escape;
        }
    }
    return text;
}

#if defined(_WIN32)
using CurrentBoot = qorvex::test::WindowsCurrentBoot;
#else
constexpr std::uint32_t kBootCount = 1;

// The log as the only archived log of boot 1 on a fresh simulated machine.
class CurrentBoot {
public:
    explicit CurrentBoot(const std::vector<std::uint8_t>& log) {
        winsim::SetRegistryDword(u"System\\CurrentControlSet\\services\\TPM", u"OsBootCount",
                                 kBootCount);
        winsim::SetRegistryDword(u"System\\CurrentControlSet\\Control\\IntegrityServices",
                                 u"OsResumeCount", 0);
        winsim::PutFile(u"C:\\Windows\\Logs\\MeasuredBoot\\0000000001-0000000000.log", log);
    }

private:
    winsim::ScopedMachine m_machine;
};
#endif

class SampleLogTest : public LoadedModuleTest, public ::testing::WithParamInterface<SampleLog> {
protected:
    // GetRawTcgLog through export, registry, factory and component; every intermediate object
    // is released again.
    IRawTcgLog* ReadCurrentBoot() {
        auto* provider = CreateComponent<ITcgLogProvider>(kClassTcgLogProvider, kIidTcgLogProvider);
        if (provider == nullptr) return nullptr;
        IRawTcgLog* log = nullptr;
        EXPECT_EQ(provider->GetRawTcgLog(&log), 0);
        provider->Release();
        return log;
    }
};

TEST_P(SampleLogTest, YieldsWhatTheSamplesReadmeStates) {
    const SampleLog& sample = GetParam();
    std::error_code ec;
    if (!std::filesystem::is_directory(SamplesDir(), ec)) {
        GTEST_SKIP() << "no samples folder at " << SamplesDir();
    }
    const std::vector<std::uint8_t> bytes = ReadWhole(SamplesDir() + "/" + sample.file);
    ASSERT_EQ(bytes.size(), sample.bytes) << sample.file;
    EXPECT_EQ(Hex(tools::Sha256(bytes).data(), 8), sample.sha256Start)
        << "not the sample described";

    const CurrentBoot boot(bytes);
    IRawTcgLog* log = ReadCurrentBoot();
    ASSERT_NE(log, nullptr);

    zef::vector<zef::wstring_t> paths;
    if (sample.pathCount == 0) {
        EXPECT_EQ(log->GetModulePaths(paths), kNotFound);
    } else {
        ASSERT_EQ(log->GetModulePaths(paths), 0);
        ASSERT_EQ(paths.size(), sample.pathCount);
        EXPECT_EQ(Narrow(paths[0]), sample.firstPath);
        EXPECT_EQ(Narrow(paths[paths.size() - 1]), sample.lastPath);
    }

    struct Digest {
        const char* name;
        zef::ResultCode (IRawTcgLog::*get)(std::uint8_t*);
        const char* expected;
    } const digests[] = {{"PCR 4", &IRawTcgLog::GetPcr4CompactHash, sample.pcr4},
                         {"PCR 8", &IRawTcgLog::GetPcr8CompactHash, sample.pcr8}};
    for (const Digest& digest : digests) {
        SCOPED_TRACE(digest.name);
        std::uint8_t value[kCompactHashSize] = {};
        if (digest.expected == nullptr) {
            EXPECT_EQ((log->*digest.get)(value), kNotFound);
        } else {
            ASSERT_EQ((log->*digest.get)(value), 0);
            EXPECT_EQ(Hex(value, kCompactHashSize), digest.expected);
        }
    }
    EXPECT_EQ(log->Release(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleLogTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<SampleLog>& info) {
                             std::string name;
                             for (const char* c = info.param.file; *c != '\0' && *c != '.'; ++c) {
                                 name += (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') ? *c
                                                                                              : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace qorvex::test
