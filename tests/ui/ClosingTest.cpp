// Closing the program in the middle of a long transfer: the window closed as
// the window manager closes it, "Выход" from the menu, or the window
// destroyed outright, while goods are read or written, a logo goes up, an
// imported CSV is written or the operators are written. Against the register
// emulator on a pseudo-terminal, through the real serial code and the real
// dialogs.
//
// Each case checks that the transfer ends at once, that the port is closed
// and the register sees the line go, that no request leaves after the close,
// that the register holds exactly what reached it before, and that the
// window then goes away without a crash.
#include "Cp1251.h"
#include "GoodsCsv.h"
#include "GoodsModel.h"
#include "LogoTestFiles.h"
#include "PtyRegister.h"
#include "SettingsCodecs.h"
#include "SettingsMap.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uGoodsPage.h"
#include "uMainForm.h"
#include "uSettingsPage.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <memory>
#include <utility>

using namespace kkm::emu;
using namespace std::chrono_literals;

namespace {

constexpr int colItem = TGoodsPage::colItem;
constexpr int colName = TGoodsPage::colName;
constexpr int colBarcode = TGoodsPage::colBarcode;
constexpr int colSection = TGoodsPage::colSection;
constexpr int colPrice = TGoodsPage::colPrice;
constexpr int colFractional = TGoodsPage::colFractional;
constexpr int colSales = TGoodsPage::colSales;

enum TTransfer { trGoodsRead, trGoodsWrite, trLogo, trCsvImportWrite, trOperatorsWrite };
enum TCloseBy { cbWindowClose, cbMenuExit, cbDestroy };

// Not a test of time-outs: a busy machine must not end a command early.
constexpr std::uint32_t kTimeOut = 10000;
constexpr int kOperatorsPage = 7;
constexpr int kOperatorRows = 7;

const QString kPortClosed = QStringLiteral("Порт не открыт.");
const QString kLineLost = QStringLiteral("Связь с ККМ потеряна: порт закрыт.");

// "WriteTableRecord table 1 record 5", without the PID and the bytes.
QString Describe(const RequestRecord& r)
{
    QString d = QString::fromStdString(DescribeRequest(r.Body));
    d = d.mid(d.indexOf(QLatin1Char(' '), 4) + 1);
    const int colon = d.indexOf(QLatin1Char(':'));
    return colon < 0 ? d : d.left(colon);
}

// Item's row as a person would type it, different for every item and tag.
TGoodsRow GoodsRow(int item, const QString& tag)
{
    TGoodsRow row;
    row[colItem] = QString::number(item);
    row[colName] = tag + QLatin1Char(' ') + QString::number(item);
    row[colBarcode] = QStringLiteral("46%1").arg(item, 11, 10, QLatin1Char('0'));
    row[colSection] = QString::number(item % 16 + 1);
    row[colPrice] = QStringLiteral("%1.%2").arg(item).arg(item % 100, 2, 10, QLatin1Char('0'));
    row[colFractional] = item % 2 ? GoodsYes : GoodsNo;
    row[colSales] = QStringLiteral("0");
    return row;
}

TArrayOfByte GoodsRecord(TGoodsRow row)
{
    TArrayOfByte bytes;
    QString error;
    if (!EncodeGoodsRecord(row, bytes, error))
        qFatal("goods fixture not encodable: %s", qPrintable(error));
    return bytes;
}

TArrayOfByte Text(const QString& text, int width)
{
    const QByteArray b = ToCp1251(text).leftJustified(width, ' ', true);
    return TArrayOfByte(b.begin(), b.end());
}

QString OperatorName(int row)
{
    return QStringLiteral("Закрытие %1").arg(row);
}

} // namespace

class ClosingTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void closeDuringTransfer_data();
    void closeDuringTransfer();

private:
    void ConnectAndAuthorise();
    // Brings the transfer's page in front with its data; the register's
    // state is noted afterwards.
    void Prepare(TTransfer transfer);
    void ShowGoods();
    void ImportCsv();
    void LoadLogo();
    // Presses the transfer's button on the speed bar, once it is available.
    void Start(TTransfer transfer);
    // The register as it must stand when the requests in the log (and no
    // others) have reached it since the transfer started.
    RegisterState Expected(TTransfer transfer, const std::vector<RequestRecord>& requests) const;

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<PtyRegister> reg_;
    std::unique_ptr<TWindows> windows_;
    TMainForm* Main() const { return windows_->Main.get(); }
    RegisterState before_;
};

void ClosingTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    reg_ = std::make_unique<PtyRegister>();
    PtyRegister::Options options;
    options.LogSink = [](const std::string&) {}; // "the client closed the line"
    QString error;
    QVERIFY2(reg_->Start(options, &error), qPrintable(error));
    // Every answer takes a few milliseconds, so that the transfer running on
    // the worker is still under way when the window, which watches the
    // register's count of requests, closes.
    reg_->SetThinkTime(5);
    // The port list is read when the connect dialog is created.
    windows_ = std::make_unique<TWindows>(CreateWindows());
    Main()->Session->SetTimeOut(kTimeOut);
    QVERIFY(windows_->Connect->cb_Port->findText(reg_->PublishedPath()) >= 0);
}

void ClosingTest::cleanup()
{
    windows_.reset();
    reg_.reset();
    dir_.reset();
}

void ClosingTest::ConnectAndAuthorise()
{
    QVERIFY(ConnectThroughDialog(*Main(), reg_->PublishedPath()));
    QVERIFY(AuthoriseThroughDialog(*Main()));
}

void ClosingTest::ShowGoods()
{
    Main()->eb_Goods->click();
    QCOMPARE(Main()->ActivePage(), int(TMainForm::pgGoods));
    Main()->ts_Goods->ed_GoodsStart->setText(QStringLiteral("1"));
    Main()->ts_Goods->ed_GoodsEND->setText(QString::number(GoodsItemCount));
}

void ClosingTest::ImportCsv()
{
    QByteArray csv;
    for (int item = 1; item <= GoodsItemCount; ++item)
        csv += FormatGoodsCsvLine(GoodsRow(item, QStringLiteral("Импорт")));
    const QString path = dir_->filePath(QStringLiteral("goods.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();

    TModalDriver driver;
    AnswerFileDialog(driver, path);
    QVERIFY(SpinUntil([&] { return Main()->si_Import->isEnabled(); }));
    Main()->si_Import->click();
    QVERIFY(WaitIdle(*Main()));
    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QCOMPARE(JournalTexts(Main()->re_LogOut).value(0), QStringLiteral("Импорт данных завершен."));
    QCOMPARE(Main()->ts_Goods->Cell(colName, GoodsItemCount), QStringLiteral("Импорт 9999"));
}

void ClosingTest::LoadLogo()
{
    Main()->eb_Logo->click();
    // The whole 384 x 255 picture: a header and 255 rows of 48 bytes.
    const QString path = WriteBmp(*dir_, QStringLiteral("logo.bmp"), 384, 255, [](int x, int y) {
        return (x * 7 + y * 3) % 11 < 5 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    });
    QVERIFY(!path.isEmpty());
    TModalDriver driver;
    AnswerFileDialog(driver, path);
    QVERIFY(SpinUntil([&] { return Main()->si_Import->isEnabled(); }));
    Main()->si_Import->click();
    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QVERIFY(!Main()->ts_Logo->SourcePicture.IsEmpty());
    QCOMPARE(Main()->ts_Logo->CopyRect.Bottom - Main()->ts_Logo->CopyRect.Top + 1, 255);
}

void ClosingTest::Prepare(TTransfer transfer)
{
    switch (transfer) {
    case trGoodsRead:
        reg_->WithModel([](RegisterModel& m) {
            for (int item = 1; item <= GoodsItemCount; ++item) {
                m.Record(1, item) = GoodsRecord(GoodsRow(item, QStringLiteral("Склад")));
                m.SetSales(item, item * 10);
            }
        });
        ShowGoods();
        break;
    case trGoodsWrite: {
        ShowGoods();
        TGoodsPage* page = Main()->ts_Goods;
        page->GoodsModel->BeginUpdate();
        for (int item = 1; item <= GoodsItemCount; ++item) {
            const TGoodsRow row = GoodsRow(item, QStringLiteral("Правка"));
            for (int c = colName; c <= colFractional; ++c)
                page->SetCell(c, item, row[static_cast<std::size_t>(c)]);
            Main()->ts_Goods->GoodsItemFlags[static_cast<std::size_t>(item - 1)] = row[colFractional] == GoodsYes;
        }
        page->GoodsModel->EndUpdate();
        break;
    }
    case trLogo:
        LoadLogo();
        break;
    case trCsvImportWrite:
        ShowGoods();
        ImportCsv();
        break;
    case trOperatorsWrite: {
        Main()->eb_KKMOptions->click();
        Main()->ts_KKMOptions->pc_Options->setCurrentIndex(kOperatorsPage);
        // Read first: the posts and rights go back as they were.
        QVERIFY(SpinUntil([&] { return Main()->si_ReadTableFromKKM->isEnabled(); }));
        Main()->si_ReadTableFromKKM->click();
        QVERIFY(WaitIdle(*Main()));
        QCOMPARE(JournalTexts(Main()->re_LogOut).value(0),
                 QStringLiteral("Чтение таблицы операторов завершено."));
        for (int row = 1; row <= kOperatorRows; ++row)
            Main()->ts_KKMOptions->SetOperatorsCell(1, row, OperatorName(row));
        break;
    }
    }
}

void ClosingTest::Start(TTransfer transfer)
{
    QToolButton* button = transfer == trGoodsRead ? Main()->si_ReadTableFromKKM : Main()->si_WriteTableToKKM;
    QVERIFY(SpinUntil([&] { return button->isEnabled(); }));
    button->click();
}

RegisterState ClosingTest::Expected(TTransfer transfer, const std::vector<RequestRecord>& requests) const
{
    RegisterState expected = before_;
    switch (transfer) {
    case trGoodsRead:
    case trLogo: // a logo counts only once its last row is in
        break;
    case trGoodsWrite:
    case trCsvImportWrite: {
        const QString tag = transfer == trGoodsWrite ? QStringLiteral("Правка") : QStringLiteral("Импорт");
        // Written whole, item by item from 1.
        for (std::size_t i = 0; i < requests.size(); ++i)
            expected.Tables[0][i] = GoodsRecord(GoodsRow(static_cast<int>(i) + 1, tag));
        break;
    }
    case trOperatorsWrite:
        // Post and rights go back as read; a name changes once its own field
        // has been written.
        for (const RequestRecord& r : requests) {
            const QStringList d = Describe(r).split(QLatin1Char(' '));
            if (d.value(6) == QLatin1String("1")) {
                const int row = d.value(4).toInt();
                const TArrayOfByte name = Text(OperatorName(row), 32);
                std::copy(name.begin(), name.end(), expected.Tables[8][static_cast<std::size_t>(row - 1)].begin());
            }
        }
        break;
    }
    return expected;
}

void ClosingTest::closeDuringTransfer_data()
{
    QTest::addColumn<int>("transfer");
    QTest::addColumn<int>("closeBy");
    QTest::addColumn<int>("closeAfter"); // requests the register has received
    QTest::addColumn<QString>("request"); // what every request of it is, "%1" the item or row
    QTest::addColumn<int>("total");       // requests of the whole transfer

    const struct {
        const char* name;
        TTransfer transfer;
        int closeAfter;
        QString request;
        int total;
    } transfers[] = {
        {"goods read", trGoodsRead, 41, QString(), 2 * GoodsItemCount},
        {"goods write", trGoodsWrite, 40, QStringLiteral("WriteTableRecord table 1 record %1"), GoodsItemCount},
        {"logo upload", trLogo, 30, QString(), 256},
        {"csv import, then goods write", trCsvImportWrite, 40,
         QStringLiteral("WriteTableRecord table 1 record %1"), GoodsItemCount},
        {"operators write", trOperatorsWrite, 5, QString(), 3 * kOperatorRows},
    };
    for (const auto& t : transfers) {
        QTest::addRow("%s, window closed", t.name) << int(t.transfer) << int(cbWindowClose) << t.closeAfter
                                                   << t.request << t.total;
        QTest::addRow("%s, menu exit", t.name) << int(t.transfer) << int(cbMenuExit) << t.closeAfter
                                               << t.request << t.total;
        QTest::addRow("%s, window destroyed", t.name) << int(t.transfer) << int(cbDestroy)
                                                      << t.closeAfter << t.request << t.total;
    }
}

void ClosingTest::closeDuringTransfer()
{
    QFETCH(int, transfer);
    QFETCH(int, closeBy);
    QFETCH(int, closeAfter);
    QFETCH(QString, request);
    QFETCH(int, total);
    const TTransfer t = static_cast<TTransfer>(transfer);

    ConnectAndAuthorise();
    Prepare(t);
    if (QTest::currentTestFailed())
        return;
    before_ = reg_->WithModel([](RegisterModel& m) { return m.State(); });
    const int logoRowsBefore = reg_->WithModel([](RegisterModel& m) { return m.LogoRowsReceived(); });
    const std::uint64_t logosBefore = reg_->WithModel([](RegisterModel& m) { return m.LogosCompleted(); });
    const int journalBefore = int(JournalEntries(Main()->re_LogOut).size());
    const std::uint8_t pidAtStart = Main()->Session->Protokol()->PID();
    reg_->ClearRequests();

    // Closes the window as soon as the register has had closeAfter requests
    // of the transfer. A zero timer runs on every pass of the event loop
    // while the transfer's job runs on, so the close lands between two
    // requests, or while one waits for its answer.
    bool closed = false;
    bool closedWhileBusy = false;
    std::uint8_t pidAtClose = 0;
    QElapsedTimer sinceClose;
    QTimer closer;
    closer.setInterval(0);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (reg_->RequestCount() < std::size_t(closeAfter))
            return;
        closer.stop();
        closedWhileBusy = Main()->Busy();
        sinceClose.start();
        if (closeBy == cbMenuExit) {
            Main()->mm_f_exit->trigger();
        } else if (closeBy == cbWindowClose) {
            Main()->close();
        } else {
            windows_->Main.reset();
            closed = true;
            return;
        }
        // Once closed, no request is built any more.
        pidAtClose = Main()->Session->Protokol()->PID();
        closed = true;
    });
    // Closing asks nothing: any box now is a fault.
    TModalDriver boxes(5000);
    closer.start();
    Start(t);
    QVERIFY(SpinUntil([&] { return closed; }, 120000));
    closer.stop();

    QVERIFY2(closedWhileBusy, "the transfer ended before the close");
    QVERIFY2(boxes.Unexpected.isEmpty(), qPrintable(boxes.Unexpected.join('\n')));
    if (closeBy == cbDestroy) {
        // The job ended with the window and took the port with it.
        QVERIFY(reg_->WaitForClientCloses(1, 30s));
        QVERIFY(reg_->WaitLineIdle(30s));
        const std::vector<RequestRecord> requests = reg_->Requests();
        QVERIFY(int(requests.size()) >= closeAfter);
        QVERIFY(int(requests.size()) < total);
        for (std::size_t i = 0; i < requests.size(); ++i) {
            QVERIFY2(requests[i].Valid, requests[i].Problem.c_str());
            QCOMPARE(int(requests[i].Body.at(2)), int(std::uint8_t(pidAtStart + i)));
        }
        const std::size_t count = reg_->RequestCount();
        QVERIFY(!SpinUntil([&] { return reg_->RequestCount() != count; }, 300));
        const RegisterState after = reg_->WithModel([](RegisterModel& m) { return m.State(); });
        QVERIFY(after == Expected(t, requests));
        QCOMPARE(reg_->ClientCloses(), std::uint64_t(1));
        return;
    }
    // The job came back as soon as its command found the port closed, not
    // after a command's time-out.
    QVERIFY(WaitIdle(*Main()));
    const qint64 jobAfterClose = sinceClose.elapsed();
    QVERIFY2(jobAfterClose < qint64(kTimeOut), qPrintable(QString::number(jobAfterClose)));
    QVERIFY(!Main()->isVisible());
    QVERIFY(!Main()->Session->PortOpened());
    QCOMPARE(Main()->Session->Protokol()->PID(), pidAtClose); // no request built after the close

    // The register sees the line go. Everything the program wrote before the
    // close has been read by then: the pty hands over its data before it
    // reports the hang-up.
    QVERIFY(reg_->WaitForClientCloses(1, 30s));
    QVERIFY(reg_->WaitLineIdle(30s));
    const std::vector<RequestRecord> requests = reg_->Requests();
    QVERIFY(!requests.empty());
    QVERIFY(int(requests.size()) >= closeAfter);
    QVERIFY(int(requests.size()) < total);
    // The newest request is the last one the program built before the close,
    // and every one it built since the start arrived, once, in order.
    QCOMPARE(int(requests.back().Body.at(2)), int(std::uint8_t(pidAtClose - 1)));
    QCOMPARE(int(requests.size() % 256), int(std::uint8_t(pidAtClose - pidAtStart)));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        QVERIFY2(requests[i].Valid, requests[i].Problem.c_str());
        QCOMPARE(int(requests[i].Body.at(2)), int(std::uint8_t(pidAtStart + i)));
        if (!request.isEmpty())
            QCOMPARE(Describe(requests[i]), request.arg(i + 1));
    }
    // Nothing more comes. The port is closed, so this shows only that no
    // request was still on its way; later ones could not be written at all.
    const std::size_t count = reg_->RequestCount();
    QVERIFY(!SpinUntil([&] { return reg_->RequestCount() != count; }, 300));

    // The register holds what reached it, every record whole.
    const RegisterState after = reg_->WithModel([](RegisterModel& m) { return m.State(); });
    QVERIFY(after == Expected(t, requests));
    if (t == trLogo) {
        QCOMPARE(Describe(requests[0]).section(QLatin1Char(' '), 0, 0), QStringLiteral("SendLogoHeader"));
        const auto [rows, logos] = reg_->WithModel([](RegisterModel& m) {
            return std::pair(m.LogoRowsReceived(), m.LogosCompleted());
        });
        QCOMPARE(logos, logosBefore); // no picture made of half the rows
        QCOMPARE(rows, int(requests.size()) - 1);
        Q_UNUSED(logoRowsBefore);
    }
    if (t == trGoodsRead) {
        // Items whose two requests were answered are shown whole; the one
        // being read may lack its sales; none after it was touched.
        const int busy = int(requests.size() + 1) / 2;
        const TGoodsPage* page = Main()->ts_Goods;
        for (int item = 1; item < busy; ++item) {
            QCOMPARE(page->Cell(colName, item).trimmed(), GoodsRow(item, QStringLiteral("Склад"))[colName]);
            QCOMPARE(page->Cell(colSales, item), GoodsSalesText(TCurrency::FromThousandths(item * 10)));
        }
        for (int item = busy + 1; item <= busy + 3; ++item)
            QCOMPARE(page->Cell(colName, item), QString());
    }

    // The transfer stopped at the first command refused for the closed port.
    const QList<TLogEntry> log = JournalEntries(Main()->re_LogOut);
    int refused = 0;
    for (int i = 0; i < int(log.size()) - journalBefore; ++i) {
        QVERIFY(log[i].Text != kLineLost);
        if (log[i].Text.endsWith(kPortClosed)) {
            ++refused;
            QCOMPARE(log[i].TextColor, QColor(clRed));
        }
    }
    QCOMPARE(refused, 1);

    // The window goes after its job, as it does when the event loop ends.
    windows_->Main.reset();
    QCOMPARE(reg_->ClientCloses(), std::uint64_t(1));
}

KKM_WINDOW_TEST_MAIN(ClosingTest)
#include "ClosingTest.moc"
