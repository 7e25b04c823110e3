// `tcg-log diff A B`: what differs between two logs, PCR by PCR. The events of each PCR are
// aligned in log order by a longest common subsequence, so one inserted or removed event does
// not make every later one differ; an event of A and one of B of the same type that fall
// between the same aligned neighbours are shown as one changed event. Each added, removed or
// changed event is shown decoded (a changed one as the lines of its description that differ).
//
// Two events are the same when their type, their data and their digests of every bank both logs
// have are. The replays are compared bank by bank over the banks both logs have; for each PCR
// whose values differ, the first event responsible is the first added or removed event that
// extends the PCR, or the first changed event whose digests differ, or a StartupLocality event
// that differs (it sets PCR 0's starting value).
//
// Alignment costs the product of the two PCRs' event counts; past kMaxAlignmentCells the
// events between the common head and tail of a PCR are compared in order instead.
//
// Exit codes: 0 when the replays are equal, kExitLogsDiffer when they differ (or no digest bank
// is common to both logs), kExitCannotRun / kExitNotALog when a file cannot be compared, and
// kExitIncompleteLog when the replays are equal but a log is truncated or malformed.
//
// Threading: plain functions over values.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "cli/tcg_log_reader.h"

namespace qorvex::host {

inline constexpr std::size_t kMaxAlignmentCells = std::size_t{4} << 20;

// One event of a compared log. Spans point into its report's bytes.
struct DiffEvent {
    EventRecord record;
    std::uint64_t key = 0;  // a hash of what makes two events the same, to compare quickly
};

enum class DiffOp : std::uint8_t { Same, Removed, Added, Changed };

// One step of a PCR's alignment: a is the event of A (Same, Removed, Changed), b that of B (Same,
// Added, Changed); indexes into LogDiff::eventsA / eventsB.
struct DiffStep {
    DiffOp op = DiffOp::Same;
    std::size_t a = 0;
    std::size_t b = 0;
};

struct PcrValuePair {
    std::string bank;
    std::vector<std::uint8_t> a;  // empty: the log does not extend the PCR in this bank
    std::vector<std::uint8_t> b;
};

struct PcrDiff {
    std::uint32_t pcr = 0;
    std::vector<DiffStep> steps;
    std::vector<PcrValuePair> differing;     // the common banks whose values differ
    std::optional<std::size_t> responsible;  // index into steps
    bool EventsDiffer() const noexcept;
};

struct LogDiff {
    TcgLogReport a;
    TcgLogReport b;
    std::vector<DiffEvent> eventsA;
    std::vector<DiffEvent> eventsB;
    std::vector<std::string> commonBanks;  // supported banks both logs have, in A's order
    std::vector<PcrDiff> pcrs;             // every PCR either log has events for, ascending
    bool ReplaysEqual() const noexcept;
};

// Compares two logs read with their replay. Both must be logs (IsLog()).
LogDiff DiffTcgLogs(TcgLogReport a, TcgLogReport b);

// The alignment of two sequences of event keys (indexes into a and b), as steps in order;
// exposed for its tests. equal(i, j) says whether a[i] and b[j] are the same event, sameKind(i,
// j) whether a differing pair is shown as one changed event.
template <class Equal, class SameKind>
std::vector<DiffStep> AlignEvents(std::size_t countA, std::size_t countB, Equal equal,
                                  SameKind sameKind);

int DiffExitCode(const LogDiff& diff) noexcept;
void WriteDiffText(Output& out, const LogDiff& diff);
void WriteDiffJson(Output& out, const LogDiff& diff);

// ---- Implementation of the template ---------------------------------------------------------

namespace diff_detail {
inline constexpr std::size_t kPairingWindow = 64;
// Pairs the removed and added events of one gap between aligned events.
template <class SameKind>
void EmitGap(std::vector<DiffStep>& steps, std::size_t a0, std::size_t a1, std::size_t b0,
             std::size_t b1, SameKind& sameKind) {
    std::size_t b = b0;
    std::size_t emittedB = b0;
    for (std::size_t a = a0; a < a1; ++a) {
        // A near window keeps a gap of many events linear.
        std::size_t match = b;
        const std::size_t window = std::min(b1, b + kPairingWindow);
        while (match < window && !sameKind(a, match)) ++match;
        if (match == window) {
            steps.push_back({DiffOp::Removed, a, 0});
            continue;
        }
        for (; emittedB < match; ++emittedB) steps.push_back({DiffOp::Added, 0, emittedB});
        steps.push_back({DiffOp::Changed, a, match});
        emittedB = match + 1;
        b = match + 1;
    }
    for (; emittedB < b1; ++emittedB) steps.push_back({DiffOp::Added, 0, emittedB});
}
}  // namespace diff_detail

template <class Equal, class SameKind>
std::vector<DiffStep> AlignEvents(std::size_t countA, std::size_t countB, Equal equal,
                                  SameKind sameKind) {
    std::vector<DiffStep> steps;
    std::size_t head = 0;
    while (head < countA && head < countB && equal(head, head)) ++head;
    std::size_t tail = 0;
    while (tail < countA - head && tail < countB - head &&
           equal(countA - 1 - tail, countB - 1 - tail)) {
        ++tail;
    }
    for (std::size_t i = 0; i < head; ++i) steps.push_back({DiffOp::Same, i, i});
    const std::size_t n = countA - head - tail;
    const std::size_t m = countB - head - tail;
    if (n != 0 && m != 0 && (n + 1) * (m + 1) <= kMaxAlignmentCells) {
        // lengths[i][j]: the longest common subsequence of a[head+i..] and b[head+j..].
        std::vector<std::uint32_t> lengths((n + 1) * (m + 1), 0);
        auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& {
            return lengths[i * (m + 1) + j];
        };
        for (std::size_t i = n; i-- > 0;) {
            for (std::size_t j = m; j-- > 0;) {
                at(i, j) = equal(head + i, head + j) ? at(i + 1, j + 1) + 1
                                                     : std::max(at(i + 1, j), at(i, j + 1));
            }
        }
        std::size_t i = 0;
        std::size_t j = 0;
        std::size_t gapA = 0;
        std::size_t gapB = 0;
        while (i < n && j < m) {
            if (equal(head + i, head + j) && at(i, j) == at(i + 1, j + 1) + 1) {
                diff_detail::EmitGap(steps, head + gapA, head + i, head + gapB, head + j, sameKind);
                steps.push_back({DiffOp::Same, head + i, head + j});
                gapA = ++i;
                gapB = ++j;
            } else if (at(i + 1, j) >= at(i, j + 1)) {
                ++i;
            } else {
                ++j;
            }
        }
        diff_detail::EmitGap(steps, head + gapA, head + n, head + gapB, head + m, sameKind);
    } else {
        diff_detail::EmitGap(steps, head, head + n, head, head + m, sameKind);
    }
    for (std::size_t k = 0; k < tail; ++k)
        steps.push_back({DiffOp::Same, countA - tail + k, countB - tail + k});
    return steps;
}

}  // namespace qorvex::host
