#include "uHostWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace host {

namespace {

constexpr ACCEL kKeys[] = {
    {FVIRTKEY, VK_RETURN, kCmdOpen},   {FVIRTKEY | FALT, VK_RETURN, kCmdProperties},
    {FVIRTKEY, VK_F3, kCmdView},       {FVIRTKEY | FCONTROL, 'Q', kCmdQuickView},
    {FVIRTKEY, VK_DELETE, kCmdDelete}, {FVIRTKEY, VK_F5, kCmdRefresh},
};

struct TColumn {
    const wchar_t* Title;
    int Width;  // at 96 DPI
    int Format;
};
constexpr TColumn kColumns[] = {
    {L"Name", 300, LVCFMT_LEFT},
    {L"Size", 70, LVCFMT_RIGHT},
};

constexpr wchar_t kTitle[] = L"Kestrelink host";
constexpr wchar_t kHelp[] =
    L"Enter open   Alt+Enter properties   F3 view   Ctrl+Q quick view   Del delete   F5 re-read";
constexpr int kMainWidth = 760, kMainHeight = 460;  // at 96 DPI
constexpr int kListerWidth = 820, kListerHeight = 520;

THostWindow* From(HWND hwnd) {
    return reinterpret_cast<THostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// On WM_NCCREATE the object arrives in CREATESTRUCT and is kept with the window.
THostWindow* Attach(HWND hwnd, UINT msg, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<THostWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return self;
    }
    return From(hwnd);
}

bool CtrlHeld() { return GetKeyState(VK_CONTROL) < 0; }

// Entry names become file names as the file manager makes them: characters a
// file name cannot hold are replaced.
std::wstring FileNameOf(const std::wstring& entry) {
    std::wstring name = entry;
    for (auto& c : name)
        if (c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos)
            c = L'_';
    return name;
}

std::string ReadHead(const std::wstring& path, DWORD max) {
    std::string head(max, '\0');
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    DWORD got = 0;
    if (h != INVALID_HANDLE_VALUE) {
        if (!ReadFile(h, head.data(), max, &got, nullptr)) got = 0;
        CloseHandle(h);
    }
    head.resize(got);
    return head;
}

void FitChild(HWND frame, HWND child) {
    if (!child || !IsWindow(child)) return;
    RECT rc;
    GetClientRect(frame, &rc);
    MoveWindow(child, 0, 0, rc.right, rc.bottom, TRUE);
}

}  // namespace

THostWindow::THostWindow(TLoadedPlugin& plugin) : plugin_(plugin) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    tempDir_ = std::wstring(temp) + L"kl_host-" + std::to_wstring(GetCurrentProcessId());
}

THostWindow::~THostWindow() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (icons_) ImageList_Destroy(icons_);
    if (keys_) DestroyAcceleratorTable(keys_);
    RemoveDirectoryW(tempDir_.c_str());
}

bool THostWindow::RegisterClasses() {
    static bool done = false;
    if (done) return true;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpfnWndProc = MainProc;
    wc.lpszClassName = kMainClass;
    if (!RegisterClassExW(&wc)) return false;
    wc.lpfnWndProc = ListerProc;
    wc.lpszClassName = kListerClass;
    if (!RegisterClassExW(&wc)) return false;
    wc.hIcon = nullptr;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpfnWndProc = PaneProc;
    wc.lpszClassName = kPaneClass;
    done = RegisterClassExW(&wc) != 0;
    return done;
}

int THostWindow::Scaled(int value) const {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return MulDiv(value, dpi, 96);
}

bool THostWindow::Create(int show) {
    if (!RegisterClasses()) return false;
    keys_ = CreateAcceleratorTableW(const_cast<ACCEL*>(kKeys), int(std::size(kKeys)));
    const std::wstring title = std::wstring(kTitle) + L" - \\\\\\" + FromUtf8(plugin_.RootName());
    hwnd_ = CreateWindowExW(0, kMainClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            CW_USEDEFAULT, CW_USEDEFAULT, Scaled(kMainWidth), Scaled(kMainHeight),
                            nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd_) return false;
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    ReadFolder();
    SetFocus(list_);
    return true;
}

bool THostWindow::TranslateKeys(MSG& msg) {
    return msg.hwnd == list_ && keys_ && TranslateAcceleratorW(hwnd_, keys_, &msg);
}

LRESULT CALLBACK THostWindow::MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    THostWindow* self = Attach(hwnd, msg, lp);
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_CREATE:
            self->hwnd_ = hwnd;
            self->OnCreate();
            return 0;
        case WM_SIZE:
            self->OnSize();
            return 0;
        case WM_SETFOCUS:
            SetFocus(self->list_);
            return 0;
        case WM_COMMAND:
            self->OnCommand(LOWORD(wp));
            return 0;
        case WM_NOTIFY:
            return self->OnNotify(*reinterpret_cast<NMHDR*>(lp));
        case kRefreshMessage:
            self->OnRefreshRequest(wp);
            return 0;
        case WM_CLOSE:
            self->OnClose();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void THostWindow::OnCreate() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    list_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0,
        0, 0, hwnd_, reinterpret_cast<HMENU>(INT_PTR(kIdList)), inst, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < int(std::size(kColumns)); ++i) {
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.pszText = const_cast<wchar_t*>(kColumns[i].Title);
        col.cx = Scaled(kColumns[i].Width);
        col.fmt = kColumns[i].Format;
        ListView_InsertColumn(list_, i, &col);
    }
    status_ =
        CreateWindowExW(0, STATUSCLASSNAMEW, kHelp, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0,
                        0, hwnd_, reinterpret_cast<HMENU>(INT_PTR(kIdStatusBar)), inst, nullptr);
    const int small = GetSystemMetrics(SM_CXSMICON);
    icons_ = ImageList_Create(small, small, ILC_COLOR32 | ILC_MASK, 8, 8);
    ListView_SetImageList(list_, icons_, LVSIL_SMALL);
}

void THostWindow::OnSize() {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    SendMessageW(status_, WM_SIZE, 0, 0);
    RECT sb = {};
    GetWindowRect(status_, &sb);
    const int height = rc.bottom - (sb.bottom - sb.top);
    const int listWidth = pane_ ? rc.right * 2 / 5 : rc.right;
    MoveWindow(list_, 0, 0, listWidth, height, TRUE);
    // The name column takes what the size column and a scroll bar leave.
    const int rest = listWidth - Scaled(kColumns[1].Width) - GetSystemMetrics(SM_CXVSCROLL) - 4;
    ListView_SetColumnWidth(list_, 0,
                            std::max(Scaled(120), std::min(rest, Scaled(kColumns[0].Width))));
    if (pane_) MoveWindow(pane_, listWidth, 0, rc.right - listWidth, height, TRUE);
}

void THostWindow::OnCommand(WORD id) {
    const std::wstring entry = SelectedEntry();
    switch (id) {
        case kCmdOpen:
            if (!entry.empty()) Execute(entry, L"open");
            break;
        case kCmdProperties:
            // No selection stands for the folder itself, as in the file manager.
            Execute(entry, L"properties");
            break;
        case kCmdView: {
            std::wstring error;
            if (!entry.empty() && !OpenLister(entry, error)) SetStatus(error);
            break;
        }
        case kCmdQuickView: {
            std::wstring error;
            if (quick_ || pane_)
                CloseQuickView();
            else if (!OpenQuickView(entry, error))
                SetStatus(error);
            break;
        }
        case kCmdDelete:
            if (!entry.empty()) DeleteEntry(entry, true);
            break;
        case kCmdRefresh:
            ReadFolder();
            SetStatus(L"Folder re-read: " + std::to_wstring(entries_.size()) + L" entries");
            break;
    }
}

LRESULT THostWindow::OnNotify(const NMHDR& nm) {
    if (nm.idFrom != kIdList) return 0;
    if (nm.code == NM_DBLCLK) {
        OnCommand(kCmdOpen);
    } else if (nm.code == LVN_ITEMCHANGED) {
        // The Quick View follows the cursor, as in the file manager.
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(nm);
        const bool selected =
            (change.uNewState & LVIS_SELECTED) && !(change.uOldState & LVIS_SELECTED);
        if (selected && pane_) {
            const std::wstring entry = SelectedEntry();
            if (!quick_ || quick_->Entry != entry) {
                std::wstring error;
                if (!OpenQuickView(entry, error)) SetStatus(error);
            }
        }
    }
    return 0;
}

void THostWindow::OnRefreshRequest(WPARAM command) {
    if (command != kRefreshCommand) return;
    ++refreshes_;
    ReadFolder();
    SetStatus(L"The plugin asked for a refresh: folder re-read, " +
              std::to_wstring(entries_.size()) + L" entries");
}

void THostWindow::OnClose() {
    CloseQuickView();
    while (!listers_.empty()) OnListerClose(listers_.back()->Frame);
    DestroyWindow(hwnd_);
}

void THostWindow::ReadFolder() {
    const std::wstring keep = SelectedEntry();
    DWORD error = 0;
    entries_ = plugin_.List(error);
    ListView_DeleteAllItems(list_);
    for (size_t i = 0; i < entries_.size(); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = int(i);
        item.pszText = const_cast<wchar_t*>(entries_[i].Name.c_str());
        item.iImage = int(i);
        ListView_InsertItem(list_, &item);
        std::wstring size = std::to_wstring(entries_[i].Size);
        ListView_SetItemText(list_, int(i), 1, size.data());
    }
    FillIcons();
    if (error)
        SetStatus(L"The plugin refused the folder listing (error " + std::to_wstring(error) + L")");
    SelectEntry(keep.empty() && !entries_.empty() ? entries_[0].Name : keep);
}

// One image per entry in listing order; an entry without an icon of its own
// shows the host's default, as the plugin's result 0 asks.
void THostWindow::FillIcons() {
    ImageList_RemoveAll(icons_);
    HICON fallback = LoadIconW(nullptr, IDI_APPLICATION);
    for (const auto& e : entries_) {
        int result = 0;
        HICON icon = plugin_.Icon(e.Name, true, result);
        ImageList_AddIcon(icons_, icon ? icon : fallback);
        if (icon) DestroyIcon(icon);  // the host owns what the plugin extracted
    }
}

std::wstring THostWindow::SelectedEntry() const {
    const int i = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    return i >= 0 && size_t(i) < entries_.size() ? entries_[size_t(i)].Name : std::wstring();
}

void THostWindow::SelectEntry(const std::wstring& name) {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].Name == name) {
            ListView_SetItemState(list_, int(i), LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            ListView_EnsureVisible(list_, int(i), FALSE);
            return;
        }
}

void THostWindow::SetStatus(const std::wstring& text) {
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring THostWindow::StatusText() const {
    wchar_t buf[1024] = {};
    if (LOWORD(SendMessageW(status_, SB_GETTEXTLENGTHW, 0, 0)) < 1024)
        SendMessageW(status_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(buf));
    return buf;
}

int THostWindow::Execute(const std::wstring& entry, const std::wstring& verb) {
    if (!plugin_.Api().FsExecuteFileW) {
        SetStatus(L"This library has no FsExecuteFileW: Enter and Alt+Enter do nothing");
        return -1;
    }
    const int r = plugin_.Execute(hwnd_, entry, verb);
    SetStatus(L"FsExecuteFileW \"" + verb + L"\" on \"" + entry + L"\": " +
              (r == kExecOk ? L"done" : L"the plugin reports an error"));
    return r;
}

bool THostWindow::DeleteEntry(const std::wstring& entry, bool confirm) {
    if (!plugin_.Api().FsDeleteFileW) {
        SetStatus(L"This library has no FsDeleteFileW: Del does nothing");
        return false;
    }
    const std::wstring question = L"Delete \"" + entry + L"\"?";
    if (confirm && MessageBoxW(hwnd_, question.c_str(), kTitle,
                               MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return false;
    const bool done = plugin_.Delete(entry);
    ReadFolder();
    SetStatus(done ? L"Deleted \"" + entry + L"\""
                   : L"\"" + entry + L"\" cannot be deleted (the plugin refused)");
    return done;
}

std::wstring THostWindow::ViewFileFor(const std::wstring& entry) {
    CreateDirectoryW(tempDir_.c_str(), nullptr);
    return tempDir_ + L"\\" + std::to_wstring(++fileCounter_) + L" " + FileNameOf(entry);
}

bool THostWindow::LoadInto(TView& view, std::wstring& error) {
    if (!plugin_.Api().CanView()) {
        error = L"This library has no lister side (FsGetFileW, ListLoadW, ListCloseWindow)";
        return false;
    }
    view.File = ViewFileFor(view.Entry);
    const int got = plugin_.GetFile(view.Entry, view.File);
    if (got != kGetFileOk) {
        error =
            L"FsGetFileW refused \"" + view.Entry + L"\" (result " + std::to_wstring(got) + L")";
        DeleteFileW(view.File.c_str());
        return false;
    }
    bool understood = false;
    const std::string detect = plugin_.DetectString();
    if (!DetectMatches(detect, ReadHead(view.File, 4096), understood) && understood) {
        error = L"The plugin's detect string does not claim the file of \"" + view.Entry + L"\"";
        DeleteFileW(view.File.c_str());
        return false;
    }
    std::vector<WCHAR> file(view.File.begin(), view.File.end());
    file.resize(std::max<size_t>(file.size() + 1, MAX_PATH), 0);
    view.Plugin = plugin_.Api().ListLoadW(view.Frame, file.data(), 0);
    if (!view.Plugin) {
        error = L"ListLoadW gave no window for \"" + view.Entry + L"\"";
        DeleteFileW(view.File.c_str());
        return false;
    }
    FitChild(view.Frame, view.Plugin);
    return true;
}

void THostWindow::Unload(TView& view) {
    if (view.Plugin && plugin_.Api().ListCloseWindow) plugin_.Api().ListCloseWindow(view.Plugin);
    view.Plugin = nullptr;
    if (!view.File.empty()) DeleteFileW(view.File.c_str());
    view.File.clear();
}

const TView* THostWindow::OpenLister(const std::wstring& entry, std::wstring& error) {
    auto view = std::make_unique<TView>();
    view->Entry = entry;
    const std::wstring title = L"Lister - [" + entry + L"]";
    view->Frame =
        CreateWindowExW(0, kListerClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        CW_USEDEFAULT, CW_USEDEFAULT, Scaled(kListerWidth), Scaled(kListerHeight),
                        nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!view->Frame) {
        error = L"The lister window could not be created";
        return nullptr;
    }
    if (!LoadInto(*view, error)) {
        DestroyWindow(view->Frame);
        return nullptr;
    }
    ShowWindow(view->Frame, SW_SHOW);
    SetFocus(view->Plugin);
    SetStatus(L"Viewing \"" + entry + L"\" in a lister window");
    listers_.push_back(std::move(view));
    return listers_.back().get();
}

std::vector<const TView*> THostWindow::Listers() const {
    std::vector<const TView*> out;
    for (const auto& v : listers_) out.push_back(v.get());
    return out;
}

TView* THostWindow::ListerOf(HWND frame) {
    for (const auto& v : listers_)
        if (v->Frame == frame) return v.get();
    return nullptr;
}

void THostWindow::OnListerClose(HWND frame) {
    auto it = std::find_if(listers_.begin(), listers_.end(),
                           [&](const auto& v) { return v->Frame == frame; });
    if (it == listers_.end()) {
        DestroyWindow(frame);
        return;
    }
    Unload(**it);  // the plugin's window goes first, then the frame it lived in
    DestroyWindow(frame);
    listers_.erase(it);
}

LRESULT CALLBACK THostWindow::ListerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    THostWindow* self = Attach(hwnd, msg, lp);
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_SIZE:
            if (TView* v = self->ListerOf(hwnd)) FitChild(hwnd, v->Plugin);
            return 0;
        case WM_SETFOCUS:
            // The keyboard belongs to what the plugin shows in the lister.
            if (TView* v = self->ListerOf(hwnd); v && v->Plugin) SetFocus(v->Plugin);
            return 0;
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) PostMessageW(hwnd, WM_CLOSE, 0, 0);
            return 0;
        case WM_CLOSE:
            self->OnListerClose(hwnd);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

const TView* THostWindow::OpenQuickView(const std::wstring& entry, std::wstring& error) {
    if (quick_) Unload(*quick_);
    quick_.reset();
    if (!pane_) {
        pane_ = CreateWindowExW(
            WS_EX_CLIENTEDGE, kPaneClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
            hwnd_, reinterpret_cast<HMENU>(INT_PTR(kIdPane)), GetModuleHandleW(nullptr), this);
        OnSize();
    }
    auto view = std::make_unique<TView>();
    view->Entry = entry;
    view->Frame = pane_;
    paneMessage_.clear();
    if (entry.empty() || !LoadInto(*view, error)) {
        if (entry.empty()) error = L"No entry selected";
        paneMessage_ = error;
        InvalidateRect(pane_, nullptr, TRUE);
        return nullptr;
    }
    SetStatus(L"Quick View of \"" + entry + L"\"");
    quick_ = std::move(view);
    return quick_.get();
}

void THostWindow::CloseQuickView() {
    if (quick_) Unload(*quick_);
    quick_.reset();
    if (pane_) DestroyWindow(pane_);
    pane_ = nullptr;
    OnSize();
    SetFocus(list_);
}

LRESULT CALLBACK THostWindow::PaneProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    THostWindow* self = Attach(hwnd, msg, lp);
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_SIZE:
            if (self->quick_) FitChild(hwnd, self->quick_->Plugin);
            return 0;
        case WM_KEYDOWN:
            self->OnPaneKey(wp);
            return 0;
        case WM_PAINT:
            self->OnPanePaint(hwnd);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The plugin forwards Ctrl+Q from its focused controls to the window it was
// loaded into; the host takes it as its own key and closes the Quick View
// (posted: the pane and the plugin's window go away after this message).
void THostWindow::OnPaneKey(WPARAM key) {
    if (key == 'Q' && CtrlHeld()) PostMessageW(hwnd_, WM_COMMAND, kCmdQuickView, 0);
}

void THostWindow::OnPanePaint(HWND pane) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(pane, &ps);
    if (!quick_) {
        RECT rc;
        GetClientRect(pane, &rc);
        InflateRect(&rc, -Scaled(8), -Scaled(8));
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        const std::wstring text = L"Quick View\n\n" + paneMessage_;
        DrawTextW(dc, text.c_str(), -1, &rc, DT_WORDBREAK);
        SelectObject(dc, old);
    }
    EndPaint(pane, &ps);
}

}  // namespace host
