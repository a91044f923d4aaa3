// Every command against the emulated register: the request bytes as the
// register received them, and what the component makes of its answers.
#include "RegisterFixture.h"

#include <functional>

using namespace kkm;
using namespace kkm::emu;

namespace {

class CommandLayout : public RegisterFixture {};

// Dates and times are compared by their day count, which is what callers
// store; the text form only makes a failure readable.
::testing::AssertionResult IsDate(TDateTime value, double days, const char* text)
{
    if (value.Value == days && value.DateString() == text)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "got " << value.Value << " (" << value.DateString() << "), want " << days << " (" << text << ")";
}

} // namespace

TEST_F(CommandLayout, DeviceInfoIsReadWhole)
{
    struct Case {
        Identity identity;
        double softDays;
        const char* softDate;
    };
    const Case cases[] = {
        // Windows-1251 bytes pass through unconverted.
        {{999999999999, 0x1234, 42, 21, {15, 5, 2009}, "\xCE\xCC\xC2\xC5\xCA-100\xD4"}, 39948, "15.05.2009"},
        // An empty name: the payload is 14 bytes, the last one the zero.
        {{12345678, 0xFF01, 0, 99, {31, 12, 2099}, ""}, 73050, "31.12.2099"},
        {{0, 0, 99, 0, {1, 1, 2000}, "R"}, 36526, "01.01.2000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.softDate);
        reg.WithModel([&](RegisterModel& m) { m.State().identity = c.identity; });
        reg.ClearRequests();
        std::int64_t serial = -1;
        std::uint16_t word = 0;
        std::uint8_t infoByte = 0, version = 0;
        TDateTime softDate;
        TKkmText model = "old";
        ASSERT_EQ(proto.GetDeviceInfo(2, 1, serial, word, infoByte, version, softDate, model), rcOk);
        EXPECT_EQ(Request(1), Sent(1, {}));
        EXPECT_EQ(serial, c.identity.SerialNumber);
        EXPECT_EQ(word, c.identity.InfoWord);
        EXPECT_EQ(infoByte, c.identity.InfoByte);
        EXPECT_EQ(version, c.identity.SoftVersion);
        EXPECT_TRUE(IsDate(softDate, c.softDays, c.softDate));
        EXPECT_EQ(model, QByteArray::fromStdString(c.identity.ModelName));
    }
}

TEST_F(CommandLayout, DeviceStateIsReadWhole)
{
    reg.WithModel([](RegisterModel& m) {
        DeviceState& d = m.State().device;
        d.ErrorCode = 0xA7;
        d.FixedClock = ClockValue{{28, 2, 2009}, {23, 59, 59}};
        d.ModeCode = 0x93;
        d.OperatorNo = 12;
        d.SessionOpen = 2;
        d.SessionTotal = 12345;
        d.CashInDrawer = 999999999999;
    });
    std::uint8_t error = 0, mode = 0, oper = 0, session = 0;
    TDateTime date, time;
    TCurrency total, cash;
    ASSERT_EQ(proto.GetDeviceState(2, 1, error, date, time, mode, oper, session, total, cash), rcOk);
    EXPECT_EQ(Request(1), Sent(2, {}));
    EXPECT_EQ(error, 0xA7);
    EXPECT_TRUE(IsDate(date, 39872, "28.02.2009"));
    EXPECT_EQ(time.Value, 86399.0 / 86400.0);
    EXPECT_EQ(time.TimeString(), "23:59:59");
    EXPECT_EQ(mode, 0x93);
    EXPECT_EQ(oper, 12) << "the operator travels as BCD";
    EXPECT_EQ(session, 2);
    EXPECT_EQ(total, TCurrency::FromRaw(1234500)); // 123.45
    EXPECT_EQ(cash, TCurrency::FromRaw(99999999999900));

    // Midnight of a leap day, and a closed session with nothing in it.
    reg.WithModel([](RegisterModel& m) {
        DeviceState& d = m.State().device;
        d.FixedClock = ClockValue{{29, 2, 2008}, {0, 0, 0}};
        d.SessionOpen = 0;
        d.SessionTotal = 0;
        d.CashInDrawer = 5;
    });
    ASSERT_EQ(proto.GetDeviceState(2, 1, error, date, time, mode, oper, session, total, cash), rcOk);
    EXPECT_TRUE(IsDate(date, 39507, "29.02.2008"));
    EXPECT_EQ(time.Value, 0.0);
    EXPECT_EQ(session, 0);
    EXPECT_EQ(total, TCurrency{});
    EXPECT_EQ(cash, TCurrency::FromRaw(500)); // 0.05
}

TEST_F(CommandLayout, ConnectSendsItsParametersInOrder)
{
    ASSERT_EQ(proto.Connect(2, 1, 7, 9), rcOk);
    EXPECT_EQ(Request(1), Sent(6, {7, 9}));
}

TEST_F(CommandLayout, TableReads)
{
    const auto [user1, field] = reg.WithModel([](RegisterModel& m) {
        return std::pair{m.Record(9, 1), m.Field(2, 1, 5)};
    });
    const auto item = reg.WithModel([](RegisterModel& m) { return m.Record(1, 9999); });

    TArrayOfByte data{0xAA};
    // The register has no user 300: the refusal comes back and Data stays.
    EXPECT_EQ(proto.ReadTableRecord(2, 1, 9, 300, data), 1);
    EXPECT_EQ(Request(1), Sent(12, {0x09, 0x2C, 0x01}));
    EXPECT_EQ(data, TArrayOfByte{0xAA});

    ASSERT_EQ(proto.ReadTableRecord(2, 1, 9, 1, data), rcOk);
    EXPECT_EQ(Request(2), Sent(12, {0x09, 0x01, 0x00}));
    EXPECT_EQ(data, user1);
    EXPECT_EQ(data.size(), 69u);

    ASSERT_EQ(proto.ReadTableRecord(2, 1, 1, 9999, data), rcOk);
    EXPECT_EQ(Request(3), Sent(12, {0x01, 0x0F, 0x27}));
    EXPECT_EQ(data, item);

    ASSERT_EQ(proto.ReadTableField(2, 1, 2, 1, 5, data), rcOk);
    EXPECT_EQ(Request(4), Sent(13, {0x02, 0x01, 0x00, 0x05}));
    EXPECT_EQ(data, field);
    EXPECT_EQ(data.size(), 2u) << "Data is exactly the field, nothing of the old contents";

    EXPECT_EQ(proto.ReadTableField(2, 1, 2, 1, 9, data), 1);
    EXPECT_EQ(data, field);
}

TEST_F(CommandLayout, TableWritesReachTheRegister)
{
    auto userRights = [&] { return reg.WithModel([](RegisterModel& m) { return m.Field(9, 7, 4); }); };
    const TArrayOfByte rightsBefore = userRights();

    // Not authorised in this session: refused, and the request is as built.
    EXPECT_EQ(proto.WriteTableField(2, 1, 9, 7, 4, {0x7F}), 5);
    EXPECT_EQ(Request(1), Sent(15, {0x09, 0x07, 0x00, 0x04, 0x7F}));
    EXPECT_EQ(userRights(), rightsBefore);

    ASSERT_TRUE(Authorize());
    ASSERT_EQ(proto.WriteTableField(2, 1, 9, 7, 4, {0x7F, 0x01}), rcOk);
    EXPECT_EQ(Request(3), Sent(15, {0x09, 0x07, 0x00, 0x04, 0x7F, 0x01}));
    EXPECT_EQ(userRights(), (TArrayOfByte{0x7F, 0x01}));

    TArrayOfByte line(33, 0x20);
    line[0] = 0xC0;
    line[32] = 0x03;
    ASSERT_EQ(proto.WriteTableRecord(2, 1, 4, 2, line), rcOk);
    EXPECT_EQ(Request(4), Sent(14, Concat({0x04, 0x02, 0x00}, line)));
    EXPECT_EQ(reg.WithModel([](RegisterModel& m) { return m.Record(4, 2); }), line);

    // The register's refusal of a write is passed on as it came.
    EXPECT_EQ(proto.WriteTableRecord(2, 1, 4, 2, TArrayOfByte(32, 0x20)), 4);
    EXPECT_EQ(proto.WriteTableRecord(2, 1, 4, 10, line), 1);
    EXPECT_EQ(reg.WithModel([](RegisterModel& m) { return m.Record(4, 2); }), line);
}

TEST_F(CommandLayout, GoodsSales)
{
    reg.WithModel([](RegisterModel& m) {
        m.SetSales(1, 12345);
        m.SetSales(2, 7);
        m.SetSales(300, 99999999);
    });
    TCurrency q = TCurrency::FromRaw(-1);
    ASSERT_EQ(proto.ReadGoodsSales(2, 1, 1, q), rcOk);
    EXPECT_EQ(Request(1), Sent(19, {0x01, 0x00}));
    EXPECT_EQ(q, TCurrency::FromRaw(123450)); // 12.345

    ASSERT_EQ(proto.ReadGoodsSales(2, 1, 300, q), rcOk);
    EXPECT_EQ(Request(2), Sent(19, {0x2C, 0x01}));
    EXPECT_EQ(q, TCurrency::FromRaw(999999990)); // 99999.999

    EXPECT_EQ(proto.ReadGoodsSales(2, 1, 10000, q), 1);
    EXPECT_EQ(q, TCurrency::FromRaw(999999990));

    auto sales = [&](int item) { return reg.WithModel([item](RegisterModel& m) { return m.Sales(item); }); };
    EXPECT_EQ(proto.WriteGoodsSales(2, 1, 1, TCurrency::FromRaw(123456)), 5);
    EXPECT_EQ(sales(1), 12345);

    ASSERT_TRUE(Authorize());
    reg.ClearRequests();
    struct Case {
        std::uint16_t item;
        std::int64_t raw;
        TArrayOfByte payload;
        std::int64_t stored; // thousandths
    };
    const Case cases[] = {
        {1, 123456, {0x01, 0x00, 0x00, 0x01, 0x23, 0x45}, 12345}, // the last ten-thousandth dropped
        {1, 0, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},
        {300, 999999999, {0x2C, 0x01, 0x99, 0x99, 0x99, 0x99}, 99999999},
        {2, 9, {0x02, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},
    };
    std::size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        ASSERT_EQ(proto.WriteGoodsSales(2, 1, c.item, TCurrency::FromRaw(c.raw)), rcOk);
        EXPECT_EQ(Request(++n), Sent(20, c.payload));
        EXPECT_EQ(sales(c.item), c.stored);
    }
}

TEST_F(CommandLayout, Authorisation)
{
    reg.WithModel([](RegisterModel& m) {
        m.State().Passwords[0] = 123456;
        m.State().Passwords[6] = 99999999;
    });
    struct Case {
        std::uint8_t user;
        std::int64_t password;
        TArrayOfByte payload;
        std::int32_t result;
    };
    const Case cases[] = {
        {1, 123456, {0x01, 0x00, 0x12, 0x34, 0x56}, rcOk},
        {1, 654321, {0x01, 0x00, 0x65, 0x43, 0x21}, 5},
        {7, 99999999, {0x07, 0x99, 0x99, 0x99, 0x99}, rcOk},
        {7, 0, {0x07, 0x00, 0x00, 0x00, 0x00}, 5},
        {8, 8, {0x08, 0x00, 0x00, 0x00, 0x08}, 1},
    };
    std::size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        EXPECT_EQ(proto.Authorize(2, 1, c.user, c.password), c.result);
        EXPECT_EQ(Request(++n), Sent(30, c.payload));
    }
}

TEST_F(CommandLayout, LogoUpload)
{
    ASSERT_TRUE(Authorize());
    reg.ClearRequests();
    ASSERT_EQ(proto.SendLogoHeader(2, 1, 1, 48, 100), rcOk);
    EXPECT_EQ(Request(1), Sent(7, {0x00, 0x01, 0x30, 0x64}));

    TArrayOfByte dots;
    for (int row = 1; row <= 100; ++row) {
        TArrayOfByte data(48, static_cast<std::uint8_t>(row));
        data.front() = 0x80;
        data.back() = 0x01;
        ASSERT_EQ(proto.SendLogoRow(2, 1, static_cast<std::uint8_t>(row), data), rcOk) << row;
        if (row == 1) {
            EXPECT_EQ(Request(2), Sent(7, Concat({0x01}, data)));
        }
        dots.insert(dots.end(), data.begin(), data.end());
    }
    const auto logo = reg.WithModel([](RegisterModel& m) { return m.State().LastLogo; });
    ASSERT_TRUE(logo.has_value());
    EXPECT_EQ(*logo, (Logo{1, 48, 100, dots}));

    // A row out of order is the register's to refuse.
    EXPECT_EQ(proto.SendLogoRow(2, 1, 1, TArrayOfByte(48, 0)), 3);
}

// Requests at the edges of what may be built go out whole.
TEST_F(CommandLayout, LongestRequestsAreSent)
{
    ASSERT_TRUE(Authorize());
    reg.ClearRequests();
    TArrayOfByte hundred(100);
    for (std::size_t i = 0; i < hundred.size(); ++i)
        hundred[i] = static_cast<std::uint8_t>(0xF0 + i); // stuffed bytes too

    struct Case {
        const char* name;
        std::function<std::int32_t()> call;
        std::uint8_t code;
        TArrayOfByte payload;
        std::int32_t result; // the emulated register's verdict
    };
    const Case cases[] = {
        {"record of 100 bytes", [&] { return proto.WriteTableRecord(2, 1, 4, 1, hundred); }, 14,
         Concat({0x04, 0x01, 0x00}, hundred), 4},
        {"field of 100 bytes", [&] { return proto.WriteTableField(2, 1, 4, 1, 1, hundred); }, 15,
         Concat({0x04, 0x01, 0x00, 0x01}, hundred), 4},
        {"row 255 of 100 bytes", [&] { return proto.SendLogoRow(2, 1, 255, hundred); }, 7,
         Concat({0xFF}, hundred), 3},
        {"largest quantity", [&] { return proto.WriteGoodsSales(2, 1, 1, TCurrency::FromRaw(999999999)); }, 20,
         {0x01, 0x00, 0x99, 0x99, 0x99, 0x99}, rcOk},
        {"eight-digit password", [&] { return proto.Authorize(2, 1, 2, 99999999); }, 30,
         {0x02, 0x99, 0x99, 0x99, 0x99}, 5},
    };
    std::size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(Request(++n), Sent(c.code, c.payload));
    }
}

// A request that cannot be built returns -2 and puts nothing on the line: the
// next request is the next thing the register gets.
TEST_F(CommandLayout, UnbuildableRequestsSendNothing)
{
    const TArrayOfByte tooLong(101, 0x20);
    struct Case {
        const char* name;
        std::function<std::int32_t()> call;
    };
    const Case cases[] = {
        {"empty record", [&] { return proto.WriteTableRecord(2, 1, 4, 1, {}); }},
        {"record of 101 bytes", [&] { return proto.WriteTableRecord(2, 1, 4, 1, tooLong); }},
        {"empty field", [&] { return proto.WriteTableField(2, 1, 4, 1, 1, {}); }},
        {"field of 101 bytes", [&] { return proto.WriteTableField(2, 1, 4, 1, 1, tooLong); }},
        {"logo row 0", [&] { return proto.SendLogoRow(2, 1, 0, TArrayOfByte(48, 0)); }},
        {"empty logo row", [&] { return proto.SendLogoRow(2, 1, 1, {}); }},
        {"logo row of 101 bytes", [&] { return proto.SendLogoRow(2, 1, 1, tooLong); }},
        {"negative quantity", [&] { return proto.WriteGoodsSales(2, 1, 1, TCurrency::FromRaw(-10)); }},
        {"quantity just below zero", [&] { return proto.WriteGoodsSales(2, 1, 1, TCurrency::FromRaw(-1)); }},
        {"quantity of 100000", [&] { return proto.WriteGoodsSales(2, 1, 1, TCurrency::FromUnits(100000)); }},
        {"quantity beyond the BCD range",
         [&] { return proto.WriteGoodsSales(2, 1, 1, TCurrency::FromThousandths(1000000000000)); }},
        {"nine-digit password", [&] { return proto.Authorize(2, 1, 1, 100000000); }},
        {"negative password", [&] { return proto.Authorize(2, 1, 1, -1); }},
    };
    std::size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), rcBuildFailed);
        EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
        ASSERT_EQ(proto.Connect(2, 1, 5, 5), rcOk);
        EXPECT_EQ(Request(++n), Sent(6, {5, 5}));
        EXPECT_EQ(reg.RequestCount(), n);
    }
}
