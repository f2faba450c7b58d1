// TByteBuf: growable byte array with a capacity kept apart from its count, so
// that clearing and refilling it allocates nothing once it has grown.
//
// Growth is geometric plus 256 bytes (2 * needed + 256). The count is a signed
// 32-bit value; an append that would take it past INT32_MAX, or an allocation
// that fails, leaves the buffer exactly as it was and reports false.
#pragma once

#include <cstdint>
#include <cstring>

class TByteBuf {
public:
    static constexpr int32_t kMaxCapacity = INT32_MAX;

    TByteBuf() = default;
    ~TByteBuf();
    TByteBuf(const TByteBuf&) = delete;
    TByteBuf& operator=(const TByteBuf&) = delete;
    TByteBuf(TByteBuf&& other) noexcept;
    TByteBuf& operator=(TByteBuf&& other) noexcept;

    bool AppendByte(uint8_t b) {
        if (count_ >= capacity_ && !Grow(2 * int64_t(capacity_) + 256, int64_t(count_) + 1))
            return false;
        data_[count_++] = b;
        return true;
    }
    bool Append(const void* source, int32_t n);
    void Clear() { count_ = 0; }
    void Consume(int32_t n);

    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }
    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }

private:
    // Reallocates to `wanted` bytes (capped at kMaxCapacity); fails when even
    // the cap cannot hold `needed` bytes or the allocation fails.
    bool Grow(int64_t wanted, int64_t needed);

    uint8_t* data_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};
