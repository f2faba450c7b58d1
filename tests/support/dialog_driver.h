// Driving modal windows from a second thread: the test's main thread sits in
// the modal call (its own message loop) while a script thread finds the
// window, fills controls, clicks buttons and answers message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace kltest {

// Runs `body` on its own thread; the destructor joins it. Failures inside the
// body are reported through GoogleTest as usual.
class TDialogScript {
public:
    explicit TDialogScript(std::function<void()> body);
    ~TDialogScript();
    TDialogScript(const TDialogScript&) = delete;
    TDialogScript& operator=(const TDialogScript&) = delete;

private:
    std::thread thread_;
};

// A visible top-level window of this process with the class (and, when given,
// the owner), waiting up to timeoutMs.
HWND WaitForWindow(const wchar_t* className, DWORD timeoutMs, HWND owner = nullptr);

// A standard message box as the user sees it.
struct TMessageBoxSeen {
    HWND Box = nullptr;
    HWND Owner = nullptr;
    std::wstring Caption;
    std::wstring Text;
    bool HasYes = false, HasNo = false;
    HICON Icon = nullptr;  // compare with LoadIconW(nullptr, IDI_WARNING) and the like
};

// Waits for a message box ("#32770" dialog) of this process, records it and
// presses `button` (IDOK, IDYES, IDNO, IDCANCEL). False when none came.
bool AnswerMessageBox(TMessageBoxSeen& seen, int button, DWORD timeoutMs = 5000);

// Cross-thread helpers: text in, click, selection; each waits for the owning
// thread to handle the message (SendMessage) except Click, which posts so a
// modal reaction on the dialog's thread cannot block the script.
void SetTextOf(HWND hwnd, const std::wstring& text);
void Click(HWND button);
void SelectIndex(HWND combo, int index);
// Posts a key press (down and up) to the control that has the keyboard focus
// on `window`'s thread, as typing would deliver it.
void PressKey(HWND window, UINT vk);
// The control with the keyboard focus on `window`'s thread.
HWND FocusOf(HWND window);
// Polls done() every few milliseconds until it holds or timeoutMs pass.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

}  // namespace kltest
