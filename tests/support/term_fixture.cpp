#include "term_fixture.h"

#include "base/uWin.h"
#include "gui.h"
#include "settings/uSettings.h"

namespace kltest {

TTermFixture::TTermFixture(int width, int height, const std::string& ini) {
    ini_ = dir_.File(L"kestrelink.ini");
    if (!ini.empty()) WriteFileBytes(ini_, ini);
    SetSettingsPath(U(ini_.c_str()));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ListerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KestrelinkTestLister";
    RegisterClassW(&wc);  // fails harmlessly once registered
    RECT r = {0, 0, width, height};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    lister_ =
        CreateWindowW(wc.lpszClassName, L"Lister", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                      r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(lister_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    term_ = CreateEmbeddedTerminal(lister_);
    EXPECT_NE(term_, nullptr);
    PumpFor(50);
}

TTermFixture::~TTermFixture() {
    if (term_) CloseEmbeddedTerminal(term_->MainWindow());
    DestroyWindow(lister_);
    SetCtrlDown(false);
    SetShiftDown(false);
    PumpFor(20);
}

LRESULT CALLBACK TTermFixture::ListerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TTermFixture*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && (msg == WM_KEYDOWN || msg == WM_KEYUP))
        self->ListerKeys.push_back({hwnd, msg, wp, lp, 0, {}});
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TTermFixture::Feed(std::string_view bytes) {
    TTermWindowTestAccess::Receive(*term_, bytes);
    PumpFor(20);
}

void TTermFixture::Resize(int width, int height) {
    RECT r = {0, 0, width, height};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(lister_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    MoveWindow(Main(), 0, 0, width, height, TRUE);  // as the host sizes the embedded window
    PumpFor(20);
}

void TTermFixture::Show(int kind, const std::u16string& target, const TSessionSettings& s) {
    term_->SetTarget(kind, target, target, TConnInfo{target, u"127.0.0.1"});
    TTermWindowTestAccess::SetPortSettings(*term_, s);
    PumpFor(20);
}

void TTermFixture::Choose(int id, int index) {
    SendMessageW(Control(id), CB_SETCURSEL, WPARAM(index), 0);
    SendMessageW(Main(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), LPARAM(Control(id)));
    PumpFor(20);
}

void TTermFixture::Click(int id) {
    SendMessageW(Control(id), BM_CLICK, 0, 0);
    PumpFor(20);
}

void TTermFixture::UseFixedClock() {
    term_->Model().Clock = [] { return 45000.0 + 45296.789 / 86400; };  // 12:34:56.789
}

void SetCtrlDown(bool down) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = state[VK_LCONTROL] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

void SetShiftDown(bool down) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_SHIFT] = state[VK_LSHIFT] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

void TypeKey(HWND target, WPARAM vk) {
    const LPARAM scan = LPARAM(MapVirtualKeyW(UINT(vk), MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(target, WM_KEYDOWN, vk, 1 | scan);
    PostMessageW(target, WM_KEYUP, vk, 1 | scan | (LPARAM(3) << 30));
    PumpFor(30);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"<clipboard closed>";
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(h));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return text;
}

TViewPicture::TViewPicture(TTermWindow& term) {
    GetClientRect(term.OutputWindow(), &rc_);
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, rc_.right, rc_.bottom);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    term.PaintView(dc_, rc_);
}

TViewPicture::~TViewPicture() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

}  // namespace kltest
