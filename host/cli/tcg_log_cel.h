// A log written as a TCG Canonical Event Log in its JSON encoding (CEL-JSON), the interchange
// form other attestation tools read: a JSON array of records, one per event of the log, each
//   {"recnum": N, "pcr": P, "digests": [{"hashAlg": "sha256", "digest": "<hex>"}, ...],
//    "content_type": "pcclient_std",
//    "content": {"event_type": T, "event_data": "<base64>"}}
// recnum counts from 0 in log order; hashAlg is the bank's name ("sha1", "sha256", "sha384",
// ...); event_data is the event's data as it lies in the log, in standard base64 with padding.
// Every event is a record, EV_NO_ACTION ones included (their digests are as the log has them);
// an event the log ends inside is not, since its data is not all there.
//
// Threading: plain functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "cli/output.h"
#include "cli/tcg_log_reader.h"

namespace qorvex::host {

// Standard base64 (RFC 4648, with padding).
void AppendBase64(std::string& out, std::span<const std::uint8_t> bytes);

// The log's records as one JSON array on one line. Throws LogChangedError like the listings.
void WriteCelJson(Output& out, const TcgLogReport& report);

}  // namespace qorvex::host
