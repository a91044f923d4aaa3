#include "FrameCodec.h"

#include <array>

namespace kkm {

namespace {

// T[i] = remainder of i * x^16 divided by x^16 + x^15 + x^2 + 1.
constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x8000) ? ((r << 1) ^ 0x8005) : (r << 1);
        table[i] = static_cast<std::uint16_t>(r);
    }
    return table;
}

constexpr auto kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x8005 && kCrcTable[2] == 0x800F && kCrcTable[3] == 0x000A
              && kCrcTable[255] == 0x0202);

constexpr std::int64_t kMaxBcd = 999999999999LL;

bool IsSpecial(std::uint8_t b) { return b >= FrameStart; }

// Value carried by an escape's second byte, or -1 when it is not one.
int Unescape(std::uint8_t b)
{
    switch (b) {
    case 0x00: return 0xFF;
    case 0x01: return 0xFE;
    case 0x02: return 0xFD;
    default: return -1;
    }
}

bool BcdRangeOk(std::size_t size, std::uint8_t First, std::uint8_t Last)
{
    return First <= Last && Last < size && Last - First <= 5;
}

} // namespace

std::uint16_t CalcCRC(const std::uint8_t* data, std::size_t size)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) | data[i]) ^ kCrcTable[crc >> 8];
    return crc;
}

std::uint16_t CalcCRC(const TArrayOfByte& Data, std::uint8_t First, std::uint8_t Last)
{
    if (Last < First || First >= Data.size())
        return 0xFFFF;
    const std::size_t end = std::min<std::size_t>(Last, Data.size() - 1) + 1;
    return CalcCRC(Data.data() + First, end - First);
}

bool StuffFrame(TArrayOfByte& Frame)
{
    TArrayOfByte out;
    out.reserve(Frame.size() * 2 + 2);
    out.push_back(FrameStart);
    for (std::uint8_t b : Frame) {
        if (IsSpecial(b)) {
            out.push_back(FrameEscape);
            out.push_back(static_cast<std::uint8_t>(0xFF - b));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(FrameEnd);
    Frame.swap(out);
    return true;
}

bool UnstuffFrame(TArrayOfByte& Frame)
{
    if (Frame.size() <= 2)
        return false;
    TArrayOfByte out;
    out.reserve(Frame.size() - 2);
    const std::size_t end = Frame.size() - 1;
    for (std::size_t i = 1; i < end; ++i) {
        if (Frame[i] != FrameEscape) {
            out.push_back(Frame[i]);
            continue;
        }
        if (i + 1 >= end)
            return false;
        const int v = Unescape(Frame[++i]);
        if (v < 0)
            return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    Frame.swap(out);
    return true;
}

bool BuildFrame(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID, std::uint8_t Code,
                TArrayOfByte& Payload)
{
    if (Payload.size() > MaxPayload)
        return false;
    TArrayOfByte body;
    body.reserve(Payload.size() + 6);
    body.insert(body.end(), {AR, AT, PID, Code});
    body.insert(body.end(), Payload.begin(), Payload.end());
    const std::uint16_t crc = CalcCRC(body.data(), body.size());
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    StuffFrame(body);
    // A receiver drops any longer frame, so such a request could never be
    // answered; stuffing may be what pushes it over.
    if (body.size() > MaxWireFrame)
        return false;
    Payload.swap(body);
    return true;
}

UnpackResult UnpackFrame(TArrayOfByte& Frame)
{
    TArrayOfByte content = Frame;
    if (!UnstuffFrame(content))
        return upUnstuffFailed;
    if (content.size() < 3)
        return upTooShort;
    const std::size_t n = content.size();
    const std::uint16_t crc = CalcCRC(content.data(), n - 2);
    if (content[n - 2] != (crc & 0xFF) || content[n - 1] != (crc >> 8))
        return upCrcMismatch;
    content.resize(n - 2);
    Frame.swap(content);
    return upOk;
}

FrameKind ClassifyFrame(const std::uint8_t* raw, std::size_t size)
{
    // Reverse-stuff just far enough to know the fourth content byte.
    std::size_t seen = 0;
    for (std::size_t i = 1; i < size; ++i) {
        int value = raw[i];
        if (raw[i] == FrameEscape) {
            if (i + 1 >= size)
                return fkNeither;
            value = Unescape(raw[++i]);
            if (value < 0)
                return fkNeither;
        } else if (raw[i] == FrameEnd) {
            return fkNeither; // ended before its Code byte
        }
        if (++seen == 4)
            return (value == 0x00 || value == 0xFF) ? fkResponse : fkMessage;
    }
    return fkNeither;
}

FrameKind ClassifyFrame(const TArrayOfByte& Raw)
{
    return ClassifyFrame(Raw.data(), Raw.size());
}

bool ViewFrame(const TArrayOfByte& Body, FrameView& View)
{
    if (Body.size() < 4)
        return false;
    View.Receiver = Body[0];
    View.Sender = Body[1];
    View.PID = Body[2];
    View.Code = Body[3];
    View.Payload = std::span<const std::uint8_t>(Body).subspan(4);
    return true;
}

bool EncodeBCD(TArrayOfByte& Data, std::uint8_t First, std::uint8_t Last, std::int64_t Value)
{
    if (!BcdRangeOk(Data.size(), First, Last) || Value < 0 || Value > kMaxBcd)
        return false;
    for (int i = Last; i >= First; --i) {
        const int pair = static_cast<int>(Value % 100);
        Data[i] = static_cast<std::uint8_t>((pair / 10) << 4 | (pair % 10));
        Value /= 100;
    }
    return true;
}

bool DecodeBCD(const TArrayOfByte& Data, std::uint8_t First, std::uint8_t Last,
               std::int64_t& Value)
{
    if (!BcdRangeOk(Data.size(), First, Last))
        return false;
    return DecodeBCD(std::span<const std::uint8_t>(Data).subspan(First, Last - First + 1u), Value);
}

bool DecodeBCD(std::span<const std::uint8_t> Field, std::int64_t& Value)
{
    if (Field.empty() || Field.size() > 6)
        return false;
    std::int64_t v = 0;
    for (const std::uint8_t b : Field)
        v = v * 100 + (b >> 4) * 10 + (b & 0x0F);
    Value = v;
    return true;
}

FrameCollector::Outcome FrameCollector::Push(std::uint8_t byte)
{
    bool overflow = false;
    if (length_ >= MaxWireFrame) {
        overflow = inFrame_;
        inFrame_ = false;
        length_ = 0;
    }
    if (byte == FrameStart) {
        const bool restarted = inFrame_ || overflow;
        inFrame_ = true;
        buffer_[0] = byte;
        length_ = 1;
        return restarted ? Restarted : Started;
    }
    if (byte == FrameEnd) {
        if (!inFrame_) {
            length_ = 0;
            return overflow ? Overflow : Ignored;
        }
        buffer_[length_] = byte;
        frameSize_ = length_ + 1;
        inFrame_ = false;
        length_ = 0;
        return Complete;
    }
    if (!inFrame_)
        return overflow ? Overflow : Ignored;
    buffer_[length_++] = byte;
    return Collected;
}

} // namespace kkm
