#include "UiTestSupport.h"

#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QTextBlock>
#include <QTextEdit>

TModalDriver::TModalDriver(int limitMs) : limitMs_(limitMs)
{
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &TModalDriver::Poll);
    timer_.start();
    idleFor_.start();
}

TModalDriver::~TModalDriver() = default;

void TModalDriver::Then(Step s)
{
    steps_.push_back(std::move(s));
}

void TModalDriver::AcceptBox(TSeenBox* seen)
{
    Then([seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || !box->isVisible())
            return false;
        if (seen)
            *seen = {box->windowTitle(), box->text(), box->icon()};
        QPointer<QMessageBox> guard(box);
        QTimer::singleShot(0, box, [guard] {
            if (!guard)
                return;
            if (QAbstractButton* ok = guard->button(QMessageBox::Ok))
                ok->click();
            else
                guard->reject();
        });
        return true;
    });
}

bool TModalDriver::OwnerBusy(const QWidget* dialog)
{
    for (const QWidget* w = dialog->parentWidget(); w; w = w->parentWidget())
        if (const auto* main = qobject_cast<const TMainForm*>(w))
            return main->Busy();
    return false;
}

void TModalDriver::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
        idleFor_.restart();
        return;
    }
    if (modal != lastSeen_) {
        lastSeen_ = modal;
        idleFor_.restart();
    }
    if (!steps_.empty() && steps_.front()(modal)) {
        steps_.pop_front();
        lastSeen_ = nullptr;
        idleFor_.restart();
        return;
    }
    if (idleFor_.elapsed() < limitMs_)
        return;
    // Nobody wants this window: close it so that the test can go on and fail.
    QString what = QString::fromLatin1(modal->metaObject()->className());
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        what += QStringLiteral(": ") + box->text();
    Unexpected << what;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        QTimer::singleShot(0, dialog, &QDialog::reject);
    else
        modal->close();
    idleFor_.restart();
}

bool SpinUntil(const std::function<bool()>& condition, int limitMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    limit.start(limitMs);
    loop.exec();
    return condition();
}

bool WaitIdle(const TMainForm& main, int limitMs)
{
    return SpinUntil([&] { return !main.Busy(); }, limitMs);
}

bool WaitJobEnd(const TMainForm& main, int limitMs)
{
    if (!main.Busy())
        return true;
    // Ends right with the job, before the loop goes idle again: what the
    // window shows then is what the job's end left, as after a command.
    QEventLoop loop;
    QObject::connect(main.Session, &kkm::TSession::BusyChanged, &loop, [&](bool busy) {
        if (!busy)
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    loop.exec();
    return !main.Busy();
}

QList<TLogEntry> JournalEntries(const QTextEdit* journal, bool* wellFormed)
{
    QList<TLogEntry> entries;
    bool ok = true;
    const QTextDocument* doc = journal->document();
    QTextBlock block = doc->begin();
    if (doc->isEmpty())
        return entries;
    if (block.text() != QString())
        ok = false;
    for (block = block.next(); block.isValid(); block = block.next()) {
        TLogEntry e;
        const QString line = block.text();
        const int sep = line.indexOf(QStringLiteral(" >> "));
        if (sep < 0) {
            ok = false;
            continue;
        }
        e.Time = line.left(sep);
        e.Text = line.mid(sep + 4);
        // Colour of every character, split at the separator.
        int pos = 0;
        bool textColourSet = false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QColor c = f.charFormat().foreground().color();
            for (int i = 0; i < f.length(); ++i, ++pos) {
                if (pos < sep + 4) {
                    if (!e.TimeColor.isValid())
                        e.TimeColor = c;
                    else if (e.TimeColor != c)
                        ok = false;
                } else if (!textColourSet) {
                    e.TextColor = c;
                    textColourSet = true;
                } else if (e.TextColor != c) {
                    e.TextColor = QColor();
                }
            }
        }
        entries << e;
    }
    if (wellFormed)
        *wellFormed = ok;
    return entries;
}

QStringList JournalTexts(const QTextEdit* journal)
{
    QStringList texts;
    for (const TLogEntry& e : JournalEntries(journal))
        texts << e.Text;
    return texts;
}

TWindows::TWindows() = default;
TWindows::~TWindows() = default;
TWindows::TWindows(TWindows&&) noexcept = default;

TWindows CreateWindows()
{
    TWindows w;
    w.Main = std::make_unique<TMainForm>();
    w.Connect = new TConnectForm(w.Main.get());
    w.Auth = new TAuthForm(w.Main.get());
    w.Main->show();
    return w;
}

void AnswerFileDialog(TModalDriver& driver, const QString& path)
{
    driver.OnDialog<QFileDialog>([path](QFileDialog* d) {
        if (auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
}

void ChooseAndConnect(TModalDriver& driver, const QString& port, const QString& speed)
{
    driver.OnDialog<TConnectForm>([port, speed](TConnectForm* d) {
        d->cb_Port->setCurrentIndex(d->cb_Port->findText(port));
        d->cb_PortSpeed->setCurrentIndex(d->cb_PortSpeed->findText(speed));
        d->b_Connect->click();
    });
}

bool ConnectThroughDialog(TMainForm& main, const QString& port, const QString& speed)
{
    TModalDriver driver;
    ChooseAndConnect(driver, port, speed);
    main.mm_c_connect->trigger();
    // The information refresh that follows a connection runs on.
    return driver.Done() && driver.Unexpected.isEmpty() && main.WorkMode == TMainForm::wmReadOnly &&
           WaitIdle(main);
}

bool AuthoriseThroughDialog(TMainForm& main, int user, const QString& password)
{
    TModalDriver driver;
    driver.OnDialog<TAuthForm>([user, password](TAuthForm* d) {
        d->cb_UserList->setCurrentIndex(user);
        QTest::keyClicks(d->ed_Password, password);
        d->b_Auth->click();
    });
    // The menu item is available from the next idle moment after connecting.
    if (!SpinUntil([&] { return main.mm_c_auth->isEnabled(); }))
        return false;
    main.mm_c_auth->trigger();
    return driver.Done() && driver.Unexpected.isEmpty() && main.WorkMode == TMainForm::wmReadWrite;
}

TWindowTestApp::TWindowTestApp(int& argc, char** argv) : App(argc, argv)
{
    // Always a folder of its own, whatever the environment names: the
    // connect dialog lists what is published there, and window tests run
    // side by side, each starting and stopping emulators of its own.
    qputenv("KKM_EMULATOR_DIR", PortDir.path().toLocal8Bit());
    QApplication::setQuitOnLastWindowClosed(false);
}
