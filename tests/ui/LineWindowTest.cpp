// The window against a register on a port named by KKM_LINE_PORT (a COM
// port under Wine, an emulator's published port on Linux): connect, the information page, the
// authorisation, goods 1 to 100 read, one settings table written. The
// journal's texts go to the file KKM_LINE_JOURNAL, so that a script can
// set the Windows build's beside the Linux one's. Run by
// tools/test-windows-line.sh, not by ctest: it needs a register set up.
#include "UiTestSupport.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include <algorithm>

class LineWindowTest : public QObject {
    Q_OBJECT

private slots:
    void connectReadAndWrite();
};

void LineWindowTest::connectReadAndWrite()
{
    const QString port = qEnvironmentVariable("KKM_LINE_PORT");
    if (port.isEmpty())
        QSKIP("KKM_LINE_PORT names no port");
    TWindows w = CreateWindows();
    TMainForm& main = *w.Main;
    // The journal is kept however the test ends: a failure's journal says
    // what the register answered.
    QFile journal(qEnvironmentVariable("KKM_LINE_JOURNAL"));
    auto writeJournal = [&main, &journal] {
        QStringList texts = JournalTexts(main.re_LogOut);
        std::reverse(texts.begin(), texts.end()); // oldest first
        const QByteArray bytes = (texts.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
        return journal.open(QIODevice::WriteOnly | QIODevice::Truncate) && journal.write(bytes) == bytes.size();
    };
    auto keepJournal = qScopeGuard([&writeJournal] { writeJournal(); });
    // The register's answers are what is compared here, not their speed:
    // under Wine the port is polled, and on a loaded machine an answer can
    // come later than the window's own 200 ms, which would put a time-out
    // into one journal and not the other.
    main.Session->SetTimeOut(3000);

    // The dialog lists the ports the system lists; a port missing there
    // cannot be chosen, and the test says so rather than connecting to none.
    QStringList listed;
    for (int i = 0; i < w.Connect->cb_Port->count(); ++i)
        listed << w.Connect->cb_Port->itemText(i);
    QVERIFY2(listed.contains(port), qPrintable(QStringLiteral("%1 is not among the listed ports: %2")
                                                   .arg(port, listed.join(QLatin1Char(' ')))));
    {
        TModalDriver driver;
        ChooseAndConnect(driver, port);
        main.mm_c_connect->trigger();
        QVERIFY2(driver.Done(), "the connect dialog was not answered");
        QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join(QStringLiteral("; "))));
        QCOMPARE(main.WorkMode, TMainForm::wmReadOnly);
        QVERIFY(WaitIdle(main));
    }
    main.ts_Information->b_infoRefresh->click();
    QVERIFY(WaitIdle(main));
    QVERIFY(AuthoriseThroughDialog(main, 0, QStringLiteral("1")));

    main.PageControl->setCurrentIndex(TMainForm::pgGoods);
    main.ts_Goods->ed_GoodsStart->setText(QStringLiteral("1"));
    main.ts_Goods->ed_GoodsEND->setText(QStringLiteral("100"));
    main.si_ReadTableFromKKMClick();
    QVERIFY(WaitIdle(main));

    main.PageControl->setCurrentIndex(TMainForm::pgKKMOptions);
    main.ts_KKMOptions->pc_Options->setCurrentIndex(0);
    main.si_ReadTableFromKKMClick();
    QVERIFY(WaitIdle(main));
    main.si_WriteTableToKKMClick();
    QVERIFY(WaitIdle(main));
    keepJournal.dismiss();
    QVERIFY2(writeJournal(), qPrintable(journal.fileName()));
}

// Not the window tests' usual main: the port's emulator publishes where the
// environment says, not in a folder of the test's own.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    LineWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "LineWindowTest.moc"
