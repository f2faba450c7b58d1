#include "terminal/uBytes.h"

#include <cstdlib>
#include <utility>

TByteBuf::~TByteBuf() { std::free(data_); }

TByteBuf::TByteBuf(TByteBuf&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      count_(std::exchange(other.count_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TByteBuf& TByteBuf::operator=(TByteBuf&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        count_ = std::exchange(other.count_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

bool TByteBuf::Grow(int64_t wanted, int64_t needed) {
    if (needed > kMaxCapacity) return false;
    if (wanted > kMaxCapacity) wanted = kMaxCapacity;
    void* p = std::realloc(data_, size_t(wanted));
    if (!p) return false;
    data_ = static_cast<uint8_t*>(p);
    capacity_ = int32_t(wanted);
    return true;
}

bool TByteBuf::Append(const void* source, int32_t n) {
    if (n <= 0) return true;
    const int64_t needed = int64_t(count_) + n;
    if (capacity_ < needed && !Grow(2 * needed + 256, needed)) return false;
    std::memcpy(data_ + count_, source, size_t(n));
    count_ += n;
    return true;
}

void TByteBuf::Consume(int32_t n) {
    if (n <= 0) return;
    if (n < count_) {
        std::memmove(data_, data_ + n, size_t(count_ - n));
        count_ -= n;
    } else {
        count_ = 0;
    }
}
