// The fourteen unsolicited messages a register sends in connected mode, as
// typed values, and their bodies (AR, AT, PID, Code, fields; no CRC).
//
// Amounts are counts of hundredths and quantities counts of thousandths.
// Dates and times are taken as given, without calendar checks, so that a
// test can send one that does not exist (29.02.2009, 24:00:00). A number
// wider than its BCD field keeps its low-order digits; a negative one is
// sent as zero.
#pragma once

#include "KkmTypes.h"
#include "RegisterModel.h"

#include <cstdint>
#include <string>
#include <variant>

namespace kkm::emu {

// Addresses of an unsolicited message: to the PC, from the register.
constexpr std::uint8_t MessageAR = PcAddress;
constexpr std::uint8_t MessageAT = RegisterAddress;

struct SaleOnFree { // 0x20, 23 bytes
    std::uint8_t tOper = 0, vOper = 0;
    std::int64_t Quant = 1000; // thousandths
    std::int64_t Price = 0;    // hundredths
    std::uint8_t nSection = 1, nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct SaleOnCode { // 0x21, 22 bytes
    std::uint8_t tOper = 0, vOper = 0;
    std::int64_t Quant = 1000;
    std::int64_t wCode = 0;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct SaleOnBarcode { // 0x22, 16 bytes + barcode
    std::uint8_t tOper = 0, vOper = 0;
    std::int64_t Quant = 1000;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
    std::string wBCode; // bytes, sent as they are
};
struct FreeDisc { // 0x23, 17 bytes
    std::uint8_t tOper = 0, tDisc = 0, vOper = 0;
    std::int64_t dSumm = 0;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct DiscOnQuery { // 0x24, 17 bytes
    std::uint8_t tOper = 0, tDisc = 0, vOper = 0;
    std::int64_t rSumm = 0;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct DiscOnCode { // 0x25, 23 bytes
    std::uint8_t tOper = 0, tDisc = 0, vOper = 0;
    std::int64_t rSumm = 0;
    std::int64_t dCode = 0;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct DiscOnBarcode { // 0x26, 20 bytes + barcode; nDoc is 6 BCD bytes here
    std::uint8_t tOper = 0, tDisc = 0, vOper = 0;
    std::int64_t rSumm = 0;
    std::uint8_t nOperator = 1;
    std::int64_t nDoc = 1;
    std::string dBCode;
};
struct PayReceipt { // 0x27, 17 bytes
    std::uint8_t tPay = 0, tOper = 0, vOper = 0;
    std::int64_t rSumm = 0;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct CloseReceipt { // 0x29, 21 bytes
    std::uint8_t tOper = 0;
    Date rDate;
    Time rTime;
    std::int64_t rSumm = 0;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct AbortReceipt { // 0x2A, 15 bytes
    std::uint8_t tOper = 0;
    Date rDate;
    Time rTime;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
};
struct InSumm { // 0x2B, 23 bytes
    std::int64_t inSumm = 0;
    Date inDate;
    Time inTime;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
    std::uint32_t nIn = 1;
};
struct OutSumm { // 0x2C, 23 bytes
    std::int64_t outSumm = 0;
    Date outDate;
    Time outTime;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
    std::uint32_t nOut = 1;
};
struct CloseSession { // 0x2D, 22 bytes
    std::int64_t cSumm = 0;
    Date cDate;
    Time cTime;
    std::uint8_t nOperator = 1;
    std::uint32_t nDoc = 1;
    std::uint16_t nSession = 1;
};
struct Confirmation { // 0x2E: 4 bytes, or 10 with the sum when RClose
    std::int64_t rSumm = 0;
    bool RClose = false;
};

using Message = std::variant<SaleOnFree, SaleOnCode, SaleOnBarcode, FreeDisc, DiscOnQuery, DiscOnCode,
                             DiscOnBarcode, PayReceipt, CloseReceipt, AbortReceipt, InSumm, OutSumm,
                             CloseSession, Confirmation>;

std::uint8_t MessageCode(const Message& m);
// The event's name without "on": "SaleOnFree", ..., "Confirmation".
const char* MessageName(const Message& m);

// The body: AR 1, AT 2, PID, Code, then the fields.
TArrayOfByte BuildMessageBody(const Message& m, std::uint8_t pid);

// A body (header included) made into a frame: CRC, byte stuffing, markers.
// crcXor spoils the CRC on purpose (the badcrc fault).
TArrayOfByte FrameBody(const TArrayOfByte& body, std::uint16_t crcXor = 0);

} // namespace kkm::emu
