// The settings table map and its codecs, checked against hand-written bytes.
#include "Cp1251.h"
#include "SettingsMap.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <set>
#include <tuple>

namespace {

TArrayOfByte Hex(const char* Text)
{
    const QByteArray b = QByteArray::fromHex(QByteArray(Text));
    return TArrayOfByte(b.begin(), b.end());
}

std::string ToHex(const TArrayOfByte& Bytes)
{
    return QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size()))
        .toHex(' ')
        .toUpper()
        .toStdString();
}

// Windows-1251 bytes of Text padded with spaces to Width.
TArrayOfByte TextBytes(const QString& Text, int Width)
{
    QByteArray b = ToCp1251(Text);
    b = b.leftJustified(Width, ' ', true);
    return TArrayOfByte(b.begin(), b.end());
}

const TTableField& Field(const char* Control, int Column = -1, int Record = -1)
{
    const TTableField* f = FindField(QString::fromLatin1(Control), Column, Record);
    if (!f)
        throw std::runtime_error(std::string("no field ") + Control);
    return *f;
}

TEST(PackBCD, WrittenAlgorithm)
{
    struct Case {
        int first, last, size;
        std::int64_t value;
        bool ok;
        const char* bytes; // the buffer afterwards; it starts as AA bytes
    };
    const Case cases[] = {
        {0, 1, 2, 5, true, "00 05"},
        {0, 1, 2, 120, true, "01 20"},
        {0, 0, 1, 99, true, "99"},
        {0, 0, 1, 123, true, "23"},                    // digits that do not fit are dropped
        {0, 5, 6, 1234, true, "00 00 00 00 12 34"},
        {0, 6, 7, 12345678901234, true, "12 34 56 78 90 12 34"},
        {0, 6, 7, 99999999999999, true, "99 99 99 99 99 99 99"},
        {1, 2, 4, 708, true, "AA 07 08 AA"},           // only the range is touched
        {0, 6, 7, 100000000000000, false, "AA AA AA AA AA AA AA"},
        {0, 1, 2, -5, false, "AA AA"},                 // no packed form for a negative value
        {1, 0, 2, 5, false, "AA AA"},
        {0, 2, 2, 5, false, "AA AA"},                  // past the buffer
        {0, 7, 8, 5, false, "AA AA AA AA AA AA AA AA"}, // more than 7 bytes
        {-1, 0, 2, 5, false, "AA AA"},
    };
    for (const Case& c : cases) {
        TArrayOfByte buffer(static_cast<std::size_t>(c.size), 0xAA);
        EXPECT_EQ(PackBCD(c.first, c.last, buffer, c.value), c.ok) << c.value;
        EXPECT_EQ(ToHex(buffer), c.bytes) << c.first << ".." << c.last << " " << c.value;
    }
}

TEST(GoodsPrice, TextOfTheBytes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"00 00 12 34 56", "1234.56"}, {"00 00 00 00 00", "0.00"},     {"00 00 00 00 05", "0.05"},
        {"00 00 00 01 00", "1.00"},    {"12 34 56 78 90", "12345678.90"}, {"00 00 00 10 00", "10.00"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(GoodsPriceText(Hex(bytes)), QString::fromLatin1(text)) << bytes;
}

TEST(GoodsPrice, Normalisation)
{
    struct Case {
        const char* cell;
        bool ok;
        std::int64_t hundredths;
    };
    const Case cases[] = {
        {"12", true, 1200},  {"12.5", true, 1250}, {"12.", true, 1200}, {"0.07", true, 7},
        {"", true, 0},       {"   ", true, 0},      {".", true, 0},      {".5", true, 50},
        {"15.50", true, 1550}, {"9999999.99", true, 999999999},
        {"12.345", false, 0}, // more than two decimals would be taken as a hundred times the price
        {"abc", false, 0},    {"1,5", false, 0},    {"-5", true, -500}, // refused when packed
    };
    for (const Case& c : cases) {
        std::int64_t value = -1;
        QString error;
        EXPECT_EQ(NormaliseGoodsPrice(QString::fromLatin1(c.cell), value, error), c.ok) << c.cell;
        EXPECT_EQ(value, c.ok ? c.hundredths : -1) << c.cell;
        EXPECT_EQ(error.isEmpty(), c.ok) << c.cell;
    }
}

TEST(GoodsSales, ShortestDecimalForm)
{
    EXPECT_EQ(GoodsSalesText(TCurrency::FromThousandths(3000)), QStringLiteral("3"));
    EXPECT_EQ(GoodsSalesText(TCurrency::FromThousandths(1500)), QStringLiteral("1.5"));
    EXPECT_EQ(GoodsSalesText(TCurrency::FromThousandths(125)), QStringLiteral("0.125"));
    EXPECT_EQ(GoodsSalesText(TCurrency::FromThousandths(0)), QStringLiteral("0"));
}

// Reading: the bytes of one field, as a field read or a slice of a record read.
struct DecodeCase {
    const char* control;
    int column;
    int record;
    TArrayOfByte bytes;
    TControlValue value;
};

TControlValue Text(const QString& t)
{
    TControlValue v;
    v.Text = t;
    return v;
}
TControlValue Index(int i)
{
    TControlValue v;
    v.Index = i;
    return v;
}
TControlValue Bits(std::uint32_t b)
{
    TControlValue v;
    v.Bits = b;
    return v;
}
TControlValue Checked(bool c)
{
    TControlValue v;
    v.Checked = c;
    return v;
}
TControlValue TextIndex(const QString& t, int i)
{
    TControlValue v = Text(t);
    v.Index = i;
    return v;
}
TControlValue TextBits(const QString& t, std::uint32_t b)
{
    TControlValue v = Text(t);
    v.Bits = b;
    return v;
}

TEST(FieldCodecs, Reading)
{
    TArrayOfByte lineWithZero = TextBytes(QStringLiteral("Привет"), 32);
    lineWithZero[6] = 0;
    const DecodeCase cases[] = {
        {"cb_RegOptions", -1, 1, Hex("1F 00"), Bits(0x1F)},
        {"cb_RegOptions", -1, 1, Hex("FF 7F"), Bits(0x1F)}, // bits without an item are ignored
        {"cb_zOptions", -1, 1, Hex("0A 00"), Bits(0x0A)},
        {"cb_MoneyBoxList", -1, 1, Hex("02"), Index(2)},
        {"cb_MoneyBoxList", -1, 1, Hex("05"), Index(-1)},   // no such item: no selection
        {"cb_Kassir", -1, 1, Hex("07"), Index(7)},
        {"ed_ScreenDelay", -1, 1, Hex("00 00"), Text("0")},
        {"ed_ScreenDelay", -1, 1, Hex("01 20"), Text("120")},
        {"ed_ScreenDelay", -1, 1, Hex("00 05"), Text("5")},
        {"ed_AutoLock", -1, 1, Hex("05"), Text("5")},
        {"ed_AutoLock", -1, 1, Hex("00"), Text("0")},
        {"ed_AutoLock", -1, 1, Hex("60"), Text("60")},
        {"ed_INN", -1, 1, Hex("FF FF FF FF FF FF"), Text("")},
        {"ed_INN", -1, 1, Hex("FF 12 34 56 78 90"), Text("")},
        {"ed_INN", -1, 1, Hex("00 00 00 00 00 00"), Text("000000000000")},
        {"ed_INN", -1, 1, Hex("77 01 23 45 67 89"), Text("770123456789")},
        {"ed_PoContrast", -1, 1, Hex("03"), Text("3")},
        {"ed_PoStringInterval", -1, 1, Hex("FF"), Text("255")},
        {"cb_PoObraml", -1, 1, Hex("3F 00"), Bits(0x3F)},
        {"cb_PoCheck", -1, 1, Hex("FF 00"), Bits(0x7F)},
        {"ed_CheckTop", -1, 4, TextBytes(QStringLiteral("Привет"), 32),
         Text(QStringLiteral("Привет") + QString(26, u' '))},
        {"ed_CheckTop", -1, 4, lineWithZero, Text(QStringLiteral("Привет") + QString(26, u' '))},
        {"cb_checkTopc", -1, 4, Hex("07"), Bits(7)},
        {"cb_checkTopc", -1, 4, Hex("03"), Bits(3)},
        {"cb_checkTopc", -1, 4, Hex("08"), Bits(0)},       // 8 and above: nothing checked
        {"cb_checkTopc", -1, 4, Hex("FF"), Bits(0)},
        {"ed_DscValue3", -1, 3, Hex("00 00 00 05 00"), Text("00050")},
        {"ed_DscValue3", -1, 3, Hex("0A 00 FF 00 01"), Text("10025501")},
        {"cb_DscType3", -1, 3, Hex("01"), Index(1)},
        {"cb_DscAuth3", -1, 3, Hex("05"), Checked(true)},
        {"cb_DscAuth3", -1, 3, Hex("00"), Checked(false)},
        {"ed_txValue2", -1, 2, Hex("18 00"), Text("18.00")},
        {"ed_txValue2", -1, 2, Hex("05 50"), Text("5.50")},
        {"SectionsSettings", 2, 5, Hex("03"), Text("3")},
        {"SectionsSettings", 4, 5, Hex("01"), TextIndex("1", 1)},
        {"SectionsSettings", 4, 5, Hex("02"), TextIndex("0", 0)},
        {"SectionsSettings", 4, 5, Hex("00"), TextIndex("0", 0)},
        {"cb_ElecticScalesInterface", -1, 2, Hex("01"), Index(1)},
        {"cb_PCSpeed", -1, 3, Hex("08"), Index(8)},
        {"cb_PCSpeed", -1, 3, Hex("09"), Index(-1)},
        {"Operators", 2, 3, Hex("11 00"), TextBits("17", 0x11)},
        {"Operators", 2, 3, Hex("FF 00"), TextBits("255", 0x7F)},
        {"cb_PayType2", -1, 2, Hex("01"), Checked(true)},
        {"Goods", 2, -1, Hex("00 00 00 00 00 00 05"), Text("0000000000005")},
        {"Goods", 2, -1, Hex("04 60 12 34 56 78 93"), Text("4601234567893")},
        {"Goods", 3, -1, Hex("10"), Text("16")},
        {"Goods", 4, -1, Hex("00 00 12 34 56"), Text("1234.56")},
        {"Goods", 5, -1, Hex("01"), Text("ДА")},
        {"Goods", 5, -1, Hex("00"), Text("НЕТ")},
        {"Goods", 5, -1, Hex("02"), Text("НЕТ")},
    };
    for (const DecodeCase& c : cases) {
        const TTableField& f = Field(c.control, c.column, c.record);
        TControlValue value;
        QString error;
        ASSERT_TRUE(DecodeField(f, c.bytes, value, error)) << c.control << ": " << error.toStdString();
        EXPECT_EQ(value, c.value) << c.control << " " << ToHex(c.bytes) << " gave '" << value.Text.toStdString()
                                  << "' " << value.Index << " " << value.Bits << " " << value.Checked;
    }
}

TEST(FieldCodecs, ShortAnswerFailsAndLeavesTheValue)
{
    TControlValue value = Text("old");
    QString error;
    EXPECT_FALSE(DecodeField(Field("ed_INN"), Hex("00 00 12"), value, error));
    EXPECT_EQ(value.Text, QStringLiteral("old"));
    EXPECT_FALSE(error.isEmpty());
    // The two-byte masks keep their value in the first byte.
    EXPECT_TRUE(DecodeField(Field("cb_RegOptions"), Hex("03"), value, error));
    EXPECT_EQ(value.Bits, 3u);
}

// Writing: the control's value (in and out) and the field's bytes.
struct EncodeCase {
    const char* control;
    int column;
    int record;
    TControlValue value;
    const char* bytes;     // nullptr: fails
    QString textAfter;     // the control's text afterwards
    bool filled;
};

TEST(FieldCodecs, Writing)
{
    const QString ivanov = QStringLiteral(" Иванов");
    const EncodeCase cases[] = {
        {"cb_RegOptions", -1, 1, Bits(0x05), "05 00", "", false},
        {"cb_RegOptions", -1, 1, Bits(0xFF), "1F 00", "", false},
        {"cb_MoneyBoxList", -1, 1, Index(2), "02", "", false},
        {"cb_MoneyBoxList", -1, 1, Index(-1), "FF", "", false},
        {"cb_MoneyBoxList", -1, 1, Index(3), "FF", "", false},
        {"ed_ScreenDelay", -1, 1, Text(""), "00 05", "5", true},
        {"ed_ScreenDelay", -1, 1, Text("  "), "00 05", "5", true},
        {"ed_ScreenDelay", -1, 1, Text("120"), "01 20", "120", false},
        {"ed_ScreenDelay", -1, 1, Text("-5"), nullptr, "-5", false},
        {"ed_ScreenDelay", -1, 1, Text("1a"), nullptr, "1a", false},
        {"ed_AutoLock", -1, 1, Text(""), "00", "0", true},
        {"ed_AutoLock", -1, 1, Text("60"), "60", "60", false},
        {"ed_INN", -1, 1, Text("1234"), "00 00 00 00 12 34", "000000001234", true},
        {"ed_INN", -1, 1, Text(""), "00 00 00 00 00 00", "000000000000", true},
        {"ed_INN", -1, 1, Text("770123456789"), "77 01 23 45 67 89", "770123456789", false},
        {"ed_INN", -1, 1, Text("12a"), nullptr, "00000000012a", true},
        {"ed_INN", -1, 1, Text("-1"), nullptr, "0000000000-1", true},
        {"cb_WritingJournal", -1, 1, Index(1), "01", "", false},
        {"ed_PoContrast", -1, 1, Text(""), "02", "2", true},
        {"ed_PoContrast", -1, 1, Text("3"), "03", "3", false},
        {"ed_PoStringInterval", -1, 1, Text("-"), nullptr, "-", false},
        {"ed_PoStringInterval", -1, 1, Text("258"), "02", "258", false}, // low 8 bits
        {"cb_PoCheck", -1, 1, Bits(0x41), "41 00", "", false},
        {"ed_CheckTop", -1, 4, Text(QStringLiteral("Привет")), "CF F0 E8 E2 E5 F2 20 20 20 20 20 20 20 20 20 20 20 20 "
                                                               "20 20 20 20 20 20 20 20 20 20 20 20 20 20",
         QStringLiteral("Привет"), false},
        {"ed_CheckTop", -1, 4, Text(QString(40, u'Ж')), "C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 "
                                                          "C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6",
         QString(40, u'Ж'), false},
        {"cb_checkTopc", -1, 4, Bits(5), "05", "", false},
        {"Operators", 0, 2, Text(QStringLiteral("  Кассир \t")), "CA E0 F1 F1 E8 F0 20 20 20 20 20 20 20 20 20 20 20 20 "
                                                                  "20 20 20 20 20 20 20 20 20 20 20 20 20 20",
         QStringLiteral("  Кассир \t"), false},
        {"Operators", 1, 2, Text(ivanov), "20 C8 E2 E0 ED EE E2 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 "
                                          "20 20 20 20 20 20 20",
         ivanov, false},
        {"Operators", 2, 2, Text("17"), "11 00", "17", false},
        {"Operators", 2, 2, Text("300"), "2C 00", "300", false},
        {"Operators", 2, 2, Text(""), nullptr, "", false}, // rights never read nor clicked
        {"Goods", 2, -1, Text(""), "00 00 00 00 00 00 00", "0000000000000", true},
        {"Goods", 2, -1, Text("4601234567893"), "04 60 12 34 56 78 93", "4601234567893", false},
        {"Goods", 2, -1, Text("123456789012345"), nullptr, "123456789012345", false}, // does not fit 7 bytes
        {"Goods", 3, -1, Text(""), "00", "0", true},
        {"Goods", 3, -1, Text("16"), "10", "16", false},
        {"Goods", 4, -1, Text(""), "00 00 00 00 00", "0.00", true},
        {"Goods", 4, -1, Text("12.5"), "00 00 00 12 50", "12.5", false},
        {"Goods", 4, -1, Text("1234567.89"), "01 23 45 67 89", "1234567.89", false},
        {"Goods", 4, -1, Text("100000000"), nullptr, "100000000", false}, // 10^10 hundredths: 11 digits
        {"Goods", 4, -1, Text("-5"), nullptr, "-5", false},
        {"Goods", 5, -1, Text(""), "01", "ДА", true},
        {"Goods", 5, -1, Text("ДА"), "01", "ДА", false},
        {"Goods", 5, -1, Text("НЕТ"), "00", "НЕТ", false},
        {"Goods", 5, -1, Text("да"), "00", "да", false},
    };
    for (const EncodeCase& c : cases) {
        const TTableField& f = Field(c.control, c.column, c.record);
        TControlValue value = c.value;
        TArrayOfByte bytes = {0xEE};
        QString error;
        bool filled = !c.filled;
        const bool ok = EncodeField(f, value, bytes, error, &filled);
        const std::string what = std::string(c.control) + " '" + c.value.Text.toStdString() + "'";
        EXPECT_EQ(ok, c.bytes != nullptr) << what << ": " << error.toStdString();
        EXPECT_EQ(ToHex(bytes), c.bytes ? c.bytes : "EE") << what;
        EXPECT_EQ(error.isEmpty(), ok) << what;
        EXPECT_EQ(value.Text, c.textAfter) << what;
        EXPECT_EQ(filled, c.filled) << what;
    }
}

TEST(FieldCodecs, ReadOnlyEncodingsRefuseToWrite)
{
    TControlValue v = Text("00050");
    TArrayOfByte bytes;
    QString error;
    EXPECT_FALSE(EncodeField(Field("ed_DscValue1"), v, bytes, error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(RecordCodecs, OptionsRecordWithDefaultsAndInn)
{
    const TRegisterTable& t = SettingsTables()[0];
    std::vector<TFieldValue> values = RecordValues(t, 1);
    ASSERT_EQ(values.size(), 8u);
    auto set = [&](const char* control, TControlValue v) {
        for (TFieldValue& fv : values)
            if (fv.Field->Control == QLatin1String(control))
                fv.Value = v;
    };
    set("cb_RegOptions", Bits(0x13));
    set("cb_MoneyBoxList", Index(1));
    set("cb_zOptions", Bits(0x09));
    set("cb_Kassir", Index(-1));
    set("ed_ScreenDelay", Text(""));
    set("ed_AutoLock", Text("30"));
    set("cb_WritingJournal", Index(1));
    set("ed_INN", Text("1234"));
    TArrayOfByte record;
    QString error;
    ASSERT_TRUE(EncodeRecord(t, 1, values, record, error)) << error.toStdString();
    EXPECT_EQ(ToHex(record), "13 00 01 09 00 FF 00 05 30 01 00 00 00 00 12 34");
    EXPECT_TRUE(values[4].Filled);
    EXPECT_EQ(values[4].Value.Text, QStringLiteral("5"));
    EXPECT_TRUE(values[7].Filled);
    EXPECT_EQ(values[7].Value.Text, QStringLiteral("000000001234"));
    EXPECT_FALSE(values[5].Filled);

    // Read back field by field, as the window does for this table.
    for (const TTableField& f : t.Fields) {
        const TArrayOfByte field(record.begin() + f.Offset, record.begin() + f.Offset + f.Size);
        TControlValue v;
        ASSERT_TRUE(DecodeField(f, field, v, error));
        TControlValue again = v;
        TArrayOfByte bytes;
        ASSERT_TRUE(EncodeField(f, again, bytes, error)) << f.Control.toStdString();
        EXPECT_EQ(bytes, field) << f.Control.toStdString();
    }
}

TEST(RecordCodecs, OperatorsRecordSetsPostNameRightsInRowOrder)
{
    const TRegisterTable& t = *FindTable(9);
    TArrayOfByte record = TextBytes(QStringLiteral("Иванов Иван"), 32);
    const TArrayOfByte post = TextBytes(QStringLiteral("Администратор"), 32);
    record.insert(record.end(), post.begin(), post.end());
    const TArrayOfByte tail = Hex("AA BB CC 7F 00");
    record.insert(record.end(), tail.begin(), tail.end());
    ASSERT_EQ(record.size(), 69u);

    std::vector<TFieldValue> values;
    QString error;
    ASSERT_TRUE(DecodeRecord(t, 6, record, values, error)) << error.toStdString();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].Field->Column, 0);
    EXPECT_EQ(values[0].Value.Text, QStringLiteral("Администратор") + QString(19, u' '));
    EXPECT_EQ(values[1].Field->Column, 1);
    EXPECT_EQ(values[1].Value.Text, QStringLiteral("Иванов Иван") + QString(21, u' '));
    EXPECT_EQ(values[2].Value, TextBits("127", 0x7F));
    for (const TFieldValue& v : values) {
        EXPECT_EQ(v.Row, 6);
        EXPECT_EQ(v.Field->Control, QStringLiteral("Operators"));
    }
    EXPECT_EQ(values[0].Field->Field, 2);
    EXPECT_EQ(values[1].Field->Field, 1);
    EXPECT_EQ(values[2].Field->Field, 4);
    EXPECT_EQ(values[0].Field->WriteErrorLine, QStringLiteral("Ошибка записи должности оператора "));
}

TEST(RecordCodecs, ShortRecordFailsAndLeavesTheValues)
{
    const TRegisterTable& t = *FindTable(10);
    std::vector<TFieldValue> values(1);
    QString error;
    EXPECT_FALSE(DecodeRecord(t, 1, TArrayOfByte(12, 0x20), values, error));
    EXPECT_EQ(values.size(), 1u);
    EXPECT_FALSE(error.isEmpty());
    // Bytes beyond the layout are ignored.
    EXPECT_TRUE(DecodeRecord(t, 1, TArrayOfByte(20, 0x01), values, error));
    EXPECT_EQ(values.size(), 2u);
}

TEST(RecordCodecs, DevicesRecordsOfDifferentSizes)
{
    const TRegisterTable& t = *FindTable(8);
    std::vector<TFieldValue> values;
    QString error;
    ASSERT_TRUE(DecodeRecord(t, 2, Hex("04 02 01"), values, error));
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].Field->Control, QStringLiteral("cb_ElectronicScaleSpeed"));
    EXPECT_EQ(values[0].Value.Index, 4);
    EXPECT_EQ(values[1].Value.Index, 2);
    EXPECT_EQ(values[2].Value.Index, 1);
    ASSERT_TRUE(DecodeRecord(t, 3, Hex("08"), values, error));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].Field->Control, QStringLiteral("cb_PCSpeed"));
}

TEST(GoodsRecord, EmptyRowIsSentWithItsDefaultsAndShowsThem)
{
    TGoodsRow row;
    row[0] = QStringLiteral("5");
    row[6] = QStringLiteral("1.5");
    TArrayOfByte record;
    QString error;
    std::array<bool, 7> filled{};
    ASSERT_TRUE(EncodeGoodsRecord(row, record, error, &filled)) << error.toStdString();
    EXPECT_EQ(ToHex(record), ToHex(TArrayOfByte(32, 0x20)) + " 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
    EXPECT_EQ(row[1], QString());
    EXPECT_EQ(row[2], QStringLiteral("0000000000000"));
    EXPECT_EQ(row[3], QStringLiteral("0"));
    EXPECT_EQ(row[4], QStringLiteral("0.00"));
    EXPECT_EQ(row[5], QStringLiteral("ДА"));
    EXPECT_EQ(row[6], QStringLiteral("1.5"));
    const std::array<bool, 7> expected = {false, false, true, true, true, true, false};
    EXPECT_EQ(filled, expected);
}

TEST(GoodsRecord, RoundTripThroughTheBytes)
{
    TGoodsRow row;
    row[1] = QStringLiteral("Кофе в зёрнах 250 г");
    row[2] = QStringLiteral("4607001770112");
    row[3] = QStringLiteral("3");
    row[4] = QStringLiteral("459");
    row[5] = QStringLiteral("НЕТ");
    TArrayOfByte record;
    QString error;
    ASSERT_TRUE(EncodeGoodsRecord(row, record, error));
    TArrayOfByte expected = TextBytes(row[1], 32);
    const TArrayOfByte tail = Hex("04 60 70 01 77 01 12 03 00 00 04 59 00 00");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(ToHex(record), ToHex(expected));

    TGoodsRow back;
    back[6] = QStringLiteral("kept");
    ASSERT_TRUE(DecodeGoodsRecord(record, back, error));
    EXPECT_EQ(back[1], row[1] + QString(13, u' '));
    EXPECT_EQ(back[2], row[2]);
    EXPECT_EQ(back[3], row[3]);
    EXPECT_EQ(back[4], QStringLiteral("459.00"));
    EXPECT_EQ(back[5], row[5]);
    EXPECT_EQ(back[6], QStringLiteral("kept"));
}

TEST(GoodsRecord, FailingFieldKeepsTheDefaultsBeforeItAndSendsNothing)
{
    TGoodsRow row;
    row[4] = QStringLiteral("abc");
    TArrayOfByte record = {0xEE};
    QString error;
    EXPECT_FALSE(EncodeGoodsRecord(row, record, error));
    EXPECT_EQ(record, TArrayOfByte{0xEE});
    EXPECT_EQ(row[2], QStringLiteral("0000000000000"));
    EXPECT_EQ(row[3], QStringLiteral("0"));
    EXPECT_EQ(row[4], QStringLiteral("abc"));
    EXPECT_EQ(row[5], QString()); // after the failing field: untouched
}

TEST(TableMap, ShapeOfTheTables)
{
    const auto& tables = SettingsTables();
    ASSERT_EQ(tables.size(), 9u);
    std::set<std::tuple<QString, int, int>> controls;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const TRegisterTable& t = tables[i];
        EXPECT_EQ(t.SubPage, static_cast<int>(i));
        EXPECT_EQ(t.Table, static_cast<int>(i) + 2);
        EXPECT_EQ(FindTable(t.Table), &t);
        EXPECT_EQ(t.Read, t.Table <= 3 ? TReadKind::Fields : TReadKind::Records) << t.Table;
        const TWriteKind write = t.Table <= 4 ? TWriteKind::Records
                                 : t.Table == 9 ? TWriteKind::Fields
                                                : TWriteKind::Never;
        EXPECT_EQ(t.Write, write) << t.Table;
        EXPECT_EQ(t.WriteStartLine.isEmpty(), write == TWriteKind::Never);
        int lastRecord = 0;
        int lastField = 0;
        for (const TTableField& f : t.Fields) {
            EXPECT_GE(f.Record, lastRecord) << f.Control.toStdString();
            if (f.Record != lastRecord)
                lastField = 0;
            if (t.Read == TReadKind::Fields) { // field reads go 1, 2, 3, ...
                EXPECT_EQ(f.Field, lastField + 1) << f.Control.toStdString();
            }
            lastRecord = f.Record;
            lastField = f.Field;
            EXPECT_LE(f.Offset + f.Size, t.RecordSize) << f.Control.toStdString();
            EXPECT_TRUE(controls.emplace(f.Control, f.Column, f.Record).second) << f.Control.toStdString();
            const bool list = f.Kind == TControlKind::List || f.Kind == TControlKind::CheckedList;
            EXPECT_EQ(list, !f.Items.isEmpty() && !InGrid(f.Kind)) << f.Control.toStdString();
            // A list laid over a cell is named after its row.
            const bool overlay = f.Kind == TControlKind::CellList || f.Kind == TControlKind::CellCheckedList;
            EXPECT_EQ(overlay, !f.Overlay.isEmpty()) << f.Control.toStdString();
            EXPECT_TRUE(!overlay || !f.Items.isEmpty()) << f.Control.toStdString();
        }
        EXPECT_EQ(lastRecord, t.LastRecord);
    }
    EXPECT_EQ(SettingsTables()[3].Fields.size(), 40u); // 8 discount rows of 5 controls
    EXPECT_NE(FindField(u"ed_DscValue8"), nullptr);
    EXPECT_NE(FindField(u"ed_txName4"), nullptr);
    EXPECT_NE(FindField(u"cb_PayType3"), nullptr);
    EXPECT_NE(FindField(u"SectionsSettings", 4, 16), nullptr);
    EXPECT_EQ(FindField(u"SectionsSettings", 4, 17), nullptr);
    EXPECT_EQ(FindField(u"ed_DscValue9"), nullptr);
    EXPECT_EQ(GoodsTable().RecordSize, 46);
    EXPECT_EQ(GoodsTable().Fields.size(), 5u);
}

TEST(TableMap, KeysNameEveryTableAndField)
{
    const QRegularExpression snake(QStringLiteral("^[a-z][a-z0-9]*(_[a-z0-9]+)*$"));
    std::set<QString> tableKeys;
    std::vector<const TRegisterTable*> all;
    for (const TRegisterTable& t : SettingsTables())
        all.push_back(&t);
    all.push_back(&GoodsTable());
    for (const TRegisterTable* t : all) {
        const std::string table = t->Key.toStdString();
        EXPECT_TRUE(snake.match(t->Key).hasMatch()) << table;
        EXPECT_TRUE(tableKeys.insert(t->Key).second) << table;
        EXPECT_EQ(FindTableByKey(t->Key), t) << table;
        std::set<QString> tableFields;
        std::vector<QString> shape; // the keys of the first record, in order
        for (int r = t->FirstRecord; r <= std::min(t->LastRecord, 16); ++r) {
            std::vector<QString> keys;
            std::set<QString> unique;
            for (const TTableField* f : RecordFields(*t, r)) {
                EXPECT_TRUE(snake.match(f->Key).hasMatch()) << table << " " << f->Key.toStdString();
                EXPECT_TRUE(unique.insert(f->Key).second) << table << " " << f->Key.toStdString();
                EXPECT_EQ(FindFieldByKey(*t, f->Key, r), f) << table << " " << f->Key.toStdString();
                keys.push_back(f->Key);
                // Outside tables of rows, a key names one field of the table.
                if (!t->Rows) {
                    EXPECT_TRUE(tableFields.insert(f->Key).second) << table << " " << f->Key.toStdString();
                }
            }
            if (shape.empty()) {
                shape = keys;
            } else if (t->Rows) {
                EXPECT_EQ(keys, shape) << table << " record " << r;
            }
        }
    }
    EXPECT_EQ(FindTableByKey(u"operator"), nullptr);
    EXPECT_EQ(FindFieldByKey(*FindTableByKey(u"operators"), u"rights", 7)->Record, 7);
    EXPECT_EQ(FindFieldByKey(*FindTableByKey(u"operators"), u"rights", 8), nullptr);
    EXPECT_EQ(FindFieldByKey(*FindTableByKey(u"devices"), u"pc_speed")->Record, 3);
    EXPECT_EQ(FindFieldByKey(*FindTableByKey(u"options"), u"name"), nullptr);
}

TEST(TableMap, WhatTheControlsTake)
{
    for (const TRegisterTable& t : SettingsTables()) {
        EXPECT_EQ(TakesInput(t), t.Write != TWriteKind::Never) << t.Table;
        if (!t.Grid.Titles.isEmpty()) {
            EXPECT_EQ(static_cast<qsizetype>(t.Grid.Widths.size()), t.Grid.Titles.size()) << t.Table;
            for (const TTableField& f : t.Fields) {
                EXPECT_TRUE(InGrid(f.Kind)) << t.Table;
                EXPECT_LT(f.Column, t.Grid.Titles.size()) << t.Table;
                EXPECT_GE(f.Column, t.Grid.FixedColumns) << t.Table;
            }
        }
        if (!t.ColumnTitles.isEmpty()) {
            EXPECT_EQ(static_cast<std::size_t>(t.ColumnTitles.size()), RecordFields(t, t.FirstRecord).size())
                << t.Table;
        }
        // The sub-page is built from this: every field has its place and a
        // form's fields their labels.
        EXPECT_FALSE(t.Caption.isEmpty()) << t.Table;
        if (t.Layout() == TPageLayout::Grid) {
            EXPECT_FALSE(t.Grid.Panel.isEmpty()) << t.Table;
        }
        for (const TTableField& f : t.Fields) {
            EXPECT_EQ(f.Caption.isEmpty(), t.Layout() != TPageLayout::Form) << f.Control.toStdString();
        }
        if (!t.Groups.empty()) {
            int next = t.FirstRecord;
            for (const TRecordGroup& g : t.Groups) {
                EXPECT_EQ(g.First, next) << t.Table;
                EXPECT_LE(g.First, g.Last) << t.Table;
                next = g.Last + 1;
            }
            EXPECT_EQ(next, t.LastRecord + 1) << t.Table;
        }
        for (const TTableField& f : t.Fields) {
            const std::string name = f.Control.toStdString();
            const TValueKind kind = ValueKind(f);
            // Every text the window types takes a length; no list does
            // (the rights cell under its list is typed into too).
            const bool typed = kind == TValueKind::Text || kind == TValueKind::Number;
            if (typed || !InGrid(f.Kind)) {
                EXPECT_EQ(f.MaxLength > 0, typed) << name;
            }
            EXPECT_EQ(f.HasRange(), kind == TValueKind::Number) << name;
            // A text that is written fits its bytes.
            if (f.Encoding == TEncoding::Text || f.Encoding == TEncoding::TrimmedText) {
                EXPECT_EQ(LongestText(f), f.Size) << name;
            }
            if (f.HasRange() && f.Encoding != TEncoding::DecimalByte) { // packed BCD
                TControlValue top{QString::number(f.Max)};
                TControlValue over{QString::number(f.Max + 1)};
                TArrayOfByte bytes;
                QString error;
                EXPECT_TRUE(EncodeField(f, top, bytes, error)) << name;
                EXPECT_FALSE(EncodeField(f, over, bytes, error)) << name;
            }
            EXPECT_LT(f.StartIndex, f.Items.size()) << name;
        }
    }
    EXPECT_EQ(FindField(u"ed_ScreenDelay")->MaxLength, 3);
    EXPECT_EQ(FindField(u"ed_INN")->MaxLength, 12);
    EXPECT_EQ(FindField(u"SectionsSettings", 2, 1)->Max, 4);
    EXPECT_EQ(FindField(u"cb_Kassir")->StartIndex, 0);
    EXPECT_EQ(FindField(u"cb_PCSpeed")->StartIndex, -1);
    EXPECT_EQ(LongestText(*FindField(u"ed_DscValue1")), 15);
    EXPECT_EQ(GoodsTable().LastRecord, GoodsItemCount);
}

} // namespace
