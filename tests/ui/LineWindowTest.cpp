// The window against a register on a port named by KKM_LINE_PORT (a COM
// port under Wine, an emulator's published port on Linux): connect, the information page, the
// authorisation, goods 1 to 100 read, one settings table written. The
// journal's texts go to the file KKM_LINE_JOURNAL, so that a script can
// set the Windows build's beside the Linux one's. Run by
// tools/test-windows-line.sh, not by ctest: it needs a register set up.
#include "UiTestSupport.h"
#include "uMainForm.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
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
    QVERIFY(ConnectThroughDialog(main, port));
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

    QStringList texts = JournalTexts(main.re_LogOut);
    std::reverse(texts.begin(), texts.end()); // oldest first
    QFile out(qEnvironmentVariable("KKM_LINE_JOURNAL"));
    QVERIFY2(out.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(out.fileName()));
    out.write((texts.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
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
