// What a log file holds and what it is called. Pure: the writer that puts
// these bytes into files on its own thread is uLogFile in the terminal
// window's layer.
//
// Design notes
// - Text logs hold the terminal model's decoded lines (encoding and received
//   line ending applied, escape sequences gone), each prefixed with the local
//   date and time of its first character to the millisecond, in UTF-8
//   without a byte-order mark and with CR LF line ends: a form every editor
//   opens and every tool splits by line. The prefix has a fixed width, so
//   tools can cut it off by column.
// - Raw logs are the received bytes exactly; nothing here touches them.
// - File names are `<entry>_<yyyy-MM-dd_HH-mm-ss>.log` (raw: `.bin`), the
//   entry being the port's or connection's name made safe for a file name.
//   The writer numbers a name that is taken, and each further part of a long
//   log, `_2`, `_3`, ...; the date sorts the files of one entry by their start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "terminal/uTermModel.h"

// A local date-time taken apart, rounded to the millisecond.
struct TDateParts {
    int32_t Year = 1899, Month = 12, Day = 30;
    int32_t Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
// Times before the epoch (negative) count as the epoch itself: a model never
// hands out such a time, and a file name or a prefix must still come out.
TDateParts SplitDateTime(TDateTime t);

// "2026-12-07 14:03:22.517 ": the prefix of one text line.
constexpr size_t kLogStampLength = 24;
void AppendLogStamp(std::string& out, TDateTime t);
// One text line: the prefix, the text in UTF-8 (an unpaired surrogate becomes
// U+FFFD), CR LF.
void AppendLogLine(std::string& out, std::u16string_view text, TDateTime t);

// AppendLogLine for a stream of lines. The lines of one read share their
// arrival time, so the prefix is made once per time and copied after that,
// and ASCII text is copied without a per-character capacity check: a log
// costs the window's thread a fraction of what decoding the bytes costs.
class TLogLines {
public:
    void Append(std::string& out, std::u16string_view text, TDateTime t);

private:
    TDateTime time_ = -1;
    std::string stamp_;
};

// `name` made fit to be part of a Windows file name: control characters and
// \ / : * ? " < > | become "_"; trailing dots and spaces become "_" (Windows
// drops them); an empty name becomes "log"; at most kLogNameMax units, never
// ending inside a surrogate pair.
constexpr size_t kLogNameMax = 120;
std::u16string SafeFileName(std::u16string_view name);
// `<safe entry>_<yyyy-MM-dd_HH-mm-ss>` for a log opened at `opened`. A device
// name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) before the first dot gets a "_"
// added, so an entry called "nul.box" cannot name the device.
std::u16string LogFileStem(std::u16string_view entryName, TDateTime opened);
// The file name of part `number` (1 = the plain stem): stem, "_<number>" from
// 2 on, then ".log" for text or ".bin" for raw.
std::u16string LogFileName(std::u16string_view stem, int32_t number, bool raw);
