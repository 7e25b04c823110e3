// The measured-boot log provider through the module's exports, as a product's host reaches it:
// export, registry object, component factory, component, GetRawTcgLog and the result object's
// accessors, on the bundled example machine and on a log captured from a real Windows machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/module_fixture.h"
#include "qorvex/tcg_log.h"
#include "tcglog/tcg_log_builder.h"
#include "winsim/sim.h"
#include "zef/string.h"
#include "zef/vector.h"

namespace qorvex::test {
namespace {

constexpr zef::ResultCode kNotFound = static_cast<zef::ResultCode>(0x8000004Cu);
constexpr zef::ResultCode kUnknownException = static_cast<zef::ResultCode>(0x80000072u);

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
}

std::vector<std::string> Texts(const zef::vector<zef::wstring_t>& paths) {
    std::vector<std::string> texts;
    for (const zef::wstring_t& path : paths) {
        texts.push_back(winsim::Utf8FromUtf16(std::u16string_view(path.data(), path.size())));
    }
    return texts;
}

class TcgLogModuleTest : public LoadedModuleTest {
protected:
    // The provider through the whole chain; every intermediate object is released again.
    ITcgLogProvider* CreateProvider() {
        return CreateComponent<ITcgLogProvider>(kClassTcgLogProvider, kIidTcgLogProvider);
    }

    winsim::ScopedMachine machine;
};

TEST_F(TcgLogModuleTest, ReadsTheExampleMachine) {
    ASSERT_EQ(winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"),
              "");
    ITcgLogProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    IRawTcgLog* log = nullptr;
    ASSERT_EQ(provider->GetRawTcgLog(&log), 0);
    ASSERT_NE(log, nullptr);

    // Resumes 0 and 1 are in the SHA-1 layout, resume 2 in the crypto-agile one; their paths
    // follow each other in resume order and the digests are those of the last log.
    std::vector<std::string> expected;
    for (std::uint32_t resume = 0; resume <= 2; ++resume) {
        for (const tools::LoadedModule& module : tools::DescribeExampleBoot(resume).modules) {
            expected.push_back(winsim::Utf8FromUtf16(module.path));
        }
    }
    zef::vector<zef::wstring_t> paths;
    ASSERT_EQ(log->GetModulePaths(paths), 0);
    EXPECT_EQ(Texts(paths), expected);
    EXPECT_EQ(expected.front(), "\\Windows\\system32\\winload.efi");

    const tools::ExampleBoot last = tools::DescribeExampleBoot(2);
    std::uint8_t digest[kCompactHashSize] = {};
    EXPECT_EQ(log->GetPcr4CompactHash(digest), 0);
    EXPECT_EQ(tools::Bytes(std::begin(digest), std::end(digest)),
              tools::Sha1(last.pcr4CompactHashData));
    EXPECT_EQ(log->GetPcr8CompactHash(digest), 0);
    EXPECT_EQ(tools::Bytes(std::begin(digest), std::end(digest)),
              tools::Sha1(last.pcr8CompactHashData));

    EXPECT_EQ(provider->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);  // the result object still lives
    EXPECT_EQ(log->Release(), 0u);
}

TEST_F(TcgLogModuleTest, ReadsALogCapturedFromARealMachine) {
    const std::string path =
        std::string(QORVEX_SHARED_DIR) + "/samples/windows-gcp-shielded-vm.log";
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        GTEST_SKIP() << "the sample log is not at " << path;
    const std::vector<std::uint8_t> sample = ReadFile(path);
    ASSERT_EQ(sample.size(), 43324u);
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\services\\TPM", u"OsBootCount", 1);
    winsim::SetRegistryDword(u"System\\CurrentControlSet\\Control\\IntegrityServices",
                             u"OsResumeCount", 0);
    winsim::PutFile(u"C:\\Windows\\Logs\\MeasuredBoot\\0000000001-0000000000.log", sample);

    ITcgLogProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    IRawTcgLog* log = nullptr;
    ASSERT_EQ(provider->GetRawTcgLog(&log), 0);
    provider->Release();

    zef::vector<zef::wstring_t> paths;
    ASSERT_EQ(log->GetModulePaths(paths), 0);
    const std::vector<std::string> texts = Texts(paths);
    ASSERT_EQ(texts.size(), 64u);
    EXPECT_EQ(texts.front(), "\\Windows\\system32\\winload.efi");
    EXPECT_EQ(texts.back(), "\\Windows\\System32\\Drivers\\ksecpkg.sys");

    // Its compact hashes are all in PCR 11.
    std::uint8_t digest[kCompactHashSize];
    std::fill(std::begin(digest), std::end(digest), std::uint8_t{0xAB});
    EXPECT_EQ(log->GetPcr4CompactHash(digest), kNotFound);
    EXPECT_EQ(log->GetPcr8CompactHash(digest), kNotFound);
    EXPECT_THAT(digest, testing::Each(std::uint8_t{0xAB}));
    EXPECT_EQ(log->Release(), 0u);
}

// A host that grants records without buffers: every site skips, the results stand, and every
// tracer reference the module took comes back (the fixture checks the host's leftovers).
TEST_F(TcgLogModuleTest, RecordsGrantedWithoutBuffersCostNoReference) {
    ASSERT_EQ(winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"),
              "");
    host.tracer.GrantWithoutBuffer(true);
    ITcgLogProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    IRawTcgLog* log = nullptr;
    ASSERT_EQ(provider->GetRawTcgLog(&log), 0);
    zef::vector<zef::wstring_t> paths;
    EXPECT_EQ(log->GetModulePaths(paths), 0);
    EXPECT_EQ(log->Release(), 0u);

    // A failing call's report goes the same way.
    ASSERT_TRUE(winsim::RemoveFile(u"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000001.log"));
    log = nullptr;
    EXPECT_EQ(provider->GetRawTcgLog(&log), kUnknownException);
    EXPECT_EQ(log, nullptr);
    EXPECT_EQ(provider->Release(), 0u);
    EXPECT_TRUE(host.tracer.Records().empty());
    EXPECT_GE(host.tracer.AcquireCalls(), 4u);
}

TEST_F(TcgLogModuleTest, ReferencesKeepTheModuleLoadedUntilTheLastIsReleased) {
    ASSERT_EQ(winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"),
              "");
    ITcgLogProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);
    EXPECT_EQ(provider->AddRef(), 2u);
    EXPECT_EQ(provider->Release(), 1u);

    void* same = nullptr;
    ASSERT_EQ(provider->QueryInterface(0, &same), 0);
    EXPECT_EQ(same, provider);
    EXPECT_EQ(provider->Release(), 1u);

    IRawTcgLog* first = nullptr;
    IRawTcgLog* second = nullptr;
    ASSERT_EQ(provider->GetRawTcgLog(&first), 0);
    ASSERT_EQ(provider->GetRawTcgLog(&second), 0);
    EXPECT_NE(first, second);  // every call builds its own result
    EXPECT_EQ(provider->Release(), 0u);

    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kFalse);
    EXPECT_EQ(second->AddRef(), 2u);
    EXPECT_EQ(second->Release(), 1u);
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(CanUnload(), zef::rc::kOk);
}

TEST_F(TcgLogModuleTest, MissingLogFailsTheCallWithOneRecord) {
    ASSERT_EQ(winsim::LoadMachineDirectory(std::string(QORVEX_SOURCE_DIR) + "/examples/machine"),
              "");
    ASSERT_TRUE(winsim::RemoveFile(u"C:\\Windows\\Logs\\MeasuredBoot\\0000000017-0000000002.log"));
    ITcgLogProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    IRawTcgLog* log = reinterpret_cast<IRawTcgLog*>(std::uintptr_t{0x1234});
    EXPECT_EQ(provider->GetRawTcgLog(&log), kUnknownException);
    EXPECT_EQ(log, reinterpret_cast<IRawTcgLog*>(std::uintptr_t{0x1234}));
    EXPECT_EQ(provider->Release(), 0u);

    std::vector<std::string> failures;
    for (const auto& record : host.tracer.Records()) {
        if (record.level == 300) failures.push_back(record.text);
    }
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_THAT(failures[0],
                testing::StartsWith("RuntimeError - TpmAttGetPlatformLogFromArchive has been "
                                    "failed, HRESULT = 80070002. At component/antimalware/source/"
                                    "trusted_boot/tcg_log_provider/source/cryptography("));
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace qorvex::test
