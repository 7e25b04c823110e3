// The options of tcg-log's verification and health views, kept apart from the listing views'
// options so each view's parsing lives with the view.
//
//   --verify                     check every event's digests against its data
//   --expect-pcrs VALUES         ... and the replayed PCRs against tpm2_pcrread's YAML or a
//                                --pcrs --json document
//   --quote ATTEST --signature SIG --ak-public KEY [--nonce HEX]
//                                ... and a TPM quote against the replay
//   --health                     the Windows health report and Secure Boot state
//
// Threading: plain values and functions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qorvex::host {

struct TcgLogCheckArguments {
    bool verify = false;  // set by --verify, --expect-pcrs and --quote
    std::string expectPcrs;
    std::string quote;
    std::string signature;
    std::string akPublic;
    std::string nonce;  // hex, as given
    bool health = false;

    bool Any() const noexcept { return verify || health; }
};

// When args[i] is one of these options, takes it (and its value, advancing i) and returns true;
// a missing value sets error.
bool TakeTcgLogCheckArgument(const std::vector<std::string>& args, std::size_t& i,
                             TcgLogCheckArguments& checks, std::string& error);

// The rules between these options and the others of tcg-log; an empty string or the usage error.
// With --jsonl (jsonl) every view and check may be combined: each is a member of the log's line.
std::string CheckTcgLogCheckArguments(const TcgLogCheckArguments& checks, bool pcrs, bool events,
                                      bool jsonl, std::size_t logFiles);

}  // namespace qorvex::host
