// The logo upload through the real window against an emulator in this
// process whose line is paced at 115200 baud: a 384 x 255 frame, header and
// 255 rows of 48 bytes. Prints the elapsed time of each upload beside the
// line time of the bytes it moved (requests and answers, 10 bits a byte)
// and their ratio. The upload runs as a job on the window's session; it
// ends when the window learns that the job has ended. Figures only; nothing
// here passes or fails.
//
//   logo_upload_bench [runs]     (default 5)
#include "LogoRows.h"
#include "LogoTestFiles.h"
#include "PtyRegister.h"
#include "TTrackBar.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uLogoPage.h"
#include "uMainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

using namespace kkm;
using namespace kkm::emu;

namespace {

constexpr int kBaud = 115200;
constexpr std::uint8_t kLogo = 7;

// CPU time of the calling thread, in seconds.
double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// CPU time of the session's worker so far, read by a job of its own.
double WorkerCpu(TMainForm& main)
{
    double cpu = -1;
    if (!main.Session->Start([&cpu](TJobContext&) { cpu = ThreadCpu(); }) || !WaitIdle(main, 120000))
        return -1;
    return cpu;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QTemporaryDir dir;
    PtyRegister reg;
    PtyRegister::Options options;
    options.Baud = kBaud;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg.Start(options, &error))
        return Fail(qPrintable(QStringLiteral("emulator: ") + error));

    TMainForm mainForm;
    TConnectForm connectForm(&mainForm);
    TAuthForm authForm(&mainForm);
    mainForm.Session->SetTimeOut(2000);
    mainForm.show();

    const QString picture = WriteBmp(dir, QStringLiteral("p.bmp"), 384, 255, [](int x, int y) {
        return (x * 7 + y * 3) % 11 < 5 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    });
    if (!ConnectThroughDialog(mainForm, reg.PublishedPath(), QString::number(kBaud)) ||
        !AuthoriseThroughDialog(mainForm))
        return Fail("could not connect and authorise");
    TModalDriver driver;
    AnswerFileDialog(driver, picture);
    mainForm.eb_Logo->click();
    mainForm.si_ImportClick();
    if (mainForm.ts_Logo->tb_width->value() != 384 || mainForm.ts_Logo->tb_height->value() != 255)
        return Fail("the picture did not load");
    SpinUntil([&] { return mainForm.si_WriteTableToKKM->isEnabled(); });

    std::printf("logo upload, 384 x 255 frame, emulator paced at %d baud, %d runs\n", kBaud, runs);
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        reg.ClearRequests();
        const std::uint64_t before = reg.WithModel([](RegisterModel& m) { return m.LogosCompleted(); });
        const double worker0 = WorkerCpu(mainForm);
        // The click only starts the job; the upload ends when the window
        // learns that it has ended (its last line is shown by then). The
        // wait is a plain event loop, so that the window thread's figure
        // holds what the upload costs it and no polling of the bench's own.
        QEventLoop wait;
        QElapsedTimer timer;
        double elapsed = -1;
        double cpu = 0;
        double cpu0 = 0;
        const QMetaObject::Connection ended =
            QObject::connect(mainForm.Session, &TSession::BusyChanged, &wait, [&](bool busy) {
                if (busy || elapsed >= 0)
                    return;
                elapsed = timer.nsecsElapsed() / 1e9;
                cpu = ThreadCpu() - cpu0;
                wait.quit();
            });
        QTimer::singleShot(120000, &wait, &QEventLoop::quit);
        timer.start();
        cpu0 = ThreadCpu();
        mainForm.si_WriteTableToKKMClick();
        if (mainForm.Busy())
            wait.exec();
        QObject::disconnect(ended);
        if (elapsed < 0 || !WaitIdle(mainForm))
            return Fail("the upload did not end");
        const double worker = WorkerCpu(mainForm) - worker0;
        if (reg.WithModel([](RegisterModel& m) { return m.LogosCompleted(); }) != before + 1)
            return Fail("the upload did not complete");

        std::size_t bytes = 0;
        std::size_t exchanges = 0;
        for (const RequestRecord& r : reg.Requests()) {
            if (r.Body.size() > 3 && r.Body[3] == kLogo) {
                bytes += r.Wire.size() + r.Answer.size();
                ++exchanges;
            }
        }
        const double line = bytes * 10.0 / kBaud;
        const double ratio = elapsed / line;
        ratios.push_back(ratio);
        std::printf("run %d: %zu exchanges, %zu bytes on the line; elapsed %.4f s, line time %.4f s, "
                    "ratio %.4f (%.0f us over the line per exchange; CPU per exchange: window thread %.0f us, "
                    "session worker %.0f us)\n",
                    run + 1, exchanges, bytes, elapsed, line, ratio, (elapsed - line) * 1e6 / exchanges,
                    cpu * 1e6 / exchanges, worker * 1e6 / exchanges);
    }
    // The same exchanges straight through the protocol component on the
    // session's worker, without the page and the job's reports: what the
    // line and the serial code cost by themselves.
    std::vector<double> bare;
    std::vector<double> bareCpu;
    const TCopyRect frame = mainForm.ts_Logo->CopyRect;
    const QImage preview = mainForm.ts_Logo->img_Logo->Picture;
    const std::vector<TArrayOfByte> rows = PackLogoRows(preview, frame);
    for (int run = 0; run < runs; ++run) {
        reg.ClearRequests();
        double elapsed = 0;
        double cpu = 0;
        const char* failed = nullptr;
        mainForm.Session->Start([&](TJobContext& job) {
            TOmvekCP& p = job.Protokol();
            QElapsedTimer timer;
            timer.start();
            const double cpu0 = ThreadCpu();
            if (p.SendLogoHeader(2, 1, 0, 48, 255) != 0) {
                failed = "header refused";
                return;
            }
            for (int n = 1; n <= 255; ++n)
                if (p.SendLogoRow(2, 1, static_cast<std::uint8_t>(n), rows[n - 1]) != 0) {
                    failed = "row refused";
                    return;
                }
            elapsed = timer.nsecsElapsed() / 1e9;
            cpu = ThreadCpu() - cpu0;
        });
        if (!WaitIdle(mainForm, 120000))
            return Fail("the direct exchanges did not end");
        if (failed)
            return Fail(failed);
        bareCpu.push_back(cpu * 1e6 / 256);
        std::size_t bytes = 0;
        for (const RequestRecord& r : reg.Requests())
            bytes += r.Wire.size() + r.Answer.size();
        bare.push_back(elapsed / (bytes * 10.0 / kBaud));
    }
    std::sort(bare.begin(), bare.end());
    std::sort(bareCpu.begin(), bareCpu.end());
    std::printf("the same exchanges straight through TOmvekCP: median ratio %.4f, best %.4f, worst %.4f; "
                "worker CPU %.0f us per exchange (median)\n",
                bare[bare.size() / 2], bare.front(), bare.back(), bareCpu[bareCpu.size() / 2]);

    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio %.4f, best %.4f, worst %.4f (goal: at most 1.03)\n", ratios[ratios.size() / 2],
                ratios.front(), ratios.back());
    return 0;
}
