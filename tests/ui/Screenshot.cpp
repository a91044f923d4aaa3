// Takes the picture of the main window for the README: the window connected
// to an emulator in this process, the information page filled, rendered on
// Qt's offscreen platform.
//
//   kkm_screenshot [output.png]     (default: docs/screenshot.png)
#include "PtyRegister.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kkm-configurator"));
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshot.png");

    kkm::emu::PtyRegister reg;
    QString error;
    if (!reg.Start({}, &error)) {
        std::fprintf(stderr, "emulator: %s\n", qPrintable(error));
        return 1;
    }
    reg.WithModel([](kkm::emu::RegisterModel& m) {
        m.State().device.FixedClock = kkm::emu::ClockValue{{28, 2, 2025}, {14, 35, 12}};
    });

    TMainForm mainForm;
    TConnectForm connectForm(&mainForm);
    TAuthForm authForm(&mainForm);
    mainForm.show();

    TModalDriver driver;
    const QString port = reg.PublishedPath();
    driver.OnDialog<TConnectForm>([port](TConnectForm* d) {
        d->cb_Port->setCurrentIndex(d->cb_Port->findText(port));
        d->cb_PortSpeed->setCurrentIndex(d->cb_PortSpeed->findText(QStringLiteral("115200")));
        d->b_Connect->click();
    });
    mainForm.mm_c_connect->trigger();
    if (mainForm.WorkMode != TMainForm::wmReadOnly) {
        std::fprintf(stderr, "could not connect to the emulator at %s\n", qPrintable(port));
        return 1;
    }
    // Let the idle-time update light the lamps before the picture is taken.
    SpinUntil([&] { return mainForm.mm_c_auth->isEnabled(); });

    if (!mainForm.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
