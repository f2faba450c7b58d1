// The file manager's lister side played by a test: a private copy of the
// plugin DLL with its own settings file, descriptor files written by the
// DLL's FsGetFileW, parent windows of class "TLister" (a lister window) or of
// another class (the Quick View panel), and ListLoadW / ListCloseWindow.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "wintest.h"

namespace kltest {

class TListerHost {
public:
    // `ini` is the settings file's content before anything loads.
    explicit TListerHost(const std::string& ini = "");
    ~TListerHost();

    TPlugin& Plugin() { return *plugin_; }
    const std::wstring& Ini() const { return ini_; }
    // The descriptor of a folder entry ("COM7", "TCP - name"), written by the DLL.
    std::wstring Descriptor(const std::wstring& entry);
    // A visible parent window: a lister window ("TLister") or a child of a
    // main window standing in for the Quick View panel. Destroyed with the host.
    HWND NewParent(bool lister = true);
    // ListLoadW of the entry's descriptor into `parent` (nothing pumped yet).
    HWND Load(HWND parent, const std::wstring& entry);
    HWND LoadFile(HWND parent, const std::wstring& file);
    void Close(HWND terminal);

private:
    TTempDir dir_;
    std::wstring ini_;
    std::unique_ptr<TPlugin> plugin_;
    int files_ = 0;
};

// What a terminal window shows: status line, counters, Connect caption, and
// the text of its model (rows joined with "\n").
std::wstring StatusOf(HWND terminal);
std::wstring CountersOf(HWND terminal);
std::wstring CaptionOf(HWND terminal);
std::u16string ModelText(HWND terminal);
// Pumps until the status line contains `part`.
bool WaitForStatus(HWND terminal, const std::wstring& part, DWORD timeoutMs = 5000);
// The edit line set to `text` and Send pressed.
void SendLine(HWND terminal, const std::wstring& text);
// A toolbar combo box set to `index` as the user would pick it.
void Choose(HWND terminal, int id, int index);

}  // namespace kltest
