// Goods CSV export and import of all 9999 items through the real main window
// on Qt's offscreen platform: the file dialog answered by a driver, the
// file read or written by a job while the window fills the grid. Prints the time of each run from
// the dialog's acceptance to the completion line, and the whole command.
#include "UiTestSupport.h"
#include "uMainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct TTimes {
    double Transfer = 0; // ms from the dialog's acceptance to the end
    double Command = 0;  // ms of the whole command, dialog included
};

// Runs one command; the dialog chooses Path.
TTimes RunOnce(TMainForm& m, bool import, const QString& path)
{
    TModalDriver driver;
    QElapsedTimer clock;
    qint64 accepted = -1;
    driver.OnDialog<QFileDialog>([&](QFileDialog* d) {
        QObject::connect(d, &QDialog::accepted, d, [&] { accepted = clock.nsecsElapsed(); },
                         Qt::SingleShotConnection);
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    });
    clock.start();
    if (import)
        m.si_ImportClick();
    else
        m.si_ExportClick();
    // The command starts a job on the session's worker; it ends with it.
    const bool ended = WaitIdle(m, 600 * 1000);
    const qint64 end = clock.nsecsElapsed();
    if (!ended || !driver.Done() || !driver.Unexpected.isEmpty() || accepted < 0) {
        std::fprintf(stderr, "the dialog was not answered\n");
        std::exit(1);
    }
    return {double(end - accepted) / 1e6, double(end) / 1e6};
}

void Print(const char* what, std::vector<TTimes> runs)
{
    std::sort(runs.begin(), runs.end(), [](const TTimes& a, const TTimes& b) { return a.Transfer < b.Transfer; });
    const TTimes& median = runs[runs.size() / 2];
    std::printf("%-8s 9999 rows: transfer median %7.1f ms (min %7.1f, max %7.1f), %5.1f us/row; "
                "whole command median %7.1f ms\n",
                what, median.Transfer, runs.front().Transfer, runs.back().Transfer,
                median.Transfer * 1000.0 / 9999, median.Command);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir portDir;
    if (qEnvironmentVariableIsEmpty("KKM_EMULATOR_DIR"))
        qputenv("KKM_EMULATOR_DIR", portDir.path().toLocal8Bit());
    QApplication app(argc, argv);
    QTemporaryDir dir;

    TMainForm m;
    m.show();
    m.PageControl->setCurrentIndex(TMainForm::pgGoods);
    QApplication::processEvents();
    for (int item = 1; item <= 9999; ++item) {
        const QString n = QString::number(item);
        m.ts_Goods->SetCell(1, item, QStringLiteral("Товар номер ") + n + QStringLiteral(" с длинным именем"));
        m.ts_Goods->SetCell(2, item, QStringLiteral("460000") + n.rightJustified(7, u'0'));
        m.ts_Goods->SetCell(3, item, QString::number(item % 16 + 1));
        m.ts_Goods->SetCell(4, item, QString::number(item) + QStringLiteral(".50"));
        m.ts_Goods->SetFractional(item, item % 2);
        m.ts_Goods->SetCell(6, item, QStringLiteral("12.345"));
    }
    m.ts_Goods->ed_GoodsStart->setText(QStringLiteral("1"));
    m.ts_Goods->ed_GoodsEND->setText(QStringLiteral("9999"));

    const int runs = 7;
    std::vector<TTimes> exports;
    std::vector<TTimes> imports;
    for (int i = 0; i < runs; ++i) {
        const QString path = dir.filePath(QStringLiteral("goods%1.csv").arg(i));
        exports.push_back(RunOnce(m, false, path));
        imports.push_back(RunOnce(m, true, path));
    }
    std::printf("file: %lld bytes\n", static_cast<long long>(QFile(dir.filePath("goods0.csv")).size()));
    Print("export", exports);
    Print("import", imports);
    return 0;
}
