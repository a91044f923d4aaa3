// The register's own decisions: which error code each wrong request gets,
// the session rules for writes, and the logo sequence.
#include "Faults.h"
#include "RegisterModel.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <iterator>

using namespace kkm;
using namespace kkm::emu;

namespace {

TArrayOfByte Hex(const char* text)
{
    return *ParseHex(text);
}

TArrayOfByte Cat(TArrayOfByte a, const TArrayOfByte& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct RefusalCase {
    const char* what;
    bool authorised;
    std::uint8_t code;
    TArrayOfByte payload;
    int expect; // error code, or -n for success with an n-byte payload
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, AnswersAsTheRegisterWould)
{
    const RefusalCase& c = GetParam();
    RegisterModel model;
    if (c.authorised)
        model.SetAuthorizedUser(1);
    const RegisterModel::Answer a = model.Handle(c.code, c.payload);
    if (c.expect < 0) {
        EXPECT_EQ(a.Code, AnswerDone);
        EXPECT_EQ(static_cast<int>(a.Payload.size()), -c.expect);
    } else {
        EXPECT_EQ(a, (RegisterModel::Answer{AnswerRefused, {static_cast<std::uint8_t>(c.expect)}}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalTest,
    ::testing::Values(
        RefusalCase{"unknown code", true, 3, {}, errNotSupported},
        RefusalCase{"unknown code with payload", true, 0x63, Hex("01 02"), errNotSupported},
        RefusalCase{"device info with a payload", false, cmdGetDeviceInfo, Hex("00"), errBadParams},
        RefusalCase{"connect with one byte", false, cmdConnect, Hex("05"), errBadParams},
        RefusalCase{"logo with nothing", true, cmdLogo, {}, errBadParams},
        RefusalCase{"logo header of 3 bytes", true, cmdLogo, Hex("00 00 02"), errBadParams},
        RefusalCase{"logo row of 101 bytes", true, cmdLogo, Cat(Hex("01"), TArrayOfByte(101, 0)), errBadParams},
        RefusalCase{"read record, 2 bytes", false, cmdReadTableRecord, Hex("09 01"), errBadParams},
        RefusalCase{"read field, 5 bytes", false, cmdReadTableField, Hex("02 01 00 01 00"), errBadParams},
        RefusalCase{"write record, no data", true, cmdWriteTableRecord, Hex("02 01 00"), errBadParams},
        RefusalCase{"write record, 101 bytes", true, cmdWriteTableRecord, Cat(Hex("02 01 00"), TArrayOfByte(101, 0)), errBadParams},
        RefusalCase{"sales, 3 bytes", false, cmdReadGoodsSales, Hex("01 00 00"), errBadParams},
        RefusalCase{"authorize, 4 bytes", false, cmdAuthorize, Hex("01 00 00 01"), errBadParams},

        RefusalCase{"table 11", false, cmdReadTableRecord, Hex("0B 01 00"), errNoData},
        RefusalCase{"table 0", false, cmdReadTableRecord, Hex("00 01 00"), errNoData},
        RefusalCase{"record 0", false, cmdReadTableRecord, Hex("01 00 00"), errNoData},
        RefusalCase{"goods item 10000", false, cmdReadTableRecord, Hex("01 10 27"), errNoData},
        RefusalCase{"user 8", false, cmdReadTableRecord, Hex("09 08 00"), errNoData},
        RefusalCase{"goods item 9999", false, cmdReadTableRecord, Hex("01 0F 27"), -46},
        RefusalCase{"devices record 2", false, cmdReadTableRecord, Hex("08 02 00"), -3},
        RefusalCase{"options field 8", false, cmdReadTableField, Hex("02 01 00 08"), -6},
        RefusalCase{"options field 9", false, cmdReadTableField, Hex("02 01 00 09"), errNoData},
        RefusalCase{"field 0", false, cmdReadTableField, Hex("03 01 00 00"), errNoData},
        RefusalCase{"devices record 2 field 3", false, cmdReadTableField, Hex("08 02 00 03"), -1},
        RefusalCase{"devices record 1 field 2", false, cmdReadTableField, Hex("08 01 00 02"), errNoData},
        RefusalCase{"user post", false, cmdReadTableField, Hex("09 07 00 02"), -32},
        RefusalCase{"sales of item 0", false, cmdReadGoodsSales, Hex("00 00"), errNoData},
        RefusalCase{"sales of item 10000", false, cmdReadGoodsSales, Hex("10 27"), errNoData},

        RefusalCase{"write record unauthorised", false, cmdWriteTableRecord, Cat(Hex("03 01 00"), TArrayOfByte(8, 0)), errAccessDenied},
        RefusalCase{"write field unauthorised", false, cmdWriteTableField, Hex("09 07 00 04 7F 00"), errAccessDenied},
        RefusalCase{"write sales unauthorised", false, cmdWriteGoodsSales, Hex("01 00 00 00 00 00"), errAccessDenied},
        RefusalCase{"logo unauthorised", false, cmdLogo, Hex("00 00 02 02"), errAccessDenied},
        RefusalCase{"record shorter than its table's", true, cmdWriteTableRecord, Cat(Hex("02 01 00"), TArrayOfByte(15, 0)), errBadParams},
        RefusalCase{"record longer than its table's", true, cmdWriteTableRecord, Cat(Hex("08 01 00"), TArrayOfByte(2, 0)), errBadParams},
        RefusalCase{"write to a missing record", true, cmdWriteTableRecord, Cat(Hex("04 0A 00"), TArrayOfByte(33, 0)), errNoData},
        RefusalCase{"field of the wrong size", true, cmdWriteTableField, Hex("09 07 00 04 7F"), errBadParams},
        RefusalCase{"missing field", true, cmdWriteTableField, Hex("09 07 00 05 7F"), errNoData},
        RefusalCase{"sales not BCD", true, cmdWriteGoodsSales, Hex("01 00 00 00 0A 00"), errBadParams},
        RefusalCase{"write sales of item 10000", true, cmdWriteGoodsSales, Hex("10 27 00 00 00 00"), errNoData},
        RefusalCase{"authorize user 0", false, cmdAuthorize, Hex("00 00 00 00 01"), errNoData},
        RefusalCase{"authorize user 8", false, cmdAuthorize, Hex("08 00 00 00 08"), errNoData},
        RefusalCase{"password not BCD", false, cmdAuthorize, Hex("01 00 00 00 0F"), errBadParams},
        RefusalCase{"wrong password", false, cmdAuthorize, Hex("01 00 00 00 02"), errAccessDenied},
        RefusalCase{"logo kind 2", true, cmdLogo, Hex("00 02 02 02"), errBadParams},
        RefusalCase{"logo of 0 rows", true, cmdLogo, Hex("00 00 02 00"), errBadParams},
        RefusalCase{"logo row without header", true, cmdLogo, Hex("01 80 40"), errCannotDo}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(RegisterModelTest, WritesNeedAnAuthorisationThatConnectEnds)
{
    RegisterModel model;
    const TArrayOfByte rights = Hex("09 07 00 04 7F 00");
    auto handle = [&](std::uint8_t code, const char* payload) { return model.Handle(code, Hex(payload)).Code; };

    EXPECT_EQ(model.Handle(cmdWriteTableField, rights).Code, AnswerRefused);
    EXPECT_EQ(handle(cmdAuthorize, "01 00 00 00 01"), AnswerDone); // user 1, password 1
    EXPECT_EQ(model.AuthorizedUser(), 1);
    EXPECT_EQ(model.Handle(cmdWriteTableField, rights).Code, AnswerDone);
    EXPECT_EQ(model.Record(9, 7)[67], 0x7F);
    EXPECT_EQ(model.Record(9, 7)[68], 0x00);

    EXPECT_EQ(handle(cmdConnect, "05 05"), AnswerDone);
    EXPECT_EQ(model.AuthorizedUser(), 0);
    EXPECT_EQ(handle(cmdWriteGoodsSales, "01 00 00 00 00 00"), AnswerRefused);

    // A failed attempt ends an authorisation that was there.
    EXPECT_EQ(handle(cmdAuthorize, "02 00 00 00 02"), AnswerDone);
    EXPECT_EQ(handle(cmdAuthorize, "02 00 00 00 03"), AnswerRefused);
    EXPECT_EQ(model.AuthorizedUser(), 0);

    model.State().Passwords[3] = 12345678; // eight digits fit
    EXPECT_EQ(handle(cmdAuthorize, "04 12 34 56 78"), AnswerDone);
    EXPECT_EQ(handle(cmdWriteGoodsSales, "0F 27 12 34 56 78"), AnswerDone);
    EXPECT_EQ(model.Sales(9999), 12345678);
}

TEST(RegisterModelTest, LogoRowsFollowTheirHeaderInOrder)
{
    RegisterModel model;
    model.SetAuthorizedUser(1);
    auto handle = [&](const char* payload) {
        const auto a = model.Handle(cmdLogo, Hex(payload));
        return a.Code == AnswerDone ? 0 : a.Payload.at(0);
    };

    EXPECT_EQ(handle("00 01 02 02"), 0);           // foot picture, 16 dots x 2 rows
    EXPECT_EQ(handle("02 00 00"), errCannotDo);    // row 2 before row 1
    EXPECT_EQ(handle("01 80 40"), 0);
    EXPECT_EQ(handle("01 80 40"), errCannotDo);    // row 1 again
    EXPECT_EQ(handle("02 00 00 00"), errBadParams); // 3 bytes of 2
    EXPECT_FALSE(model.State().LastLogo.has_value());
    EXPECT_EQ(handle("02 00 01"), 0);
    EXPECT_EQ(handle("03 00 00"), errCannotDo);    // the logo is complete
    ASSERT_TRUE(model.State().LastLogo.has_value());
    EXPECT_EQ(*model.State().LastLogo, (Logo{1, 2, 2, Hex("80 40 00 01")}));
    EXPECT_EQ(model.LogosCompleted(), 1u);

    // A new header abandons a logo in progress and keeps the last complete one.
    EXPECT_EQ(handle("00 00 01 03"), 0);
    EXPECT_EQ(handle("01 FF"), 0);
    EXPECT_EQ(handle("00 00 01 01"), 0);
    EXPECT_EQ(handle("02 FF"), errCannotDo);
    EXPECT_EQ(model.State().LastLogo->Kind, 1);

    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("logo.pbm")).toStdString();
    ASSERT_TRUE(model.SaveLogoPbm(path));
    std::ifstream in(path, std::ios::binary);
    const std::string pbm((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(pbm, std::string("P4\n16 2\n\x80\x40\x00\x01", 12));
}

TEST(RegisterModelTest, IdentityAndStateAnswersCarryTheRegisterLayout)
{
    RegisterModel model;
    RegisterState& s = model.State();
    s.identity = {12345678, 0x1234, 7, 21, {15, 5, 2009}, "AB"};
    s.device = {3, ClockValue{{28, 2, 2009}, {23, 59, 58}}, 4, 12, 1, 12345, 999999999999};

    EXPECT_EQ(model.Handle(cmdGetDeviceInfo, {}),
              (RegisterModel::Answer{AnswerDone, Hex("00 00 12 34 56 78 34 12 07 21 15 05 09 41 42 00")}));
    EXPECT_EQ(model.Handle(cmdGetDeviceState, {}),
              (RegisterModel::Answer{AnswerDone, Hex("03 28 02 09 23 59 58 04 12 01 00 00 00 01 23 45 "
                                                     "99 99 99 99 99 99")}));
    const TArrayOfByte body = model.Respond(Hex("02 01 2A 13 03 00"));
    EXPECT_EQ(body, Hex("01 02 2A 00 00 01 52 50")); // item 3 of the default goods: 15.250
}

TEST(RegisterModelTest, DefaultStateHasFullSizeRecordsAndItsUsers)
{
    const RegisterModel model;
    const std::size_t sizes[] = {46, 16, 8, 33, 24, 7, 14, 0, 69, 13};
    const std::size_t counts[] = {9999, 1, 1, 9, 8, 4, 16, 3, 7, 3};
    for (int t = 1; t <= TableCount; ++t) {
        const auto& records = model.State().Tables[t - 1];
        ASSERT_EQ(records.size(), counts[t - 1]) << "table " << t;
        if (t == 8)
            continue;
        for (const auto& r : records)
            EXPECT_EQ(r.size(), sizes[t - 1]) << "table " << t;
    }
    EXPECT_EQ(model.Record(8, 1).size(), 1u);
    EXPECT_EQ(model.Record(8, 2).size(), 3u);
    EXPECT_EQ(model.Record(8, 3).size(), 1u);

    // User 1's post, Windows-1251, padded with spaces: "Администратор".
    const TArrayOfByte post = model.Field(9, 1, 2);
    EXPECT_EQ(TArrayOfByte(post.begin(), post.begin() + 13),
              Hex("C0 E4 EC E8 ED E8 F1 F2 F0 E0 F2 EE F0"));
    EXPECT_EQ(post[13], 0x20);
    for (int u = 1; u <= UserCount; ++u)
        EXPECT_EQ(model.State().Passwords[u - 1], static_cast<std::uint32_t>(u));
}

} // namespace
