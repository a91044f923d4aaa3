// Shared by the fuzz targets: a reader over the fuzzer's bytes, and the
// codec's named outcomes in one place.
#pragma once

#include "FrameCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A failed check: print it and abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

namespace fuzz {

// The codec's outcomes the targets compare with.
inline constexpr auto kUnpackOk = kkm::upOk;
inline constexpr auto kUnpackCrc = kkm::upCrcMismatch;
inline constexpr auto kResponse = kkm::fkResponse;
inline constexpr auto kMessage = kkm::fkMessage;
inline constexpr auto kNeither = kkm::fkNeither;

// Takes values off the front of the fuzzer's input; zeros once it is used up.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t Bits(int bytes)
    {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | Byte();
        return v;
    }
    std::size_t Left() const { return size_ - at_; }
    TArrayOfByte Take(std::size_t n)
    {
        n = n < Left() ? n : Left();
        TArrayOfByte out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    TArrayOfByte Rest() { return Take(Left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Header and payload framed with CRC, stuffing and markers; crcXor spoils
// the CRC.
inline TArrayOfByte Frame(TArrayOfByte body, std::uint16_t crcXor = 0)
{
    const std::uint16_t crc = kkm::CalcCRC(body.data(), body.size()) ^ crcXor;
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    kkm::StuffFrame(body);
    return body;
}

} // namespace fuzz
