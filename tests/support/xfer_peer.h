// The Windows side of tests/support/xfer-peer.sh: asks the Linux helper that
// the serial fixture runs to start lrzsz receivers (on the device end of the
// "xfer" pair, or behind a loopback TCP port), and reads their answers and
// the files they wrote through Wine's Z: drive. Shared by the file-send test
// and its bench.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "wintest.h"

namespace kltest {

class TXferPeer {
public:
    // False when the serial fixture (KL_SERIAL_PAIRS) is not there.
    bool Init() {
        const char* pairs = std::getenv("KL_SERIAL_PAIRS");
        if (!pairs) return false;
        std::string dir = pairs;
        dir = dir.substr(0, dir.find_last_of('/'));
        spool_ = dir + "/xfer";
        std::istringstream lines(ReadFileBytes(WinPath(pairs)));
        std::string role, app, dev;
        while (lines >> role >> app >> dev)
            if (role == "xfer") port_.assign(app.begin(), app.end());
        return !port_.empty();
    }
    // The COM port the backend opens.
    const std::u16string& Port() const { return port_; }
    // A fresh folder for one test's files (Linux path).
    std::string NewDir(const std::string& name) {
        const std::string d = spool_ + "/t" + std::to_string(GetCurrentProcessId()) + "-" + name;
        CreateDirectoryW(WinPath(spool_).c_str(), nullptr);
        RemoveTree(WinPath(d));
        CreateDirectoryW(WinPath(d).c_str(), nullptr);
        return d;
    }
    // Starts "serial xfer DIR PROGRAM ARGS" or "tcp - DIR PROGRAM ARGS";
    // returns the request id once the receiver runs, or -1.
    int Start(const std::string& request, DWORD timeoutMs = 30000) {
        const int id = Request(request);
        return Wait(id, ".pid", timeoutMs).empty() ? -1 : id;
    }
    // The loopback port of a "tcp -" receiver.
    int PortOf(int id) {
        std::istringstream answer(Wait(id, ".pid", 0));
        int pid = 0, port = 0;
        answer >> pid >> port;
        return port;
    }
    void Kill(int id) { Wait(Request("kill " + std::to_string(id)), ".exit", 5000); }
    // The receiver's exit status, or -1 when it has not ended in time.
    int WaitExit(int id, DWORD timeoutMs) {
        const std::string s = Wait(id, ".exit", timeoutMs);
        return s.empty() ? -1 : std::atoi(s.c_str());
    }
    std::string Log(int id) { return ReadFileBytes(WinPath(Name(id) + ".log")); }

private:
    std::string Name(int id) const { return spool_ + "/req-" + std::to_string(id); }
    int Request(const std::string& line) {
        // Unique in the process: the helper keeps every answer for the run.
        static int count = 0;
        const int id = int(GetCurrentProcessId()) * 1000 + ++count;
        const std::wstring tmp = WinPath(Name(id) + ".new");
        WriteFileBytes(tmp, line + "\n");
        MoveFileW(tmp.c_str(), WinPath(Name(id)).c_str());
        return id;
    }
    std::string Wait(int id, const char* suffix, DWORD timeoutMs) {
        const std::wstring file = WinPath(Name(id) + suffix);
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        do {
            if (FileExists(file)) return ReadFileBytes(file) + " ";
            Sleep(10);
        } while (GetTickCount64() < end);
        return {};
    }

    std::string spool_;
    std::u16string port_;
};

}  // namespace kltest
