// Files sent by the backends to real receivers: lrzsz's rx and rb, started
// by tests/support/xfer-peer.sh on the device end of a serial pair or behind
// a loopback TCP listener (socat). What they write is compared byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "backend/uSerialBackend.h"
#include "backend/uTcpBackend.h"
#include "owner_window.h"
#include "xfer_peer.h"

using kltest::TOwnerWindow;

namespace {

const int64_t kSizes[] = {0, 1, 127, 128, 129, 1023, 1024, 1025, 1 << 20};

// Contents that never end in the pad byte, different per file.
std::string Content(int64_t n, uint32_t seed) {
    std::string s(size_t(n), '\0');
    for (auto& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
        if (c == 0x1A) c = 0;
    }
    return s;
}

struct TRig {
    kltest::TXferPeer Peer;
    TOwnerWindow Owner;
    std::unique_ptr<TBackend> Backend;
    uint32_t Number = 0;

    bool Init() {
        if (!Peer.Init()) {
            ADD_FAILURE() << "no xfer pair: run through ctest (serial fixture)";
            return false;
        }
        return true;
    }
    bool Connect(std::unique_ptr<TBackend> b) {
        Backend = std::move(b);
        Number = Backend->ConnectionNumber();
        Owner.DrainFrom(Backend.get());
        std::u16string error;
        if (!Backend->Open(error)) return false;
        return Owner.PumpUntil([&] { return Owner.Count(WM_KL_CONNECTED) > 0; }, 30000);
    }
    bool Serial() {
        return Connect(std::make_unique<TSerialBackend>(Owner.Handle(), ++Number, Peer.Port(),
                                                        TSessionSettings{}));
    }
    bool Tcp(int port) {
        TConnInfo c;
        c.Host = u"127.0.0.1";
        c.Port = port;
        c.Mode = kModeRaw;
        return Connect(std::make_unique<TTcpBackend>(Owner.Handle(), ++Number, c));
    }
    // The outcome of the transfer running, or -1 when none ended in time.
    int AwaitEnd(DWORD timeoutMs) {
        const int before = Owner.Count(WM_KL_FILESENT);
        if (!Owner.PumpUntil([&] { return Owner.Count(WM_KL_FILESENT) > before; }, timeoutMs))
            return -1;
        return int(Owner.Last(WM_KL_FILESENT)->LParam);
    }
    std::vector<TFileToSend> Files(const std::string& dir, const std::vector<int64_t>& sizes,
                                   std::vector<std::string>& contents) {
        std::vector<TFileToSend> files;
        for (size_t i = 0; i < sizes.size(); ++i) {
            contents.push_back(Content(sizes[i], uint32_t(sizes[i] * 7 + i)));
            const std::wstring w = kltest::WinPath(dir + "/f" + std::to_string(sizes[i]) + ".bin");
            kltest::WriteFileBytes(w, contents.back());
            files.push_back({std::u16string(w.begin(), w.end())});
        }
        return files;
    }
    ~TRig() {
        if (Backend) {
            EXPECT_TRUE(Backend->Close()) << "the worker ends";
        }
    }
};

// The receiver's file holds exactly `sent`.
bool Same(const std::string& path, const std::string& sent) {
    const std::string got = kltest::ReadFileBytes(kltest::WinPath(path));
    if (got == sent) return true;
    ADD_FAILURE() << path << ": " << got.size() << " bytes, sent " << sent.size();
    return false;
}

// XMODEM leaves the padding of the last block in the file.
void ExpectPadded(const std::string& got, const std::string& sent, size_t block, const char* what) {
    const size_t blocks = (sent.size() + 127) / 128;
    ASSERT_GE(got.size(), sent.size()) << what;
    EXPECT_TRUE(got.compare(0, sent.size(), sent) == 0) << what << ": contents differ";
    EXPECT_EQ(got.find_first_not_of('\x1A', sent.size()), std::string::npos) << what;
    EXPECT_LE(got.size(), std::max(blocks * 128, (sent.size() + block - 1) / block * block))
        << what;
}

TEST(FileSend, SerialXmodemAndXmodem1kToRx) {
    TRig r;
    if (!r.Init() || !r.Serial()) return;
    const std::string dir = r.Peer.NewDir("x");
    // rx takes one file per run (about 1.5 s each, most of it lrzsz's own
    // wait after EOT): the block boundaries of each protocol here, every
    // size in the YMODEM batch below.
    const std::vector<int64_t> sizes = {127, 128, 129, 1023, 1024, 1025, 1 << 20};
    std::vector<std::string> contents;
    auto files = r.Files(dir, sizes, contents);
    for (TSendProtocol p : {TSendProtocol::Xmodem, TSendProtocol::Xmodem1k}) {
        const bool crc = p == TSendProtocol::Xmodem1k;  // rx asks with NAK unless -c
        for (size_t i = crc ? 3 : 0; i < (crc ? files.size() : 3); ++i) {
            SCOPED_TRACE(std::to_string(sizes[i]) + (crc ? " 1k" : " xmodem"));
            const std::string out = "o" + std::to_string(i) + (crc ? "k" : "x");
            const int64_t tx = r.Backend->WrittenCount();
            ASSERT_TRUE(r.Backend->StartFileSend({files[i]}, p, 0, 0));
            EXPECT_FALSE(r.Backend->Write(reinterpret_cast<const uint8_t*>("x"), 1))
                << "typing waits for the transfer";
            const int id = r.Peer.Start("serial xfer " + dir + " rx -b -q " +
                                        std::string(crc ? "-c " : "") + out);
            ASSERT_GE(id, 0);
            EXPECT_EQ(r.AwaitEnd(120000), kSendDone);
            EXPECT_EQ(r.Peer.WaitExit(id, 30000), 0) << r.Peer.Log(id);
            ExpectPadded(kltest::ReadFileBytes(kltest::WinPath(dir + "/" + out)), contents[i],
                         crc ? 1024 : 128, "rx's file");
            const TFileSendProgress pr = r.Backend->FileSendProgress();
            EXPECT_FALSE(pr.Active);
            EXPECT_EQ(pr.BytesDone, sizes[i]);
            EXPECT_GT(r.Backend->WrittenCount() - tx, sizes[i]) << "blocks counted as sent";
        }
    }
    EXPECT_TRUE(r.Owner.Received().empty()) << "the replies were the protocol's";
    // The view has the line again.
    EXPECT_TRUE(r.Backend->Write(reinterpret_cast<const uint8_t*>("x"), 1));
}

TEST(FileSend, YmodemBatchToRbOverSerialAndTcp) {
    TRig r;
    if (!r.Init() || !r.Serial()) return;
    const std::string dir = r.Peer.NewDir("y");
    std::vector<std::string> contents;
    std::vector<int64_t> sizes(std::begin(kSizes), std::end(kSizes));
    auto files = r.Files(dir, sizes, contents);
    const std::string out = dir + "/serial";
    CreateDirectoryW(kltest::WinPath(out).c_str(), nullptr);
    const int id = r.Peer.Start("serial xfer " + out + " rb -b -q");
    ASSERT_GE(id, 0);
    ASSERT_TRUE(r.Backend->StartFileSend(files, TSendProtocol::Ymodem, 0, 0));
    EXPECT_EQ(r.AwaitEnd(180000), kSendDone);
    EXPECT_EQ(r.Peer.WaitExit(id, 30000), 0) << r.Peer.Log(id);
    for (size_t i = 0; i < sizes.size(); ++i)
        EXPECT_TRUE(Same(out + "/f" + std::to_string(sizes[i]) + ".bin", contents[i]))
            << "name and size from block 0";
    EXPECT_EQ(r.Backend->FileSendProgress().FileIndex, sizes.size() - 1);

    // Behind socat on a loopback port: three files.
    const std::string tcpOut = dir + "/tcp";
    CreateDirectoryW(kltest::WinPath(tcpOut).c_str(), nullptr);
    const int tid = r.Peer.Start("tcp - " + tcpOut + " rb -b -q");
    ASSERT_GE(tid, 0);
    TRig t;
    const int tcpPort = r.Peer.PortOf(tid);
    ASSERT_TRUE(t.Init() && t.Tcp(tcpPort)) << "port " << tcpPort;
    const std::vector<TFileToSend> three = {files[1], files[4], files[8]};
    ASSERT_TRUE(t.Backend->StartFileSend(three, TSendProtocol::Ymodem, 0, 0));
    EXPECT_EQ(t.AwaitEnd(180000), kSendDone);
    EXPECT_EQ(r.Peer.WaitExit(tid, 30000), 0) << r.Peer.Log(tid);
    for (size_t i : {1, 4, 8})
        EXPECT_TRUE(Same(tcpOut + "/f" + std::to_string(sizes[i]) + ".bin", contents[i]));
    EXPECT_TRUE(t.Owner.Received().empty());
}

TEST(FileSend, CancelDisconnectAndKilledReceiver) {
    TRig r;
    if (!r.Init() || !r.Serial()) return;
    const std::string dir = r.Peer.NewDir("k");
    std::vector<std::string> contents;
    auto files = r.Files(dir, {2 << 20}, contents);
    auto underWay = [&](TRig& rig, const char* what) {
        EXPECT_TRUE(rig.Owner.PumpUntil(
            [&] { return rig.Backend->FileSendProgress().BytesDone > 64 * 1024; }, 60000))
            << what << " under way";
    };
    // rb behind a loopback port of its own, the backend connected to it.
    auto tcpRb = [&](TRig& t, const char* sub) {
        const std::string out = dir + "/" + sub;
        CreateDirectoryW(kltest::WinPath(out).c_str(), nullptr);
        const int id = r.Peer.Start("tcp - " + out + " rb -b -q");
        EXPECT_TRUE(id >= 0 && t.Init() && t.Tcp(r.Peer.PortOf(id)));
        EXPECT_TRUE(t.Backend && t.Backend->StartFileSend(files, TSendProtocol::Ymodem, 0, 0));
        if (t.Backend) underWay(t, sub);
        return id;
    };
    {
        // Cancelled (Esc): the receiver is told and gives up; the line is the view's again.
        TRig t;
        const int id = tcpRb(t, "cancelled");
        ASSERT_TRUE(t.Backend);
        t.Backend->CancelFileSend();
        EXPECT_EQ(t.AwaitEnd(10000), kSendCancelled);
        // rb exits on the cancel and socat then closes the connection, so the
        // line may already be gone by now; if it is not, it takes text again.
        EXPECT_FALSE(t.Backend->FileSendActive());
        EXPECT_TRUE(t.Backend->Write(reinterpret_cast<const uint8_t*>("\r"), 1) ||
                    t.Owner.WaitFor(WM_KL_ENDED, 5000))
            << "usable until the peer closes";
        EXPECT_GE(r.Peer.WaitExit(id, 20000), 0) << "rb gave up\n" << r.Peer.Log(id);
    }
    {
        // Disconnect mid-way: Close returns promptly and the receiver is told.
        TRig t;
        const int id = tcpRb(t, "closed");
        ASSERT_TRUE(t.Backend);
        const ULONGLONG closing = GetTickCount64();
        EXPECT_TRUE(t.Backend->Close());
        EXPECT_LT(GetTickCount64() - closing, 5000u);
        t.Backend.reset();
        EXPECT_GE(r.Peer.WaitExit(id, 20000), 0) << "rb gave up\n" << r.Peer.Log(id);
    }
    // Killed mid-way on the serial line: ten silent time-outs, then "no
    // answer", and the worker still ends.
    // Short enough to reach "no answer" soon after the kill, long enough
    // that a live receiver on a loaded machine never misses one.
    TBackend::FileSendReplyMsForTests.store(1000);
    const std::string out = dir + "/killed";
    CreateDirectoryW(kltest::WinPath(out).c_str(), nullptr);
    ASSERT_TRUE(r.Backend->StartFileSend(files, TSendProtocol::Ymodem, 0, 0));
    const int id = r.Peer.Start("serial xfer " + out + " rb -b -q");
    underWay(r, "killed");
    r.Peer.Kill(id);
    const ULONGLONG killedAt = GetTickCount64();
    EXPECT_EQ(r.AwaitEnd(60000), kSendNoAnswer);
    EXPECT_LT(GetTickCount64() - killedAt, 40000u);
    EXPECT_TRUE(r.Backend->Close()) << "the worker ends";
    r.Backend.reset();
    TBackend::FileSendReplyMsForTests.store(0);
}

}  // namespace
