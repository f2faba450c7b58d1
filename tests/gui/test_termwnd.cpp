// The terminal window's frame: its controls as the user finds them, the
// layout at the screen's DPI (run once at 96 and once at 144 DPI), the path
// from a toolbar change to the settings file, the keys it forwards, and
// faults inside its handlers.
#include <windows.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "backend/uSerialBackend.h"
#include "gui.h"
#include "term_fixture.h"

using namespace kltest;
using namespace std::string_literals;

namespace {

// A drop-down's entries, each followed by a comma.
std::wstring Items(HWND combo) {
    std::wstring all;
    wchar_t buf[64] = {};
    for (int i = 0; SendMessageW(combo, CB_GETLBTEXT, i, LPARAM(buf)) > 0; ++i) all += buf + L","s;
    return all;
}

// A backend with no line: the test hands it bytes as a worker would.
class TFakeBackend : public TBackend {
public:
    using TBackend::TBackend;
    bool Open(std::u16string&) override { return true; }
    bool Close() override { return true; }
    void Arrive(std::string_view bytes) {
        Deliver(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()));
    }
};

bool HasStyle(HWND hwnd, DWORD style) {
    return (GetWindowLongPtrW(hwnd, GWL_STYLE) & style) == style;
}

}  // namespace

TEST(TermWindow, ControlsCaptionsAndOptionLists) {
    TTermFixture f;
    // Every control: ID, class and caption ("?": not fixed), child style, the UI font.
    std::wstring seen;
    const auto uiFont = SendMessageW(f.Control(101), WM_GETFONT, 0, 0);
    for (int id : {101, 300, 102, 301, 103, 302, 104, 303, 105, 304, 106, 107, 108,
                   305, 120, 306, 121, 307, 122, 123, 124, 125, 126, 128, 129, 127,
                   140, 308, 130, 131, 132, 133, 135, 136, 137, 138, 134}) {
        HWND c = f.Control(id);
        const bool fixed = ClassOf(c) != L"ComboBox" && id != 133 && id != 134;
        seen += std::to_wstring(id) + L" " + ClassOf(c) + L" " + (fixed ? TextOf(c) : L"?") + L";";
        EXPECT_TRUE(HasStyle(c, WS_CHILD | WS_VISIBLE | (ClassOf(c) != L"Static" ? WS_TABSTOP : 0)))
            << id;
        EXPECT_TRUE(id == 140 || SendMessageW(c, WM_GETFONT, 0, 0) == uiFont) << id;
    }
    EXPECT_EQ(
        seen,
        L"101 Button Connect;300 Static Baud;102 ComboBox ?;301 Static Data;103 ComboBox ?;"
        L"302 Static Stop;104 ComboBox ?;303 Static Parity;105 ComboBox ?;304 Static Flow;"
        L"106 ComboBox ?;107 Button DTR;108 Button RTS;305 Static View;120 ComboBox ?;"
        L"306 Static Encoding;121 ComboBox ?;307 Static Rx line ending;122 ComboBox ?;"
        L"123 Button ANSI colors;124 Button Autoscroll;125 Button Local echo;"
        L"126 Button Auto-reconnect;128 Button Timestamps;129 Button Log;127 Button Clear;"
        L"140 KestrelinkOutput ;308 Static Send;130 ComboBox ?;131 Edit ;132 Button Send;"
        L"133 Static ?;135 Static CTS;136 Static DSR;137 Static RI;138 Static DCD;134 Static ?;");
    EXPECT_TRUE(HasStyle(f.Control(107), BS_PUSHLIKE) && HasStyle(f.Control(102), CBS_DROPDOWN) &&
                !HasStyle(f.Control(102), CBS_DROPDOWNLIST) && HasStyle(f.Control(134), SS_RIGHT) &&
                HasStyle(f.Control(133), SS_ENDELLIPSIS) &&
                HasStyle(f.Control(131), ES_AUTOHSCROLL));
    EXPECT_TRUE(GetWindowLongPtrW(f.Output(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    std::wstring lists;
    for (int id : {103, 104, 105, 106, 120, 121, 122, 130}) lists += Items(f.Control(id)) + L"/";
    EXPECT_EQ(lists,
              L"5,6,7,8,/1,1.5,2,/None,Odd,Even,Mark,Space,/None,RTS/CTS,XON/XOFF,DTR/DSR,/"
              L"Text,Hex,/UTF-8,Latin-1 (CP1252),ASCII,/Auto,CR+LF,LF,CR,/No ending,CR,LF,CR+LF,/");
    EXPECT_EQ(Items(f.Control(102)),
              L"300,600,1200,2400,4800,9600,14400,19200,28800,38400,57600,76800,115200,230400,"
              L"460800,500000,576000,921600,1000000,1500000,2000000,3000000,");
    // Defaults until a session brings its own settings; then the enabling rule.
    EXPECT_EQ(TextOf(f.Control(102)), L"115200");
    EXPECT_EQ(SendMessageW(f.Control(103), CB_GETCURSEL, 0, 0), 3);
    TSessionSettings s = DefaultSessionSettings();
    auto enabled = [&](std::initializer_list<int> ids) {
        std::wstring r;
        for (int id : ids) r += IsWindowEnabled(f.Control(id)) ? L'1' : L'0';
        return r;
    };
    f.Show(1, u"Lab", s);
    EXPECT_EQ(enabled({102, 103, 104, 105, 106, 107, 108, 120, 131}), L"000000011");
    s.Flow = kFlowDtrDsr;
    f.Show(0, u"COM3", s);
    EXPECT_EQ(enabled({102, 106, 107, 108}), L"1101");
    s.Flow = kFlowRtsCts;
    f.Show(0, u"COM3", s);
    EXPECT_EQ(enabled({102, 106, 107, 108}), L"1110");
}

TEST(TermWindow, LayoutFollowsDpiAndWrapsWholeGroups) {
    TTermFixture f;
    // The 144-DPI run names its DPI; the window must have taken it from the screen.
    const int dpi = f.Term().Dpi();
    const char* want = std::getenv("KL_EXPECT_DPI");
    EXPECT_EQ(dpi, want ? std::atoi(want) : 96);
    auto S = [&](int n) { return MulDiv(n, dpi, 96); };
    auto measured = [&](int id, int minimum, int extra) {  // caption width in the UI font
        HWND c = f.Control(id);
        HDC dc = GetDC(c);
        SelectObject(dc, HGDIOBJ(SendMessageW(c, WM_GETFONT, 0, 0)));
        SIZE size = {};
        GetTextExtentPoint32W(dc, TextOf(c).c_str(), int(TextOf(c).size()), &size);
        ReleaseDC(c, dc);
        return std::max(S(minimum), int(size.cx) + S(extra));
    };
    auto rect = [&](int id) { return ChildRect(f.Control(id)); };
    auto is = [&](int id, int x, int y, int w, int h) {  // h 0: a combo box, its own height
        const RECT r = rect(id);
        EXPECT_EQ((std::array<LONG, 4>{r.left, r.top, r.right - r.left, h ? r.bottom - r.top : 0}),
                  (std::array<LONG, 4>{x, y, w, h}))
            << "control " << id;
    };
    MINMAXINFO mmi = {};
    SendMessageW(f.Main(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    EXPECT_EQ(mmi.ptMinTrackSize.x, S(480));
    EXPECT_EQ(mmi.ptMinTrackSize.y, S(340));

    // Wide: the whole toolbar in one row, the rows below anchored to the edges.
    const int W = S(2400), H = S(600);
    f.Resize(W, H);
    const int connectW = measured(101, 92, 26), labelW = measured(300, 32, 4);
    is(101, S(8), S(8), connectW, S(24));
    is(300, S(8) + connectW + S(6), S(12), labelW, S(18));
    is(102, rect(300).right + S(6), S(8), S(88), 0);
    EXPECT_EQ(rect(123).top, S(10));
    EXPECT_EQ(rect(129).left, rect(128).right + S(6));
    EXPECT_EQ(rect(127).left, rect(129).right + S(6));
    const int outTop = S(40), statusY = H - S(24), sendY = statusY - S(30);
    is(140, S(8), outTop, W - S(16), sendY - S(4) - outTop);
    const int sendW = measured(132, 76, 26), sendLabelW = measured(308, 46, 4);
    is(308, S(8), sendY + S(5), sendLabelW, S(18));
    is(130, S(14) + sendLabelW, sendY + S(1), S(90), 0);
    is(141, S(110) + sendLabelW, sendY + S(1), S(120), 0);
    is(131, S(236) + sendLabelW, sendY + S(1), W - S(250) - sendLabelW - sendW, S(24));
    is(132, W - S(8) - sendW, sendY, sendW, S(26));
    is(134, W - S(158), statusY + S(2), S(150), S(18));
    is(138, W - S(198), statusY, S(36), S(20));
    is(135, W - S(318), statusY, S(36), S(20));
    is(133, S(8), statusY + S(2), W - S(332), S(18));

    // Narrow: groups wrap whole, every row starts at the margin, only a row's
    // first group may pass the right margin.
    const int narrow = S(480);
    f.Resize(narrow, H);
    const std::vector<std::vector<int>> groups = {
        {101},      {300, 102}, {301, 103}, {302, 104}, {303, 105}, {304, 106},
        {107, 108}, {305, 120}, {306, 121}, {307, 122}, {123},      {124},
        {125},      {126},      {128},      {129},      {127}};
    auto rowOf = [&](int id) {
        return rect(id).top - (id >= 300 ? S(4) : (id >= 123 && id != 127 ? S(2) : 0));
    };
    int rows = 1, row = S(8);
    for (const auto& g : groups) {
        for (int id : g) EXPECT_EQ(rowOf(id), rowOf(g[0])) << "group of " << id << " split";
        if (rowOf(g[0]) != row) {
            EXPECT_EQ(rowOf(g[0]), row + S(30));
            EXPECT_EQ(rect(g[0]).left, S(8)) << "row must start at the margin";
            row = rowOf(g[0]);
            ++rows;
        } else if (rect(g[0]).left != S(8)) {
            EXPECT_LE(rect(g.back()).right, narrow - S(8)) << g[0];
        }
    }
    EXPECT_TRUE(rows >= 4 && rect(140).top == row + S(32));

    // Very low: the send row keeps output above it, even over the status row.
    f.Resize(narrow, S(200));
    EXPECT_EQ(rect(132).top, rect(140).top + S(60));
    EXPECT_EQ(rect(140).bottom - rect(140).top, S(56));
}

TEST(TermWindow, ToolbarChangesReachSettingsFile) {
    TTermFixture f;
    SetForegroundWindow(f.Lister());
    // Without a port or connection nothing is written; a handle that is not a
    // terminal (here the lister, its user data another object) is not closed.
    f.Choose(105, 1);
    CloseEmbeddedTerminal(f.Lister());
    EXPECT_TRUE(!FileExists(f.Ini()) && IsWindow(f.Lister()));
    f.Show(0, u"COM7", DefaultSessionSettings());
    auto ini = [&](const wchar_t* key) { return IniValue(f.Ini(), L"Port:COM7", key); };
    SetFocus(f.Control(105));
    f.Choose(105, 2);
    EXPECT_EQ(ini(L"Parity"), L"2");
    EXPECT_EQ(GetFocus(), f.Control(105)) << "a drop-down keeps the focus";

    HWND baud = f.Control(102);
    auto typeBaud = [&](const wchar_t* text) {
        SetWindowTextW(baud, text);
        SendMessageW(f.Main(), WM_COMMAND, MAKEWPARAM(102, CBN_KILLFOCUS), LPARAM(baud));
        PumpFor(30);
        return ini(L"Baud") + L"|" + TextOf(baud);
    };
    EXPECT_EQ(typeBaud(L"9600x"), L"115200|115200");
    EXPECT_EQ(typeBaud(L" 250000 "), L"250000| 250000 ");
    for (const wchar_t* bad : {L"12000001", L"49", L"", L"99999999999999999999"})
        EXPECT_EQ(typeBaud(bad), L"250000|250000") << bad;
    f.Choose(102, 5);
    EXPECT_EQ(ini(L"Baud") + L"|" + TextOf(baud), L"9600|9600");

    SetFocus(f.Control(120));
    f.Click(128);
    EXPECT_EQ(GetFocus(), f.Control(131)) << "a checkbox hands the focus to the edit line";
    f.Choose(120, 1);
    f.Choose(106, 3);
    f.Choose(121, 1);
    EXPECT_EQ(ini(L"Timestamps") + ini(L"ViewHex") + ini(L"Flow") + ini(L"Charset"), L"1131");
    EXPECT_FALSE(IsWindowEnabled(f.Control(107)));
    EXPECT_EQ(f.Term().Model().Encoding, TTermModel::kLatin1);

    // A port whose driver refuses the change: the record reaches the port, but
    // the status line does not claim the new parameters.
    auto* port = new TSerialBackend(f.Main(), 1, u"COM250", f.Term().PortSettings());
    TTermWindowTestAccess::AttachBackend(f.Term(), std::unique_ptr<TBackend>(port), true);
    EXPECT_EQ(TextOf(f.Control(101)), L"Disconnect");
    f.Term().SetStatus(u"COM7 - connected (9600 8E1)");
    f.Choose(105, 1);
    EXPECT_EQ(port->Settings().Parity, 1);
    EXPECT_EQ(TextOf(f.Control(133)), L"COM7 - connected (9600 8E1)");
}

TEST(TermWindow, KeysForwardedAndSendHistory) {
    TTermFixture f;
    SetForegroundWindow(f.Lister());
    HWND edit = f.Control(131);
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(f.Control(102), &info));
    SetCtrlDown(true);
    for (HWND target : {edit, f.Output(), f.Control(127), info.hwndItem}) {
        f.ListerKeys.clear();
        SetFocus(target);
        TypeKey(target, 'Q');
        const auto& keys = f.ListerKeys;
        ASSERT_EQ(keys.size(), 2u) << ClassOf(target).c_str();
        EXPECT_TRUE(keys[0].message == WM_KEYDOWN && keys[1].message == WM_KEYUP &&
                    keys[0].wParam == 'Q');
        EXPECT_EQ(DWORD(keys[1].lParam) >> 30, 3u) << "lParam unchanged";
    }
    SetCtrlDown(false);
    EXPECT_EQ(TextOf(edit) + TextOf(info.hwndItem), L"115200") << "no Ctrl+Q character typed";

    // A letter typed while the output has the focus lands in the edit line.
    SetFocus(f.Output());
    PostMessageW(f.Output(), WM_CHAR, L'x', 1);
    PumpFor(30);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(TextOf(edit), L"x");

    for (auto* line : {u"first", u"second", u"second", u"third"}) f.Term().PushHistory(line);
    std::wstring seen;
    for (WPARAM vk : {VK_UP, VK_UP, VK_UP, VK_UP, VK_DOWN, VK_DOWN, VK_DOWN, VK_UP}) {
        TypeKey(edit, vk);
        seen += TextOf(edit) + L",";
    }
    EXPECT_EQ(seen, L"third,second,first,first,second,third,,third,");
    EXPECT_EQ(SendMessageW(edit, EM_GETSEL, 0, 0), MAKELRESULT(5, 5)) << "caret at the end";
}

TEST(TermWindow, FaultsEndTheSessionNotTheHost) {
    using TSite = TTermWindowTestAccess::TFaultSite;
    static TSite failing;
    TTermWindowTestAccess::SetFaultProbe([](TSite site) {
        if (site == failing) throw std::runtime_error("probe");
    });
    {
        // Received data whose handling fails: the connection ends with a
        // status text, the window stays and the next Connect is the user's.
        failing = TSite::Drain;
        TTermFixture f;
        f.Show(1, u"fault", DefaultSessionSettings());
        auto* backend = new TFakeBackend(f.Main(), f.Term().ConnectionNumber());
        TTermWindowTestAccess::AttachBackend(f.Term(), std::unique_ptr<TBackend>(backend), true);
        backend->Arrive("hello\r\n");
        PumpFor(50);
        EXPECT_EQ(f.Term().Backend(), nullptr);
        EXPECT_NE(TextOf(f.Control(kIdStatus)).find(L"internal error"), std::wstring::npos)
            << TextOf(f.Control(kIdStatus));
        EXPECT_EQ(TextOf(f.Control(kIdConnect)), L"Connect");
        EXPECT_TRUE(IsWindow(f.Main()) && f.Term().UserDisconnected());
    }
    {
        // Opening a terminal in a lister fails half-way: nothing is left in
        // the lister, and no kept session points at a window that is gone.
        failing = TSite::Open;
        HWND lister = CreateWindowW(L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr,
                                    nullptr, nullptr, nullptr);
        EXPECT_THROW(OpenEmbeddedTerminal(lister, 0, u"COM9", u"COM9", TConnInfo{}),
                     std::runtime_error);
        EXPECT_EQ(GetWindow(lister, GW_CHILD), nullptr);
        for (auto& s : SessionStore()) EXPECT_EQ(s->Owner, nullptr);
        DestroyWindow(lister);
    }
    TTermWindowTestAccess::SetFaultProbe(nullptr);
}
