// The register's frame format: CRC, byte stuffing, request building,
// unpacking and classifying received frames, packed-decimal fields.
// Pure functions on byte arrays; no port, thread or Qt in here, so a fuzzer
// or another program can use them alone.
#pragma once

#include "KkmTypes.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kkm {

constexpr std::uint8_t FrameStart = 0xFD;
constexpr std::uint8_t FrameEnd = 0xFE;
constexpr std::uint8_t FrameEscape = 0xFF;

// Longest frame on the wire, both markers included.
constexpr std::size_t MaxWireFrame = 255;
// Longest payload a request may carry: header and payload must fit the
// 8-bit index range of the CRC.
constexpr std::size_t MaxPayload = 252;

// Outcomes of UnpackFrame; a command reports them negated.
enum UnpackResult : std::uint8_t {
    upOk = 0,
    upUnstuffFailed = 5,
    upCrcMismatch = 6,
    upTooShort = 9,
};

// Outcomes of ClassifyFrame.
enum FrameKind : std::uint8_t {
    fkResponse = 0,
    fkMessage = 1,
    fkNeither = 2,
};

// Code of a response: done (the command's data follows) or refused (one
// byte follows, the register's error code).
constexpr std::uint8_t ResponseDone = 0x00;
constexpr std::uint8_t ResponseRefused = 0xFF;

// The header fields and the payload of an unpacked frame (what UnpackFrame
// leaves). The payload points into the frame, which must outlive the view.
struct FrameView {
    std::uint8_t Receiver = 0; // AR
    std::uint8_t Sender = 0;   // AT
    std::uint8_t PID = 0;
    std::uint8_t Code = 0;
    std::span<const std::uint8_t> Payload;

    bool IsRefusal() const { return Code == ResponseRefused; }
};

// False, leaving View alone, when Body is too short for the header.
bool ViewFrame(const TArrayOfByte& Body, FrameView& View);

// The register's CRC-16: polynomial 0x8005, start 0xFFFF, each byte shifted
// into the low end of the register (check value over "123456789": 0x8521).
std::uint16_t CalcCRC(const std::uint8_t* data, std::size_t size);
// CRC of Data[First..Last]; 0xFFFF when Last < First. A range running past
// the end of Data is cut at the end.
std::uint16_t CalcCRC(const TArrayOfByte& Data, std::uint8_t First, std::uint8_t Last);

// Frame := FD + stuffed bytes + FE. Always succeeds.
bool StuffFrame(TArrayOfByte& Frame);
// Frame := reverse-stuffed content between the markers; untouched on failure.
bool UnstuffFrame(TArrayOfByte& Frame);

// Payload := complete request frame. Fails, leaving Payload untouched, when
// it is longer than MaxPayload bytes or the stuffed frame would be longer
// than MaxWireFrame.
bool BuildFrame(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID, std::uint8_t Code,
                TArrayOfByte& Payload);

// Reverse stuffing, length and CRC check; on upOk Frame holds header and
// payload without the CRC.
UnpackResult UnpackFrame(TArrayOfByte& Frame);

// Looks at the header only (start marker included in Raw).
FrameKind ClassifyFrame(const TArrayOfByte& Raw);
FrameKind ClassifyFrame(const std::uint8_t* raw, std::size_t size);

// Packed-decimal fields of 1 to 6 bytes, most significant byte first.
// EncodeBCD refuses negative values and values above 999 999 999 999; digits
// that do not fit the field are dropped. DecodeBCD does not validate nibbles.
bool EncodeBCD(TArrayOfByte& Data, std::uint8_t First, std::uint8_t Last, std::int64_t Value);
bool DecodeBCD(const TArrayOfByte& Data, std::uint8_t First, std::uint8_t Last,
               std::int64_t& Value);
// The same over a run of bytes: fails on an empty run or one over 6 bytes.
bool DecodeBCD(std::span<const std::uint8_t> Field, std::int64_t& Value);

// Collects frames from a byte stream: a start marker begins a frame (and
// discards one in progress), an end marker completes it, a frame that grows
// past MaxWireFrame bytes is dropped together with everything up to the next
// start marker. Push bytes one at a time and look at the outcome.
class FrameCollector {
public:
    enum Outcome {
        Ignored,   // outside a frame
        Started,   // start marker seen
        Collected, // byte added to the frame in progress
        Restarted, // start marker inside a frame: the partial frame is gone
        Overflow,  // frame too long: dropped
        Complete,  // end marker: frame() holds the whole frame
    };

    Outcome Push(std::uint8_t byte);

    bool InFrame() const { return inFrame_; }
    // Bytes of the frame in progress, start marker included.
    std::size_t Length() const { return length_; }
    // The completed frame, markers included; valid after Complete until the
    // next Push.
    const std::uint8_t* Frame() const { return buffer_; }
    std::size_t FrameSize() const { return frameSize_; }
    TArrayOfByte FrameCopy() const { return TArrayOfByte(buffer_, buffer_ + frameSize_); }
    void Reset() { inFrame_ = false; length_ = 0; }

private:
    std::uint8_t buffer_[MaxWireFrame] = {};
    std::size_t length_ = 0;
    std::size_t frameSize_ = 0;
    bool inFrame_ = false;
};

} // namespace kkm
