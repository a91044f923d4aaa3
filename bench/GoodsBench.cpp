// The goods list read and written through the window's commands (a job on
// the session's worker, the grid filling from its reports), against a register emulator in this process on a pseudo-terminal,
// the window rendered on Qt's offscreen platform. Prints:
//   - unpaced: exchanges per second of the read and of the write;
//   - for comparison, both figures for the same exchanges sent straight
//     through the protocol component, without the goods job and the window;
//   - resident memory after the whole list was read (VmRSS, VmHWM; the
//     emulator and its request log live in the same process);
//   - paced at BAUD: elapsed time over the time the bytes of the requests and
//     the answers need on such a line (the emulator paces both directions).
// Figures only; nothing passes or fails.
//
//   goods_bench [FIRST..LAST] [BAUD]     (default 1..9999 115200)
#include "PtyRegister.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QApplication>

#include <chrono>

#include <vector>

#include <algorithm>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <cstdio>
#include <string>

using namespace kkm::emu;

namespace {

QString ProcStatus(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return QString::fromLatin1(line.mid(int(qstrlen(key)))).simplified();
    return QStringLiteral("?");
}

// Every item gets a name, barcode, price and sales, so that every cell of
// the grid holds text after the read.
void FillGoods(PtyRegister& reg)
{
    reg.WithModel([](RegisterModel& m) {
        for (int item = 1; item <= GoodsCount; ++item) {
            TArrayOfByte& r = m.Record(kkm::emu::GoodsTable, item);
            PutText(r, 0, 32, "Goods item " + std::to_string(item));
            PutBcd(r, 32, 7, 4600000000000ULL + static_cast<std::uint64_t>(item));
            r[39] = static_cast<std::uint8_t>(item % 16 + 1);
            PutBcd(r, 40, 5, 100u + static_cast<std::uint64_t>(item) * 7u);
            r[45] = item % 3 == 0 ? 1 : 0;
            m.SetSales(item, item * 125);
        }
    });
}

int RedLines(TMainForm& m)
{
    int n = 0;
    for (const TLogEntry& e : JournalEntries(m.re_LogOut))
        n += e.TextColor == QColor(clRed);
    return n;
}

struct TRun {
    double Seconds = 0;
    std::size_t Exchanges = 0;
    std::size_t Bytes = 0; // requests and answers as on the line
    bool Clean = true;     // every request answered, no journal error
    // The client's idle gap per exchange as the emulator saw it: from the
    // last byte of an answer written to the first byte of the next request.
    std::vector<double> GapsUs;
};

void CountGaps(TRun& run, const std::vector<RequestRecord>& requests)
{
    for (const RequestRecord& r : requests)
        if (r.LineQuietSince)
            run.GapsUs.push_back(std::chrono::duration<double, std::micro>(r.Started - *r.LineQuietSince).count());
    std::sort(run.GapsUs.begin(), run.GapsUs.end());
}

double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()))];
}

TRun Run(TMainForm& m, PtyRegister& reg, bool write)
{
    reg.ClearRequests();
    const int redBefore = RedLines(m);
    QElapsedTimer timer;
    timer.start();
    write ? m.si_WriteTableToKKMClick() : m.si_ReadTableFromKKMClick();
    // The command starts a job; the run ends with the job.
    const bool ended = WaitJobEnd(m, 3600 * 1000);
    TRun run;
    run.Clean = ended;
    run.Seconds = timer.nsecsElapsed() / 1e9;
    const std::vector<RequestRecord> requests = reg.Requests();
    for (const RequestRecord& r : requests) {
        ++run.Exchanges;
        run.Bytes += r.Wire.size() + r.Answer.size();
        if (r.Answer.empty() || !r.Problem.empty())
            run.Clean = false;
    }
    CountGaps(run, requests);
    if (RedLines(m) != redBefore)
        run.Clean = false;
    return run;
}

// The same exchanges as the goods read, record and sales per item, straight
// through the protocol component in one job on the session's worker: what
// the line and the serial code cost without the goods job and the window.
TRun Baseline(TMainForm& m, PtyRegister& reg, int first, int last)
{
    reg.ClearRequests();
    QElapsedTimer timer;
    timer.start();
    TRun run;
    bool clean = true;
    m.Session->Start([&clean, first, last](kkm::TJobContext& job) {
        TOmvekCP& p = job.Protokol();
        for (int item = first; item <= last; ++item) {
            TArrayOfByte record;
            TCurrency sales;
            if (p.ReadTableRecord(kkm::RegisterAddress, kkm::PcAddress, 1, static_cast<std::uint16_t>(item), record) != 0
                || p.ReadGoodsSales(kkm::RegisterAddress, kkm::PcAddress, static_cast<std::uint16_t>(item), sales) != 0)
                clean = false;
        }
    });
    run.Clean = WaitJobEnd(m, 3600 * 1000) && clean;
    run.Seconds = timer.nsecsElapsed() / 1e9;
    const std::vector<RequestRecord> requests = reg.Requests();
    for (const RequestRecord& r : requests) {
        ++run.Exchanges;
        run.Bytes += r.Wire.size() + r.Answer.size();
    }
    CountGaps(run, requests);
    return run;
}

void PrintUnpaced(const char* what, const TRun& r, bool goal = true)
{
    std::printf("unpaced %-14s %6zu exchanges in %7.3f s: %8.0f exchanges/s%s%s\n", what, r.Exchanges,
                r.Seconds, r.Exchanges / r.Seconds, goal ? " (goal >= 10000)" : "", r.Clean ? "" : "  [errors]");
}

void PrintPaced(const char* what, const TRun& r, int baud, bool goal = true)
{
    const double line = r.Bytes * 10.0 / baud;
    std::printf("%d baud %-14s %6zu exchanges, %8zu bytes: line %8.3f s, elapsed %8.3f s, ratio %.4f%s%s\n",
                baud, what, r.Exchanges, r.Bytes, line, r.Seconds, r.Seconds / line, goal ? " (goal <= 1.02)" : "",
                r.Clean ? "" : "  [errors]");
    std::printf("%d baud %-14s idle gap per exchange (answer's last byte to the next request's first): "
                "median %.1f us, p99 %.1f us over %zu gaps (goal p99 <= 200 us)\n",
                baud, what, Percentile(r.GapsUs, 0.5), Percentile(r.GapsUs, 0.99), r.GapsUs.size());
}

} // namespace

int main(int argc, char** argv)
{
    // Each figure shows as soon as it is measured.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int first = 1;
    int last = GoodsCount;
    int baud = 115200;
    if (argc > 1) {
        const QString range = QString::fromLocal8Bit(argv[1]);
        if (range.contains(QStringLiteral(".."))) {
            first = range.section(QStringLiteral(".."), 0, 0).toInt();
            last = range.section(QStringLiteral(".."), 1).toInt();
        } else {
            last = range.toInt();
        }
    }
    if (argc > 2)
        baud = QString::fromLocal8Bit(argv[2]).toInt();
    if (first < 1 || last > GoodsCount || first > last || baud <= 0) {
        std::fprintf(stderr, "usage: goods_bench [FIRST..LAST] [BAUD]   (items 1..9999)\n");
        return 2;
    }

    PtyRegister reg;
    PtyOptions options;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg.Start(options, &error)) {
        std::fprintf(stderr, "emulator: %s\n", qPrintable(error));
        return 1;
    }
    FillGoods(reg);

    TMainForm mainForm;
    TConnectForm connectForm(&mainForm);
    TAuthForm authForm(&mainForm);
    mainForm.show();

    // The pacing holds a goods record's answer on the line for milliseconds;
    // the connect's own exchanges are paced too.
    mainForm.Session->SetTimeOut(2000);
    if (!ConnectThroughDialog(mainForm, reg.PublishedPath()) || !AuthoriseThroughDialog(mainForm)) {
        std::fprintf(stderr, "could not connect and authorise at %s\n", qPrintable(reg.PublishedPath()));
        return 1;
    }

    mainForm.eb_GoodsClick();
    SpinUntil([&] { return mainForm.ts_Goods->ed_GoodsStart->isVisible(); });
    mainForm.ts_Goods->ed_GoodsStart->setText(QString::number(first));
    mainForm.ts_Goods->ed_GoodsEND->setText(QString::number(last));
    // Two exchanges per item in the write as well.
    mainForm.ts_Goods->cb_QuantNull->setChecked(true);
    std::printf("items %d..%d, window %dx%d, page \"%s\"\n", first, last, mainForm.width(), mainForm.height(),
                qPrintable(mainForm.PageControl->currentWidget()->objectName()));

    PrintUnpaced("protocol alone", Baseline(mainForm, reg, first, last), false);
    PrintUnpaced("read", Run(mainForm, reg, false));
    std::printf("resident memory after the read: VmRSS %s, VmHWM %s (goal < 120 MB)\n",
                qPrintable(ProcStatus("VmRSS:")), qPrintable(ProcStatus("VmHWM:")));
    PrintUnpaced("write", Run(mainForm, reg, true));

    reg.SetBaud(baud);
    PrintPaced("protocol alone", Baseline(mainForm, reg, first, last), baud, false);
    PrintPaced("read", Run(mainForm, reg, false), baud);
    PrintPaced("write", Run(mainForm, reg, true), baud);
    std::printf("resident memory at the end: VmRSS %s, VmHWM %s\n", qPrintable(ProcStatus("VmRSS:")),
                qPrintable(ProcStatus("VmHWM:")));
    return 0;
}
