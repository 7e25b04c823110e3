// The call journal: what the module asked of the machine, in order.
#pragma once

#include <string>
#include <vector>

namespace winsim {

struct JournalEntry {
    std::string call;  // "RegGetValueW"
    std::string args;  // short UTF-8 text of the arguments: HKLM, "System\...", "OsBootCount", 0x10
    std::string result;  // "0", "FALSE (error 2)", "0x80070002", a handle value ...
};

// Off by default. Heap calls (GetProcessHeap, HeapAlloc, HeapFree) are journaled only when
// includeHeap is set, because string code makes many of them. The C runtime's text functions
// are never journaled.
void EnableJournal(bool on, bool includeHeap = false);
std::vector<JournalEntry> Journal();
// The names of the journaled calls, in order; handy for EXPECT_THAT(..., ElementsAre(...)).
std::vector<std::string> JournalCalls();
void ClearJournal();

// Clears the journal and turns it on for its lifetime. At its end the previous journal is back
// (on or off, with or without heap calls); its entries come back too, followed by the ones
// recorded in the scope when the previous journal was on.
class ScopedJournal {
public:
    explicit ScopedJournal(bool includeHeap = false);
    ~ScopedJournal();
    ScopedJournal(const ScopedJournal&) = delete;
    ScopedJournal& operator=(const ScopedJournal&) = delete;

private:
    bool m_wasOn;
    bool m_hadHeap;
    std::vector<JournalEntry> m_previous;
};

}  // namespace winsim
