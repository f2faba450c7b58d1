// TTermWindow: one terminal window. A toolbar of line and view settings along
// the top, the output view in the middle, a send row and a status row along
// the bottom. The same window serves as a child of the file manager's lister
// window (embedded) and as the single stand-alone window owned by its main
// window.
//
// Design notes
// - The object exists before its window and outlives it: the creator builds
//   it, creates the window (which makes the children in WM_CREATE) and starts
//   the timers; after WM_DESTROY it is inert until freed.
// - The output view keeps no state of its own; scroll position, selection and
//   the cell grid live here. It paints only when invalidated, into an
//   off-screen bitmap, so a burst of received data costs one repaint.
// - The module is split along its seams: uTermWnd.cpp (object, classes, main
//   window procedure, fonts and colours, settings path), uTermLayout.cpp
//   (control table, option lists, layout), uTermView.cpp/.h (painting,
//   colours and scrolling), uTermSelect.cpp (selection, clipboard, context
//   menu), uFindBar.cpp/.h (the find bar and its search), uSession.cpp/.h
//   (session control and the kept sessions), uListerGlue.cpp/.h (how terminal windows come into
//   being), uTermLog.cpp with uLogFile.cpp/.h (the log file and saving the output).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backend/uBackend.h"
#include "base/uBarrier.h"
#include "base/uWin.h"
#include "settings/uLineChoices.h"
#include "settings/uSettingsRules.h"
#include "terminal/uBytes.h"
#include "terminal/uTermModel.h"
#include "termwnd/uFindBar.h"
#include "termwnd/uLogFile.h"
#include "termwnd/uSession.h"
#include "termwnd/uTermView.h"

// Window classes.
constexpr wchar_t kTermWindowClass[] = L"KestrelinkWindow";
constexpr wchar_t kTermOutputClass[] = L"KestrelinkOutput";

// Control IDs: toolbar.
constexpr int kIdConnect = 101;
constexpr int kIdBaud = 102;
constexpr int kIdDataBits = 103;
constexpr int kIdStopBits = 104;
constexpr int kIdParity = 105;
constexpr int kIdFlow = 106;
constexpr int kIdDtr = 107;
constexpr int kIdRts = 108;
constexpr int kIdView = 120;
constexpr int kIdEncoding = 121;
constexpr int kIdRxNewline = 122;
constexpr int kIdAnsi = 123;
constexpr int kIdAutoscroll = 124;
constexpr int kIdEcho = 125;
constexpr int kIdReconnect = 126;
constexpr int kIdClear = 127;
constexpr int kIdTimestamps = 128;
constexpr int kIdLog = 129;
// Send row, status row and the output view.
constexpr int kIdTxNewline = 130;
constexpr int kIdEdit = 131;
constexpr int kIdSend = 132;
constexpr int kIdStatus = 133;
constexpr int kIdCounters = 134;
constexpr int kIdLampCts = 135;
constexpr int kIdLampDsr = 136;
constexpr int kIdLampRi = 137;
constexpr int kIdLampDcd = 138;
constexpr int kIdLogFile = 139;  // the log file's name, shown while one is written
constexpr int kIdOutput = 140;
constexpr int kIdSendMode = 141;  // how the send line is read: text, escapes, hex
// Labels.
constexpr int kIdBaudLabel = 300;
constexpr int kIdDataLabel = 301;
constexpr int kIdStopLabel = 302;
constexpr int kIdParityLabel = 303;
constexpr int kIdFlowLabel = 304;
constexpr int kIdViewLabel = 305;
constexpr int kIdEncodingLabel = 306;
constexpr int kIdRxNewlineLabel = 307;
constexpr int kIdSendLabel = 308;

// Context menu commands of the output view.
constexpr int kCmdCopy = 9001;
constexpr int kCmdSelectAll = 9002;
constexpr int kCmdClearOutput = 9003;
constexpr int kCmdLog = 9004;
constexpr int kCmdSaveOutput = 9005;
constexpr int kCmdSendBreak = 9006;
constexpr int kCmdSendFile = 9007;
constexpr int kCmdFind = 9008;
constexpr int kCmdSendCommand = 9010;  // .. 9019: stored commands 1 .. 10

// Timers of the main window: counters and lamps; font, colours and reconnect.
constexpr UINT_PTR kTimerLines = 1;
constexpr UINT kTimerLinesMs = 250;
constexpr UINT_PTR kTimerSettings = 2;
constexpr UINT kTimerSettingsMs = 1000;
constexpr UINT_PTR kTimerRepeat = 3;  // a repeating stored command
// Timer 4 counts find matches (kTimerFind, uFindBar.h).

// Received bytes fed into the model per message (a few milliseconds of work).
constexpr int32_t kDrainSliceBytes = 256 * 1024;
// While received messages follow each other, WM_PAINT never comes (it waits
// for an empty queue): the drain then paints the output itself this often.
constexpr ULONGLONG kFloodPaintMs = 100;

// Posted by the toolbar: read the controls into the port settings. wParam is
// the checkbox clicked (the focus then returns to the edit line), else 0.
constexpr UINT WM_KL_APPLY = WM_APP + 10;

// Colours.
constexpr COLORREF kLampOnColor = RGB(0, 170, 0);
constexpr COLORREF kLampOffColor = RGB(200, 200, 200);
constexpr COLORREF kLampOnText = RGB(255, 255, 255);
constexpr COLORREF kLampOffText = RGB(96, 96, 96);

// Modem-status bits the lamps show (GetCommModemStatus).
constexpr uint32_t kLampBits[4] = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};

constexpr int32_t kAdvanceCount = 4104;
constexpr int32_t kOwnModelHistory = 500;
constexpr int32_t kTimestampWidth = 15;
constexpr int kBaudTextMax = 63;

// Reads a baud box's text: trimmed, decimal digits only (digits past a value
// of 100000000 are ignored); false for anything else or outside 50..12000000.
bool ParseBaudText(std::u16string_view text, int32_t& baud);

class TTermWindow;

class TTermWindow {
public:
    explicit TTermWindow(HWND host);
    virtual ~TTermWindow();
    TTermWindow(const TTermWindow&) = delete;
    TTermWindow& operator=(const TTermWindow&) = delete;

    // --- Creating the window (lister glue) ---
    // Registers "KestrelinkWindow" and "KestrelinkOutput" once per process.
    static bool RegisterClasses();
    // Creates the main window with this object attached; false when it could
    // not be created. Embedded windows call SetEmbedded first.
    bool CreateMainWindow(HWND parent, DWORD style, const wchar_t* title, int x, int y, int width,
                          int height);
    void StartTimers();
    void SetEmbedded(HWND lister);
    // The object attached to a main window, or nullptr.
    static TTermWindow* FromWindow(HWND hwnd);

    HWND MainWindow() const { return mainWnd_; }
    HWND OutputWindow() const { return outputWnd_; }
    HWND HostWindow() const { return hostWnd_; }
    HWND ListerWindow() const { return listerWnd_; }
    bool Embedded() const { return embedded_; }
    bool Destroyed() const { return destroyed_; }
    HWND Control(int id) const;

    // --- The port or connection shown ---
    // Stores kind (0 serial, 1 TCP), target, display name and connection
    // info, and derives the settings section from kind and target.
    void SetTarget(int32_t kind, const std::u16string& target, const std::u16string& displayName,
                   const TConnInfo& connection);
    const TSessionSettings& PortSettings() const { return settings_; }
    int32_t Kind() const { return kind_; }
    const std::u16string& Target() const { return target_; }
    const std::u16string& DisplayName() const { return displayName_; }
    const std::u16string& Section() const { return section_; }

    // --- Small operations for session control ---
    void SetStatus(const std::u16string& text);
    // "Connect", or "Disconnect" while a backend exists.
    void UpdateConnectCaption();
    bool IsChecked(int id) const;
    void SetChecked(int id, bool on);
    int S(int n) const { return MulDiv(n, dpi_, 96); }
    int32_t Dpi() const { return dpi_; }
    void ShowSettings();
    void ApplyEnablingRule();
    // Encoding, line-ending mode, ANSI colours and hex width to the current
    // model; re-decodes (and drops the selection) when one of the first three changed.
    void ApplyModelOptions();
    TBackend* Backend() const { return backend_.get(); }
    uint32_t ConnectionNumber() const { return connectionNumber_; }
    // Releases the backend: freed only when its worker ended in time.
    void ReleaseBackend();
    // Hands the counters, history and send history back to the session data
    // and makes the own model current again.
    void LetGoSession();
    // Up (-1) or Down (+1) through the send history into the edit line.
    void StepHistory(int step);
    void PushHistory(const std::u16string& text, int32_t mode = 0);
    const std::vector<TSentLine>& SendHistory() const { return sendHistory_; }
    TTermModel& Model() { return *model_; }

    // --- Output view ---
    void RefreshScrollBars();
    void ScrollToEnd();
    void ClearOutput();
    void RepaintOutput();
    // After the model or the view settings changed (bytes arrived, options
    // applied, settings reloaded): bars refreshed, then the end shown when
    // autoscrolling, else a repaint. Only invalidates, so a burst costs one paint.
    void ShowNewOutput();
    void SelectAll();
    std::u16string SelectedText() const;
    bool CopySelection();
    bool HasSelection() const { return selection_; }
    HMENU BuildContextMenu() const;
    void RunMenuCommand(int command);
    // Draws the view into dc (the paint path's off-screen bitmap).
    void PaintView(HDC dc, const RECT& client);

    int32_t TopRow() const { return topRow_; }
    int32_t FirstColumn() const { return firstCol_; }
    int32_t CharWidth() const { return charWidth_; }
    int32_t LineHeight() const { return lineHeight_; }
    int32_t TotalRows() const;
    int32_t VisibleRows() const;
    int32_t LastTopRow() const;
    int32_t ContentWidth() const;
    std::u16string RowText(int32_t row) const;
    // The hex view's column header, moved right past the timestamps when shown.
    std::u16string HexHeaderText() const;

    // --- Session control (uSession.cpp) ---
    // Loads a port (kind 0) or connection (kind 1) into the window; also
    // switches the stand-alone window to another one. Mode: 0 stand-alone,
    // 1 lister window, 2 Quick View panel.
    void OpenSession(int32_t kind, const std::u16string& target, const std::u16string& displayName,
                     const TConnInfo& connection, int32_t mode);
    void Connect();
    // The Connect / Disconnect button.
    void ToggleConnection();
    // The Send button and Enter in the edit line.
    void Send();
    // A break on the line (Ctrl+Break, the context menu): only while
    // connected through a backend that has one.
    bool CanSendBreak() const;
    // Stored command 0 .. 9 (Alt+1 .. Alt+0, the Send submenu), in its own mode.
    void SendCommand(int index);
    // Encodes and queues one line; a malformed line sends nothing, names the
    // fault in the status and, given the edit line, selects it there.
    bool SendLineText(const std::u16string& text, int32_t mode, HWND edit);
    // Alt+digit: true when the key was a command key (sent or not).
    bool OnCommandKey(UINT msg, WPARAM key);
    // The repeating command (its index, -1 when none); user says whether the
    // user stopped it (and is told so) rather than the connection ending.
    int RepeatingCommand() const { return repeatIndex_; }
    void StopRepeat(bool user);
    void RepeatCommand();
    void SendBreak();
    // --- Sending files (uTermSendFile.cpp) ---
    // The Send file dialog for `paths`, then the transfer on the backend's
    // worker; whatever stands in the way is named in the status line.
    void SendFiles(const std::vector<std::u16string>& paths);
    // Connected, and no transfer running (the menu item's state).
    bool CanSendFile() const;
    bool FileSendRunning() const;
    // Esc: the receiver is told; the end comes as WM_KL_FILESENT.
    void CancelFileSend();
    // After the properties dialog saved this window's section.
    void ReloadSettings();
    bool SessionOpen() const { return sessionOpen_; }
    bool Connected() const { return connected_; }
    bool UserDisconnected() const { return userDisconnected_; }
    int64_t ReceivedCount() const { return receivedCount_; }
    int64_t SentCount() const { return sentCount_; }
    const std::u16string& CountersText() const { return countersText_; }
    TSessionData* Session() const { return session_; }

    // --- Logging and saving the output (uTermLog.cpp) ---
    // The log being written (Log ticked and the connection up), or nullptr.
    TSessionLog* Log() const { return log_.get(); }
    // Whether a log, running or stopped, still has its file open.
    bool LogsWriting() const;
    // Its file's full path; empty without a log or before the file is open.
    std::u16string LogFilePath() const;
    // The whole history as the view shows it (text rows with their
    // timestamps when shown, or the hex dump under its header), UTF-8 with CR
    // LF line ends. False with the system's error code.
    bool SaveOutputTo(const std::u16string& path, DWORD& error) const;

private:
    // Tests and the pictures reach a few internals through uTermWndTesting.h.
    friend struct TTermWindowTestAccess;
    friend class TFindBar;

    // Takes the settings, shows them in the controls and hands the model its options.
    void SetPortSettings(const TSessionSettings& settings);
    // Takes an opened backend (its messages carry ConnectionNumber()).
    void AttachBackend(std::unique_ptr<TBackend> backend, bool connected);

    // Places where tests make a handler fail, to prove the window survives.
    enum class TFaultSite { Paint, Drain, Open };
    static inline void (*faultProbe_)(TFaultSite) = nullptr;
    // A handler failed (out of memory, or worse): the session ends with a
    // status text; the window and the file manager go on.
    void OnFault(TFault kind);

    // logging (uTermLog.cpp)
    // Starts or stops the log to match the Log setting and the connection.
    void SyncLog();
    void StartLog();
    // Writes the open line and lets the log's thread close the file: a flood
    // still queued must not hold the window (see closingLogs_).
    void StopLog(bool failureShown = false);
    // Timer 1: a failed log unticks the box and says why; the label follows
    // the file being written; closed logs whose thread ended are let go.
    void PollLog();
    void PollClosingLogs();
    void ShowLogFile();
    void SaveOutputAs();

    static LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK OutputProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK ControlKeyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                           DWORD_PTR ref);

    // main window procedure (uTermWnd.cpp)
    LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void OnCreate();
    void OnDestroy();
    void OnSize(WPARAM kind);
    void OnClose();
    void OnGetMinMaxInfo(MINMAXINFO* info);
    void OnCommand(int id, int code);
    void OnApply(WPARAM clicked);
    void OnTimer(UINT_PTR id);
    void OnReceived(WPARAM number);
    void OnEnded(WPARAM number, LPARAM code);
    void OnConnected(WPARAM number);
    // sending files (uTermSendFile.cpp)
    void OnDropFiles(WPARAM drop);  // an HDROP
    void OnFileSent(WPARAM number, LPARAM outcome);
    void ChooseFileToSend();
    // Timer 1 while a transfer runs.
    void ShowFileSendProgress();
    // True (and said in the status) while a transfer holds the line.
    bool RefuseWhileSending();
    void DrainReceived(bool all = false);
    // Received or echoed bytes into the model, the view following.
    void FeedModel(const void* bytes, int32_t count);
    void ReconnectIfDue();
    void AcquireSession(bool historyOn, int32_t historyLines);
    LRESULT OnCtlColorStatic(HWND hwnd, HDC dc, HWND control);
    bool OnControlKey(int id, UINT msg, WPARAM wp, LPARAM lp);
    void PostApply(WPARAM clicked);
    int Selection(int id) const;
    void Select(int id, int index);
    void ReadControls();
    void ApplyToSerialPort();
    void SaveWindowPlacement();
    void ShowCounters();
    // Adds what the backend wrote since the last look to the Tx counter.
    void CountWritten();
    void PollLamps();
    void InvalidateLamps();
    void LoadTerminalFont();
    void LoadAppearance();
    void CreateUiFont();

    // controls and layout (uTermLayout.cpp)
    void CreateControls();
    void FillOptionLists();
    void Layout(int width, int height);
    void LayoutBottom(HDC dc, int width, int height, int outputTop);
    // The rows below the toolbar again, as last laid out (the log's label
    // came or went): the toolbar's controls are not measured again.
    void RelayoutBottom();
    int outputTop_ = 0;  // where Layout put the output's top

    // output view (uTermView.cpp)
    LRESULT HandleOutputMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void OnOutputSize();
    void OnPaint();
    void OnOutputKey(WPARAM key, LPARAM lp);
    void OnOutputChar(WPARAM ch, LPARAM lp);
    void OnVScroll(int command);
    void OnHScroll(int command);
    void OnWheel(int delta, bool shift);
    void SyncAutoscroll();
    // After a switch between the text and the hex view: the rows that came in
    // at the time of the old top row are shown.
    void KeepPlaceAcrossViews(bool wasHex);
    void ApplyScrollBars();
    void DrawRow(HDC dc, int32_t row, int y, int width);
    void DrawRun(HDC dc, const char16_t* text, int32_t from, int32_t to, int y, TCellColors c);
    bool HexView() const { return settings_.ViewHex; }
    SIZE OutputClientSize() const;

    // selection (uTermSelect.cpp)
    struct TCell {
        int32_t Col, Row;
    };
    TCell HitTest(int x, int y) const;
    void OnButtonDown(int x, int y);
    void OnMouseMove(int x, int y);
    void OnButtonUp();
    void OnDoubleClick(int x, int y);
    // After a feed: rows that left the front take the scroll position and
    // the selection along, so both stay on their text; a selection whose
    // first line left goes.
    void FollowLeavingRows(int64_t firstLineBefore, int64_t rawBaseBefore);
    void OnContextMenu(LPARAM lp);
    void OrderedSelection(TCell& start, TCell& end) const;

    // Fields, in the order the window is described.
    HWND mainWnd_ = nullptr;
    HWND outputWnd_ = nullptr;
    HWND hostWnd_ = nullptr;
    TGdiObject<HFONT> uiFont_;
    TGdiObject<HFONT> termFont_;
    TGdiObject<HBRUSH> backgroundBrush_;
    TGdiObject<HBRUSH> lampOnBrush_;
    TGdiObject<HBRUSH> lampOffBrush_;
    int32_t charWidth_ = 8;
    int32_t lineHeight_ = 16;
    std::u16string fontName_;
    int32_t fontSize_ = 0;
    COLORREF backgroundColor_ = RGB(12, 12, 12);
    COLORREF textColor_ = RGB(204, 204, 204);
    int32_t hexBytesPerLine_ = 24;
    std::vector<INT> advance_;
    int32_t kind_ = 0;
    std::u16string target_;
    std::u16string displayName_;
    TConnInfo connection_;
    std::u16string section_;
    TSessionSettings settings_;
    TTermModel* model_ = nullptr;
    std::unique_ptr<TBackend> backend_;
    uint32_t connectionNumber_ = 0;
    bool connected_ = false;
    bool userDisconnected_ = false;
    TByteBuf receiveBuffer_;
    int64_t receivedCount_ = 0;
    ULONGLONG floodPaintTick_ = 0;  // when a drain last painted the output itself
    int64_t sentCount_ = 0;
    int64_t writtenSeen_ = 0;  // of the backend's WrittenCount, already in sentCount_
    std::u16string countersText_;
    int32_t modemStatus_ = 0;
    int32_t topRow_ = 0;
    int32_t firstCol_ = 0;
    bool scrollUpdating_ = false;
    // What each bar was last given: a burst that changes neither bar costs no
    // call (under Wine every SetScrollInfo redraws the bar at once).
    struct TBarState {
        int Max = -1, Page = -1, Pos = -1;
        bool operator==(const TBarState&) const = default;
    };
    TBarState vertBar_, horzBar_;
    bool selection_ = false;
    bool dragging_ = false;
    int32_t anchorCol_ = 0, anchorRow_ = 0;
    int32_t caretCol_ = 0, caretRow_ = 0;
    std::vector<TSentLine> sendHistory_;
    int32_t historyPos_ = -1;
    bool sessionOpen_ = false;
    int repeatIndex_ = -1;
    TSessionData* session_ = nullptr;
    TTermModel ownModel_{kOwnModelHistory};
    bool destroyed_ = false;
    int32_t dpi_ = 96;
    bool embedded_ = false;
    HWND listerWnd_ = nullptr;

    // Paint scratch: the off-screen bitmap while the view keeps its size, and
    // one row's text and attributes, reused across rows.
    TGdiObject<HBITMAP> backBitmap_;
    SIZE backSize_ = {0, 0};
    std::u16string rowText_;
    std::u16string rowAttrs_;
    std::vector<uint8_t> cellMarks_;  // DrawRow: the find marks of the row's visible cells

    std::unique_ptr<TSessionLog> log_;
    // Stopped logs whose thread still writes what was queued. A write that
    // fails now is still told; the window's end waits a bounded time for
    // them, as the file manager may be about to exit.
    struct TClosingLog {
        std::unique_ptr<TSessionLog> Log;
        bool FailureShown = false;
    };
    std::vector<TClosingLog> closingLogs_;
    std::u16string logShown_;  // the path the label shows

    std::u16string sendLabel_;   // the file sent, or "3 files", for the end's text
    std::u16string sendStatus_;  // the progress last shown

    TFindBar find_{*this};
};
