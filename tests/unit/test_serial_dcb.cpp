#include <gtest/gtest.h>

#include "backend/uSerialDcb.h"

namespace {

TSessionSettings Line(int32_t flow, bool dtr, bool rts, int32_t parity) {
    TSessionSettings s;
    s.Flow = flow;
    s.DTR = dtr;
    s.RTS = rts;
    s.Parity = parity;
    return s;
}

// What a user expects of each flow mode, written as a table rather than as
// the mapping's own conditions.
struct TFlowExpectation {
    int32_t Flow;
    bool CtsOut, DsrOut, SoftOut, SoftIn;
    bool DtrIsHandshake, RtsIsHandshake;
};
constexpr TFlowExpectation kFlowTable[] = {
    {kFlowNone, false, false, false, false, false, false},
    {kFlowRtsCts, true, false, false, false, false, true},
    {kFlowXonXoff, false, false, true, true, false, false},
    {kFlowDtrDsr, false, true, false, false, true, false},
};

}  // namespace

TEST(SerialDcb, EveryFlowDtrRtsParityCombination) {
    for (const auto& e : kFlowTable) {
        for (bool dtr : {false, true}) {
            for (bool rts : {false, true}) {
                for (int32_t parity = 0; parity <= 4; ++parity) {
                    const TDcbFields f = SerialDcbFields(Line(e.Flow, dtr, rts, parity));
                    SCOPED_TRACE(testing::Message() << "flow " << e.Flow << " dtr " << dtr
                                                    << " rts " << rts << " parity " << parity);
                    EXPECT_EQ(f.fOutxCtsFlow, e.CtsOut);
                    EXPECT_EQ(f.fOutxDsrFlow, e.DsrOut);
                    EXPECT_EQ(f.fOutX, e.SoftOut);
                    EXPECT_EQ(f.fInX, e.SoftIn);
                    // A handshake line follows the flow mode whatever the
                    // line's own setting says.
                    EXPECT_EQ(f.fDtrControl, e.DtrIsHandshake ? kLineControlHandshake
                                             : dtr            ? kLineControlEnable
                                                              : kLineControlDisable);
                    EXPECT_EQ(f.fRtsControl, e.RtsIsHandshake ? kLineControlHandshake
                                             : rts            ? kLineControlEnable
                                                              : kLineControlDisable);
                    EXPECT_EQ(f.Parity, parity);
                    EXPECT_EQ(f.fParity, parity != 0);
                    EXPECT_TRUE(f.fBinary);
                    // Flags the plugin never wants stay off: a driver left with
                    // fAbortOnError or fNull set would stall or drop bytes.
                    EXPECT_FALSE(f.fDsrSensitivity);
                    EXPECT_FALSE(f.fTXContinueOnXoff);
                    EXPECT_FALSE(f.fErrorChar);
                    EXPECT_FALSE(f.fNull);
                    EXPECT_FALSE(f.fAbortOnError);
                }
            }
        }
    }
}

TEST(SerialDcb, LineParametersAndSoftwareFlowCharacters) {
    TSessionSettings s;
    s.Baud = 12000000;
    s.DataBits = 5;
    s.StopBits = 1;
    s.Parity = 3;
    TDcbFields f = SerialDcbFields(s);
    EXPECT_EQ(f.BaudRate, 12000000u);
    EXPECT_EQ(f.ByteSize, 5);
    EXPECT_EQ(f.StopBits, 1);
    EXPECT_EQ(f.Parity, 3);
    EXPECT_EQ(f.XonChar, 0x11);
    EXPECT_EQ(f.XoffChar, 0x13);
    EXPECT_EQ(f.XonLim, 2048);
    EXPECT_EQ(f.XoffLim, 512);

    s.Baud = 50;
    s.DataBits = 8;
    s.StopBits = 2;
    f = SerialDcbFields(s);
    EXPECT_EQ(f.BaudRate, 50u);
    EXPECT_EQ(f.ByteSize, 8);
    EXPECT_EQ(f.StopBits, 2);

    // The defaults a new port gets: 115200 8N1, no flow control, lines off.
    EXPECT_EQ(SerialDcbFields(TSessionSettings{}), (TDcbFields{.BaudRate = 115200,
                                                               .ByteSize = 8,
                                                               .Parity = 0,
                                                               .StopBits = 0,
                                                               .XonChar = 0x11,
                                                               .XoffChar = 0x13,
                                                               .XonLim = 2048,
                                                               .XoffLim = 512,
                                                               .fBinary = true}));
}

TEST(SerialDcb, LineSettingsOutsideTheirRangesAreRefused) {
    EXPECT_TRUE(LineSettingsValid(TSessionSettings{}));
    struct TCase {
        const char* What;
        void (*Change)(TSessionSettings&);
        bool Valid;
    };
    const TCase cases[] = {
        {"baud 50", [](TSessionSettings& s) { s.Baud = 50; }, true},
        {"baud 12000000", [](TSessionSettings& s) { s.Baud = 12000000; }, true},
        {"baud 49", [](TSessionSettings& s) { s.Baud = 49; }, false},
        {"baud 12000001", [](TSessionSettings& s) { s.Baud = 12000001; }, false},
        {"baud negative", [](TSessionSettings& s) { s.Baud = -9600; }, false},
        {"data bits 5", [](TSessionSettings& s) { s.DataBits = 5; }, true},
        {"data bits 4", [](TSessionSettings& s) { s.DataBits = 4; }, false},
        {"data bits 9", [](TSessionSettings& s) { s.DataBits = 9; }, false},
        {"data bits 264 (8 once cut to a byte)", [](TSessionSettings& s) { s.DataBits = 264; },
         false},
        {"stop bits 2", [](TSessionSettings& s) { s.StopBits = 2; }, true},
        {"stop bits 3", [](TSessionSettings& s) { s.StopBits = 3; }, false},
        {"stop bits -1", [](TSessionSettings& s) { s.StopBits = -1; }, false},
        {"parity 4", [](TSessionSettings& s) { s.Parity = 4; }, true},
        {"parity 5", [](TSessionSettings& s) { s.Parity = 5; }, false},
        {"parity -1", [](TSessionSettings& s) { s.Parity = -1; }, false},
        {"flow 3", [](TSessionSettings& s) { s.Flow = 3; }, true},
        {"flow 4", [](TSessionSettings& s) { s.Flow = 4; }, false},
        {"flow -1", [](TSessionSettings& s) { s.Flow = -1; }, false},
    };
    for (const auto& c : cases) {
        TSessionSettings s;
        c.Change(s);
        EXPECT_EQ(LineSettingsValid(s), c.Valid) << c.What;
    }
}
