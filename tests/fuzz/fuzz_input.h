// What the fuzz targets share: reading the fuzzer's input a byte at a time
// (zeros once it runs out) and a check that stops the run where it fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace klfuzz {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

class TReader {
public:
    TReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool Empty() const { return n_ == 0; }
    uint8_t Byte() {
        if (!n_) return 0;
        --n_;
        return *p_++;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

}  // namespace klfuzz
