// The session side of a terminal window: the output of a port or connection
// kept across windows (TSessionData and the process-wide store), and the edit
// line's text turned into the bytes that go out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/uSettingsRules.h"
#include "terminal/uTermModel.h"

class TTermWindow;

constexpr int32_t kSendHistoryMax = 50;

// The send or receive parameters as "115200 8N1".
std::u16string ParametersText(const TSessionSettings& s);

// Arrival times from GetLocalTime and the user's time separator for a model
// that lives in a terminal window.
void UseSystemClock(TTermModel& model);

// A sent line with the send mode it was read in, so that stepping back to it
// sends the same bytes again.
struct TSentLine {
    std::u16string Text;
    int32_t Mode = 0;
    bool operator==(const TSentLine&) const = default;
};

// The output of one port or connection, kept alive after its window closes
// when its history is on.
class TSessionData {
public:
    TSessionData(std::u16string key, int32_t historyLines);

    std::u16string Key;
    std::unique_ptr<TTermModel> Model;
    int64_t ReceivedCount = 0;
    int64_t SentCount = 0;
    std::vector<TSentLine> SendHistory;
    int32_t HistoryPos = -1;
    TTermWindow* Owner = nullptr;
    bool Kept = false;
    uint64_t LastReleased = 0;
};

// The kept sessions of the process, at most kKeptSessions after every
// addition (more only while more are shown at once).
constexpr size_t kKeptSessions = 8;
std::vector<std::unique_ptr<TSessionData>>& SessionStore();
// The line stores of all kept sessions together stay within four sessions'
// budget, whatever the history depths: eight sessions of a port at the wrong
// baud rate would otherwise take more than a 32-bit host's address space. A
// new kept session first frees released ones (longest ago first) until a
// whole session's budget is spare; a session that grows past the total drops
// its own oldest lines.
constexpr size_t kKeptLineBudget = 4 * kTermLineBudget;
TTermBudgetPool& KeptSessionPool();

// Line endings by TxNewline: none, CR, LF, CR LF.
std::string_view LineEnding(int32_t txNewline);
// Longest line sent at once, in UTF-16 units.
constexpr int32_t kSendLineMax = 4095;
