// The unsolicited message bodies, byte for byte.
#include "Faults.h"
#include "FrameCodec.h"
#include "Messages.h"

#include <gtest/gtest.h>

using namespace kkm;
using namespace kkm::emu;

namespace {

struct BodyCase {
    const char* what;
    Message message;
    std::uint8_t pid;
    const char* body;
};

class MessageBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(MessageBodyTest, IsLaidOutByteForByte)
{
    const BodyCase& c = GetParam();
    EXPECT_EQ(ToHex(BuildMessageBody(c.message, c.pid)), ToHex(*ParseHex(c.body)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBodyTest,
    ::testing::Values(
        BodyCase{"confirmation_without_sum", Confirmation{}, 5, "01 02 05 2E"},
        BodyCase{"confirmation_with_sum", Confirmation{12345, true}, 5, "01 02 05 2E 00 00 00 01 23 45"},
        BodyCase{"sale_on_free", SaleOnFree{1, 2, 1500, 19990, 3, 4, 17}, 0,
                 "01 02 00 20 01 02 00 00 00 00 15 00 00 00 00 01 99 90 03 04 00 00 17"},
        BodyCase{"sale_on_code", SaleOnCode{0, 1, 250, 460123456789, 2, 999999}, 1,
                 "01 02 01 21 00 01 00 00 00 00 02 50 46 01 23 45 67 89 02 99 99 99"},
        BodyCase{"sale_on_barcode", SaleOnBarcode{0, 0, 1000, 1, 1, "ABCD"}, 1,
                 "01 02 01 22 00 00 00 00 00 00 10 00 01 00 00 01 41 42 43 44"},
        BodyCase{"barcode_with_zero_bytes", SaleOnBarcode{0, 0, 0, 1, 1, std::string("\0A\0", 3)}, 2,
                 "01 02 02 22 00 00 00 00 00 00 00 00 01 00 00 01 00 41 00"},
        BodyCase{"free_disc", FreeDisc{1, 2, 3, 500, 4, 5}, 3, "01 02 03 23 01 02 03 00 00 00 00 05 00 04 00 00 05"},
        BodyCase{"disc_on_query", DiscOnQuery{1, 2, 3, 1, 4, 5}, 3, "01 02 03 24 01 02 03 00 00 00 00 00 01 04 00 00 05"},
        BodyCase{"disc_on_code", DiscOnCode{1, 0, 0, 99, 123, 7, 8}, 4,
                 "01 02 04 25 01 00 00 00 00 00 00 00 99 00 00 00 00 01 23 07 00 00 08"},
        BodyCase{"disc_on_barcode", DiscOnBarcode{1, 2, 3, 50, 4, 7, "4601"}, 9,
                 "01 02 09 26 01 02 03 00 00 00 00 00 50 04 00 00 00 00 00 07 34 36 30 31"},
        BodyCase{"disc_on_barcode_wide_doc", DiscOnBarcode{0, 0, 0, 0, 1, 123456789012, ""}, 9,
                 "01 02 09 26 00 00 00 00 00 00 00 00 00 01 12 34 56 78 90 12"},
        BodyCase{"pay_receipt", PayReceipt{2, 1, 0, 100000, 1, 42}, 6,
                 "01 02 06 27 02 01 00 00 00 00 10 00 00 01 00 00 42"},
        BodyCase{"close_receipt", CloseReceipt{0, {28, 2, 2009}, {23, 59, 59}, 12345, 1, 123456}, 7,
                 "01 02 07 29 00 28 02 09 23 59 59 00 00 00 01 23 45 01 12 34 56"},
        BodyCase{"impossible_date_goes_out_as_given", CloseReceipt{0, {29, 2, 2009}, {24, 0, 0}, 0, 1, 1}, 7,
                 "01 02 07 29 00 29 02 09 24 00 00 00 00 00 00 00 00 01 00 00 01"},
        BodyCase{"abort_receipt", AbortReceipt{1, {1, 1, 2010}, {0, 0, 1}, 2, 3}, 8,
                 "01 02 08 2A 01 01 01 10 00 00 01 02 00 00 03"},
        BodyCase{"in_summ_keeps_low_digits", InSumm{50000, {31, 12, 2099}, {12, 30, 0}, 1, 2, 1234567}, 10,
                 "01 02 0A 2B 00 00 00 05 00 00 31 12 99 12 30 00 01 00 00 02 23 45 67"},
        BodyCase{"out_summ", OutSumm{1, {9, 9, 2009}, {9, 9, 9}, 9, 9, 9}, 11,
                 "01 02 0B 2C 00 00 00 00 00 01 09 09 09 09 09 09 09 00 00 09 00 00 09"},
        BodyCase{"close_session", CloseSession{100000, {1, 6, 2009}, {22, 0, 0}, 1, 77, 42}, 12,
                 "01 02 0C 2D 00 00 00 10 00 00 01 06 09 22 00 00 01 00 00 77 00 42"},
        BodyCase{"negative_amount_is_zero", PayReceipt{0, 0, 0, -5, 1, 1}, 0,
                 "01 02 00 27 00 00 00 00 00 00 00 00 00 01 00 00 01"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(MessagesTest, EveryKindHasItsCodeAndLength)
{
    // Default values, empty texts: the lengths the PC checks exactly (or at
    // least, for the two with a text).
    const std::pair<std::uint8_t, std::size_t> expected[] = {
        {0x20, 23}, {0x21, 22}, {0x22, 16}, {0x23, 17}, {0x24, 17}, {0x25, 23}, {0x26, 20},
        {0x27, 17}, {0x29, 21}, {0x2A, 15}, {0x2B, 23}, {0x2C, 23}, {0x2D, 22}, {0x2E, 4},
    };
    static_assert(std::size(expected) == std::variant_size_v<Message>);
    auto check = [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                const Message m{std::in_place_index<I>};
                const TArrayOfByte body = BuildMessageBody(m, 0);
                EXPECT_EQ(MessageCode(m), expected[I].first) << MessageName(m);
                ASSERT_EQ(body.size(), expected[I].second) << MessageName(m);
                EXPECT_EQ(body[3], expected[I].first) << MessageName(m);
                EXPECT_EQ(body[0], 1);
                EXPECT_EQ(body[1], 2);
            }(),
            ...);
    };
    check(std::make_index_sequence<std::variant_size_v<Message>>());
}

TEST(MessagesTest, FramedBodyIsWhatTheCodecBuilds)
{
    // PIDs that need stuffing included.
    for (std::uint8_t pid : {0, 5, 0xFD, 0xFE, 0xFF}) {
        const TArrayOfByte body = BuildMessageBody(Confirmation{99, true}, pid);
        TArrayOfByte expected(body.begin() + 4, body.end());
        ASSERT_TRUE(kkm::BuildFrame(1, 2, pid, 0x2E, expected));
        EXPECT_EQ(FrameBody(body), expected);
        TArrayOfByte unpacked = FrameBody(body);
        ASSERT_EQ(kkm::UnpackFrame(unpacked), kkm::upOk);
        EXPECT_EQ(unpacked, body);
    }
}

} // namespace
