// The goods CSV format on bytes: lines in and out, the import's parse and
// field checks.
#include "Cp1251.h"
#include "GoodsCsv.h"

#include <gtest/gtest.h>

#include <QBuffer>

#include <algorithm>

namespace {

QStringList ReadAll(const QByteArray& Bytes, bool* Failed = nullptr)
{
    QByteArray data = Bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    TCsvLineReader reader(buffer);
    QStringList lines;
    QString line;
    while (reader.ReadLine(line))
        lines.append(line);
    if (Failed)
        *Failed = reader.Failed();
    return lines;
}

QString W(const char* Utf8)
{
    return QString::fromUtf8(Utf8);
}

TEST(CsvLines, LineEnds)
{
    struct Case {
        QByteArray bytes;
        QStringList lines;
    };
    const Case cases[] = {
        {"1;a\n2;b\n", {"1;a", "2;b"}},
        {"1;a\r\n2;b\r\n", {"1;a", "2;b"}},
        {"1;a\r\n2;b", {"1;a", "2;b"}},       // the last line needs no end
        {"1;a\n\r\n2;b\n", {"1;a", "", "2;b"}},
        {"", {}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\rb\n", {"a\rb"}},                  // CR alone ends nothing
        {"a\r\r\n", {"a\r"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadAll(c.bytes), c.lines) << c.bytes.toHex().constData();
}

TEST(CsvLines, AnyBytesAreReadOneCharacterEach)
{
    // A 0 byte, the code page's free byte 0x98 and UTF-8 text all come
    // through as Windows-1251 characters, one per byte.
    const QByteArray utf8 = QStringLiteral("12;Хлеб ржаной").toUtf8();
    const QByteArray file = QByteArray("1;a\0b\x98;c\n", 9) + utf8 + "\r\n";
    const QStringList lines = ReadAll(file);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size(), 8);
    EXPECT_EQ(lines[0].at(3), QChar(0));
    EXPECT_EQ(ToCp1251(lines[0]), QByteArray("1;a\0b\x98;c", 8));
    EXPECT_EQ(lines[1].size(), utf8.size());
    EXPECT_EQ(ToCp1251(lines[1]), utf8);
    EXPECT_EQ(lines[1].left(3), QStringLiteral("12;"));
}

TEST(CsvLines, MegabyteLineAndChunkBoundaries)
{
    const QByteArray big(1 << 20, 'x');
    // A CR as the last byte of the first read and its LF as the first of the next.
    const QByteArray edge = QByteArray(64 * 1024 - 1, 'y') + "\r\n";
    const QStringList lines = ReadAll(big + "\n" + edge + "2;b");
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].size(), big.size());
    EXPECT_EQ(lines[1].size(), 64 * 1024 - 1);
    EXPECT_EQ(lines[2], QStringLiteral("2;b"));
}

class FailingDevice : public QIODevice {
protected:
    qint64 readData(char*, qint64) override
    {
        setErrorString(QStringLiteral("read error"));
        return -1;
    }
    qint64 writeData(const char*, qint64) override
    {
        setErrorString(QStringLiteral("disk full"));
        return -1;
    }
};

TEST(CsvLines, DeviceErrorsAreReported)
{
    FailingDevice device;
    device.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    TCsvLineReader reader(device);
    QString line;
    EXPECT_FALSE(reader.ReadLine(line));
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.ErrorString(), QStringLiteral("read error"));

    QString error;
    EXPECT_FALSE(WriteCsvLine(device, "1;;;;;;\r\n", error));
    EXPECT_EQ(error, QStringLiteral("disk full"));
}

// Takes at most Room bytes in pieces of at most Piece, then fails as a full
// disk does.
class ShortWriteDevice : public QIODevice {
public:
    ShortWriteDevice(qint64 room, qint64 piece) : room_(room), piece_(piece) {}
    QByteArray Written;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override
    {
        const qint64 n = std::min({len, piece_, room_ - Written.size()});
        if (n <= 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        Written.append(data, n);
        return n;
    }

private:
    qint64 room_;
    qint64 piece_;
};

TEST(CsvLines, ShortWritesAreContinued)
{
    const QByteArray line = "1234;abcdefgh;;;;;\r\n";
    QString error;
    ShortWriteDevice roomy(1000, 3);
    roomy.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    EXPECT_TRUE(WriteCsvLine(roomy, line, error));
    EXPECT_EQ(roomy.Written, line);

    // What fits is written; the error is the one that stopped the rest.
    ShortWriteDevice full(10, 4);
    full.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    EXPECT_FALSE(WriteCsvLine(full, line, error));
    EXPECT_EQ(full.Written, line.left(10));
    EXPECT_EQ(error, QStringLiteral("No space left on device"));
}

TEST(CsvExport, FreshRowsAndCyrillicBytes)
{
    TGoodsRow fresh;
    fresh[0] = QStringLiteral("3");
    EXPECT_EQ(FormatGoodsCsvLine(fresh), QByteArray("3;;;;;;\r\n"));

    TGoodsRow row = {W("12"), W("Хлеб ржаной"), W("4601234567893"), W("1"), W("35.00"), W("ДА"), W("1.5")};
    EXPECT_EQ(FormatGoodsCsvLine(row),
              QByteArray("12;\xD5\xEB\xE5\xE1 \xF0\xE6\xE0\xED\xEE\xE9;4601234567893;1;35.00;\xC4\xC0;1.5\r\n"));
}

using Cells = std::vector<std::pair<int, QString>>;

struct ImportCase {
    const char* line;
    TImportStatus status;
    int item;
    Cells cells;
    const char* message; // the box text or the error text
};

TEST(CsvImport, Lines)
{
    const QString section17 = W("Номер отдела не может иметь значение больше 16!");
    const ImportCase cases[] = {
        {"12;Хлеб;123;2;15,50;ДА;0", TImportStatus::Ok, 12,
         {{1, W("Хлеб")}, {2, "123"}, {3, "2"}, {4, "15.50"}, {5, W("ДА")}, {6, "0"}}, ""},
        {"7;Молоко;;;;;", TImportStatus::Ok, 7,
         {{1, W("Молоко")}, {2, ""}, {3, "0"}, {4, "0.00"}, {5, W("НЕТ")}, {6, ""}}, ""},
        // The last field is not checked.
        {"5;Сыр;1;2;3.00;МОЖЕТ", TImportStatus::Ok, 5,
         {{1, W("Сыр")}, {2, "1"}, {3, "2"}, {4, "3.00"}, {5, W("МОЖЕТ")}}, ""},
        {"5;a;b;x", TImportStatus::Ok, 5, {{1, "a"}, {2, "b"}, {3, "x"}}, ""},
        {"5;Сыр, твёрдый, 45%;;;;;", TImportStatus::Ok, 5,
         {{1, W("Сыр. твёрдый, 45%")}, {2, ""}, {3, "0"}, {4, "0.00"}, {5, W("НЕТ")}, {6, ""}}, ""},
        // Leading blanks go from every field after the first; trailing ones only from the last.
        {"12;  Хлеб  ; 123 ;2;1;НЕТ;  3  \t", TImportStatus::Ok, 12,
         {{1, W("Хлеб  ")}, {2, "123 "}, {3, "2"}, {4, "1"}, {5, W("НЕТ")}, {6, "3"}}, ""},
        {"12;", TImportStatus::Ok, 12, {{1, ""}}, ""},
        {"+0012;x", TImportStatus::Ok, 12, {{1, "x"}}, ""},
        {"9999;x", TImportStatus::Ok, 9999, {{1, "x"}}, ""},
        // Fields past the grid's last column change nothing; column 6 is then checked.
        {"1;a;b;1;1;ДА;;extra;more", TImportStatus::Ok, 1,
         {{1, "a"}, {2, "b"}, {3, "1"}, {4, "1"}, {5, W("ДА")}, {6, "0"}}, ""},
        {"1;a;b;16;-2.5;ДА;5,5;x", TImportStatus::Ok, 1,
         {{1, "a"}, {2, "b"}, {3, "16"}, {4, "-2.5"}, {5, W("ДА")}, {6, "5.5"}}, ""},
        {"12;Хлеб;123;17;15,50;ДА;0", TImportStatus::FieldRejected, 12, {{1, W("Хлеб")}, {2, "123"}}, nullptr},
        {"12;Хлеб;123;16.5;1;ДА;0", TImportStatus::FieldRejected, 12, {{1, W("Хлеб")}, {2, "123"}}, nullptr},
        {"12;a;b;x;1", TImportStatus::FieldRejected, 12, {{1, "a"}, {2, "b"}},
         "Номер отдела имеет неправильный тип!"},
        {"12;a;b;1;abc;ДА;0", TImportStatus::FieldRejected, 12, {{1, "a"}, {2, "b"}, {3, "1"}},
         "Цена имеет неправильный тип!"},
        {"12;a;b;1;1.2.3;ДА;0", TImportStatus::FieldRejected, 12, {{1, "a"}, {2, "b"}, {3, "1"}},
         "Цена имеет неправильный тип!"},
        {"12;a;b;1;1;да;0", TImportStatus::FieldRejected, 12, {{1, "a"}, {2, "b"}, {3, "1"}, {4, "1"}},
         "Поле \"Дробное\" должно принимать значение - \"ДА\" или \"НЕТ\""},
        {"Товар;Наименование;Штрих-код;Отдел;Цена;Дробное;Продажи", TImportStatus::NotAnInteger, 0, {},
         "'Товар' не является целым числом"},
        {"", TImportStatus::NotAnInteger, 0, {}, "'' не является целым числом"},
        {"12", TImportStatus::NotAnInteger, 0, {}, "'' не является целым числом"},
        {" 12;a", TImportStatus::NotAnInteger, 0, {}, "' 12' не является целым числом"},
    };
    for (const ImportCase& c : cases) {
        const TImportLine r = ParseImportLine(W(c.line));
        EXPECT_EQ(r.Status, c.status) << c.line;
        EXPECT_EQ(r.Item, c.item) << c.line;
        EXPECT_EQ(r.Cells, c.cells) << c.line;
        if (c.message)
            EXPECT_EQ(r.Message, W(c.message)) << c.line;
        else
            EXPECT_EQ(r.Message, section17) << c.line;
        if (c.status == TImportStatus::FieldRejected) {
            EXPECT_EQ(ImportErrorLine(r), W("Ошибка в записи № ") + QString::number(c.item));
        }
    }
}

TEST(CsvImport, ItemNumbersOutsideTheGrid)
{
    const std::pair<const char*, const char*> cases[] = {
        {"0;Хлеб;;;;;", "0"},
        {"10000;Хлеб;;;;;", "10000"},
        {"-1;Хлеб;;;;;", "-1"},
        {"-0;x", "0"},
        {"4294967297;x", "4294967297"},
        {"000099999999999999999999999999;x", "99999999999999999999999999"},
        {"-99999999999999999999999999;x", "-99999999999999999999999999"},
    };
    for (const auto& [line, shown] : cases) {
        const TImportLine r = ParseImportLine(W(line));
        EXPECT_EQ(r.Status, TImportStatus::ItemOutOfRange) << line;
        EXPECT_TRUE(r.Cells.empty()) << line;
        EXPECT_EQ(ImportErrorLine(r), W("Ошибка в записи № ") + QString::fromLatin1(shown)) << line;
    }
    // A megabyte of digits still makes a short journal line.
    const TImportLine r = ParseImportLine(QString(1 << 20, u'7') + u';');
    EXPECT_EQ(r.Status, TImportStatus::ItemOutOfRange);
    EXPECT_LT(ImportErrorLine(r).size(), 100);
}

TEST(CsvImport, GarbageLinesEndCheaply)
{
    // A megabyte line of separators: parsed once, not copied per field.
    const TImportLine many = ParseImportLine(QStringLiteral("5") + QString(1 << 20, u';'));
    EXPECT_EQ(many.Status, TImportStatus::Ok);
    EXPECT_EQ(many.Cells.size(), 6u);
    const TImportLine garbage = ParseImportLine(QString(1 << 20, u'\x01') + u';');
    EXPECT_EQ(garbage.Status, TImportStatus::NotAnInteger);
    EXPECT_LT(garbage.Message.size(), 120);
}

TEST(CsvImport, CheckImportFieldTable)
{
    struct Case {
        int column;
        const char* in;
        bool ok;
        const char* out;
    };
    const Case cases[] = {
        {1, "1,2,3", true, "1.2,3"}, // the first comma only, names too
        {2, "", true, ""},
        {3, "", true, "0"},
        {3, "-3", true, "-3"},
        {3, "2,5", true, "2.5"},
        {3, "16.0", true, "16.0"},
        {3, "16.01", false, "16.01"},
        {3, "1e1", false, "1e1"},
        {4, "", true, "0.00"},
        {4, "5.", true, "5."},
        {4, ".5", true, ".5"},
        {4, "+7", true, "+7"},
        {4, ".", false, "."},
        {4, "15.50 ", false, "15.50 "},
        {5, "", true, "НЕТ"},
        {5, "ДА", true, "ДА"},
        {5, "ДА ", false, "ДА "},
        {6, "", true, "0"},
        {6, "abc", true, "abc"},
        {7, "anything", true, "0"},
        {8, "a,b", true, "a.b"},
    };
    for (const Case& c : cases) {
        QString field = W(c.in);
        QString message;
        EXPECT_EQ(CheckImportField(c.column, field, message), c.ok) << c.column << " " << c.in;
        EXPECT_EQ(field, W(c.out)) << c.column << " " << c.in;
        EXPECT_EQ(message.isEmpty(), c.ok) << c.column << " " << c.in;
    }
}

TEST(CsvRoundTrip, CyrillicNamesComeBackByteForByte)
{
    // Every byte a name can hold in a CSV field and keep: not ";", no line
    // end, no "," (the import makes it "."), no blank at its start (the
    // import drops those).
    QByteArray nameBytes;
    for (int b = 0x21; b < 256; ++b)
        if (b != ';' && b != ',')
            nameBytes.append(static_cast<char>(b));
    nameBytes += QByteArray("\x01\x09\x0D\x00 end  ", 10); // inner controls and trailing blanks stay
    const QString name = FromCp1251(nameBytes);

    QByteArray file;
    std::vector<TGoodsRow> rows;
    for (int item = 1; item <= 3; ++item) {
        TGoodsRow row = {QString::number(item), QString::number(item) + name, W("4601234567893"), W("2"),
                         W("15.50"), item == 2 ? W("НЕТ") : W("ДА"), W("1.125")};
        rows.push_back(row);
        file += FormatGoodsCsvLine(row);
    }
    const QStringList lines = ReadAll(file);
    ASSERT_EQ(lines.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const TImportLine r = ParseImportLine(lines[i]);
        ASSERT_EQ(r.Status, TImportStatus::Ok);
        EXPECT_EQ(r.Item, i + 1);
        ASSERT_EQ(r.Cells.size(), 6u);
        for (const auto& [column, text] : r.Cells)
            EXPECT_EQ(ToCp1251(text), ToCp1251(rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(column)]))
                << "item " << i + 1 << " column " << column;
    }
}

} // namespace
