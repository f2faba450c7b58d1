// The stand-in host (kl_host.exe) driven from a test by its command line:
// started as a child process with its report collected, its windows found by
// process, and a loopback peer for the terminals it opens.
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <string>
#include <thread>

namespace kltest {

// Windows path of kl_host.exe (environment variable KL_HOST, set by ctest).
std::wstring HostExePath();

class THostRun {
public:
    // `args` follow the program name on the command line, quoted as needed.
    explicit THostRun(const std::wstring& args);
    ~THostRun();
    THostRun(const THostRun&) = delete;
    THostRun& operator=(const THostRun&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Pid() const { return pid_; }
    // The exit code, or -1 when the host had to be ended after timeoutMs.
    int Wait(DWORD timeoutMs = 60000);
    // Everything the host wrote to stdout and stderr (complete after Wait).
    const std::string& Output() const { return output_; }

private:
    HANDLE process_ = nullptr;
    HANDLE read_ = nullptr;
    DWORD pid_ = 0;
    std::atomic<bool> ended_{false};
    std::thread reader_;
    std::string output_;
};

// "text" with quotes, for a command line.
std::wstring Quoted(const std::wstring& text);

// A visible top-level window of the process with this class, waiting for it.
HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);

// Accepts any number of connections on 127.0.0.1 and greets each with a line,
// then keeps it open until the peer or the destructor ends it.
class TGreetingPeer {
public:
    explicit TGreetingPeer(const std::string& greeting);
    ~TGreetingPeer();
    unsigned short Port() const { return port_; }
    int Accepted() const { return accepted_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

}  // namespace kltest
