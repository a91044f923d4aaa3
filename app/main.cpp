// The program: the main window, then the connect dialog, then the
// authorisation dialog; all three live until the event loop ends.
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kkm-configurator"));
    // Lets a Wayland desktop match the window to the installed .desktop entry
    // and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kkm-configurator"));

    // The window lives on this stack frame, so it is destroyed only after the
    // event loop has returned, that is after any handler that was still
    // waiting for the register when the window was closed has finished.
    TMainForm mainForm;
    TConnectForm connectForm(&mainForm);
    TAuthForm authForm(&mainForm);

    mainForm.show();
    const int code = app.exec();
    return code;
}
