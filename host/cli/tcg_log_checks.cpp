// The views of `tcg-log` that judge a log rather than show it: --verify (event digests, and
// with --expect-pcrs and --quote the replay against a TPM's PCRs and quote) and --health (the
// Windows health report and the Secure Boot state, cli/tcg_log_health.h). Like the listing
// views they read the files themselves and never load the module.
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "cli/log_file.h"
#include "cli/output.h"
#include "cli/tcg_log_document.h"
#include "cli/tcg_log_health.h"
#include "cli/tcg_log_names.h"
#include "cli/tcg_log_quote.h"
#include "cli/tcg_log_reader.h"
#include "cli/tcg_log_verify.h"
#include "cli/tcg_log_writers.h"
#include "decode/description.h"

namespace qorvex::host {

namespace {

// What --expect-pcrs and --quote compare against, read once before the logs.
struct Expectations {
    std::optional<PcrValues> pcrs;
    std::optional<QuoteInputs> quote;
};

struct Verification {
    LogDigestSummary digests;
    std::optional<PcrExpectation> pcrs;
    std::optional<crypto::QuoteReport> quote;

    bool Passed() const {
        return digests.mismatched == 0 && (!pcrs || pcrs->Passed()) &&
               (!quote || quote->Verified());
    }
};

int ReaderExitCode(const TcgLogReport& report) {
    if (!report.error.empty()) return kExitCannotRun;
    if (!report.notALog.empty()) return kExitNotALog;
    if (report.walk.end != TcgLogEnd::Complete) return kExitIncompleteLog;
    return kExitSuccess;
}

void Warn(std::ostream& err, const TcgLogReport& report) {
    if (!report.error.empty()) {
        err << "qorvex-host: " << report.error << '\n';
    } else if (!report.notALog.empty()) {
        err << "qorvex-host: " << report.file << ": not a TCG event log: " << report.notALog
            << '\n';
    } else if (report.walk.end != TcgLogEnd::Complete) {
        err << "qorvex-host: " << report.file << ": " << EndName(report.walk.end) << ": "
            << EndReason(report) << '\n';
    }
}

std::string ReadExpectations(const TcgLogCheckArguments& checks, Expectations& expectations) {
    if (!checks.expectPcrs.empty()) {
        LogFileContents contents;
        if (std::string error = ReadLogFile(checks.expectPcrs, contents); !error.empty()) {
            const std::string logFile = "log file ";
            if (const std::size_t at = error.find(logFile); at != std::string::npos)
                error.replace(at, logFile.size(), "PCR values ");
            return error;
        }
        const std::string text(contents.bytes.begin(), contents.bytes.end());
        PcrValues values;
        if (std::string error = ParseExpectedPcrs(text, values); !error.empty())
            return "the PCR values " + LogFileDisplayName(checks.expectPcrs) + ": " + error;
        expectations.pcrs = std::move(values);
    }
    if (!checks.quote.empty()) {
        QuoteInputs inputs;
        if (std::string error = ReadQuoteInputs(
                {checks.quote, checks.signature, checks.akPublic, checks.nonce}, inputs);
            !error.empty()) {
            return error;
        }
        expectations.quote = std::move(inputs);
    }
    return {};
}

Verification Verify(const TcgLogReport& report, const Expectations& expectations) {
    Verification verification;
    verification.digests = VerifyEventDigests(report.bytes);
    if (expectations.pcrs) verification.pcrs = ComparePcrs(report, *expectations.pcrs);
    if (expectations.quote) verification.quote = VerifyLogQuote(report, *expectations.quote);
    return verification;
}

std::string PcrText(std::uint32_t pcr) {
    return PcrIndexText(pcr);
}

void WriteVerificationText(Output& out, const TcgLogCheckArguments& checks, const Verification& v) {
    const LogDigestSummary& d = v.digests;
    out << "event digests: " << d.verified << " verified, " << d.mismatched << " mismatched, "
        << d.notCheckable << " not checkable\n";
    for (const DigestMismatch& m : d.mismatches) {
        out << "  mismatch: event #" << m.index << " PCR " << PcrText(m.pcr) << ' '
            << TcgEventTypeName(m.type) << ' ' << DigestName(m.algorithm) << " logged "
            << HexBytes{m.logged} << " computed " << HexBytes{m.computed} << '\n';
    }
    if (v.pcrs) {
        out << "expected PCRs " << LogFileDisplayName(checks.expectPcrs) << ": " << v.pcrs->matched
            << " match, " << v.pcrs->mismatched << " mismatch";
        if (v.pcrs->nothingCompared()) out << " (no PCR of the log is in the values)";
        out << '\n';
        for (const PcrComparison& c : v.pcrs->comparisons) {
            out << "  " << DigestName(c.algorithm) << ' ' << PcrText(c.pcr) << ' '
                << PcrOutcomeName(c.outcome);
            switch (c.outcome) {
                case PcrComparison::Outcome::Match:
                case PcrComparison::Outcome::NotInValues:
                    out << ' ' << HexBytes{c.replayed};
                    break;
                case PcrComparison::Outcome::Mismatch:
                    out << ": replayed " << HexBytes{c.replayed} << " expected "
                        << HexBytes{c.expected};
                    break;
                case PcrComparison::Outcome::NotInLog:
                    out << ' ' << HexBytes{c.expected}
                        << (c.atResetValue ? " (its reset value)"
                                           : " (extended by something this log does not show)");
                    break;
                case PcrComparison::Outcome::NotReplayed:
                    out << " (this build cannot hash the bank)";
                    break;
            }
            out << '\n';
        }
    }
    if (v.quote) {
        out << "quote: " << (v.quote->Verified() ? "verified" : "refused") << '\n';
        for (const crypto::QuoteCheck& check : v.quote->checks) {
            out << "  " << check.name << ": " << crypto::CheckResultName(check.result) << ": "
                << check.reason << '\n';
        }
    }
    out << "verification: " << (v.Passed() ? "passed" : "failed") << '\n';
}

void WriteVerificationJson(Output& out, const TcgLogCheckArguments& checks, const Verification& v) {
    const LogDigestSummary& d = v.digests;
    out << ", \"verification\": {\"passed\": " << (v.Passed() ? "true" : "false")
        << ", \"eventDigests\": {\"verified\": " << d.verified
        << ", \"mismatched\": " << d.mismatched << ", \"notCheckable\": " << d.notCheckable
        << ", \"mismatches\": [";
    for (std::size_t i = 0; i < d.mismatches.size(); ++i) {
        const DigestMismatch& m = d.mismatches[i];
        out << (i != 0 ? ", " : "") << "{\"index\": " << m.index << ", \"pcr\": " << m.pcr
            << ", \"type\": " << JsonText{TcgEventTypeName(m.type)} << ", \"typeValue\": " << m.type
            << ", \"bank\": \"" << DigestName(m.algorithm) << "\", \"logged\": \""
            << HexBytes{m.logged} << "\", \"computed\": \"" << HexBytes{m.computed} << "\"}";
    }
    out << "]}";
    if (v.pcrs) {
        out << ", \"expectedPcrs\": {\"file\": " << JsonText{checks.expectPcrs}
            << ", \"passed\": " << (v.pcrs->Passed() ? "true" : "false")
            << ", \"matched\": " << v.pcrs->matched << ", \"mismatched\": " << v.pcrs->mismatched
            << ", \"pcrs\": [";
        for (std::size_t i = 0; i < v.pcrs->comparisons.size(); ++i) {
            const PcrComparison& c = v.pcrs->comparisons[i];
            out << (i != 0 ? ", " : "") << "{\"bank\": \"" << DigestName(c.algorithm)
                << "\", \"pcr\": " << c.pcr << ", \"outcome\": \"" << PcrOutcomeName(c.outcome)
                << '"';
            if (!c.replayed.empty()) out << ", \"replayed\": \"" << HexBytes{c.replayed} << '"';
            if (!c.expected.empty()) out << ", \"expected\": \"" << HexBytes{c.expected} << '"';
            if (c.outcome == PcrComparison::Outcome::NotInLog)
                out << ", \"resetValue\": " << (c.atResetValue ? "true" : "false");
            out << '}';
        }
        out << "]}";
    }
    if (v.quote) {
        out << ", \"quote\": {\"verified\": " << (v.quote->Verified() ? "true" : "false")
            << ", \"checks\": [";
        for (std::size_t i = 0; i < v.quote->checks.size(); ++i) {
            const crypto::QuoteCheck& check = v.quote->checks[i];
            out << (i != 0 ? ", " : "") << "{\"name\": " << JsonText{check.name}
                << ", \"result\": \"" << crypto::CheckResultName(check.result)
                << "\", \"reason\": " << JsonText{check.reason} << '}';
        }
        out << "]}";
    }
    out << '}';
}

// The loaded modules are written as the walk reads them, first, and the rest of the report after
// the walk: a log of many boots holds more modules than the process should keep.
void WriteHealth(Output& out, bool json, const TcgLogReport& report) {
    std::string text;
    bool firstModule = true;
    out << (json ? ", \"health\": {\"loadedModules\": [" : "health:\n  loadedModules:\n");
    const decode::Node health = DescribeHealth(report, [&](const SipaRecord& module) {
        text.clear();
        if (json) {
            if (!firstModule) text += ", ";
            AppendLoadedModuleJson(text, module);
        } else {
            AppendLoadedModuleText(text, module, 4);
        }
        firstModule = false;
        out << text;
    });
    text.clear();
    if (json) {
        decode::AppendJson(text, health);
        // The report's own members follow the modules in the same object.
        out << "], " << std::string_view(text).substr(1);
    } else {
        if (firstModule) out << "    []\n";
        decode::AppendText(text, health, 2);
        out << text;
    }
}

// The checks as members of a log's JSON document (--jsonl, cli/tcg_log_document.h).
class VerificationMember final : public LogDocumentMember {
public:
    VerificationMember(const TcgLogCheckArguments& checks, Expectations expectations)
        : m_checks(checks), m_expectations(std::move(expectations)) {}
    bool NeedsReplay() const noexcept override { return true; }
    void WriteJson(Output& out, const TcgLogReport& report) override {
        const Verification verification = Verify(report, m_expectations);
        m_lastExitCode = verification.Passed() ? kExitSuccess : kExitMismatch;
        WriteVerificationJson(out, m_checks, verification);
    }
    int LastExitCode() const noexcept override { return m_lastExitCode; }

private:
    TcgLogCheckArguments m_checks;
    Expectations m_expectations;
    int m_lastExitCode = kExitSuccess;
};

class HealthMember final : public LogDocumentMember {
public:
    void WriteJson(Output& out, const TcgLogReport& report) override {
        WriteHealth(out, true, report);
    }
};

}  // namespace

bool TakeTcgLogCheckArgument(const std::vector<std::string>& args, std::size_t& i,
                             TcgLogCheckArguments& checks, std::string& error) {
    const std::string& arg = args[i];
    if (arg == "--verify") {
        checks.verify = true;
        return true;
    }
    if (arg == "--health") {
        checks.health = true;
        return true;
    }
    struct Valued {
        const char* option;
        std::string TcgLogCheckArguments::*value;
        const char* what;
    };
    static const Valued kValued[] = {
        {"--expect-pcrs", &TcgLogCheckArguments::expectPcrs, "a file of PCR values"},
        {"--quote", &TcgLogCheckArguments::quote, "a quote file (tpm2_quote -m)"},
        {"--signature", &TcgLogCheckArguments::signature, "a signature file (tpm2_quote -s)"},
        {"--ak-public", &TcgLogCheckArguments::akPublic, "the AK's public key file"},
        {"--nonce", &TcgLogCheckArguments::nonce, "hex digits"},
    };
    for (const Valued& valued : kValued) {
        const std::string option = valued.option;
        std::string value;
        if (arg == option) {
            if (i + 1 >= args.size()) {
                error = option + " needs " + valued.what;
                return true;
            }
            value = args[++i];
        } else if (arg.rfind(option + '=', 0) == 0) {
            value = arg.substr(option.size() + 1);
        } else {
            continue;
        }
        if (value.empty()) error = option + " needs " + valued.what;
        checks.*valued.value = value;
        if (valued.value != &TcgLogCheckArguments::nonce &&
            valued.value != &TcgLogCheckArguments::signature &&
            valued.value != &TcgLogCheckArguments::akPublic) {
            checks.verify = true;
        }
        return true;
    }
    return false;
}

std::string CheckTcgLogCheckArguments(const TcgLogCheckArguments& checks, bool pcrs, bool events,
                                      bool jsonl, std::size_t logFiles) {
    const bool quoteFiles =
        !checks.signature.empty() || !checks.akPublic.empty() || !checks.nonce.empty();
    if (quoteFiles && checks.quote.empty())
        return "--signature, --ak-public and --nonce belong to --quote";
    if (!checks.quote.empty() && (checks.signature.empty() || checks.akPublic.empty()))
        return "--quote needs --signature SIG and --ak-public KEY";
    if (!checks.Any()) return {};
    if (!jsonl && (pcrs || events || (checks.verify && checks.health))) {
        return "--pcrs, --events, --health and --verify (with --expect-pcrs, --quote) cannot be "
               "combined";
    }
    if (logFiles == 0)
        return std::string(checks.health ? "--health" : "--verify") +
               " needs log files (--log FILE)";
    if ((!checks.expectPcrs.empty() || !checks.quote.empty()) && logFiles != 1)
        return "--expect-pcrs and --quote check one log (--log FILE) against one TPM";
    return {};
}

std::string AddCheckMembers(const TcgLogCheckArguments& checks, LogDocumentMembers& members) {
    if (checks.verify) {
        Expectations expectations;
        if (std::string error = ReadExpectations(checks, expectations); !error.empty())
            return error;
        members.push_back(std::make_unique<VerificationMember>(checks, std::move(expectations)));
    }
    if (checks.health) members.push_back(std::make_unique<HealthMember>());
    return {};
}

int RunTcgLogChecks(const OutputContext& context, const TcgLogArguments& arguments) {
    const TcgLogCheckArguments& checks = arguments.checks;
    Expectations expectations;
    if (std::string error = ReadExpectations(checks, expectations); !error.empty())
        return ReportError(context, error, kExitCannotRun);

    int exitCode = kExitSuccess;
    {
        Output out(context.out);
        if (context.json) out << "{\"logs\": [";
        for (std::size_t i = 0; i < arguments.logFiles.size(); ++i) {
            const TcgLogReport report =
                ReadTcgLogReport(arguments.logFiles[i], /*replay=*/checks.verify);
            exitCode = WorseReaderExit(exitCode, ReaderExitCode(report));
            Warn(context.err, report);
            if (context.json) out << (i == 0 ? "\n" : ",\n");
            const bool isLog =
                context.json ? WriteLogSummaryJson(out, report) : WriteLogHeaderText(out, report);
            if (isLog && checks.verify) {
                const Verification verification = Verify(report, expectations);
                if (!verification.Passed()) exitCode = WorseReaderExit(exitCode, kExitMismatch);
                if (context.json) {
                    WriteVerificationJson(out, checks, verification);
                } else {
                    WriteVerificationText(out, checks, verification);
                }
            } else if (isLog) {
                WriteHealth(out, context.json, report);
            }
            if (context.json) {
                out << '}';
            } else if (isLog) {
                WriteLogEndText(out, report);
            }
        }
        if (context.json) out << "\n]}\n";
        out.Flush();
    }
    ThrowIfFailed(context.out);
    return exitCode;
}

}  // namespace qorvex::host
