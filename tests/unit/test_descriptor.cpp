#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "plugin/uDescriptor.h"

namespace {

const std::u16string kIni = u"C:\\Tools\\kestrelink.ini";

TDescriptor PortCom3() {
    TDescriptor d;
    d.Kind = kKindSerial;
    d.Target = u"COM3";
    d.Display = u"COM3  USB Serial Device";
    d.Ini = kIni;
    return d;
}

TDescriptor Router() {
    TDescriptor d;
    d.Kind = kKindTcp;
    d.Target = u"router";
    d.Host = u"10.0.0.1";
    d.Port = 23;
    d.Mode = 1;
    d.Display = TcpDisplayName(d.Target, d.Host, d.Port);
    d.Ini = kIni;
    return d;
}

TDescriptor Manage() {
    TDescriptor d;
    d.Kind = kKindManage;
    d.Target = u"manage";
    d.Ini = kIni;
    return d;
}

// A descriptor text from lines; every line gets the ending given.
std::string Lines(std::initializer_list<const char*> lines, const char* eol = "\r\n") {
    std::string s;
    for (const char* l : lines) s.append(l).append(eol);
    return s;
}

bool Parse(const std::string& bytes, TDescriptor& d) { return ParseDescriptor(bytes, d); }

}  // namespace

TEST(Descriptor, FormatsTheExamplesByteForByte) {
    const std::string port = FormatDescriptor(PortCom3());
    EXPECT_EQ(port,
              "KESTRELINK1\r\nkind=0\r\ntarget=COM3\r\ndisplay=COM3  USB Serial Device\r\n"
              "host=\r\nport=0\r\nmode=0\r\nini=C:\\Tools\\kestrelink.ini\r\n");
    EXPECT_EQ(port.size(), 119u);

    const std::string router = FormatDescriptor(Router());
    EXPECT_EQ(router.size(), 131u);
    EXPECT_NE(router.find("\r\ndisplay=TCP router (10.0.0.1:23)\r\n"), std::string::npos) << router;
    EXPECT_NE(router.find("\r\nhost=10.0.0.1\r\nport=23\r\nmode=1\r\n"), std::string::npos);

    const std::string manage = FormatDescriptor(Manage());
    EXPECT_EQ(manage,
              "KESTRELINK1\r\nkind=2\r\ntarget=manage\r\ndisplay=\r\nhost=\r\nport=0\r\nmode=0\r\n"
              "ini=C:\\Tools\\kestrelink.ini\r\n");
    EXPECT_EQ(manage.size(), 98u);
}

TEST(Descriptor, TextIsUtf8AndNegativeNumbersKeepTheirSign) {
    TDescriptor d = Router();
    d.Target = u"Z\u00FCrich \u2192 \U0001F600";
    d.Port = -5;
    d.Ini = u"C:\\\u0423\\k.ini";
    const std::string bytes = FormatDescriptor(d);
    EXPECT_NE(bytes.find("target=Z\xC3\xBCrich \xE2\x86\x92 \xF0\x9F\x98\x80\r\n"),
              std::string::npos);
    EXPECT_NE(bytes.find("port=-5\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("ini=C:\\\xD0\xA3\\k.ini\r\n"), std::string::npos);
    TDescriptor back;
    ASSERT_TRUE(ParseDescriptor(bytes, back));
    EXPECT_EQ(back, d);
}

TEST(Descriptor, ValueWithLineBreakCannotInjectKeys) {
    // a registry port name is arbitrary text: it must not turn a port into a TCP entry
    TDescriptor d = PortCom3();
    d.Target = u"COM3\r\nkind=1\nhost=evil";
    d.Display = u"x\rini=D:\\other.ini";
    const std::string bytes = FormatDescriptor(d);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 8);
    TDescriptor back;
    ASSERT_TRUE(ParseDescriptor(bytes, back));
    EXPECT_EQ(back.Kind, kKindSerial);
    EXPECT_EQ(back.Target, u"COM3  kind=1 host=evil");
    EXPECT_EQ(back.Host, u"");
    EXPECT_EQ(back.Ini, kIni);
}

TEST(Descriptor, LineEndingsAreTolerated) {
    TDescriptor a, b, c;
    ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "kind=0", "target=COM3"}, "\n"), a));
    EXPECT_EQ(a.Target, u"COM3");
    ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "kind=0", "target=COM3", "host=h"}, "\r\r\n"), b));
    EXPECT_EQ(b.Target, u"COM3");  // both CRs go
    EXPECT_EQ(b.Host, u"h");
    // the last line needs no line end; a lone CR inside a line stays
    ASSERT_TRUE(Parse("KESTRELINK1\ntarget=CO\rM3", c));
    EXPECT_EQ(c.Target, u"CO\rM3");
}

TEST(Descriptor, MagicLineMustBeExact) {
    TDescriptor d;
    const std::string body = "kind=0\r\ntarget=COM3\r\n";
    EXPECT_TRUE(Parse("KESTRELINK1\r\n" + body, d));
    EXPECT_FALSE(Parse("\xEF\xBB\xBFKESTRELINK1\r\n" + body, d)) << "byte-order mark";
    EXPECT_FALSE(Parse("kestrelink1\r\n" + body, d)) << "lower case";
    EXPECT_FALSE(Parse("KESTRELINK1 \r\n" + body, d)) << "trailing space";
    EXPECT_FALSE(Parse("KESTRELINK2\r\n" + body, d));
    EXPECT_FALSE(Parse("\r\nKESTRELINK1\r\n" + body, d)) << "magic not on the first line";
    EXPECT_FALSE(Parse("", d));
    EXPECT_FALSE(Parse("KESTRELINK1", d)) << "magic alone has no target";
    // a failed magic reads no further line
    EXPECT_FALSE(Parse("KESTRELINK\r\n" + body, d));
    EXPECT_TRUE(d.Target.empty());
}

TEST(Descriptor, KeysValuesAndNumbers) {
    TDescriptor d;
    ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "KIND=1", "Target=r", "HOST=a=b", "port=abc", "mode =2",
                             "=x", "noequals", "other=1", "kind =2"}),
                      d));
    EXPECT_EQ(d.Kind, 1) << "keys are lower-cased; a key with a space is another key";
    EXPECT_EQ(d.Target, u"r");
    EXPECT_EQ(d.Host, u"a=b") << "the value runs from the first '='";
    EXPECT_EQ(d.Port, 0) << "not a number";
    EXPECT_EQ(d.Mode, 0);

    ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "target=A", "target= B ", "port=2147483647",
                             "mode=-2147483648", "display=", "ini=x"}),
                      d));
    EXPECT_EQ(d.Target, u" B ") << "the last one wins, nothing is trimmed";
    EXPECT_EQ(d.Port, 2147483647);
    EXPECT_EQ(d.Mode, -2147483647 - 1);
    EXPECT_EQ(d.Display, u"");

    for (const char* bad : {"port=2147483648", "port=", "port=+", "port= 5", "port=5 ", "port=0x10",
                            "port=1e3", "port=99999999999999999999"}) {
        ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "port=7", bad, "target=C"}), d));
        EXPECT_EQ(d.Port, 0) << bad;
    }
    ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "port=+12", "target=C"}), d));
    EXPECT_EQ(d.Port, 12);

    // invalid UTF-8 in a value becomes U+FFFD, never a failure
    ASSERT_TRUE(Parse(Lines({"KESTRELINK1", "target=C\xFF"}), d));
    EXPECT_EQ(d.Target, u"C\uFFFD");
}

TEST(Descriptor, ValidityDependsOnKindTargetAndHost) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"kind=0\ntarget=COM3\n", true},
        {"target=COM3\n", true},  // kind defaults to 0
        {"kind=0\n", false},      // no target
        {"kind=0\ntarget=\n", false},
        {"kind=1\ntarget=router\nhost=10.0.0.1\n", true},
        {"kind=1\ntarget=router\n", false},
        {"kind=1\ntarget=router\nhost=\n", false},
        {"kind=2\ntarget=manage\n", true},
        {"kind=2\ntarget=Manage\n", false},
        {"kind=2\ntarget=manage \n", false},
        {"kind=3\ntarget=COM3\nhost=h\n", false},
        {"kind=-1\ntarget=COM3\n", false},
        {"kind=x\ntarget=COM3\n", true},  // not a number: kind 0
    };
    for (const Case& c : cases) {
        TDescriptor d;
        EXPECT_EQ(Parse(std::string("KESTRELINK1\r\n") + c.text, d), c.valid) << c.text;
    }
}
