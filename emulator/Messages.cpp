#include "Messages.h"

#include "FrameCodec.h"

namespace kkm::emu {

namespace {

class Body {
public:
    Body(std::uint8_t pid, std::uint8_t code) : bytes_{MessageAR, MessageAT, pid, code} {}

    Body& Byte(std::uint8_t b)
    {
        bytes_.push_back(b);
        return *this;
    }
    Body& Bcd(std::size_t size, std::int64_t value)
    {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + size);
        PutBcd(bytes_, at, size, static_cast<std::uint64_t>(value < 0 ? 0 : value));
        return *this;
    }
    Body& DateField(const Date& d) { return Bcd(1, d.Day).Bcd(1, d.Month).Bcd(1, d.Year % 100); }
    Body& TimeField(const Time& t) { return Bcd(1, t.Hour).Bcd(1, t.Minute).Bcd(1, t.Second); }
    Body& Text(const std::string& s)
    {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    TArrayOfByte Take() { return std::move(bytes_); }

private:
    TArrayOfByte bytes_;
};

struct Builder {
    std::uint8_t pid;

    TArrayOfByte operator()(const SaleOnFree& m) const
    {
        return Body(pid, 0x20).Byte(m.tOper).Byte(m.vOper).Bcd(6, m.Quant).Bcd(6, m.Price)
            .Byte(m.nSection).Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const SaleOnCode& m) const
    {
        return Body(pid, 0x21).Byte(m.tOper).Byte(m.vOper).Bcd(6, m.Quant).Bcd(6, m.wCode)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const SaleOnBarcode& m) const
    {
        return Body(pid, 0x22).Byte(m.tOper).Byte(m.vOper).Bcd(6, m.Quant).Byte(m.nOperator)
            .Bcd(3, m.nDoc).Text(m.wBCode).Take();
    }
    TArrayOfByte operator()(const FreeDisc& m) const
    {
        return Body(pid, 0x23).Byte(m.tOper).Byte(m.tDisc).Byte(m.vOper).Bcd(6, m.dSumm)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const DiscOnQuery& m) const
    {
        return Body(pid, 0x24).Byte(m.tOper).Byte(m.tDisc).Byte(m.vOper).Bcd(6, m.rSumm)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const DiscOnCode& m) const
    {
        return Body(pid, 0x25).Byte(m.tOper).Byte(m.tDisc).Byte(m.vOper).Bcd(6, m.rSumm)
            .Bcd(6, m.dCode).Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const DiscOnBarcode& m) const
    {
        return Body(pid, 0x26).Byte(m.tOper).Byte(m.tDisc).Byte(m.vOper).Bcd(6, m.rSumm)
            .Byte(m.nOperator).Bcd(6, m.nDoc).Text(m.dBCode).Take();
    }
    TArrayOfByte operator()(const PayReceipt& m) const
    {
        return Body(pid, 0x27).Byte(m.tPay).Byte(m.tOper).Byte(m.vOper).Bcd(6, m.rSumm)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const CloseReceipt& m) const
    {
        return Body(pid, 0x29).Byte(m.tOper).DateField(m.rDate).TimeField(m.rTime).Bcd(6, m.rSumm)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const AbortReceipt& m) const
    {
        return Body(pid, 0x2A).Byte(m.tOper).DateField(m.rDate).TimeField(m.rTime)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Take();
    }
    TArrayOfByte operator()(const InSumm& m) const
    {
        return Body(pid, 0x2B).Bcd(6, m.inSumm).DateField(m.inDate).TimeField(m.inTime)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Bcd(3, m.nIn).Take();
    }
    TArrayOfByte operator()(const OutSumm& m) const
    {
        return Body(pid, 0x2C).Bcd(6, m.outSumm).DateField(m.outDate).TimeField(m.outTime)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Bcd(3, m.nOut).Take();
    }
    TArrayOfByte operator()(const CloseSession& m) const
    {
        return Body(pid, 0x2D).Bcd(6, m.cSumm).DateField(m.cDate).TimeField(m.cTime)
            .Byte(m.nOperator).Bcd(3, m.nDoc).Bcd(2, m.nSession).Take();
    }
    TArrayOfByte operator()(const Confirmation& m) const
    {
        Body b(pid, 0x2E);
        if (m.RClose)
            b.Bcd(6, m.rSumm);
        return b.Take();
    }
};

struct Info {
    std::uint8_t code;
    const char* name;
};

constexpr Info kInfo[] = {
    {0x20, "SaleOnFree"}, {0x21, "SaleOnCode"}, {0x22, "SaleOnBarcode"}, {0x23, "FreeDisc"},
    {0x24, "DiscOnQuery"}, {0x25, "DiscOnCode"}, {0x26, "DiscOnBarcode"}, {0x27, "PayReceipt"},
    {0x29, "CloseReceipt"}, {0x2A, "AbortReceipt"}, {0x2B, "InSumm"}, {0x2C, "OutSumm"},
    {0x2D, "CloseSession"}, {0x2E, "Confirmation"},
};
static_assert(std::size(kInfo) == std::variant_size_v<Message>);

} // namespace

std::uint8_t MessageCode(const Message& m)
{
    return kInfo[m.index()].code;
}

const char* MessageName(const Message& m)
{
    return kInfo[m.index()].name;
}

TArrayOfByte BuildMessageBody(const Message& m, std::uint8_t pid)
{
    return std::visit(Builder{pid}, m);
}

TArrayOfByte FrameBody(const TArrayOfByte& body, std::uint16_t crcXor)
{
    // The body already holds the header, which BuildFrame would add again;
    // and a fault may want a body too short or too long for BuildFrame.
    TArrayOfByte frame = body;
    const std::uint16_t crc = CalcCRC(frame.data(), frame.size()) ^ crcXor;
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    StuffFrame(frame);
    return frame;
}

} // namespace kkm::emu
