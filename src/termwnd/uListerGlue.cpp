#include "termwnd/uListerGlue.h"

#include <memory>

#include "base/uWin.h"
#include "settings/uSettings.h"
#include "termwnd/uTermWnd.h"

namespace {

// Outlives its window: after the user closed it the object stays, with its
// session, until the next "open" replaces it.
TTermWindow* gStandalone = nullptr;

constexpr int32_t kModeStandalone = 0;
constexpr int32_t kModeLister = 1;
constexpr int32_t kModeQuickView = 2;
constexpr wchar_t kListerClass[] = L"TLister";

int32_t OpenModeOf(HWND lister) {
    HWND root = GetAncestor(lister, GA_ROOT);
    wchar_t cls[64] = {};
    if (!root || !GetClassNameW(root, cls, 64)) return kModeQuickView;
    return SameTextI(U(cls), U(kListerClass)) ? kModeLister : kModeQuickView;
}

}  // namespace

HWND OpenEmbeddedTerminal(HWND lister, int32_t kind, const std::u16string& target,
                          const std::u16string& display, const TConnInfo& connection) {
    if (!lister || !IsWindow(lister)) return nullptr;
    TTermWindow* term = CreateEmbeddedTerminal(lister);
    if (!term) return nullptr;
    // Failing half-way must leave nothing behind in the lister: no child
    // window, no object.
    try {
        term->OpenSession(kind, target, display, connection, OpenModeOf(lister));
    } catch (...) {
        CloseEmbeddedTerminal(term->MainWindow());
        throw;
    }
    return term->MainWindow();
}

void OpenStandaloneTerminal(HWND host, int32_t kind, const std::u16string& target,
                            const std::u16string& display, const TConnInfo& connection) {
    if (gStandalone && !gStandalone->MainWindow()) {
        delete gStandalone;
        gStandalone = nullptr;
    }
    if (!gStandalone) {
        auto term = std::make_unique<TTermWindow>(host);
        const TWindowPlacement p = ReadWindowPlacement();
        if (!term->CreateMainWindow(host, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, L"Kestrelink",
                                    p.Left, p.Top, p.Width, p.Height))
            return;
        term->StartTimers();
        gStandalone = term.release();
    }
    gStandalone->OpenSession(kind, target, display, connection, kModeStandalone);
}

TTermWindow* StandaloneTerminal() { return gStandalone; }

void NotifySettingsChanged(const std::u16string& section) {
    if (gStandalone && gStandalone->MainWindow() && SameTextI(gStandalone->Section(), section))
        gStandalone->ReloadSettings();
}

// --- Lister glue: creation and closing of an embedded terminal ---

TTermWindow* CreateEmbeddedTerminal(HWND lister) {
    auto term = std::make_unique<TTermWindow>(lister);
    if (!TTermWindow::RegisterClasses()) return nullptr;
    term->SetEmbedded(lister);
    RECT rc = {};
    GetClientRect(lister, &rc);
    if (!term->CreateMainWindow(lister, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                L"", 0, 0, rc.right, rc.bottom))
        return nullptr;
    term->StartTimers();
    return term.release();
}

void CloseEmbeddedTerminal(HWND hwnd) {
    TTermWindow* term = TTermWindow::FromWindow(hwnd);
    if (!term) return;
    DestroyWindow(hwnd);
    delete term;
}
