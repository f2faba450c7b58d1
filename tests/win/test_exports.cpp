// The host contract of the entry points that are complete in themselves,
// called through the exports of the built DLL.
#include <cstring>
#include <string>

#include "plugin/uHostApi.h"
#include "wintest.h"

using kltest::TPlugin;

namespace {
using TFsInit = int(__stdcall*)(int, void*, void*, void*);
using TFsSetDefaultParams = void(__stdcall*)(void*);
using TCopyName = void(__stdcall*)(char*, int);

std::string CallCopy(TCopyName fn, int maxlen, int bufSize = 512) {
    std::string buf(size_t(bufSize), '#');
    fn(buf.data(), maxlen);
    return buf;
}
}  // namespace

TEST(Exports, InitKeepsNothingAndMayBeRepeated) {
    TPlugin p;
    auto fsInit = p.Proc<TFsInit>("FsInit");
    auto fsInitW = p.Proc<TFsInit>("FsInitW");
    auto setParams = p.Proc<TFsSetDefaultParams>("FsSetDefaultParams");
    ASSERT_TRUE(fsInit && fsInitW && setParams);
    int dummy = 0;
    EXPECT_EQ(fsInit(7, &dummy, &dummy, &dummy), 0);
    EXPECT_EQ(fsInit(8, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(fsInitW(7, nullptr, nullptr, nullptr), 0);
    char params[1024] = {};
    setParams(params);
    setParams(nullptr);
    EXPECT_EQ(fsInit(7, nullptr, nullptr, nullptr), 0);
}

TEST(Exports, RootNameHasLstrcpynSemantics) {
    TPlugin p;
    auto fn = p.Proc<TCopyName>("FsGetDefRootName");
    ASSERT_TRUE(fn);
    EXPECT_EQ(CallCopy(fn, 0, 4), "####");  // nothing written at all
    EXPECT_EQ(CallCopy(fn, 1, 4), std::string("\0###", 4));
    EXPECT_EQ(CallCopy(fn, 5, 8), std::string("Kest\0###", 8));
    EXPECT_EQ(CallCopy(fn, 11, 12), std::string("Kestrelink\0#", 12));
    EXPECT_EQ(std::string(CallCopy(fn, 260).c_str()), "Kestrelink");
    fn(nullptr, 10);  // a null buffer is left alone
}

TEST(Exports, DetectStringIsThe108CharacterMagicTest) {
    TPlugin p;
    auto fn = p.Proc<TCopyName>("ListGetDetectString");
    ASSERT_TRUE(fn);
    const std::string full = CallCopy(fn, 2048, 2048).c_str();
    EXPECT_EQ(full.size(), 108u);
    EXPECT_EQ(full,
              "[0]=\"K\" & [1]=\"E\" & [2]=\"S\" & [3]=\"T\" & [4]=\"R\" & [5]=\"E\" & [6]=\"L\" & "
              "[7]=\"I\" & [8]=\"N\" & [9]=\"K\" & [10]=\"1\"");
    // exactly fitting: 108 characters need 109 units
    EXPECT_EQ(std::string(CallCopy(fn, 109).c_str()), full);
    EXPECT_EQ(std::string(CallCopy(fn, 108).c_str()), full.substr(0, 107));
    EXPECT_EQ(CallCopy(fn, 5, 6), std::string("[0]=\0#", 6));
}
