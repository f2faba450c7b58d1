// Sending files from a terminal window: files dropped on the window or chosen
// from the output's menu, the Send file dialog (reached through the function
// the plugin layer hands over), the progress in the status line and the one
// text that tells how the transfer ended.
//
// The transfer itself runs on the backend's worker. The window only asks how
// far it got, on the 250 ms timer that refreshes the counters: never per
// byte, never in a loop of its own. While a transfer runs, typed lines,
// stored commands and a break wait (the line belongs to the protocol); Esc and
// Disconnect cancel, and the backend tells the receiver.
#include "termwnd/uTermSendFile.h"

#include <cderr.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>

#include "base/uText.h"
#include "base/uWin.h"
#include "i18n/uI18n.h"
#include "settings/uSettings.h"
#include "termwnd/uTermWnd.h"

namespace {

TSendFileDialog gSendFileDialog = nullptr;

// More than any sensible batch; the open dialog's buffer holds about as many
// names of ordinary length.
constexpr size_t kOpenBufferChars = 64 * 1024;

std::u16string ProtocolName(TSendProtocol p) {
    switch (p) {
        case TSendProtocol::Xmodem:
            return u"XMODEM";
        case TSendProtocol::Xmodem1k:
            return u"XMODEM-1K";
        case TSendProtocol::Ymodem:
            return u"YMODEM";
        default:
            return Tr("sendfile.raw", u"Raw");
    }
}

std::u16string BaseName(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool IsFolder(const std::u16string& path) {
    const DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void SetSendFileDialog(TSendFileDialog dialog) { gSendFileDialog = dialog; }

bool TTermWindow::FileSendRunning() const { return backend_ && backend_->FileSendActive(); }

bool TTermWindow::CanSendFile() const { return backend_ && connected_ && !FileSendRunning(); }

void TTermWindow::CancelFileSend() {
    if (FileSendRunning()) backend_->CancelFileSend();
}

bool TTermWindow::RefuseWhileSending() {
    if (!FileSendRunning()) return false;
    SetStatus(
        TrFmt("status.file_busy", u"{0} - a file is being sent (Esc cancels it)", {displayName_}));
    return true;
}

void TTermWindow::OnDropFiles(WPARAM wp) {
    const HDROP drop = reinterpret_cast<HDROP>(wp);
    std::vector<std::u16string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        if (DragQueryFileW(drop, i, path.data(), length + 1) != length) continue;
        path.resize(length);
        paths.push_back(U(path.c_str(), path.size()));
    }
    DragFinish(drop);
    // A folder's files are not what the device waits for; the files beside it are.
    std::erase_if(paths, IsFolder);
    if (paths.empty()) {
        if (count > 0)
            SetStatus(TrFmt("status.file_folder", u"{0} - folders cannot be sent", {displayName_}));
        return;
    }
    SendFiles(paths);
}

void TTermWindow::ChooseFileToSend() {
    if (!CanSendFile()) return;
    std::wstring buffer(kOpenBufferChars, L'\0');
    const std::u16string title = Tr("sendfile.choose", u"Choose the files to send");
    const std::u16string filter = Tr("filter.all", u"All files (*.*)") + u'\0' + u"*.*" + u'\0';
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetAncestor(mainWnd_, GA_ROOT);
    ofn.lpstrFilter = W(filter);
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = DWORD(buffer.size());
    ofn.lpstrTitle = W(title);
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY |
                OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) {
        // Cancel says nothing; a choice too long for the buffer does.
        if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
            SetStatus(Tr("status.send_too_many", u"Too many files chosen at once - nothing sent"));
        return;
    }
    // One name: the full path. Several: the folder, then the names, each
    // ended by a zero, the list by a second one.
    std::vector<std::u16string> parts;
    for (size_t at = 0; at < buffer.size() && buffer[at];) {
        const size_t end = buffer.find(L'\0', at);
        parts.push_back(U(buffer.c_str() + at, end - at));
        at = end + 1;
    }
    if (parts.empty()) return;
    std::vector<std::u16string> paths;
    if (parts.size() == 1) paths = parts;
    for (size_t i = 1; i < parts.size(); ++i) {
        std::u16string folder = parts[0];
        if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
        paths.push_back(folder + parts[i]);
    }
    SendFiles(paths);
}

void TTermWindow::SendFiles(const std::vector<std::u16string>& paths) {
    if (paths.empty() || RefuseWhileSending()) return;
    if (!backend_ || !connected_) {
        SetStatus(Tr("status.no_send", u"Not connected - nothing sent"));
        return;
    }
    TSendFileSettings choice;
    // Owned by the window the terminal sits in (the lister, or itself when
    // stand-alone): a child window cannot own a popup.
    HWND owner = GetAncestor(mainWnd_, GA_ROOT);
    if (!gSendFileDialog || !gSendFileDialog(owner, section_, paths, choice)) return;
    // The line may have gone, or a transfer begun, while the dialog was open.
    if (RefuseWhileSending()) return;
    if (!backend_ || !connected_) {
        SetStatus(Tr("status.no_send", u"Not connected - nothing sent"));
        return;
    }
    std::vector<TFileToSend> files;
    for (const std::u16string& p : paths) files.push_back({p});
    if (!backend_->StartFileSend(std::move(files), TSendProtocol(choice.Protocol),
                                 choice.CharDelayMs, choice.LineDelayMs)) {
        SetStatus(TrFmt("status.file_not_started", u"{0} - the file send could not start",
                        {displayName_}));
        return;
    }
    sendLabel_ = paths.size() == 1 ? BaseName(paths[0])
                                   : TrFmt("sendfile.file_count", u"{0} files",
                                           {IntToText(int64_t(paths.size()))});
    sendStatus_.clear();
    ShowFileSendProgress();
}

void TTermWindow::ShowFileSendProgress() {
    if (!FileSendRunning()) return;
    const TFileSendProgress p = backend_->FileSendProgress();
    std::u16string name = p.FileName.empty() ? sendLabel_ : p.FileName;
    if (p.FileCount > 1)
        name += u" (" + IntToText(int64_t(p.FileIndex) + 1) + u"/" +
                IntToText(int64_t(p.FileCount)) + u")";
    const std::u16string protocol = ProtocolName(p.Protocol);
    std::u16string text;
    if (p.Protocol != TSendProtocol::Raw && p.BytesDone == 0 && p.FileIndex == 0) {
        text = TrFmt("status.file_waiting", u"{0}: waiting for the receiver, {1} (Esc cancels)",
                     {name, protocol});
    } else {
        const int64_t percent =
            p.BytesTotal > 0 ? std::clamp<int64_t>(p.BytesDone * 100 / p.BytesTotal, 0, 100) : 100;
        text = TrFmt("status.file_progress", u"{0}: {1} % ({2} of {3} bytes), {4}",
                     {name, IntToText(percent), GroupedNumber(p.BytesDone),
                      GroupedNumber(p.BytesTotal), protocol});
    }
    // The same text again would only make the status line flicker.
    if (text != sendStatus_) {
        sendStatus_ = text;
        SetStatus(text);
    }
}

void TTermWindow::OnFileSent(WPARAM number, LPARAM outcome) {
    if (uint32_t(number) != connectionNumber_ || !backend_) return;
    sendStatus_.clear();
    CountWritten();
    const std::u16string& name = sendLabel_;
    const TFileSendProgress p = backend_->FileSendProgress();
    switch (TSendOutcome(outcome)) {
        case kSendDone:
            SetStatus(
                TrFmt("status.file_done", u"{0}: sent, {1}", {name, ProtocolName(p.Protocol)}));
            break;
        case kSendCancelled:
            SetStatus(TrFmt("status.file_cancelled", u"{0}: cancelled", {name}));
            break;
        case kSendCancelledByReceiver:
            SetStatus(
                TrFmt("status.file_receiver_cancelled", u"{0}: cancelled by the receiver", {name}));
            break;
        case kSendNoAnswer:
            SetStatus(TrFmt("status.file_no_answer", u"{0}: no answer from the receiver", {name}));
            break;
        case kSendTooManyErrors:
            SetStatus(TrFmt("status.file_errors", u"{0}: too many errors", {name}));
            break;
        case kSendFileError:
            SetStatus(TrFmt("status.file_unreadable", u"{0}: cannot be read",
                            {p.FileName.empty() ? name : p.FileName}));
            break;
        default:
            SetStatus(TrFmt("status.file_line_lost", u"{0}: the connection ended", {name}));
            break;
    }
    ShowCounters();
}
