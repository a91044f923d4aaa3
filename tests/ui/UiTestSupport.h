// Helpers of the window tests: a driver that answers modal dialogs and
// message boxes as a person would, a way to let the event loop go idle, and
// a reader of the journal.
#pragma once

#include "Journal.h"
#include "uGoodsPage.h"
#include "uInfoPage.h"
#include "uLogoPage.h"
#include "uSettingsPage.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class QTextEdit;
class QWidget;
class TAuthForm;
class TConnectForm;
class TMainForm;

// What a message box showed before the driver pressed its button.
struct TSeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// Polls QApplication::activeModalWidget() and works through its steps in
// order: a step waits until the active modal window is of its kind, then
// acts on it. Actions are posted, not run inside the poll, so that a modal
// loop they open does not stop the polling. A modal window that no step
// wants within the time limit is closed and counted as unexpected, so a
// broken test fails instead of hanging.
class TModalDriver : public QObject {
    Q_OBJECT

public:
    // Returns true when it took the modal window (and acted on it).
    using Step = std::function<bool(QWidget* Modal)>;

    explicit TModalDriver(int LimitMs = 60000);
    ~TModalDriver() override;

    void Then(Step S);

    // A message box: note what it showed, then press its OK button.
    void AcceptBox(TSeenBox* Seen = nullptr);

    // A dialog of class T: run Action on it, once the window it belongs to
    // has no job running (the authorisation dialog reads its user list
    // first), as a person waits for a dialog to fill.
    template <class T>
    void OnDialog(std::function<void(T*)> Action)
    {
        Then([Action](QWidget* modal) {
            T* dialog = qobject_cast<T*>(modal);
            if (!dialog || !dialog->isVisible() || OwnerBusy(dialog))
                return false;
            QPointer<T> guard(dialog);
            QTimer::singleShot(0, dialog, [guard, Action] {
                if (guard)
                    Action(guard.data());
            });
            return true;
        });
    }

    bool Done() const { return steps_.empty(); }
    static bool OwnerBusy(const QWidget* Dialog);
    // Modal windows that no step wanted, closed by the driver.
    QStringList Unexpected;

private:
    void Poll();

    std::deque<Step> steps_;
    QTimer timer_;
    QElapsedTimer idleFor_;
    QPointer<QWidget> lastSeen_;
    int limitMs_;
};

// Runs a real event loop, which blocks and so goes idle, until Condition
// holds or LimitMs has passed. QTest's waits only pump events and never let
// the loop block, so the idle-time update does not run inside them.
bool SpinUntil(const std::function<bool()>& Condition, int LimitMs = 30000);

// Waits until the window's running job (if any) has ended and everything it
// reported has been shown; the window has gone idle after it.
bool WaitIdle(const TMainForm& Main, int LimitMs = 60000);
// The same, but returns right at the job's end, before the idle update has
// settled the commands: what a synchronous command left behind.
bool WaitJobEnd(const TMainForm& Main, int LimitMs = 60000);

// One journal entry as written: time, separator, text, and their colours.
struct TLogEntry {
    QString Time;     // HH:mm:ss
    QString Text;
    QColor TimeColor; // colour of the time and " >> "
    QColor TextColor; // colour of the text (invalid if it mixes colours)
};

// The journal's entries, newest first; false in *WellFormed when the
// journal does not start with an empty line or an entry lacks " >> ".
QList<TLogEntry> JournalEntries(const QTextEdit* Journal, bool* WellFormed = nullptr);
QStringList JournalTexts(const QTextEdit* Journal);

// The program's three windows as the entry creates them, the main window
// shown.
struct TWindows {
    TWindows();
    ~TWindows();
    TWindows(TWindows&&) noexcept;
    std::unique_ptr<TMainForm> Main;
    TConnectForm* Connect = nullptr;
    TAuthForm* Auth = nullptr;
};
TWindows CreateWindows();

// A file dialog answered as a person does: the whole path into its name
// edit, then Enter.
void AnswerFileDialog(TModalDriver& Driver, const QString& Path);

// Chooses Port at Speed in the connect dialog and presses its button.
void ChooseAndConnect(TModalDriver& Driver, const QString& Port, const QString& Speed = QStringLiteral("115200"));

// The connect command through the menu and its dialog; true when the window
// ended up connected (read-only) with no unexpected box.
bool ConnectThroughDialog(TMainForm& Main, const QString& Port, const QString& Speed = QStringLiteral("115200"));

// The authorisation command through the menu and its dialog, once the menu
// item is available; true when the window ended up in read/write mode.
bool AuthoriseThroughDialog(TMainForm& Main, int User = 0, const QString& Password = QStringLiteral("1"));

// What every window test's main() sets up before its test object: the
// application, emulators publishing in a folder of their own, and no
// quitting when a window closes.
struct TWindowTestApp {
    TWindowTestApp(int& Argc, char** Argv);
    QTemporaryDir PortDir;
    QApplication App;
};

#define KKM_WINDOW_TEST_MAIN(TestClass)            \
    int main(int argc, char** argv)                \
    {                                              \
        TWindowTestApp app(argc, argv);            \
        TestClass test;                            \
        return QTest::qExec(&test, argc, argv);    \
    }
