// A plugin of the smallest useful kind, for the stand-in host's own tests:
// three entries, descriptor files starting "FK", a refresh request on "open"
// of alpha, a stand-alone terminal on "open" of beta, and a lister window that reports the mode it
// found (own lister window or Quick View), shows traffic counters and forwards Ctrl+Q from its edit
// line to the window it was loaded into. No icons of its own.
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> g_entries = {L"alpha", L"beta  Device", L"nolister"};
WNDPROC g_editProc = nullptr;

std::wstring NameOf(const WCHAR* remote) {
    while (remote && *remote == L'\\') ++remote;
    return remote ? remote : L"";
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if ((msg == WM_KEYDOWN || msg == WM_KEYUP) && wp == 'Q' && GetKeyState(VK_CONTROL) < 0) {
        PostMessageW(GetParent(GetParent(hwnd)), msg, wp, lp);
        return 0;
    }
    if (msg == WM_CHAR && wp == 17) return 0;
    return CallWindowProcW(g_editProc, hwnd, msg, wp, lp);
}

HWND Child(HWND parent, const wchar_t* cls, const std::wstring& text, int id, int y) {
    return CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER, 8, y, 400, 22,
                           parent, reinterpret_cast<HMENU>(INT_PTR(id)), nullptr, nullptr);
}

}  // namespace

extern "C" {

int __stdcall FsInit(int, void*, void*, void*) { return 0; }
void __stdcall FsSetDefaultParams(void*) {}
void __stdcall FsGetDefRootName(char* name, int max) { lstrcpynA(name, "Fake", max); }
void __stdcall ListGetDetectString(char* detect, int max) {
    lstrcpynA(detect, "[0]=\"F\" & [1]=\"K\"", max);
}

HANDLE __stdcall FsFindFirstW(WCHAR*, WIN32_FIND_DATAW* fd) {
    auto* next = new size_t(0);
    *fd = {};
    lstrcpynW(fd->cFileName, g_entries[0].c_str(), MAX_PATH);
    fd->nFileSizeLow = 10;
    return next;
}

BOOL __stdcall FsFindNextW(HANDLE h, WIN32_FIND_DATAW* fd) {
    auto* next = static_cast<size_t*>(h);
    if (++*next >= g_entries.size()) return FALSE;
    *fd = {};
    lstrcpynW(fd->cFileName, g_entries[*next].c_str(), MAX_PATH);
    fd->nFileSizeLow = DWORD(10 + *next);
    return TRUE;
}

int __stdcall FsFindClose(HANDLE h) {
    delete static_cast<size_t*>(h);
    return 0;
}

int __stdcall FsGetFileW(WCHAR* remote, WCHAR* local, int, void*) {
    const std::wstring name = NameOf(remote);
    std::string text = name == L"nolister" ? "XX" : "FK ";
    for (wchar_t c : name) text += char(c < 128 ? c : '?');
    HANDLE h = CreateFileW(local, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 4;
    DWORD put = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &put, nullptr);
    CloseHandle(h);
    return 0;
}

// "open" on beta: a stand-alone terminal owned by the host's main window.
int OpenTerminal(HWND mainWin) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"KestrelinkWindow";
    RegisterClassW(&wc);
    HWND t =
        CreateWindowExW(0, wc.lpszClassName, L"Kestrelink - beta", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        40, 40, 440, 120, mainWin, nullptr, nullptr, nullptr);
    Child(t, L"STATIC", L"connected to beta", 133, 8);
    Child(t, L"STATIC", L"Rx: 3   Tx: 0", 134, 36);
    return t ? 0 : 1;
}

int __stdcall FsExecuteFileW(HWND mainWin, WCHAR* remote, WCHAR* verb) {
    if (lstrcmpiW(verb, L"open") == 0 && NameOf(remote) == L"beta  Device")
        return OpenTerminal(mainWin);
    if (lstrcmpiW(verb, L"open") != 0 || NameOf(remote) != L"alpha") return 1;
    g_entries.push_back(L"added by open");
    PostMessageW(mainWin, WM_USER + 51, 541, 0);  // another command: not a refresh
    PostMessageW(mainWin, WM_USER + 51, 540, 0);
    return 0;
}

BOOL __stdcall FsDeleteFileW(WCHAR* remote) {
    for (auto it = g_entries.begin(); it != g_entries.end(); ++it)
        if (*it == NameOf(remote)) {
            g_entries.erase(it);
            return -1;
        }
    return FALSE;
}

HWND __stdcall ListLoadW(HWND parent, WCHAR* file, int) {
    char head[64] = {};
    DWORD got = 0;
    HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    ReadFile(h, head, sizeof head - 1, &got, nullptr);
    CloseHandle(h);
    if (got < 2 || head[0] != 'F' || head[1] != 'K') return nullptr;
    wchar_t root[64] = {};
    GetClassNameW(GetAncestor(parent, GA_ROOT), root, 64);
    const bool lister = lstrcmpiW(root, L"TLister") == 0;
    RECT rc;
    GetClientRect(parent, &rc);
    HWND box = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, rc.right, rc.bottom,
                               parent, nullptr, nullptr, nullptr);
    std::wstring status = lister ? L"mode 1: " : L"mode 2: ";
    for (DWORD i = 0; i < got; ++i) status += wchar_t(static_cast<unsigned char>(head[i]));
    Child(box, L"STATIC", status, 133, 8);
    Child(
        box, L"STATIC",
        std::string(head).find("alpha") != std::string::npos ? L"Rx: 7   Tx: 0" : L"Rx: 0   Tx: 0",
        134, 36);
    HWND edit = Child(box, L"EDIT", L"", 131, 64);
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
    SetFocus(edit);
    return box;
}

void __stdcall ListCloseWindow(HWND win) { DestroyWindow(win); }

}  // extern "C"
