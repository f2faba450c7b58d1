#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "terminal/uBytes.h"

namespace {
std::string Str(const TByteBuf& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), size_t(b.Count()));
}
}  // namespace

TEST(ByteBuf, GrowthRuleByteAtATime) {
    TByteBuf b;
    EXPECT_EQ(b.Capacity(), 0);
    std::vector<int32_t> caps;
    for (int i = 0; i < 4000; ++i) {
        ASSERT_TRUE(b.AppendByte(uint8_t(i)));
        if (caps.empty() || caps.back() != b.Capacity()) caps.push_back(b.Capacity());
    }
    EXPECT_EQ(caps, (std::vector<int32_t>{256, 768, 1792, 3840, 7936}));
    EXPECT_EQ(b.Count(), 4000);
    for (int i = 0; i < 4000; ++i) ASSERT_EQ(b.Data()[i], uint8_t(i)) << i;
}

TEST(ByteBuf, BlockAppendReservesTwiceNeededPlus256) {
    TByteBuf b;
    const char block[100] = {};
    ASSERT_TRUE(b.Append(block, 100));
    EXPECT_EQ(b.Capacity(), 456);
    int reallocs = 0, last = b.Capacity();
    for (int i = 0; i < 10000; ++i) {
        b.Append(block, 100);
        if (b.Capacity() != last) {
            ++reallocs;
            last = b.Capacity();
        }
    }
    EXPECT_EQ(b.Count(), 1000100);
    EXPECT_LE(reallocs, 12);  // logarithmic, not linear
}

TEST(ByteBuf, NonPositiveAppendChangesNothingAndDoesNotAllocate) {
    TByteBuf b;
    EXPECT_TRUE(b.Append("x", 0));
    EXPECT_TRUE(b.Append("x", -5));
    EXPECT_EQ(b.Count(), 0);
    EXPECT_EQ(b.Capacity(), 0);
    EXPECT_EQ(b.Data(), nullptr);
}

TEST(ByteBuf, ConsumeAndClear) {
    TByteBuf b;
    b.Append("abc", 3);
    b.Consume(1);
    EXPECT_EQ(Str(b), "bc");
    b.Consume(0);
    b.Consume(-3);
    EXPECT_EQ(Str(b), "bc");
    b.Consume(2);
    EXPECT_EQ(b.Count(), 0);
    b.Append("abc", 3);
    b.Consume(99);
    EXPECT_EQ(b.Count(), 0);

    b.Append("hello", 5);
    const int32_t cap = b.Capacity();
    const uint8_t* storage = b.Data();
    b.Clear();
    EXPECT_EQ(b.Count(), 0);
    EXPECT_EQ(b.Capacity(), cap);
    b.Append("again", 5);
    EXPECT_EQ(b.Data(), storage);  // refilled without reallocating
    EXPECT_EQ(Str(b), "again");
}

TEST(ByteBuf, MoveTransfersStorage) {
    TByteBuf a;
    a.Append("xyz", 3);
    TByteBuf b(std::move(a));
    EXPECT_EQ(Str(b), "xyz");
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.Data(), nullptr);
    a = std::move(b);
    EXPECT_EQ(Str(a), "xyz");
}

// The count is 32-bit signed. An append that would take it past INT32_MAX
// must fail and leave the buffer untouched instead of wrapping the count and
// writing out of bounds (the source is never read in that case).
TEST(ByteBuf, AppendPastTwoGiBFailsSafely) {
    TByteBuf b;
    ASSERT_TRUE(b.Append("aaaaaaaaaaaaaaaa", 16));
    const char one = 'q';
    EXPECT_FALSE(b.Append(&one, INT32_MAX));
    EXPECT_FALSE(b.Append(&one, INT32_MAX - 15));
    EXPECT_EQ(b.Count(), 16);
    EXPECT_EQ(Str(b), std::string(16, 'a'));
    EXPECT_TRUE(b.AppendByte('b'));
    EXPECT_EQ(b.Count(), 17);
}
