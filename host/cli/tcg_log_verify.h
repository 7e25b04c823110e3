// Whether a log is what a TPM measured: each event's digests against its data, the replayed PCRs
// against the values a TPM reports (tpm2_pcrread's YAML, or our own --pcrs JSON), and a TPM quote
// against the replay (cli/tcg_log_quote.h).
//
// An event's digest is checkable only where the TCG PC Client firmware profile (or Windows, for
// its SIPA events) defines it as a hash of the event data or of a stated part of it:
//   EV_ACTION, EV_EFI_ACTION, EV_OMIT_BOOT_DEVICE_EVENTS, EV_EVENT_TAG,
//   EV_EFI_VARIABLE_DRIVER_CONFIG, EV_EFI_VARIABLE_BOOT2, EV_EFI_VARIABLE_AUTHORITY,
//   EV_EFI_SPDM_DEVICE_POLICY, EV_EFI_SPDM_DEVICE_AUTHORITY, EV_EFI_GPT_EVENT, EV_EFI_GPT_EVENT2:
//     the hash of the whole event data;
//   EV_EFI_VARIABLE_BOOT: the whole UEFI_VARIABLE_DATA, or, as much firmware measures it, the
//     variable's data alone; either matches;
//   EV_SEPARATOR: the hash of its data; in PCRs 0 to 7, where the firmware's separators hold a
//     separator value (0x00000000 or 0xFFFFFFFF, whole or one byte of it), data that is none
//     is a mismatch too (an event retyped as a separator), against the value 0x00000000's hash.
// The type itself is not measured: a separator retyped as another event whose digest is also of
// its data reads as that event.
// Every other type (code and firmware blobs, handoff tables, POST codes, EV_IPL, EV_NO_ACTION,
// which extends nothing) and an event the log ends inside are "not checkable", never mismatched.
// A bank whose hash this build lacks is skipped; an event with no bank left is not checkable.
//
// Threading: plain functions over values; no shared state.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/tcg_log_reader.h"

namespace qorvex::host {

enum class DigestVerdict : std::uint8_t {
    Verified,
    Mismatched,
    NotCheckable,
};

// "verified", "mismatched", "not checkable".
const char* DigestVerdictName(DigestVerdict verdict) noexcept;

struct BankDigestCheck {
    std::uint16_t algorithm = 0;
    std::vector<std::uint8_t> logged;
    std::vector<std::uint8_t> computed;  // of what the event type says the digest covers
    bool matches = false;
};

struct EventDigestCheck {
    DigestVerdict verdict = DigestVerdict::NotCheckable;
    // What the matching digests cover: "event data" or "variable data"; empty when not checkable.
    const char* covers = "";
    std::vector<BankDigestCheck> banks;  // the banks checked
};

// The check of one event as the walk shows it.
EventDigestCheck CheckEventDigests(const EventRecord& event);

struct DigestMismatch {
    std::uint64_t index = 0;
    std::uint32_t pcr = 0;
    std::uint32_t type = 0;
    std::uint16_t algorithm = 0;
    std::vector<std::uint8_t> logged;
    std::vector<std::uint8_t> computed;
};

struct LogDigestSummary {
    std::uint64_t verified = 0;
    std::uint64_t mismatched = 0;
    std::uint64_t notCheckable = 0;
    std::vector<DigestMismatch> mismatches;  // one per bank that disagrees, in log order
};

LogDigestSummary VerifyEventDigests(std::span<const std::uint8_t> log);

// PCR values a TPM reported: bank (TPM_ALG_ID) to PCR to value.
using PcrValues = std::map<std::uint16_t, std::map<std::uint32_t, std::vector<std::uint8_t>>>;

// Reads tpm2_pcrread's YAML ("sha256:" then "  0 : 0x3D45...") or a qorvex-host --pcrs --json
// document of one log. Returns an empty string, or why the text holds no values.
std::string ParseExpectedPcrs(std::string_view text, PcrValues& values);

struct PcrComparison {
    std::uint16_t algorithm = 0;
    std::uint32_t pcr = 0;
    enum class Outcome : std::uint8_t {
        Match,
        Mismatch,
        NotInValues,  // the log extends it; the values do not hold it
        NotInLog,     // the values hold it; the log does not extend it
        NotReplayed,  // a bank this build cannot hash
    } outcome = Outcome::Match;
    std::vector<std::uint8_t> replayed;  // empty for NotInLog and NotReplayed
    std::vector<std::uint8_t> expected;  // empty for NotInValues
    bool atResetValue = false;           // NotInLog: the value is the PCR's reset value
};

// "match", "mismatch", "not in the values", "not extended by the log", "not replayed".
const char* PcrOutcomeName(PcrComparison::Outcome outcome) noexcept;

struct PcrExpectation {
    std::vector<PcrComparison> comparisons;  // by bank in the log's order, then PCR
    std::uint64_t matched = 0;
    std::uint64_t mismatched = 0;
    // No PCR could be compared at all (no bank or PCR in common): a check that checked nothing
    // is not a pass.
    bool nothingCompared() const noexcept { return matched == 0 && mismatched == 0; }
    bool Passed() const noexcept { return mismatched == 0 && !nothingCompared(); }
};

// Compares a replayed report (report.replayed) with the values.
PcrExpectation ComparePcrs(const TcgLogReport& report, const PcrValues& values);

// Hex digits (an optional "0x", white space ignored) to bytes; false when they are not.
bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes);

}  // namespace qorvex::host
