// A terminal window's log and its saved output: the Log box starts a log file
// whenever the connection comes up and closes it when the connection ends or
// the box is unticked; a log that fails unticks the box and says why; "Save
// output as..." writes the whole history as the view shows it.
//
// Design notes
// - The log lives while Log is on and the connection is up (WM_APP+3 until
//   the backend is released), so every reconnection starts a new file and a
//   connect that never comes up leaves no empty one.
// - Raw logs take the bytes as DrainReceived takes them from the backend:
//   received bytes only, never the local echo. Text logs take the model's
//   finished lines, so they hold what the view holds, the echo included.
// - The writer reports failures by state; timer 1 looks every 250 ms.
#include "termwnd/uTermWnd.h"
// after windows.h
#include <commdlg.h>

#include <algorithm>

#include "base/uText.h"
#include "i18n/uI18n.h"
#include "settings/uSettings.h"
#include "terminal/uLogFormat.h"

namespace {

// The file name part of a path.
std::u16string FileNameOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::u16string TTermWindow::LogFilePath() const { return log_ ? log_->Writer().FilePath() : u""; }

void TTermWindow::SyncLog() {
    if (settings_.Log && connected_ && sessionOpen_)
        StartLog();
    else
        StopLog();
}

void TTermWindow::StartLog() {
    if (log_ || !model_) return;
    std::u16string folder;
    int32_t format = kLogFormatText;
    ReadLogSettings(folder, format);
    TLogTarget target;
    target.Folder = ResolveLogFolder(SettingsPath(), folder);
    target.Stem = LogFileStem(target_, model_->Clock ? model_->Clock() : LocalNow());
    target.Raw = format == kLogFormatRaw;
    target.SplitBytes = LogSplitBytes();
    log_ = std::make_unique<TSessionLog>(*model_, target);
    logShown_.clear();
    ShowLogFile();
}

void TTermWindow::StopLog(bool failureShown) {
    if (!log_) return;
    log_->Finish(false);  // writes the open line; the thread closes the file
    closingLogs_.push_back({std::move(log_), failureShown});
    ShowLogFile();
}

// Holds the status line's "logging stopped" for a log that failed while its
// thread finished the file after the log was stopped.
void TTermWindow::PollClosingLogs() {
    for (size_t i = 0; i < closingLogs_.size();) {
        TClosingLog& c = closingLogs_[i];
        if (!c.Log->Writer().Ended()) {
            ++i;
            continue;
        }
        TLogFailure failure;
        if (!c.FailureShown && c.Log->Writer().Failed(&failure))
            SetStatus(TrFmt("status.log_stopped", u"{0} - logging stopped: {1}",
                            {displayName_, LogFailureText(failure)}));
        closingLogs_.erase(closingLogs_.begin() + ptrdiff_t(i));
    }
}

bool TTermWindow::LogsWriting() const {
    return log_ || std::any_of(closingLogs_.begin(), closingLogs_.end(),
                               [](const TClosingLog& c) { return !c.Log->Writer().Ended(); });
}

void TTermWindow::PollLog() {
    PollClosingLogs();
    if (!log_) return;
    TLogFailure failure;
    if (!log_->Writer().Failed(&failure)) {
        ShowLogFile();
        return;
    }
    StopLog(true);
    // The box is the setting: unticked, the port does not log at its next
    // connect either, until the user ticks it again.
    settings_.Log = false;
    SetChecked(kIdLog, false);
    if (!section_.empty()) SaveTerminalSettings(section_, settings_);
    SetStatus(TrFmt("status.log_stopped", u"{0} - logging stopped: {1}",
                    {displayName_, LogFailureText(failure)}));
}

// The label beside the status text names the file being written; without a
// log it is hidden and the status text takes its place.
void TTermWindow::ShowLogFile() {
    HWND label = destroyed_ ? nullptr : Control(kIdLogFile);
    if (!label) return;
    const std::u16string path = LogFilePath();
    const bool visible = log_ != nullptr;
    if (path != logShown_) {
        logShown_ = path;
        const std::u16string text =
            path.empty() ? u"" : TrFmt("status.log_file", u"Log: {0}", {FileNameOf(path)});
        SetWindowTextW(label, W(text));
    }
    if (((GetWindowLongW(label, GWL_STYLE) & WS_VISIBLE) != 0) != visible) {
        ShowWindow(label, visible ? SW_SHOWNA : SW_HIDE);
        RelayoutBottom();
    }
}

// --- Save output as ---

bool TTermWindow::SaveOutputTo(const std::u16string& path, DWORD& error) const {
    THandle file(CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        error = GetLastError();
        return false;
    }
    std::string out;
    auto flush = [&] {
        DWORD done = 0;
        const bool ok = WriteFile(file.Get(), out.data(), DWORD(out.size()), &done, nullptr) &&
                        done == out.size();
        if (!ok) error = GetLastError() ? GetLastError() : DWORD(ERROR_HANDLE_DISK_FULL);
        out.clear();
        return ok;
    };
    auto line = [&](std::u16string_view text) {
        out += Utf16ToUtf8(text);
        out += "\r\n";
        return out.size() < (size_t(1) << 20) || flush();
    };
    if (HexView() && !line(HexHeaderText())) return false;
    const int32_t rows = TotalRows();
    for (int32_t row = 0; row < rows; ++row) {
        const std::u16string text = RowText(row);
        // The open line after a final line end is not a line of the output.
        if (row == rows - 1 && text.empty()) break;
        if (!line(text)) return false;
    }
    return out.empty() || flush();
}

void TTermWindow::SaveOutputAs() {
    std::u16string name = LogFileStem(target_.empty() ? u"output" : target_,
                                      model_->Clock ? model_->Clock() : LocalNow()) +
                          u".txt";
    std::vector<wchar_t> buffer(32768, L'\0');
    std::copy(name.begin(), name.end(), buffer.begin());
    // Two filters, each "text\0pattern\0", ending in an empty one.
    const std::u16string filter = Tr("filter.text", u"Text files (*.txt)") + u'\0' + u"*.txt" +
                                  u'\0' + Tr("filter.all", u"All files (*.*)") + u'\0' + u"*.*" +
                                  u'\0';
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainWnd_;
    ofn.lpstrFilter = W(filter);
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = DWORD(buffer.size());
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&ofn)) return;
    const std::u16string path = U(buffer.data());
    DWORD error = 0;
    if (SaveOutputTo(path, error))
        SetStatus(TrFmt("status.output_saved", u"Output saved to {0}", {path}));
    else
        SetStatus(TrFmt("status.output_not_saved", u"Could not save the output to {0}: {1}",
                        {path, SystemMessage(error)}));
}
