// The analyst's checks of a log: which event digests are checkable and how, the PCR values a TPM
// reports in both text forms, and the health report of built logs, hostile records included.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "cli/tcg_log_health.h"
#include "cli/tcg_log_reader.h"
#include "cli/tcg_log_verify.h"
#include "decode/description.h"
#include "decode/guid.h"
#include "digest/digest.h"
#include "tcglog/tcg_log_builder.h"

namespace {

using namespace qorvex::host;
namespace tools = qorvex::tools;
using Bytes = std::vector<std::uint8_t>;
using tools::TcgEvent;
using tools::TcgLogBuilder;

constexpr std::uint32_t kEvEfiVariableBoot = 0x80000002;
constexpr std::uint32_t kEvEfiVariableDriverConfig = 0x80000001;
constexpr std::uint32_t kEvEfiPlatformFirmwareBlob = 0x80000008;

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::vector<DigestVerdict> Verdicts(const Bytes& log) {
    std::vector<DigestVerdict> verdicts;
    ForEachEvent(log, [&](const EventRecord& event) {
        verdicts.push_back(CheckEventDigests(event).verdict);
    });
    return verdicts;
}

const std::uint8_t kGlobalVariable[16] = {0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11,
                                          0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c};

TEST(EventDigests, EachTypeIsCheckedByItsOwnRule) {
    const Bytes bootOption = Text("boot option bytes");
    TcgEvent bootVariable =
        tools::EfiVariable(1, kEvEfiVariableBoot, kGlobalVariable, u"Boot0001", bootOption);
    // Firmware that measures the variable's data alone.
    bootVariable.digests =
        std::vector<tools::EventDigest>{{tools::tcg::kAlgSha1, tools::Sha1(bootOption)},
                                        {tools::tcg::kAlgSha256, tools::Sha256(bootOption)}};
    TcgEvent wrongAction = tools::EfiAction(4, "Calling EFI Application from Boot Option");
    wrongAction.digests = std::vector<tools::EventDigest>{
        {tools::tcg::kAlgSha1, tools::Sha1(Text("another action"))},
        {tools::tcg::kAlgSha256, tools::Sha256(Text("another action"))}};
    TcgEvent retyped = tools::EfiAction(4, "Exit Boot Services Invocation");
    retyped.type = 4;  // EV_SEPARATOR: its digest is of text, no separator's value
    TcgEvent windowsSeparator = tools::Separator(12);
    windowsSeparator.data = Text("WBCL");

    struct Case {
        const char* what;
        TcgEvent event;
        DigestVerdict verdict;
    } cases[] = {
        {"separator", tools::Separator(0), DigestVerdict::Verified},
        {"error separator", tools::Separator(7, 0xFFFFFFFF), DigestVerdict::Verified},
        {"Windows separator with its own data", windowsSeparator, DigestVerdict::Verified},
        {"action", tools::EfiAction(4, "Returning from EFI Application"), DigestVerdict::Verified},
        {"action whose digest is of other text", wrongAction, DigestVerdict::Mismatched},
        {"event retyped as a separator", retyped, DigestVerdict::Mismatched},
        {"boot variable, whole",
         tools::EfiVariable(1, kEvEfiVariableBoot, kGlobalVariable, u"BootOrder", Bytes{1, 0}),
         DigestVerdict::Verified},
        {"boot variable, its data alone", bootVariable, DigestVerdict::Verified},
        {"Secure Boot variable",
         tools::EfiVariable(7, kEvEfiVariableDriverConfig, kGlobalVariable, u"SecureBoot",
                            Bytes{1}),
         DigestVerdict::Verified},
        {"Windows tagged event", tools::EventTag(12, tools::SipaU32(0x00020002, 7)),
         DigestVerdict::Verified},
        {"firmware blob (digest of code)", tools::EfiPlatformFirmwareBlob(0, 0x1000, 0x100),
         DigestVerdict::NotCheckable},
        {"POST code", tools::PostCode("ACPI DATA"), DigestVerdict::NotCheckable},
        {"no action", tools::NoAction(0, Text("anything")), DigestVerdict::NotCheckable},
    };
    for (const auto& layout : {tools::LogLayout::Sha1, tools::LogLayout::CryptoAgile}) {
        for (const Case& c : cases) {
            const Bytes log = TcgLogBuilder::ForLayout(layout).Add(c.event).Build();
            const std::vector<DigestVerdict> verdicts = Verdicts(log);
            ASSERT_FALSE(verdicts.empty()) << c.what;
            EXPECT_EQ(verdicts.back(), c.verdict) << c.what;
        }
    }
    static_cast<void>(kEvEfiPlatformFirmwareBlob);
}

TEST(EventDigests, AMismatchNamesTheEventBankAndBothDigests) {
    TcgEvent changed = tools::EfiAction(4, "Returning from EFI Application");
    changed.digests = std::vector<tools::EventDigest>{
        {tools::tcg::kAlgSha1, tools::Sha1(Text("Returning from EFI Application"))},
        {tools::tcg::kAlgSha256, Bytes(32, 0xAB)}};
    const Bytes log =
        TcgLogBuilder::CryptoAgileLayout().Add({tools::Separator(0), changed}).Build();
    const LogDigestSummary summary = VerifyEventDigests(log);
    EXPECT_EQ(summary.mismatched, 1u);
    EXPECT_EQ(summary.verified, 1u);
    ASSERT_EQ(summary.mismatches.size(), 1u);  // the SHA-1 bank agrees
    const DigestMismatch& m = summary.mismatches[0];
    EXPECT_EQ(m.index, 2u);  // after the log's Spec ID header and the separator
    EXPECT_EQ(m.pcr, 4u);
    EXPECT_EQ(m.algorithm, tools::tcg::kAlgSha256);
    EXPECT_EQ(m.logged, Bytes(32, 0xAB));
    EXPECT_EQ(m.computed, tools::Sha256(Text("Returning from EFI Application")));
}

TEST(EventDigests, AnEventCutByTheEndOfTheLogIsNotCheckable) {
    Bytes log = TcgLogBuilder::Sha1Layout()
                    .Add({tools::Separator(0), tools::EfiAction(4, "Returning")})
                    .Build();
    log.resize(log.size() - 3);
    const LogDigestSummary summary = VerifyEventDigests(log);
    EXPECT_EQ(summary.verified, 1u);
    EXPECT_EQ(summary.notCheckable, 1u);
    EXPECT_EQ(summary.mismatched, 0u);
}

TEST(ExpectedPcrs, BothTextFormsAreReadAndBadTextSaysWhere) {
    const std::string zeros(64, '0');
    const std::string yaml = "  sha1:\n    0 : 0x" + std::string(40, 'A') +
                             "\n  sha256:\n    0 : 0x" + zeros + "\n    16: 0x" + zeros + "\n";
    const std::string json = "{\"logs\": [\n{\"file\": \"x\", \"pcrs\": {\"sha1\": {\"0\": \"" +
                             std::string(40, 'a') + "\"}, \"sha256\": {\"0\": \"" + zeros +
                             "\", \"16\": \"" + zeros + "\"}, \"sm3_256\": null}}\n]}\n";
    for (const std::string& text : {yaml, json}) {
        PcrValues values;
        ASSERT_EQ(ParseExpectedPcrs(text, values), "") << text;
        ASSERT_EQ(values.size(), 2u);
        EXPECT_EQ(values[tools::tcg::kAlgSha1][0], Bytes(20, 0xAA));
        EXPECT_EQ(values[tools::tcg::kAlgSha256].size(), 2u);
    }
    struct Bad {
        std::string text;
        std::string error;
    } bad[] = {
        {"", "it holds no PCR values"},
        {"  md5:\n", "line 1 names the bank 'md5', which this build does not know"},
        {"    0 : 0x00\n", "line 1 is not a PCR value of a bank"},
        {"  sha1:\n    0 : 0xZZ\n", "line 2 is not a PCR value of a bank"},
        {"{\"logs\": []}", "it holds no \"pcrs\" member (use --pcrs --json)"},
        {"{\"pcrs\": {}, \"pcrs\": {}}",
         "it holds the PCRs of more than one log; give the values of one"},
        {"{\"pcrs\": {\"sha1\": {\"0\": 5}}}", "a PCR of its \"pcrs\" member is malformed"},
        {"{\"pcrs\": {\"sha1\": {\"0\": \"0\"", "a PCR of its \"pcrs\" member is malformed"},
    };
    for (const Bad& b : bad) {
        PcrValues values;
        EXPECT_EQ(ParseExpectedPcrs(b.text, values), b.error) << b.text;
    }
}

TEST(ExpectedPcrs, EachPcrIsMatchedMismatchedOrListedOnItsSide) {
    const Bytes log =
        TcgLogBuilder::CryptoAgileLayout().Add({tools::Separator(0), tools::Separator(7)}).Build();
    const TcgLogReport report = ReadTcgLogReport("log", log, true);
    const PcrBank& sha256 = report.banks[1];
    PcrValues values;
    values[tools::tcg::kAlgSha256][0] = sha256.values.at(0);
    values[tools::tcg::kAlgSha256][7] = Bytes(32, 0x01);
    values[tools::tcg::kAlgSha256][17] = Bytes(32, 0xFF);
    const PcrExpectation result = ComparePcrs(report, values);
    EXPECT_EQ(result.matched, 1u);
    EXPECT_EQ(result.mismatched, 1u);
    EXPECT_FALSE(result.Passed());
    using Outcome = PcrComparison::Outcome;
    std::vector<std::tuple<std::uint16_t, std::uint32_t, Outcome, bool>> seen;
    for (const PcrComparison& c : result.comparisons)
        seen.emplace_back(c.algorithm, c.pcr, c.outcome, c.atResetValue);
    const std::vector<std::tuple<std::uint16_t, std::uint32_t, Outcome, bool>> expected = {
        {tools::tcg::kAlgSha1, 0, Outcome::NotInValues, false},
        {tools::tcg::kAlgSha1, 7, Outcome::NotInValues, false},
        {tools::tcg::kAlgSha256, 0, Outcome::Match, false},
        {tools::tcg::kAlgSha256, 7, Outcome::Mismatch, false},
        {tools::tcg::kAlgSha256, 17, Outcome::NotInLog, true},
    };
    EXPECT_EQ(seen, expected);

    PcrValues unrelated;
    unrelated[tools::tcg::kAlgSha256][10] = Bytes(32, 0x00);
    EXPECT_TRUE(ComparePcrs(report, unrelated).nothingCompared());
    EXPECT_FALSE(ComparePcrs(report, unrelated).Passed());
}

std::string HealthJson(const Bytes& log) {
    const TcgLogReport report = ReadTcgLogReport("log", log, false);
    std::string json;
    qorvex::decode::AppendJson(json, DescribeHealth(report));
    return json;
}

TEST(Health, FieldsKeepTheirOriginAndTheSummaryTheLeastSecureValue) {
    const Bytes log =
        TcgLogBuilder::CryptoAgileLayout()
            .Add({tools::EfiVariable(7, kEvEfiVariableDriverConfig, kGlobalVariable, u"SecureBoot",
                                     Bytes{1}),
                  tools::EfiAction(7, "DMA Protection Disabled"),
                  tools::EventTag(12, tools::SipaTrustBoundary({tools::SipaU32(0x00020002, 9),
                                                                tools::SipaU8(0x00050003, 0),
                                                                tools::SipaU8(0x00050004, 0)})),
                  tools::EventTag(
                      12, tools::SipaTrustBoundary({tools::SipaU8(0x00050003, 1),
                                                    tools::SipaU8(0x00050004, 2),
                                                    tools::SipaLoadedModule(u"\\a.sys", 10, 0)}))})
            .Build();
    const std::string json = HealthJson(log);
    for (const std::string& part : {
             std::string(
                 "\"bootCounter\": [{\"value\": 9, \"pcr\": 12, \"event\": 3, \"phase\": 1}]"),
             std::string(
                 "\"testSigning\": [{\"value\": 0, \"pcr\": 12, \"event\": 3, \"phase\": 1}, "
                 "{\"value\": 1, \"pcr\": 12, \"event\": 4, \"phase\": 2}]"),
             std::string("\"osKernelDebug\": \"absent\""),
             std::string("\"testSigning\": {\"value\": \"on\", \"pcr\": 12, \"event\": 4"),
             std::string(
                 "\"dataExecutionPrevention\": {\"value\": \"off\", \"pcr\": 12, \"event\": 4"),
             std::string("\"codeIntegrity\": \"absent\""),
             std::string("\"loadedModuleCount\": 1"),
             std::string("\"path\": \"\\\\a.sys\""),
             std::string("\"secureBoot\": [{\"value\": \"on\", \"pcr\": 7, \"event\": 1"),
             std::string("\"action\": \"DMA Protection Disabled\", \"weakens\": true"),
             std::string("\"secureBootWeakened\": true"),
         }) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\nin " << json;
    }
}

TEST(Health, RecordsWhoseSizesLieAreShownAsBytes) {
    // A revocation list and a code integrity policy whose inner sizes claim more than they hold.
    tools::ByteWriter revocation;
    revocation.U64(0).U32(0xFFFFFFF0).U16(0x000B).Fill(4, 0xEE);
    tools::ByteWriter policy;
    policy.U64(0).U16(0xFFFF).U16(0x000B).U32(32).Fill(6, 0x41);
    const Bytes log =
        TcgLogBuilder::CryptoAgileLayout()
            .Add(tools::EventTag(
                13, tools::SipaTrustBoundary({tools::Sipa(0x00050013, revocation.bytes()),
                                              tools::Sipa(0x0005000F, policy.bytes()),
                                              tools::Sipa(0x00050013, Bytes{1, 2})})))
            .Build();
    const std::string json = HealthJson(log);
    EXPECT_NE(
        json.find("\"osRevocationList\": [{\"value\": \"0000000000000000f0ffffff0b00eeeeeeee\""),
        std::string::npos)
        << json;
    EXPECT_NE(
        json.find("\"siPolicy\": [{\"value\": \"0000000000000000ffff0b0020000000414141414141\""),
        std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"value\": \"0102\""), std::string::npos) << json;
}

}  // namespace

namespace {

// The loaded modules are written straight to the output, not through their tree: both forms
// must say exactly what the tree says, for real records and odd ones.
TEST(Health, LoadedModulesWrittenDirectlyReadAsTheirTree) {
    std::vector<Bytes> logs;
    const std::string sample =
        std::string(QORVEX_SHARED_DIR) + "/samples/windows-tpm2-dell-latitude7520-sha256.log";
    if (FILE* file = std::fopen(sample.c_str(), "rb")) {
        Bytes bytes;
        for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(file);
        logs.push_back(std::move(bytes));
    }
    tools::LoadedModule odd;
    odd.path = u"\\odd\tname\u00e9.sys";
    odd.imageSize = 1;
    odd.imageBase = 2;
    logs.push_back(
        TcgLogBuilder::CryptoAgileLayout()
            .Add(tools::EventTag(
                13, tools::SipaContainer(
                        0x40010003, {tools::SipaLoadedModule(odd), tools::Sipa(0x0007000A, Bytes{}),
                                     tools::Sipa(0x00070003, Bytes(9, 0x01)),
                                     tools::Sipa(0x00070004, Bytes(80, 0x5A))})))
            .Add(tools::EventTag(13, tools::SipaContainer(0x40010003, {})))
            .Build());
    for (const Bytes& log : logs) {
        const TcgLogReport report = ReadTcgLogReport("log", log, false);
        std::string json;
        std::string text;
        DescribeHealth(report, [&](const SipaRecord& module) {
            if (!json.empty()) json += ", ";
            AppendLoadedModuleJson(json, module);
            AppendLoadedModuleText(text, module, 4);
        });
        const qorvex::decode::Node tree = DescribeHealth(report);
        const qorvex::decode::Node* modules = tree.Find("loadedModules");
        ASSERT_NE(modules, nullptr);
        ASSERT_FALSE(modules->children().empty());
        std::string treeJson;
        qorvex::decode::AppendJson(treeJson, *modules);
        EXPECT_EQ("[" + json + "]", treeJson);
        std::string treeText;
        qorvex::decode::AppendText(treeText, *modules, 4);
        EXPECT_EQ(text, treeText);
    }
}

}  // namespace
