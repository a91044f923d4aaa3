// The frame collector fed an arbitrary byte stream, checked against a plain
// model of the framing rules; every frame it completes goes through
// unpacking and classifying, and what unpacks frames back to the same bytes.
// Then a request built from the input must come back whole when it fits.
#include "FuzzSupport.h"

#include <algorithm>

namespace {

using kkm::FrameCollector;

void CheckCompleted(const TArrayOfByte& frame)
{
    FUZZ_CHECK(frame.size() >= 2 && frame.size() <= kkm::MaxWireFrame);
    FUZZ_CHECK(frame.front() == kkm::FrameStart && frame.back() == kkm::FrameEnd);
    FUZZ_CHECK(std::count(frame.begin(), frame.end(), kkm::FrameStart) == 1);
    FUZZ_CHECK(std::count(frame.begin(), frame.end(), kkm::FrameEnd) == 1);

    const auto kind = kkm::ClassifyFrame(frame);
    TArrayOfByte body = frame;
    const auto unpacked = kkm::UnpackFrame(body);
    if (unpacked != fuzz::kUnpackOk) {
        FUZZ_CHECK(body == frame); // untouched on failure
        return;
    }
    // Stuffing has one form only, so a frame that unpacks is rebuilt exactly.
    FUZZ_CHECK(fuzz::Frame(body) == frame);
    if (body.size() >= 4) // shorter ones are classified by a CRC byte
        FUZZ_CHECK(kind == (body[3] == 0x00 || body[3] == 0xFF ? fuzz::kResponse : fuzz::kMessage));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FrameCollector collector;
    // The model: inside a frame or not, the bytes so far, and whether an
    // overlong frame is being skipped up to the next start marker.
    bool inFrame = false;
    TArrayOfByte partial;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        const FrameCollector::Outcome got = collector.Push(b);
        FrameCollector::Outcome want;
        if (b == kkm::FrameStart) {
            want = inFrame ? FrameCollector::Restarted : FrameCollector::Started;
            inFrame = true;
            partial.assign(1, b);
        } else if (!inFrame) {
            want = FrameCollector::Ignored;
        } else if (b == kkm::FrameEnd && partial.size() + 1 <= kkm::MaxWireFrame) {
            want = FrameCollector::Complete;
            partial.push_back(b);
            inFrame = false;
        } else if (partial.size() + 1 > kkm::MaxWireFrame) {
            want = FrameCollector::Overflow;
            inFrame = false;
            partial.clear();
        } else {
            want = FrameCollector::Collected;
            partial.push_back(b);
        }
        FUZZ_CHECK(got == want);
        FUZZ_CHECK(collector.InFrame() == inFrame);
        if (inFrame)
            FUZZ_CHECK(collector.Length() == partial.size());
        if (got == FrameCollector::Complete) {
            FUZZ_CHECK(collector.FrameCopy() == partial);
            CheckCompleted(partial);
        }
    }

    // A request built from the input arrives whole, in any collector state.
    fuzz::Input in(data, size);
    const std::uint8_t ar = in.Byte(), at = in.Byte(), pid = in.Byte(), code = in.Byte();
    TArrayOfByte payload = in.Take(in.Byte());
    const TArrayOfByte original = payload;
    if (!kkm::BuildFrame(ar, at, pid, code, payload)) {
        // Refused only when it might not fit once stuffed: not while even
        // every content byte escaped would fit.
        FUZZ_CHECK(payload == original && 2 * (original.size() + 6) + 2 > kkm::MaxWireFrame);
        return 0;
    }
    FUZZ_CHECK(payload.size() <= kkm::MaxWireFrame);
    FrameCollector fresh;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const auto outcome = fresh.Push(payload[i]);
        FUZZ_CHECK((i + 1 == payload.size()) == (outcome == FrameCollector::Complete));
        FUZZ_CHECK(outcome != FrameCollector::Overflow && outcome != FrameCollector::Restarted);
    }
    FUZZ_CHECK(fresh.FrameCopy() == payload);
    TArrayOfByte body = payload;
    FUZZ_CHECK(kkm::UnpackFrame(body) == fuzz::kUnpackOk);
    TArrayOfByte header{ar, at, pid, code};
    header.insert(header.end(), original.begin(), original.end());
    FUZZ_CHECK(body == header);
    return 0;
}
