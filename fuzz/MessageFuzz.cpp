// The component's frame collection and message dispatch fed arbitrary bytes
// while no command waits: every event gets values that the register's
// fields can carry, and a message frame raises at most one event.
#include "FuzzSupport.h"
#include "OmvekCP.h"

#include <QCoreApplication>

#include <cmath>

namespace {

int events = 0;

void Amount(TCurrency c, std::int64_t perUnit)
{
    // Six BCD bytes of hundredths or thousandths; nibbles are not checked,
    // so each byte counts up to 15 * 10 + 15.
    FUZZ_CHECK(c.Raw >= 0 && c.Raw <= 1666666666665LL * (TCurrency::Scale / perUnit));
    FUZZ_CHECK(c.Raw % (TCurrency::Scale / perUnit) == 0);
}

void Date(TDateTime d)
{
    int y, m, day;
    d.DecodeDate(y, m, day);
    // The year byte is BCD without a nibble check: 2000 + up to 165.
    FUZZ_CHECK(y >= 2000 && y <= 2165 && d.Value == std::floor(d.Value));
    FUZZ_CHECK(d.DateString().size() == 10);
}

void Time(TDateTime t)
{
    FUZZ_CHECK(t.Value >= 0 && t.Value < 1);
    FUZZ_CHECK(t.TimeString().size() == 8);
}

void Hook(TOmvekCP& cp)
{
    using U8 = std::uint8_t;
    using U32 = std::uint32_t;
    cp.onSaleOnFree = [](U8, U8, U8, U8, U8, TCurrency q, TCurrency p, U8, U8, U32) {
        ++events, Amount(q, 1000), Amount(p, 100);
    };
    cp.onSaleOnCode = [](U8, U8, U8, U8, U8, TCurrency q, std::int64_t code, U8, U32) {
        ++events, Amount(q, 1000);
        FUZZ_CHECK(code >= 0 && code <= 1666666666665LL);
    };
    cp.onSaleOnBarcode = [](U8, U8, U8, U8, U8, TCurrency q, const TKkmText&, U8, U32) {
        ++events, Amount(q, 1000);
    };
    cp.onFreeDisc = [](U8, U8, U8, U8, U8, U8, TCurrency a, U8, U32) { ++events, Amount(a, 100); };
    cp.onDiscOnQuery = [](U8, U8, U8, U8, U8, U8, TCurrency a, U8, U32) { ++events, Amount(a, 100); };
    cp.onDiscOnCode = [](U8, U8, U8, U8, U8, U8, TCurrency a, std::int64_t, U8, U32) { ++events, Amount(a, 100); };
    cp.onDiscOnBarcode = [](U8, U8, U8, U8, U8, U8, TCurrency a, const TKkmText&, U8, U32) {
        ++events, Amount(a, 100);
    };
    cp.onPayReceipt = [](U8, U8, U8, U8, U8, U8, TCurrency a, U8, U32) { ++events, Amount(a, 100); };
    cp.onCloseReceipt = [](U8, U8, U8, U8, TDateTime d, TDateTime t, TCurrency a, U8, U32) {
        ++events, Date(d), Time(t), Amount(a, 100);
    };
    cp.onAbortReceipt = [](U8, U8, U8, U8, TDateTime d, TDateTime t, U8, U32) { ++events, Date(d), Time(t); };
    cp.onInSumm = [](U8, U8, U8, TCurrency a, TDateTime d, TDateTime t, U8, U32, U32) {
        ++events, Amount(a, 100), Date(d), Time(t);
    };
    cp.onOutSumm = [](U8, U8, U8, TCurrency a, TDateTime d, TDateTime t, U8, U32, U32) {
        ++events, Amount(a, 100), Date(d), Time(t);
    };
    cp.onCloseSession = [](U8, U8, U8, TCurrency a, TDateTime d, TDateTime t, U8, U32, std::uint16_t) {
        ++events, Amount(a, 100), Date(d), Time(t);
    };
    cp.onConfirmation = [](U8, U8, U8, TCurrency a, bool close) {
        ++events, Amount(a, 100);
        FUZZ_CHECK(close || a.Raw == 0);
    };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "message_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static TOmvekCP cp;
    static const bool hooked = (Hook(cp), true);
    (void)hooked;

    // Half the inputs are framed here, so that most reach the readers past
    // the CRC; the rest go in as they are.
    fuzz::Input in(data, size);
    TArrayOfByte stream;
    if (in.Byte() & 1) {
        TArrayOfByte body = in.Rest();
        stream = fuzz::Frame(body);
    } else {
        stream = in.Rest();
    }
    // Count the message frames a plain collector sees in the same bytes.
    kkm::FrameCollector collector;
    int messages = 0;
    for (std::uint8_t b : stream)
        if (collector.Push(b) == kkm::FrameCollector::Complete &&
            kkm::ClassifyFrame(collector.Frame(), collector.FrameSize()) == fuzz::kMessage)
            ++messages;

    events = 0;
    // In chunks of up to 255 bytes, as the port reads them.
    for (std::size_t at = 0; at < stream.size(); at += 255) {
        const TArrayOfByte chunk(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                 stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + 255)));
        cp.PortDataReceived(chunk, static_cast<std::int32_t>(chunk.size()), 0);
    }
    FUZZ_CHECK(events <= messages);
    FUZZ_CHECK(cp.State() == TOmvekCP::tsIdle);
    // Leave no frame half collected for the next input.
    const TArrayOfByte empty{kkm::FrameStart, kkm::FrameEnd};
    cp.PortDataReceived(empty, 2, 0);
    return 0;
}
