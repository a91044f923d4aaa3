// The emulated register: its state, and the answer it gives to one request.
// No I/O and no threads here; the clock is the only thing that is not
// deterministic, and it can be fixed in the state.
//
// Answers use the register's error codes:
//   1  no such data: unknown table, record, field, goods item, user
//   2  command not supported: unknown command code
//   3  cannot be done now: a logo row without a header, or out of order
//   4  bad parameters: wrong payload length, bad BCD digits, data whose
//      length is not the record's or the field's size, bad logo header
//   5  access denied: a write (codes 7, 14, 15, 20) before a successful
//      Authorize in this session, or a wrong password
#pragma once

#include "KkmTypes.h"
#include "RegisterCodes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kkm::emu {

// Addresses every request must carry: the register (AR) and the PC (AT).
constexpr std::uint8_t RegisterAddress = 2;
constexpr std::uint8_t PcAddress = 1;

constexpr int TableCount = 10;
constexpr int GoodsCount = 9999;
constexpr int UserCount = 7;
constexpr int UserTable = 9;
constexpr int GoodsTable = 1;
// Largest sales quantity: 8 BCD digits of thousandths.
constexpr std::int64_t MaxSales = Max8Digits;

// The response Code bytes.
constexpr std::uint8_t AnswerDone = 0x00;
constexpr std::uint8_t AnswerRefused = 0xFF;

struct Date {
    int Day = 1;
    int Month = 1;
    int Year = 2000; // full year; the wire carries Year % 100
    bool operator==(const Date&) const = default;
};

struct Time {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    bool operator==(const Time&) const = default;
};

struct ClockValue {
    Date date;
    Time time;
    bool operator==(const ClockValue&) const = default;
};

// The PC's local time now.
ClockValue LocalClock();

struct Identity {
    std::int64_t SerialNumber = 0; // up to 12 digits
    std::uint16_t InfoWord = 0;
    std::uint8_t InfoByte = 0;    // 0..99, sent as one BCD byte
    std::uint8_t SoftVersion = 0; // 0..99, sent as one BCD byte
    Date SoftDate;
    std::string ModelName; // Windows-1251 bytes
    bool operator==(const Identity&) const = default;
};

struct DeviceState {
    std::uint8_t ErrorCode = 0;
    std::optional<ClockValue> FixedClock; // empty: the PC's local time
    std::uint8_t ModeCode = 0;
    std::uint8_t OperatorNo = 0; // 0..99, sent as one BCD byte
    std::uint8_t SessionOpen = 0;
    std::int64_t SessionTotal = 0; // hundredths
    std::int64_t CashInDrawer = 0; // hundredths
    bool operator==(const DeviceState&) const = default;
};

// One-bit picture: Rows rows of BytesPerRow bytes, leftmost dot in bit 7,
// 1 = printed.
struct Logo {
    std::uint8_t Kind = 0; // 0 head of the receipt, 1 foot
    std::uint8_t BytesPerRow = 0;
    std::uint8_t Rows = 0;
    TArrayOfByte Dots;
    bool operator==(const Logo&) const = default;
};

struct RegisterState {
    Identity identity;
    DeviceState device;
    // Tables[t - 1][r - 1] is record r of table t, at its full size.
    std::array<std::vector<TArrayOfByte>, TableCount> Tables;
    // Sales[i - 1]: thousandths sold of goods item i.
    std::vector<std::int64_t> Sales = std::vector<std::int64_t>(GoodsCount, 0);
    // Passwords[u - 1]: user u's password, up to 8 digits.
    std::array<std::uint32_t, UserCount> Passwords{};
    std::optional<Logo> LastLogo;
    bool operator==(const RegisterState&) const = default;
};

// A register as shipped to a shop, with Russian Windows-1251 texts:
//   users (table 9)  1 Администратор (password 1), 2 Старший кассир (2),
//                    3..6 Кассир (3..6), 7 Техник ЦТО (7):
//                    user n's password is n.
//   goods 1..6 filled with a few items and sales, the other items blank;
//   receipt header and footer lines, two discounts, four taxes, sixteen
//   sections, payment types; clock: the PC's local time.
RegisterState DefaultState();

// Record sizes: table 1 46, 2 16, 3 8, 4 33, 5 24, 6 7, 7 14, 8 1/3/1,
// 9 69, 10 13 bytes.
std::vector<std::size_t> RecordSizes(int table);

struct FieldSpan {
    std::size_t Offset = 0;
    std::size_t Size = 0;
    bool operator==(const FieldSpan&) const = default;
};

// Fields of record `record` of `table`, field n at index n - 1. They follow
// the record layouts the configurator uses and cover every byte:
//   1 goods: name 0-31, barcode 32-38, section 39, price 40-44, fraction 45
//   2 options: 0-1, 2, 3-4, 5, 6-7, 8, 9, 10-15
//   3 print options: 0, 1, 2, 3, 4-5, 6-7
//   4 text lines: text 0-31, attributes 32
//   5 discounts: value 0-4, name 5-20, kind 21, sum kind 22, authorisation 23
//   6 taxes: name 0-4, rate 5-6
//   7 sections: name 0-10, tax 11, digits 12, sphere 13
//   8 devices: each byte is a field
//   9 users: name 0-31, post 32-63, 64-66, rights 67-68
//   10 payment types: name 0-11, allowed 12
std::vector<FieldSpan> FieldLayout(int table, int record);

// Text cut or padded with spaces to `width` bytes at `offset`.
void PutText(TArrayOfByte& record, std::size_t offset, std::size_t width, std::string_view bytes);
// Value's low digits as packed BCD over record[offset .. offset + size - 1].
void PutBcd(TArrayOfByte& record, std::size_t offset, std::size_t size, std::uint64_t value);

// Outcome of the frame checks on one request as it came from the line.
struct RequestCheck {
    bool Ok = false;
    TArrayOfByte Body; // AR AT PID Code payload, when it could be unpacked
    std::string Problem;
};

// Markers, stuffing, CRC, a complete header, AR = 2 and AT = 1. A request
// that fails gets no answer at all.
RequestCheck CheckRequestFrame(const TArrayOfByte& wire);

// The command's name and its decoded arguments, for the request log.
std::string DescribeRequest(const TArrayOfByte& body);

class RegisterModel {
public:
    struct Answer {
        std::uint8_t Code = AnswerDone; // AnswerDone or AnswerRefused
        TArrayOfByte Payload;           // refusal: the one error byte
        bool operator==(const Answer&) const = default;
    };

    RegisterModel();
    explicit RegisterModel(RegisterState state);

    RegisterState& State() { return state_; }
    const RegisterState& State() const { return state_; }

    // Record `record` of `table`; throws std::out_of_range for unknown ones.
    TArrayOfByte& Record(int table, int record);
    const TArrayOfByte& Record(int table, int record) const;
    // Field bytes of a record (copy); throws std::out_of_range.
    TArrayOfByte Field(int table, int record, int field) const;

    std::int64_t Sales(int item) const { return state_.Sales.at(static_cast<std::size_t>(item - 1)); }
    void SetSales(int item, std::int64_t thousandths) { state_.Sales.at(static_cast<std::size_t>(item - 1)) = thousandths; }

    // The user authorised in this session, 0 for none.
    int AuthorizedUser() const { return authorizedUser_; }
    void SetAuthorizedUser(int user) { authorizedUser_ = user; }
    // What Connect does: a new session, nobody authorised, no logo pending.
    void ResetSession();

    // Rows of a logo received so far after its header (0 when none pends).
    int LogoRowsReceived() const { return logoPending_ ? logoRows_ : 0; }
    // Increases each time a logo is completed.
    std::uint64_t LogosCompleted() const { return logosCompleted_; }

    // The answer to one command; the payload's length is checked first.
    Answer Handle(std::uint8_t code, const TArrayOfByte& payload);
    // The answer body (addresses swapped, PID kept) to a request body that
    // passed CheckRequestFrame.
    TArrayOfByte Respond(const TArrayOfByte& requestBody);

    // Writes LastLogo as a binary PBM (P4) picture.
    bool SaveLogoPbm(const std::string& path, std::string* error = nullptr) const;

private:
    Answer DeviceInfo() const;
    Answer DeviceStateAnswer() const;
    Answer LogoCommand(const TArrayOfByte& p);
    Answer ReadRecord(const TArrayOfByte& p) const;
    Answer ReadField(const TArrayOfByte& p) const;
    Answer WriteRecord(const TArrayOfByte& p);
    Answer WriteField(const TArrayOfByte& p);
    Answer ReadSales(const TArrayOfByte& p) const;
    Answer WriteSales(const TArrayOfByte& p);
    Answer Authorize(const TArrayOfByte& p);

    RegisterState state_;
    int authorizedUser_ = 0;
    bool logoPending_ = false;
    int logoRows_ = 0;
    Logo logo_;
    std::uint64_t logosCompleted_ = 0;
};

} // namespace kkm::emu
