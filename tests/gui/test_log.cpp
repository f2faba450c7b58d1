// Logging to files: the writer on its own (parts, numbering, failures), and
// terminal windows on live loopback connections writing raw and text logs,
// reconnecting into new files, failing into a status text, and saving their
// output.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/uText.h"
#include "gui.h"
#include "loopback_peer.h"
#include "settings/uSettings.h"
#include "term_fixture.h"
#include "terminal/uLogFormat.h"
#include "termwnd/uLogFile.h"

using namespace kltest;
using namespace kltest::loopback;

namespace {

// The files of a folder in name order, with their bytes.
std::vector<std::pair<std::wstring, std::string>> FilesIn(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, std::string>> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            out.emplace_back(fd.cFileName, ReadFileBytes(folder + L"\\" + fd.cFileName));
    while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
}

uint64_t Fnv1a(std::string_view bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

TLogFailure WaitForFailure(TLogWriter& w) {
    TLogFailure f;
    PumpUntil([&] { return w.Failed(&f); }, 5000);
    return f;
}

// Each test its own connection: kept sessions outlive the windows.
std::string ConnIni(const char* name, uint16_t port, const std::wstring& logs, int format,
                    const char* extra = "") {
    return "[Plugin]\r\nLogFolder=" + Utf16ToUtf8(U(logs.c_str())) +
           "\r\nLogFormat=" + std::to_string(format) + "\r\n[Conn:" + name +
           "]\r\nHost=127.0.0.1\r\nMode=0\r\nLog=1\r\nPort=" + std::to_string(port) + "\r\n" +
           extra;
}

void Open(TTermFixture& f, const char16_t* name, uint16_t port) {
    f.Term().OpenSession(1, name, name, TConnInfo{name, u"127.0.0.1", port, 0}, 1);
}

}  // namespace

TEST(LogWriter, PartsSplitAtTheirSizeAndNeverOverwrite) {
    TTempDir dir;
    const std::wstring folder = dir.Path();
    WriteFileBytes(folder + L"\\s.bin", "older log");
    std::string raw;
    for (int i = 0; i < 2500; ++i) raw.push_back(char(i * 7));
    {
        TLogWriter w({U(folder.c_str()), u"s", true, 1000});
        for (size_t at = 0; at < raw.size(); at += 700)
            w.Write(raw.data() + at, std::min<size_t>(700, raw.size() - at));
        ASSERT_TRUE(PumpUntil([&] { return !w.FilePath().empty(); }, 5000));
        EXPECT_FALSE(DeleteFileW(W(w.FilePath()))) << "an open log cannot be deleted";
        EXPECT_TRUE(w.Stop());
        EXPECT_FALSE(w.Failed());
    }
    auto files = FilesIn(folder);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].second, "older log");
    EXPECT_EQ(files[1].first + files[2].first + files[3].first, L"s_2.bins_3.bins_4.bin");
    EXPECT_EQ(files[1].second.size(), 1000u) << "raw parts end exactly at the limit";
    EXPECT_EQ(files[1].second + files[2].second + files[3].second, raw);

    // Text parts end after the first line end past the limit; the folder is
    // made with its parents.
    const std::wstring deep = dir.File(L"x\\y");
    TLogWriter t({U(deep.c_str()), u"t", false, 100});
    for (int i = 0; i < 10; ++i) {
        std::string record;  // 24 + 4 + 2 bytes in the file
        AppendLogRecord(record, u"abcd", 45000.5);
        t.Write(record.data(), record.size());
    }
    t.Stop();
    files = FilesIn(deep);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].first + files[2].first, L"t.logt_3.log");
    EXPECT_EQ(files[0].second.substr(0, 30), "2023-03-15 12:00:00.000 abcd\r\n");
    EXPECT_EQ(files[0].second.size() * 10 + files[2].second.size(), 1260u) << "120 and 60 bytes";

    // Stopped without waiting (a connection that ended under a flood): the
    // caller goes on at once, and the thread still writes all that was queued.
    const std::wstring late = dir.File(L"late");
    TLogWriter l({U(late.c_str()), u"l", true});
    const std::string block(4 << 20, 'z');
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(l.Write(block.data(), block.size()));
    l.RequestStop();
    EXPECT_FALSE(l.Write("x", 1)) << "nothing joins a stopped log";
    ASSERT_TRUE(PumpUntil([&] { return l.Ended(); }, 20000));
    EXPECT_FALSE(l.Failed());
    EXPECT_EQ(FilesIn(late).at(0).second.size(), 32u << 20);
}

TEST(LogWriter, FailuresStopTheLogAndSayWhy) {
    if (GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) {
        TLogWriter missing({u"Q:\\logs", u"s", true});
        const TLogFailure f = WaitForFailure(missing);
        EXPECT_EQ(f.Kind, TLogFailure::Folder);
        EXPECT_NE(LogFailureText(f).find(u"cannot create the folder Q:\\logs ("),
                  std::u16string::npos);
        EXPECT_FALSE(missing.Write("x", 1));
    }
    // A folder nobody may create files in, root included (the tests may run
    // as root, for whom permission bits do not count): Linux's /sys.
    TLogWriter readOnly({u"Z:\\sys", u"s", false});
    TLogFailure f = WaitForFailure(readOnly);
    EXPECT_EQ(f.Kind, TLogFailure::File);
    EXPECT_EQ(f.Path, u"Z:\\sys\\s.log");
    EXPECT_EQ(f.Code, DWORD(ERROR_ACCESS_DENIED));

    // A log that falls too far behind stops, and keeps what it had queued.
    TTempDir dir;
    TLogWriter behind({U(dir.Path().c_str()), u"s", true});
    EXPECT_TRUE(behind.Write("kept", 4));
    const std::string flood(kLogQueueCap + 1, 'x');
    EXPECT_FALSE(behind.Write(flood.data(), flood.size()));
    f = WaitForFailure(behind);
    EXPECT_EQ(LogFailureText(f), u"the disk does not keep up with the data");
    behind.Stop();
    EXPECT_EQ(FilesIn(dir.Path()).at(0).second, "kept");
}

TEST(Log, RawLogHoldsEveryByteAcrossPartsAndEachConnectionStartsANewFile) {
    TTempDir dir;
    const std::wstring logs = dir.File(L"logs");
    std::string random(8 << 20, '\0');
    uint32_t x = 12345;
    for (char& c : random) c = char((x = x * 1664525 + 1013904223) >> 24);
    TRepeatPeer peer([&](SOCKET s, int i) {
        SendText(s, i == 0 ? random : "second\r\n");
        char b;
        if (i > 0) recv(s, &b, 1, 0);  // until the window lets go
    });
    SetLogSplitBytesForTesting(3 << 20);
    TTermFixture f(1000, 640, ConnIni("raw", peer.Port(), logs, 1, "AutoReconnect=1\r\n"));
    Open(f, u"raw", peer.Port());
    ASSERT_TRUE(PumpUntil(
        [&] { return f.Term().ReceivedCount() == int64_t(random.size()) + 8 && f.Term().Log(); },
        60000));
    EXPECT_TRUE(
        PumpUntil([&] { return TextOf(f.Control(kIdLogFile)).starts_with(L"Log: raw_"); }, 2000))
        << "the label names the file";
    f.Click(kIdLog);
    SetLogSplitBytesForTesting(0);
    EXPECT_EQ(f.Term().Log(), nullptr);
    EXPECT_FALSE(IsWindowVisible(f.Control(kIdLogFile)));
    EXPECT_EQ(IniValue(f.Ini(), L"Conn:raw", L"Log"), L"0");
    // Unticking returns at once; the log's thread closes the file.
    ASSERT_TRUE(PumpUntil([&] { return !f.Term().LogsWriting(); }, 10000));

    const auto files = FilesIn(logs);
    ASSERT_EQ(files.size(), 4u) << "three parts of the first connection, one of the second";
    EXPECT_EQ(files[0].second.size(), 3u << 20);
    EXPECT_EQ(files[1].first.substr(files[1].first.size() - 6), L"_2.bin");
    EXPECT_EQ(Fnv1a(files[0].second + files[1].second + files[2].second), Fnv1a(random));
    EXPECT_EQ(files[3].second, "second\r\n");
}

TEST(Log, TextLogHoldsTheModelsLinesWithTheirArrivalTimes) {
    TTempDir dir;
    const std::wstring logs = dir.File(L"logs");
    TPeer peer([&](SOCKET s) {
        for (const std::string& part :
             {std::string("\x1b[31mred\x1b[0m line\r\nsplit "),
              std::string("line\rGr\xC3\xBC\xC3\x9F"),
              std::string("e\n") + std::string(5000, 'w') + "\r\n", std::string("prompt> ")}) {
            SendText(s, part);
            Sleep(30);
        }
        char b;
        recv(s, &b, 1, 0);
    });
    TTermFixture f(1000, 640, ConnIni("text", peer.Port(), logs, 0));
    Open(f, u"text", peer.Port());
    TTermModel& m = f.Term().Model();
    ASSERT_TRUE(PumpUntil([&] { return m.LineText(m.LineCount() - 1) == u"prompt> "; }, 10000));
    EXPECT_EQ(m.LineCount(), 6) << "red line, split line, Grusse, 4096 + 904 w, prompt";
    std::string expected;
    for (int32_t i = 0; i < m.LineCount(); ++i)
        AppendLogLine(expected, m.LineText(i), m.LineTime(i));
    // Clearing the view hands the unfinished line to the log first; stopping
    // then has nothing more to add.
    f.Click(kIdClear);
    f.Click(kIdLog);
    ASSERT_TRUE(PumpUntil([&] { return !f.Term().LogsWriting(); }, 10000));
    const auto files = FilesIn(logs);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].first.substr(files[0].first.size() - 4), L".log");
    EXPECT_EQ(files[0].second, expected);
}

TEST(Log, AFailingLogUnticksTheBoxSaysWhyAndTheSessionGoesOn) {
    TTempDir dir;
    std::atomic<bool> more{false};
    TPeer peer([&](SOCKET s) {
        SendText(s, "before\r\n");
        PumpUntil([&] { return more.load(); }, 20000);
        SendText(s, "after\r\n");
        char b;
        recv(s, &b, 1, 0);
    });
    TTermFixture f(1000, 640, ConnIni("dev", peer.Port(), L"Z:\\sys", 0));
    Open(f, u"dev", peer.Port());
    const std::wstring said = L"dev - logging stopped: cannot create Z:\\sys\\dev_";
    ASSERT_TRUE(PumpUntil([&] { return TextOf(f.Control(kIdStatus)).rfind(said, 0) == 0; }, 10000))
        << "a folder nobody may write to";
    EXPECT_FALSE(f.Term().IsChecked(kIdLog));
    EXPECT_EQ(IniValue(f.Ini(), L"Conn:dev", L"Log"), L"0");
    EXPECT_TRUE(f.Term().Connected());
    more = true;
    EXPECT_TRUE(PumpUntil([&] { return f.Term().Model().LineText(1) == u"after"; }, 5000));

    if (GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) {
        WritePrivateProfileStringW(L"Plugin", L"LogFolder", L"Q:\\logs", f.Ini().c_str());
        HMENU menu = f.Term().BuildContextMenu();
        EXPECT_EQ(GetMenuState(menu, kCmdLog, MF_BYCOMMAND) & MF_CHECKED, 0u);
        DestroyMenu(menu);
        f.Term().RunMenuCommand(kCmdLog);
        EXPECT_TRUE(PumpUntil(
            [&] {
                return TextOf(f.Control(kIdStatus))
                    .starts_with(L"dev - logging stopped: cannot create the folder Q:\\logs (");
            },
            5000))
            << TextOf(f.Control(kIdStatus));
        EXPECT_FALSE(f.Term().IsChecked(kIdLog));
    }
}

TEST(Log, SaveOutputWritesTheHistoryAsShown) {
    TTermFixture f;
    TSessionSettings s = DefaultSessionSettings();
    s.Timestamps = true;
    f.Show(0, u"COM3", s);
    f.UseFixedClock();
    f.Feed("one\r\n\xC3\xA9two\r\n");
    TTempDir dir;
    const std::wstring path = dir.File(L"out.txt");
    DWORD error = 0;
    ASSERT_TRUE(f.Term().SaveOutputTo(U(path.c_str()), error));
    EXPECT_EQ(ReadFileBytes(path), "[12:34:56.789] one\r\n[12:34:56.789] \xC3\xA9two\r\n");
    f.Choose(kIdView, 1);
    ASSERT_TRUE(f.Term().SaveOutputTo(U(path.c_str()), error));
    // The header moves right past the stamps in front of the rows.
    EXPECT_EQ(ReadFileBytes(path).rfind(std::string(15, ' ') + "Offset    00 01 02", 0), 0u);
    EXPECT_NE(ReadFileBytes(path).find("\r\n[12:34:56.789] 00000000  6F 6E 65 0D 0A C3 A9"),
              std::string::npos);
    EXPECT_FALSE(f.Term().SaveOutputTo(U(dir.File(L"no\\such\\out.txt").c_str()), error));
    EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));
}
