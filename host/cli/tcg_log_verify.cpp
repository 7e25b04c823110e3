#include "cli/tcg_log_verify.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "decode/efi_variable.h"
#include "decode/event_types.h"
#include "digest/digest.h"

namespace qorvex::host {

namespace {

enum class DigestRule : std::uint8_t {
    None,
    EventData,
    EventOrVariableData,
};

DigestRule RuleOf(std::uint32_t type) noexcept {
    switch (type) {
        case decode::kEvSeparator:
        case decode::kEvAction:
        case decode::kEvEfiAction:
        case decode::kEvOmitBootDeviceEvents:
        case decode::kEvEventTag:
        case decode::kEvEfiVariableDriverConfig:
        case decode::kEvEfiVariableBoot2:
        case decode::kEvEfiVariableAuthority:
        case decode::kEvEfiSpdmDevicePolicy:
        case decode::kEvEfiSpdmDeviceAuthority:
        case decode::kEvEfiGptEvent:
        case decode::kEvEfiGptEvent2:
            return DigestRule::EventData;
        case decode::kEvEfiVariableBoot:
            return DigestRule::EventOrVariableData;
        default:
            return DigestRule::None;
    }
}

// The firmware's separators (PCRs 0 to 7) hold a separator value: 0x00000000, or 0xFFFFFFFF for
// an error; some firmware writes one byte of it. Windows' separators of PCRs 12 to 14 hold
// other data.
bool HoldsNoSeparatorValue(const TcgEventView& view) {
    if (view.eventType != decode::kEvSeparator || view.pcrIndex > 7) return false;
    const auto all = [&](std::uint8_t value) {
        return std::all_of(view.data.begin(), view.data.end(),
                           [&](std::uint8_t b) { return b == value; });
    };
    return view.data.empty() || view.data.size() > 4 || !(all(0x00) || all(0xFF));
}

std::optional<std::uint16_t> AlgorithmByName(std::string_view name) {
    for (const digest::Algorithm algorithm :
         {digest::Algorithm::Sha1, digest::Algorithm::Sha256, digest::Algorithm::Sha384,
          digest::Algorithm::Sha512, digest::Algorithm::Sm3_256}) {
        const std::uint16_t id = digest::TpmAlgorithm(algorithm);
        if (digest::TpmAlgorithmName(id) == name) return id;
    }
    return std::nullopt;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool IsDecimal(std::string_view text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

// tpm2_pcrread: bank lines "  sha256:" and PCR lines "    0 : 0x3D45...".
std::string ParsePcrreadYaml(std::string_view text, PcrValues& values) {
    std::optional<std::uint16_t> bank;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return "line " + std::to_string(lineNumber) + " is neither a bank nor a PCR";
        const std::string_view key = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (value.empty()) {
            bank = AlgorithmByName(key);
            if (!bank) {
                return "line " + std::to_string(lineNumber) + " names the bank '" +
                       std::string(key) + "', which this build does not know";
            }
            values[*bank];
            continue;
        }
        std::vector<std::uint8_t> bytes;
        if (!bank || !IsDecimal(key) || !ParseHexBytes(value, bytes) || bytes.empty())
            return "line " + std::to_string(lineNumber) + " is not a PCR value of a bank";
        values[*bank][static_cast<std::uint32_t>(std::stoul(std::string(key)))] = std::move(bytes);
    }
    return {};
}

// Just enough JSON for the "pcrs" member of a --pcrs --json document: {"sha1": {"0": "hex"},
// "sm3_256": null}.
class PcrsJsonReader {
public:
    explicit PcrsJsonReader(std::string_view text) : m_text(text) {}

    std::string Read(PcrValues& values) {
        if (!Expect('{')) return "its \"pcrs\" member is not an object";
        if (Peek() == '}') return {};
        for (;;) {
            std::string bankName;
            if (!String(bankName) || !Expect(':')) return "its \"pcrs\" member is malformed";
            if (Peek() == 'n' && m_text.substr(m_pos, 4) == "null") {
                m_pos += 4;  // a bank the replay could not compute
            } else {
                const std::optional<std::uint16_t> bank = AlgorithmByName(bankName);
                if (!bank) return "it names the bank '" + bankName + "', which this build lacks";
                if (std::string error = Bank(values[*bank]); !error.empty()) return error;
            }
            if (Expect(',')) continue;
            if (Expect('}')) return {};
            return "its \"pcrs\" member is malformed";
        }
    }

private:
    std::string Bank(std::map<std::uint32_t, std::vector<std::uint8_t>>& bank) {
        if (!Expect('{')) return "a bank of its \"pcrs\" member is not an object";
        if (Expect('}')) return {};
        for (;;) {
            std::string pcr;
            std::string hex;
            std::vector<std::uint8_t> bytes;
            if (!String(pcr) || !Expect(':') || !String(hex) || !IsDecimal(pcr) ||
                !ParseHexBytes(hex, bytes) || bytes.empty()) {
                return "a PCR of its \"pcrs\" member is malformed";
            }
            bank[static_cast<std::uint32_t>(std::stoul(pcr))] = std::move(bytes);
            if (Expect(',')) continue;
            if (Expect('}')) return {};
            return "a bank of its \"pcrs\" member is malformed";
        }
    }
    char Peek() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }
    bool Expect(char c) {
        if (Peek() != c) return false;
        ++m_pos;
        return true;
    }
    // Bank names, PCR numbers and hex never need escapes; a string with one is refused.
    bool String(std::string& out) {
        if (!Expect('"')) return false;
        const std::size_t end = m_text.find('"', m_pos);
        if (end == std::string_view::npos) return false;
        out.assign(m_text.substr(m_pos, end - m_pos));
        m_pos = end + 1;
        return out.find('\\') == std::string::npos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

std::string ParsePcrsJson(std::string_view text, PcrValues& values) {
    constexpr std::string_view kMember = "\"pcrs\"";
    const std::size_t first = text.find(kMember);
    if (first == std::string_view::npos) return "it holds no \"pcrs\" member (use --pcrs --json)";
    if (text.find(kMember, first + 1) != std::string_view::npos)
        return "it holds the PCRs of more than one log; give the values of one";
    std::string_view rest = text.substr(first + kMember.size());
    rest = Trim(rest);
    if (rest.empty() || rest.front() != ':') return "its \"pcrs\" member is malformed";
    return PcrsJsonReader(rest.substr(1)).Read(values);
}

std::vector<std::uint8_t> ResetValue(std::uint32_t pcr, std::size_t size) {
    return std::vector<std::uint8_t>(size, pcr >= 17 && pcr <= 22 ? 0xFF : 0x00);
}

}  // namespace

const char* DigestVerdictName(DigestVerdict verdict) noexcept {
    switch (verdict) {
        case DigestVerdict::Verified:
            return "verified";
        case DigestVerdict::Mismatched:
            return "mismatched";
        case DigestVerdict::NotCheckable:
            return "not checkable";
    }
    return "not checkable";
}

EventDigestCheck CheckEventDigests(const EventRecord& event) {
    EventDigestCheck check;
    const TcgEventView& view = event.view;
    const DigestRule rule = RuleOf(view.eventType);
    if (rule == DigestRule::None || !view.complete) return check;

    std::span<const std::uint8_t> variableData;
    bool hasVariableData = false;
    if (rule == DigestRule::EventOrVariableData) {
        const decode::UefiVariableEvent variables = decode::DecodeUefiVariableEvent(view.data);
        if (variables.variables.size() == 1 && !variables.variables[0].malformed) {
            variableData = variables.variables[0].data;
            hasVariableData = true;
        }
    }

    const bool notASeparator = HoldsNoSeparatorValue(view);
    bool anyMismatch = false;
    bool allVariableData = true;
    for (const EventDigest& logged : event.digests) {
        const std::optional<digest::Algorithm> algorithm =
            digest::FromTpmAlgorithm(logged.algorithm);
        if (!algorithm || digest::DigestSize(*algorithm) != logged.value.size()) continue;
        BankDigestCheck bank;
        bank.algorithm = logged.algorithm;
        bank.logged.assign(logged.value.begin(), logged.value.end());
        bank.computed = digest::Hash(*algorithm, view.data);
        bank.matches = bank.computed == bank.logged;
        if (bank.matches && notASeparator) {
            // An event retyped as a separator: its digest is of its data, which no separator
            // of the firmware holds; a separator's would be of the value 0x00000000.
            static constexpr std::uint8_t kSeparatorValue[4] = {};
            bank.computed = digest::Hash(*algorithm, kSeparatorValue);
            bank.matches = false;
        }
        if (bank.matches) {
            allVariableData = false;
        } else if (hasVariableData) {
            std::vector<std::uint8_t> ofVariable = digest::Hash(*algorithm, variableData);
            if (ofVariable == bank.logged) {
                bank.computed = std::move(ofVariable);
                bank.matches = true;
            }
        }
        anyMismatch = anyMismatch || !bank.matches;
        check.banks.push_back(std::move(bank));
    }
    if (check.banks.empty()) return check;
    check.verdict = anyMismatch ? DigestVerdict::Mismatched : DigestVerdict::Verified;
    check.covers =
        !anyMismatch && hasVariableData && allVariableData ? "variable data" : "event data";
    return check;
}

LogDigestSummary VerifyEventDigests(std::span<const std::uint8_t> log) {
    LogDigestSummary summary;
    ForEachEvent(log, [&](const EventRecord& event) {
        EventDigestCheck check = CheckEventDigests(event);
        switch (check.verdict) {
            case DigestVerdict::Verified:
                ++summary.verified;
                return;
            case DigestVerdict::NotCheckable:
                ++summary.notCheckable;
                return;
            case DigestVerdict::Mismatched:
                ++summary.mismatched;
                break;
        }
        for (BankDigestCheck& bank : check.banks) {
            if (bank.matches) continue;
            summary.mismatches.push_back({event.view.index, event.view.pcrIndex,
                                          event.view.eventType, bank.algorithm,
                                          std::move(bank.logged), std::move(bank.computed)});
        }
    });
    return summary;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
    text = Trim(text);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    bytes.clear();
    int high = -1;
    for (const char c : text) {
        int nibble;
        if (c >= '0' && c <= '9') {
            nibble = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            nibble = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            nibble = c - 'A' + 10;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            continue;
        } else {
            return false;
        }
        if (high < 0) {
            high = nibble;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    return high < 0;
}

std::string ParseExpectedPcrs(std::string_view text, PcrValues& values) {
    values.clear();
    const std::string_view trimmed = Trim(text);
    std::string error = !trimmed.empty() && trimmed.front() == '{' ? ParsePcrsJson(text, values)
                                                                   : ParsePcrreadYaml(text, values);
    if (error.empty() && values.empty()) error = "it holds no PCR values";
    return error;
}

const char* PcrOutcomeName(PcrComparison::Outcome outcome) noexcept {
    switch (outcome) {
        case PcrComparison::Outcome::Match:
            return "match";
        case PcrComparison::Outcome::Mismatch:
            return "mismatch";
        case PcrComparison::Outcome::NotInValues:
            return "not in the values";
        case PcrComparison::Outcome::NotInLog:
            return "not extended by the log";
        case PcrComparison::Outcome::NotReplayed:
            return "not replayed";
    }
    return "mismatch";
}

PcrExpectation ComparePcrs(const TcgLogReport& report, const PcrValues& values) {
    PcrExpectation result;
    using Outcome = PcrComparison::Outcome;
    for (const PcrBank& bank : report.banks) {
        const auto expectedBank = values.find(bank.algorithm);
        if (!bank.supported) {
            if (expectedBank == values.end()) continue;
            for (const auto& [pcr, value] : expectedBank->second)
                result.comparisons.push_back(
                    {bank.algorithm, pcr, Outcome::NotReplayed, {}, value});
            continue;
        }
        // Each bank's PCRs in ascending order, whichever side holds them.
        std::map<std::uint32_t, PcrComparison> byPcr;
        for (const auto& [pcr, replayed] : bank.values) {
            PcrComparison comparison{bank.algorithm, pcr, Outcome::NotInValues, replayed, {}};
            if (expectedBank != values.end()) {
                if (const auto found = expectedBank->second.find(pcr);
                    found != expectedBank->second.end()) {
                    comparison.expected = found->second;
                    comparison.outcome =
                        found->second == replayed ? Outcome::Match : Outcome::Mismatch;
                    ++(comparison.outcome == Outcome::Match ? result.matched : result.mismatched);
                }
            }
            byPcr.emplace(pcr, std::move(comparison));
        }
        if (expectedBank != values.end()) {
            for (const auto& [pcr, value] : expectedBank->second) {
                if (bank.values.count(pcr) != 0) continue;
                PcrComparison comparison{bank.algorithm, pcr, Outcome::NotInLog, {}, value};
                comparison.atResetValue = value == ResetValue(pcr, value.size());
                byPcr.emplace(pcr, std::move(comparison));
            }
        }
        for (auto& entry : byPcr) result.comparisons.push_back(std::move(entry.second));
    }
    return result;
}

}  // namespace qorvex::host
