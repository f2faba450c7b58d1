#include "lister_fixture.h"

#include "base/uWin.h"
#include "gui.h"
#include "termwnd/uTermWnd.h"

namespace kltest {

namespace {

using TGetFileW = int(WINAPI*)(WCHAR*, WCHAR*, int, void*);
using TListLoadW = HWND(WINAPI*)(HWND, WCHAR*, int);
using TListCloseWindow = void(WINAPI*)(HWND);

constexpr wchar_t kListerClass[] = L"TLister";
constexpr wchar_t kMainClass[] = L"KestrelinkTestMain";

void RegisterParentClasses() {
    for (const wchar_t* name : {kListerClass, kMainClass}) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = name;
        RegisterClassW(&wc);  // fails harmlessly once registered
    }
}

}  // namespace

TListerHost::TListerHost(const std::string& ini) {
    const std::wstring dll = CopyDllTo(dir_.Path());
    ini_ = dir_.File(L"kestrelink.ini");
    if (!ini.empty()) WriteFileBytes(ini_, ini);
    plugin_ = std::make_unique<TPlugin>(dll);
    RegisterParentClasses();
}

TListerHost::~TListerHost() {
    // Every window this thread still has on our classes goes before the DLL.
    for (const wchar_t* cls : {kListerClass, kMainClass})
        while (HWND h = FindWindowW(cls, nullptr)) {
            if (GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId()) break;
            DestroyWindow(h);
        }
    PumpFor(20);
}

std::wstring TListerHost::Descriptor(const std::wstring& entry) {
    const std::wstring file = dir_.File(L"entry" + std::to_wstring(++files_) + L".kl");
    std::wstring remote = L"\\" + entry;
    std::wstring local = file;
    const int r = plugin_->Proc<TGetFileW>("FsGetFileW")(remote.data(), local.data(), 1, nullptr);
    EXPECT_EQ(r, 0) << "FsGetFileW of the entry";
    return file;
}

HWND TListerHost::NewParent(bool lister) {
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN;
    HINSTANCE inst = GetModuleHandleW(nullptr);
    if (lister)
        return CreateWindowW(kListerClass, L"Lister", style, 30, 30, 960, 600, nullptr, nullptr,
                             inst, nullptr);
    HWND main = CreateWindowW(kMainClass, L"Main", style, 30, 30, 960, 600, nullptr, nullptr, inst,
                              nullptr);
    return CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 940, 560,
                         main, nullptr, inst, nullptr);
}

HWND TListerHost::Load(HWND parent, const std::wstring& entry) {
    return LoadFile(parent, Descriptor(entry));
}

HWND TListerHost::LoadFile(HWND parent, const std::wstring& file) {
    std::wstring path = file;
    return plugin_->Proc<TListLoadW>("ListLoadW")(parent, path.data(), 0);
}

void TListerHost::Close(HWND terminal) {
    plugin_->Proc<TListCloseWindow>("ListCloseWindow")(terminal);
}

std::wstring StatusOf(HWND terminal) { return TextOf(FindById(terminal, kIdStatus)); }
std::wstring CountersOf(HWND terminal) { return TextOf(FindById(terminal, kIdCounters)); }
std::wstring CaptionOf(HWND terminal) { return TextOf(FindById(terminal, kIdConnect)); }

std::u16string ModelText(HWND terminal) {
    // The DLL's object, read through the same class definition (read only).
    TTermWindow* term = TTermWindow::FromWindow(terminal);
    if (!term) return u"<no terminal>";
    std::u16string text;
    for (int32_t row = 0; row < term->TotalRows(); ++row) {
        if (row) text += u'\n';
        text += term->RowText(row);
    }
    return text;
}

bool WaitForStatus(HWND terminal, const std::wstring& part, DWORD timeoutMs) {
    return PumpUntil([&] { return StatusOf(terminal).find(part) != std::wstring::npos; },
                     timeoutMs);
}

void SendLine(HWND terminal, const std::wstring& text) {
    SetWindowTextW(FindById(terminal, kIdEdit), text.c_str());
    SendMessageW(terminal, WM_COMMAND, MAKEWPARAM(kIdSend, BN_CLICKED), 0);
    PumpFor(10);
}

void Choose(HWND terminal, int id, int index) {
    HWND c = FindById(terminal, id);
    SendMessageW(c, CB_SETCURSEL, WPARAM(index), 0);
    SendMessageW(terminal, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), LPARAM(c));
    PumpFor(20);
}

}  // namespace kltest
