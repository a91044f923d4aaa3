// The goods jobs on the test's own thread: reading and writing a range of
// items against the register emulator (what is asked in which order, what
// the callbacks get, what the register holds, the journal lines), the stop
// flag, error answers in the middle, a row that cannot be encoded, and the
// CSV import's rejected field, whose message comes before its red line.
#include "GoodsJobs.h"
#include "JobRecorder.h"
#include "RegisterFixture.h"

#include "Cp1251.h"

#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <ostream>

// Failures print texts, not code units.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

using namespace kkm;
using namespace kkm::emu;

namespace {

const QString kReadStart = QStringLiteral("Чтение списка товаров ...");
const QString kReadDone = QStringLiteral("Чтение списка товаров завершено.");
const QString kWriteStart = QStringLiteral("Запись списка товаров ...");
const QString kWriteDone = QStringLiteral("Запись списка товаров завершена.");

QString Refusal(std::int32_t code = 3)
{
    return QStringLiteral("! ") + TOmvekCP::ErrorText(code);
}

TGoodsRow Row(int item, const QString& name, const QString& barcode, const QString& section,
              const QString& price, const QString& fractional)
{
    return {QString::number(item), name, barcode, section, price, fractional, QString()};
}

TArrayOfByte Encoded(TGoodsRow row)
{
    TArrayOfByte bytes;
    QString error;
    EXPECT_TRUE(EncodeGoodsRecord(row, bytes, error)) << error.toStdString();
    return bytes;
}

QStringList Reads(int first, int last)
{
    QStringList out;
    for (int i = first; i <= last; ++i)
        out << QStringLiteral("ReadTableRecord table 1 record %1").arg(i)
            << QStringLiteral("ReadGoodsSales item %1").arg(i);
    return out;
}

QStringList Writes(int first, int last, bool zeroSales)
{
    QStringList out;
    for (int i = first; i <= last; ++i) {
        out << QStringLiteral("WriteTableRecord table 1 record %1").arg(i);
        if (zeroSales)
            out << QStringLiteral("WriteGoodsSales item %1").arg(i);
    }
    return out;
}

std::string Text(const QStringList& list)
{
    return list.join(QStringLiteral(" | ")).toStdString();
}

class GoodsJobs : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(Authorize());
        // Items 3..6 hold known records and sales.
        reg.WithModel([](RegisterModel& m) {
            for (int item = 3; item <= 6; ++item) {
                m.Record(1, item) = Encoded(Row(item, QStringLiteral("Товар %1").arg(item),
                                                QStringLiteral("46000000000%1").arg(item, 2, 10, QLatin1Char('0')),
                                                QString::number(item), QStringLiteral("%1.50").arg(item),
                                                item % 2 ? GoodsYes : GoodsNo));
                m.SetSales(item, item * 1000 + 250);
            }
        });
        reg.ClearRequests();
    }

    void AddFault(const QString& text)
    {
        std::string error;
        const auto fault = ParseFault(text.toStdString(), &error);
        ASSERT_TRUE(fault) << error;
        reg.AddFault(*fault);
    }

    // Requests since the last clear without their PID or written bytes.
    QStringList Requests() const
    {
        QStringList out;
        for (const RequestRecord& r : reg.Requests()) {
            QString d = QString::fromStdString(DescribeRequest(r.Body));
            d = d.section(QLatin1Char(' '), 2).section(QLatin1Char(':'), 0, 0);
            if (d.startsWith(QLatin1String("WriteGoodsSales")))
                d = d.section(QLatin1Char(' '), 0, 2);
            out << d;
        }
        return out;
    }

    // What the read callbacks got, by item.
    struct TRead {
        std::map<int, TGoodsRow> Records;
        std::map<int, TCurrency> Sales;
    };
    TRead Read(int first, int last, std::atomic<bool>* stop = nullptr, int stopAt = 0)
    {
        TRead got;
        GoodsReadJob(
            job, first, last, stop,
            [&](int item, const TGoodsRow& row) {
                got.Records[item] = row;
                if (item == stopAt)
                    *stop = true;
            },
            [&](int item, TCurrency sales) { got.Sales[item] = sales; });
        return got;
    }

    TGoodsRows Rows(int first, int last)
    {
        TGoodsRows rows;
        rows.First = first;
        rows.Last = last;
        for (int item = first; item <= last; ++item)
            rows.Rows.push_back(Row(item, QStringLiteral("Новый %1").arg(item), QStringLiteral("1234567890123"),
                                    QStringLiteral("2"), QStringLiteral("10.05"), GoodsYes));
        return rows;
    }

    TArrayOfByte Stored(int item)
    {
        return reg.WithModel([item](RegisterModel& m) { return m.Record(1, item); });
    }

    TJobRecorder job{proto};
};

TEST_F(GoodsJobs, ReadGivesEachItemsRecordThenItsSales)
{
    const TRead got = Read(3, 5);
    EXPECT_EQ(Requests(), Reads(3, 5)) << Text(Requests());
    EXPECT_EQ(job.Lines, (QStringList{kReadStart, kReadDone})) << Text(job.Lines);
    EXPECT_EQ(job.LastItem, 5);
    ASSERT_EQ(got.Records.size(), 3u);
    ASSERT_EQ(got.Sales.size(), 3u);
    const TGoodsRow& four = got.Records.at(4);
    EXPECT_EQ(four[1], QStringLiteral("Товар 4").leftJustified(32));
    EXPECT_EQ(four[2], QStringLiteral("4600000000004"));
    EXPECT_EQ(four[3], QStringLiteral("4"));
    EXPECT_EQ(four[4], QStringLiteral("4.50"));
    EXPECT_EQ(four[5], GoodsNo);
    EXPECT_EQ(got.Records.at(5)[5], GoodsYes);
    EXPECT_EQ(got.Sales.at(5).Raw, TCurrency::FromThousandths(5250).Raw);
}

TEST_F(GoodsJobs, WriteSendsEachRowWithItsDefaultsAndZeroesSalesWhenAsked)
{
    for (const bool zeroSales : {false, true}) {
        SCOPED_TRACE(zeroSales ? "zeroing sales" : "keeping sales");
        reg.ClearRequests();
        job.Lines.clear();
        TGoodsRows rows = Rows(3, 5);
        // Item 4 never filled in: its cells take their defaults.
        rows.Rows[1] = Row(4, QString(), QString(), QString(), QString(), QString());
        std::map<int, std::pair<TGoodsRow, std::array<bool, 7>>> shown;
        QString error;
        EXPECT_TRUE(GoodsWriteJob(job, rows, zeroSales, nullptr,
                                  [&](int item, const TGoodsRow& row, const std::array<bool, 7>& filled) {
                                      shown[item] = {row, filled};
                                  },
                                  error));
        EXPECT_EQ(Requests(), Writes(3, 5, zeroSales)) << Text(Requests());
        EXPECT_EQ(job.Lines, (QStringList{kWriteStart, kWriteDone})) << Text(job.Lines);
        EXPECT_EQ(Stored(3), Encoded(rows.Rows[0]));
        EXPECT_EQ(Stored(5), Encoded(rows.Rows[2]));
        ASSERT_EQ(shown.size(), 3u);
        const auto& [four, filled] = shown.at(4);
        EXPECT_EQ(four[2], QStringLiteral("0000000000000"));
        EXPECT_EQ(four[4], QStringLiteral("0.00"));
        EXPECT_EQ(four[5], GoodsYes);
        EXPECT_TRUE(filled[2] && filled[3] && filled[4] && filled[5]);
        EXPECT_FALSE(filled[1]) << "the name has no default";
        EXPECT_EQ(Stored(4), Encoded(four));
        EXPECT_FALSE(shown.at(3).second[2]);
        const std::int64_t sales = reg.WithModel([](RegisterModel& m) { return m.Sales(3) + m.Sales(5); });
        EXPECT_EQ(sales, zeroSales ? 0 : 3250 + 5250);
    }
}

TEST_F(GoodsJobs, StopIsTakenBackAndEndsTheTransferBeforeTheNextItem)
{
    struct TCase {
        const char* Name;
        bool Write;
        int StopAt; // 0: asked for before the transfer; else set while item StopAt runs
        QStringList Requests;
    };
    const TCase cases[] = {
        {"read, stop before", false, 0, {}},
        {"write, stop before", true, 0, {}},
        {"read, stop during item 4", false, 4, Reads(3, 4)},
        {"write, stop during item 4", true, 4, Writes(3, 4, true)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        reg.ClearRequests();
        job.Lines.clear();
        std::atomic<bool> stop{c.StopAt == 0};
        if (c.Write) {
            QString error;
            EXPECT_TRUE(GoodsWriteJob(job, Rows(3, 6), true, &stop,
                                      [&](int item, const TGoodsRow&, const std::array<bool, 7>&) {
                                          if (item == c.StopAt)
                                              stop = true;
                                      },
                                      error));
        } else {
            Read(3, 6, &stop, c.StopAt);
        }
        EXPECT_EQ(Requests(), c.Requests) << Text(Requests());
        EXPECT_FALSE(stop) << "the transfer takes the stop back";
        // The done line also after a stop.
        const QStringList lines = c.Write ? QStringList{kWriteStart, kWriteDone} : QStringList{kReadStart, kReadDone};
        EXPECT_EQ(job.Lines, lines) << Text(job.Lines);
    }
}

TEST_F(GoodsJobs, ErrorAnswerMidRangeIsWrittenInRedAndEndsTheTransfer)
{
    struct TCase {
        const char* Name;
        QString Fault;
        bool Write;
        QStringList Requests;
        QString Error;  // the red line, or its start
        int LastRecord; // read: the last item whose record reached the callback
        int LastSales;  // read: the last item whose sales did
    };
    const QString shortRecord = QStringLiteral("! Ответ ККМ короче записи ");
    const TCase cases[] = {
        {"read: record of item 4", "refuse 3 code=12 table=1 record=4", false,
         Reads(3, 3) << "ReadTableRecord table 1 record 4", Refusal(), 3, 3},
        {"read: short record of item 4", "shorter code=12 table=1 record=4", false,
         Reads(3, 3) << "ReadTableRecord table 1 record 4", shortRecord, 3, 3},
        // The record stays as read.
        {"read: sales of item 4", "refuse 3 code=19 record=4", false, Reads(3, 4), Refusal(), 4, 3},
        {"write: record of item 4", "refuse 3 code=14 table=1 record=4", true,
         Writes(3, 3, true) << "WriteTableRecord table 1 record 4", Refusal(), 0, 0},
        {"write: sales of item 4", "refuse 3 code=20 record=4", true, Writes(3, 4, true), Refusal(), 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        reg.ClearFaults();
        AddFault(c.Fault);
        reg.ClearRequests();
        job.Lines.clear();
        const TArrayOfByte fourBefore = Stored(4);
        if (c.Write) {
            QString error;
            EXPECT_TRUE(GoodsWriteJob(job, Rows(3, 6), true, nullptr, {}, error));
            ASSERT_EQ(job.Lines.size(), 3) << Text(job.Lines);
            EXPECT_EQ(job.Lines, (QStringList{kWriteStart, job.Lines[1], kWriteDone}));
            EXPECT_TRUE(job.Lines[1].startsWith(c.Error)) << Text(job.Lines);
            EXPECT_EQ(Stored(3), Encoded(Rows(3, 3).Rows[0]));
            if (c.Fault.contains(QLatin1String("code=14"))) {
                EXPECT_EQ(Stored(4), fourBefore);
            }
        } else {
            const TRead got = Read(3, 6);
            ASSERT_EQ(job.Lines.size(), 3) << Text(job.Lines);
            EXPECT_EQ(job.Lines, (QStringList{kReadStart, job.Lines[1], kReadDone}));
            EXPECT_TRUE(job.Lines[1].startsWith(c.Error)) << Text(job.Lines);
            ASSERT_FALSE(got.Records.empty());
            EXPECT_EQ(got.Records.rbegin()->first, c.LastRecord);
            EXPECT_EQ(got.Sales.rbegin()->first, c.LastSales);
        }
        EXPECT_EQ(Requests(), c.Requests) << Text(Requests());
    }
}

TEST_F(GoodsJobs, RowThatCannotBeEncodedEndsTheWriteWithoutTheDoneLine)
{
    TGoodsRows rows = Rows(3, 5);
    // Three decimals: only an import brings them into a price cell. The
    // barcode before it is empty and takes its default.
    rows.Rows[1] = Row(4, QStringLiteral("Соль"), QString(), QString(), QStringLiteral("1.234"), GoodsNo);
    std::map<int, TGoodsRow> shown;
    QString error;
    EXPECT_FALSE(GoodsWriteJob(job, rows, true, nullptr,
                               [&](int item, const TGoodsRow& row, const std::array<bool, 7>&) {
                                   shown[item] = row;
                               },
                               error));
    EXPECT_TRUE(error.contains(QStringLiteral("1.234"))) << error.toStdString();
    // The items before it are written, this one and the rest are not.
    EXPECT_EQ(Requests(), Writes(3, 3, true)) << Text(Requests());
    EXPECT_EQ(job.Lines, QStringList{kWriteStart}) << Text(job.Lines);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown.at(4)[2], QStringLiteral("0000000000000"));
}

// ---------------------------------------------------------------------------
// CSV import: no register involved.

TEST(GoodsCsvJobs, ImportEndsWithTheRightLines)
{
    struct TCase {
        const char* Name;
        QByteArray File;
        QStringList Lines; // "box: " is the rejected field's message
        QList<int> Items;  // lines whose cells were given
        bool Failed;
    };
    const QString start = QStringLiteral("Выполняется импорт данных...");
    const QString done = QStringLiteral("Импорт данных завершен.");
    const TCase cases[] = {
        {"two lines", ToCp1251(QStringLiteral("1;Хлеб;;;;ДА;2\r\n2;Соль\r\n")), {start, done}, {1, 2}, false},
        {"rejected section", ToCp1251(QStringLiteral("1;Хлеб\r\n2;Соль;;17;;;\r\n3;Чай\r\n")),
         {start, "box: Номер отдела не может иметь значение больше 16!", "! Ошибка в записи № 2"},
         {1, 2},
         false},
        {"item outside the list", "1;a\r\n10000;b\r\n2;c\r\n", {start, "! Ошибка в записи № 10000"}, {1}, false},
        {"not a number", "1;a\r\nx;b\r\n", {start}, {1}, true},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TOmvekCP unused;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = dir.filePath(QStringLiteral("in.csv"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(c.File), c.File.size());
        file.close();
        TJobRecorder job(unused);
        QList<int> items;
        const TFileJobResult result = GoodsCsvImportJob(
            job, path, [&](const TImportLine& line) { items << line.Item; },
            [&](const QString& message) { job.Lines << QStringLiteral("box: ") + message; });
        EXPECT_EQ(job.Lines, c.Lines) << Text(job.Lines);
        EXPECT_EQ(items, c.Items);
        EXPECT_EQ(result.Failed, c.Failed) << result.Error.toStdString();
    }
}

} // namespace
