#include "host_run.h"

#include <cstdlib>
#include <vector>

#include "wintest.h"

namespace kltest {

std::wstring HostExePath() {
    const char* p = std::getenv("KL_HOST");
    return p ? WinPath(p) : L"kl_host.exe";
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

THostRun::THostRun(const std::wstring& args) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&read_, &write, &sa, 0)) return;
    SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = Quoted(HostExePath()) + L" " + args;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        process_ = pi.hProcess;
        pid_ = pi.dwProcessId;
        CloseHandle(pi.hThread);
    } else {
        ADD_FAILURE() << "cannot start kl_host.exe, error " << GetLastError();
    }
    CloseHandle(write);
    // Not read to the pipe's end: a process Wine starts on the host's behalf
    // (the desktop's explorer.exe, when none runs) inherits the write end and
    // outlives the host. The reader takes what is there until the host has
    // ended and the pipe is empty.
    reader_ = std::thread([this] {
        char buf[4096];
        for (;;) {
            DWORD ready = 0, got = 0;
            const bool ok = PeekNamedPipe(read_, nullptr, 0, nullptr, &ready, nullptr);
            if (ok && ready && ReadFile(read_, buf, sizeof buf, &got, nullptr) && got) {
                output_.append(buf, got);
                continue;
            }
            if (!ok || ended_) break;
            Sleep(10);
        }
    });
}

int THostRun::Wait(DWORD timeoutMs) {
    int code = -1;
    if (process_) {
        if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "kl_host.exe did not end within " << timeoutMs << " ms";
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        } else {
            DWORD exit = 0;
            GetExitCodeProcess(process_, &exit);
            code = int(exit);
        }
        CloseHandle(process_);
        process_ = nullptr;
    }
    ended_ = true;
    if (reader_.joinable()) reader_.join();
    return code;
}

THostRun::~THostRun() {
    if (process_) Wait(30000);
    ended_ = true;
    if (reader_.joinable()) reader_.join();
    if (read_) CloseHandle(read_);
}

namespace {
struct TProcessWindow {
    DWORD Pid;
    const wchar_t* Class;
    HWND Found;
};
BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<TProcessWindow*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[256] = {};
    GetClassNameW(hwnd, cls, 256);
    if (pid != f->Pid || !IsWindowVisible(hwnd) || lstrcmpW(cls, f->Class) != 0) return TRUE;
    f->Found = hwnd;
    return FALSE;
}
}  // namespace

HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        TProcessWindow f = {pid, className, nullptr};
        EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&f));
        if (f.Found || GetTickCount64() >= end) return f.Found;
        Sleep(20);
    }
}

TGreetingPeer::TGreetingPeer(const std::string& greeting) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        ADD_FAILURE() << "no loopback listener, error " << WSAGetLastError();
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, greeting] {
        std::vector<SOCKET> open;
        while (!stop_) {
            fd_set r;
            FD_ZERO(&r);
            FD_SET(listener_, &r);
            timeval tv = {0, 50000};
            if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
            const SOCKET c = accept(listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) continue;
            ++accepted_;
            send(c, greeting.data(), int(greeting.size()), 0);
            open.push_back(c);
        }
        for (SOCKET c : open) closesocket(c);
    });
}

TGreetingPeer::~TGreetingPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closesocket(listener_);
    WSACleanup();
}

}  // namespace kltest
