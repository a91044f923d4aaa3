// The register's unsolicited messages: one reader per kind, run only when
// its event has a handler; a message that does not read is dropped quietly.
#include "OmvekCP.h"
#include "PayloadFields.h"

using namespace kkm;

namespace {

std::uint32_t ReadDoc(const TArrayOfByte& b, std::size_t at, std::size_t size, bool& ok)
{
    std::int64_t v = 0;
    ok = ok && ReadBcd(b, at, size, v);
    return static_cast<std::uint32_t>(v); // six-digit-pair numbers wrap mod 2^32
}

TKkmText ReadText(const TArrayOfByte& b, std::size_t from)
{
    return TKkmText(reinterpret_cast<const char*>(b.data()) + from,
                    static_cast<qsizetype>(b.size() - from));
}

} // namespace

void TOmvekCP::DispatchMessage(TArrayOfByte& frame)
{
    if (UnpackFrame(frame) != upOk || frame.size() < 4)
        return;
    const TArrayOfByte& b = frame;
    const std::size_t n = b.size();
    const std::uint8_t AR = b[0], AT = b[1], PID = b[2];
    bool ok = true;
    TCurrency q, a;
    TDateTime d, t;
    std::int64_t code = 0;

    switch (b[3]) {
    case 0x20:
        if (!onSaleOnFree || n != 23)
            return;
        ok = ReadQuantity(b, 6, 6, q) && ReadAmount(b, 12, 6, a);
        if (const auto doc = ReadDoc(b, 20, 3, ok); ok)
            onSaleOnFree(AR, AT, PID, b[4], b[5], q, a, b[18], b[19], doc);
        return;
    case 0x21:
        if (!onSaleOnCode || n != 22)
            return;
        ok = ReadQuantity(b, 6, 6, q) && ReadBcd(b, 12, 6, code);
        if (const auto doc = ReadDoc(b, 19, 3, ok); ok)
            onSaleOnCode(AR, AT, PID, b[4], b[5], q, code, b[18], doc);
        return;
    case 0x22:
        if (!onSaleOnBarcode || n < 17)
            return;
        ok = ReadQuantity(b, 6, 6, q);
        if (const auto doc = ReadDoc(b, 13, 3, ok); ok)
            onSaleOnBarcode(AR, AT, PID, b[4], b[5], q, ReadText(b, 16), b[12], doc);
        return;
    case 0x23:
    case 0x24: {
        const auto& handler = b[3] == 0x23 ? onFreeDisc : onDiscOnQuery;
        if (!handler || n != 17)
            return;
        ok = ReadAmount(b, 7, 6, a);
        if (const auto doc = ReadDoc(b, 14, 3, ok); ok)
            handler(AR, AT, PID, b[4], b[5], b[6], a, b[13], doc);
        return;
    }
    case 0x25:
        if (!onDiscOnCode || n != 23)
            return;
        ok = ReadAmount(b, 7, 6, a) && ReadBcd(b, 13, 6, code);
        if (const auto doc = ReadDoc(b, 20, 3, ok); ok)
            onDiscOnCode(AR, AT, PID, b[4], b[5], b[6], a, code, b[19], doc);
        return;
    case 0x26:
        if (!onDiscOnBarcode || n < 21)
            return;
        ok = ReadAmount(b, 7, 6, a);
        if (const auto doc = ReadDoc(b, 14, 6, ok); ok)
            onDiscOnBarcode(AR, AT, PID, b[4], b[5], b[6], a, ReadText(b, 20), b[13], doc);
        return;
    case 0x27:
        if (!onPayReceipt || n != 17)
            return;
        ok = ReadAmount(b, 7, 6, a);
        if (const auto doc = ReadDoc(b, 14, 3, ok); ok)
            onPayReceipt(AR, AT, PID, b[4], b[5], b[6], a, b[13], doc);
        return;
    case 0x29:
        if (!onCloseReceipt || n != 21)
            return;
        ok = ReadDate(b, 5, d) && ReadTime(b, 8, t) && ReadAmount(b, 11, 6, a);
        if (const auto doc = ReadDoc(b, 18, 3, ok); ok)
            onCloseReceipt(AR, AT, PID, b[4], d, t, a, b[17], doc);
        return;
    case 0x2A:
        if (!onAbortReceipt || n != 15)
            return;
        ok = ReadDate(b, 5, d) && ReadTime(b, 8, t);
        if (const auto doc = ReadDoc(b, 12, 3, ok); ok)
            onAbortReceipt(AR, AT, PID, b[4], d, t, b[11], doc);
        return;
    case 0x2B:
    case 0x2C: {
        const auto& handler = b[3] == 0x2B ? onInSumm : onOutSumm;
        if (!handler || n != 23)
            return;
        ok = ReadAmount(b, 4, 6, a) && ReadDate(b, 10, d) && ReadTime(b, 13, t);
        const auto doc = ReadDoc(b, 17, 3, ok);
        if (const auto count = ReadDoc(b, 20, 3, ok); ok)
            handler(AR, AT, PID, a, d, t, b[16], doc, count);
        return;
    }
    case 0x2D: {
        if (!onCloseSession || n != 22)
            return;
        ok = ReadAmount(b, 4, 6, a) && ReadDate(b, 10, d) && ReadTime(b, 13, t);
        const auto doc = ReadDoc(b, 17, 3, ok);
        if (const auto session = ReadDoc(b, 20, 2, ok); ok)
            onCloseSession(AR, AT, PID, a, d, t, b[16], doc, static_cast<std::uint16_t>(session));
        return;
    }
    case 0x2E:
        if (!onConfirmation || (n != 4 && n != 10))
            return;
        if (n == 4)
            onConfirmation(AR, AT, PID, TCurrency{}, false);
        else if (ReadAmount(b, 4, 6, a))
            onConfirmation(AR, AT, PID, a, true);
        return;
    default:
        return; // no event for this code
    }
}
