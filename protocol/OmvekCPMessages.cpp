// The register's unsolicited messages: one reader per kind, run only when
// its event has a handler; a message that does not read is dropped quietly.
#include "OmvekCP.h"
#include "PayloadFields.h"

using namespace kkm;

namespace {

std::uint32_t ReadDoc(Payload p, std::size_t at, std::size_t size, bool& ok)
{
    std::int64_t v = 0;
    ok = ok && ReadBcd(p, at, size, v);
    return static_cast<std::uint32_t>(v); // six-digit-pair numbers wrap mod 2^32
}

TKkmText ReadText(Payload p, std::size_t from)
{
    return TKkmText(reinterpret_cast<const char*>(p.data()) + from,
                    static_cast<qsizetype>(p.size() - from));
}

} // namespace

// Offsets below count from the first payload byte.
void TOmvekCP::DispatchMessage(TArrayOfByte& frame)
{
    FrameView m;
    if (kkm::UnpackFrame(frame) != upOk || !ViewFrame(frame, m))
        return;
    const Payload p = m.Payload;
    const std::size_t n = p.size();
    const std::uint8_t AR = m.Receiver, AT = m.Sender, PID = m.PID;
    bool ok = true;
    TCurrency q, a;
    TDateTime d, t;
    std::int64_t code = 0;

    switch (m.Code) {
    case 0x20:
        if (!onSaleOnFree || n != 19)
            return;
        ok = ReadQuantity(p, 2, 6, q) && ReadAmount(p, 8, 6, a);
        if (const auto doc = ReadDoc(p, 16, 3, ok); ok)
            onSaleOnFree(AR, AT, PID, p[0], p[1], q, a, p[14], p[15], doc);
        return;
    case 0x21:
        if (!onSaleOnCode || n != 18)
            return;
        ok = ReadQuantity(p, 2, 6, q) && ReadBcd(p, 8, 6, code);
        if (const auto doc = ReadDoc(p, 15, 3, ok); ok)
            onSaleOnCode(AR, AT, PID, p[0], p[1], q, code, p[14], doc);
        return;
    case 0x22:
        if (!onSaleOnBarcode || n < 13)
            return;
        ok = ReadQuantity(p, 2, 6, q);
        if (const auto doc = ReadDoc(p, 9, 3, ok); ok)
            onSaleOnBarcode(AR, AT, PID, p[0], p[1], q, ReadText(p, 12), p[8], doc);
        return;
    case 0x23:
    case 0x24: {
        const auto& handler = m.Code == 0x23 ? onFreeDisc : onDiscOnQuery;
        if (!handler || n != 13)
            return;
        ok = ReadAmount(p, 3, 6, a);
        if (const auto doc = ReadDoc(p, 10, 3, ok); ok)
            handler(AR, AT, PID, p[0], p[1], p[2], a, p[9], doc);
        return;
    }
    case 0x25:
        if (!onDiscOnCode || n != 19)
            return;
        ok = ReadAmount(p, 3, 6, a) && ReadBcd(p, 9, 6, code);
        if (const auto doc = ReadDoc(p, 16, 3, ok); ok)
            onDiscOnCode(AR, AT, PID, p[0], p[1], p[2], a, code, p[15], doc);
        return;
    case 0x26:
        if (!onDiscOnBarcode || n < 17)
            return;
        ok = ReadAmount(p, 3, 6, a);
        if (const auto doc = ReadDoc(p, 10, 6, ok); ok)
            onDiscOnBarcode(AR, AT, PID, p[0], p[1], p[2], a, ReadText(p, 16), p[9], doc);
        return;
    case 0x27:
        if (!onPayReceipt || n != 13)
            return;
        ok = ReadAmount(p, 3, 6, a);
        if (const auto doc = ReadDoc(p, 10, 3, ok); ok)
            onPayReceipt(AR, AT, PID, p[0], p[1], p[2], a, p[9], doc);
        return;
    case 0x29:
        if (!onCloseReceipt || n != 17)
            return;
        ok = ReadDate(p, 1, d) && ReadTime(p, 4, t) && ReadAmount(p, 7, 6, a);
        if (const auto doc = ReadDoc(p, 14, 3, ok); ok)
            onCloseReceipt(AR, AT, PID, p[0], d, t, a, p[13], doc);
        return;
    case 0x2A:
        if (!onAbortReceipt || n != 11)
            return;
        ok = ReadDate(p, 1, d) && ReadTime(p, 4, t);
        if (const auto doc = ReadDoc(p, 8, 3, ok); ok)
            onAbortReceipt(AR, AT, PID, p[0], d, t, p[7], doc);
        return;
    case 0x2B:
    case 0x2C: {
        const auto& handler = m.Code == 0x2B ? onInSumm : onOutSumm;
        if (!handler || n != 19)
            return;
        ok = ReadAmount(p, 0, 6, a) && ReadDate(p, 6, d) && ReadTime(p, 9, t);
        const auto doc = ReadDoc(p, 13, 3, ok);
        if (const auto count = ReadDoc(p, 16, 3, ok); ok)
            handler(AR, AT, PID, a, d, t, p[12], doc, count);
        return;
    }
    case 0x2D: {
        if (!onCloseSession || n != 18)
            return;
        ok = ReadAmount(p, 0, 6, a) && ReadDate(p, 6, d) && ReadTime(p, 9, t);
        const auto doc = ReadDoc(p, 13, 3, ok);
        if (const auto session = ReadDoc(p, 16, 2, ok); ok)
            onCloseSession(AR, AT, PID, a, d, t, p[12], doc, static_cast<std::uint16_t>(session));
        return;
    }
    case 0x2E:
        if (!onConfirmation || (n != 0 && n != 6))
            return;
        if (n == 0)
            onConfirmation(AR, AT, PID, TCurrency{}, false);
        else if (ReadAmount(p, 0, 6, a))
            onConfirmation(AR, AT, PID, a, true);
        return;
    default:
        return; // no event for this code
    }
}
