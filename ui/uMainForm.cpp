#include "uMainForm.h"

#include "Journal.h"
#include "KkmText.h"
#include "SessionJobs.h"
#include "TLed.h"
#include "TransferProgress.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uGoodsPage.h"
#include "uInfoPage.h"
#include "uLogoPage.h"
#include "uSettingsPage.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include <clocale>

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Конфигуратор ДЛФ v0.5a"));
    resize(876, 694);
    setMinimumSize(800, 600);

    Session = new kkm::TSession(this);
    Session->SetTimeOut(200);
    connect(Session, &kkm::TSession::LineLost, this, &TMainForm::ProtokolLineLost);
    connect(Session, &kkm::TSession::Line, this,
            [this](const QString& text, kkm::TLineKind kind) { WriteLog(text, LineColor(kind)); });
    // A job's start takes the commands away at once, not only when idle.
    connect(Session, &kkm::TSession::BusyChanged, this, [this](bool busy) {
        if (busy) {
            act_mainFormUpdate();
            return;
        }
        jobProgress_.reset(); // cleared however the job ended
        act_mainFormUpdate();
        // As a command does at its end: the buttons come back, and the next
        // idle moment decides by mode and page.
        si_ReadTableFromKKM->setEnabled(true);
        si_WriteTableToKKM->setEnabled(true);
        ts_Goods->cb_QuantNull->setEnabled(true);
    });
    connect(Session, &kkm::TSession::Progress, this, [this](int item, int first, int last) {
        if (!jobProgress_)
            jobProgress_ = std::make_unique<TProgressScope>(this, first, last);
        jobProgress_->Item(item);
    });

    BuildMenu();
    BuildPages();
    BuildSpeedBar();
    BuildStatusBar();
    BuildFileDialogs();

    FormCreate();
    // The commands show their state from the first paint on.
    act_mainFormUpdate();

    // The idle-time update: whenever the event loop is about to wait for
    // input, everything that was pending has been handled. Modal dialogs'
    // own loops land here too; the busy state keeps them from making the
    // commands of a running job available again.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TMainForm::act_mainFormUpdate);
}

TMainForm::~TMainForm()
{
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        disconnect(dispatcher, nullptr, this, nullptr);
    // First of all: the job ends and the worker is joined, so nothing it
    // reported reaches the pages while they are taken down.
    delete Session;
    Session = nullptr;
    jobProgress_.reset();
}

QColor TMainForm::LineColor(kkm::TLineKind kind)
{
    switch (kind) {
    case kkm::TLineKind::Error: return QColor(clRed);
    case kkm::TLineKind::Mode: return QColor(clBlue);
    case kkm::TLineKind::Progress: break;
    }
    return QColor(clBlack);
}

bool TMainForm::StartJob(const QString& location, kkm::TSession::Job body, std::function<void()> done)
{
    const bool started = Session->Start(std::move(body), [this, location, done = std::move(done)] {
        // Cleared before an error box, as a transfer's end always did.
        jobProgress_.reset();
        if (done)
            Guard(location, done);
    });
    if (!started)
        WriteLog(TOmvekCP::ErrorText(rcBusy), QColor(clRed));
    return started;
}

// ---------------------------------------------------------------------------
// Start-up

void TMainForm::FormCreate()
{
    Guard(QStringLiteral("TMainForm.FormCreate"), [&] {
        WorkMode = wmOffline;
        ts_Goods->StopRequested = false;

        WriteLog(QStringLiteral("Начало работы программы."), QColor(clBlack));

        // Prices and amounts are read and written with "." whatever the
        // regional settings say, by Qt and by the C library alike.
        QLocale numbers(QLocale::C);
        numbers.setNumberOptions(QLocale::OmitGroupSeparator);
        QLocale::setDefault(numbers);
        std::setlocale(LC_NUMERIC, "C");

        ts_Goods->SetUpGrid();
        ts_KKMOptions->DisableReadOnlyPages();

        PageControl->setCurrentIndex(pgInformation);
    });
}

// ---------------------------------------------------------------------------
// Journal and error report

void TMainForm::WriteLog(const QString& text, const QColor& color)
{
    Guard(QStringLiteral("TMainForm.WriteLog"), [&] { re_LogOut->Add(text, color); });
}

void TMainForm::ShowError(const QString& location, const QString& message)
{
    const QString text = QStringLiteral("Ошибка по месту: ") + location + QStringLiteral("\n\r") +
                         QStringLiteral("Текст ошибки: ") + message + QStringLiteral("\n\r") +
                         QStringLiteral("Сообщите разработчикам.");
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

// ---------------------------------------------------------------------------
// Idle-time update

void TMainForm::act_mainFormUpdate()
{
    // An error box shown from here would itself go idle and call back in.
    if (inUpdate_)
        return;
    inUpdate_ = true;
    Guard(QStringLiteral("TMainForm.act_mainFormUpdate"), [&] {
        const bool connected = WorkMode == wmReadOnly || WorkMode == wmReadWrite;
        const bool writable = WorkMode == wmReadWrite;
        const bool busy = Busy();

        led_connected->setActive(connected);
        led_connected->setHint(connected ? QStringLiteral("ККМ подключена")
                                         : QStringLiteral("Автономная работа"));
        led_writing->setActive(writable);
        led_writing->setHint(writable    ? QStringLiteral("Режим: Чтение/Запись")
                             : connected ? QStringLiteral("Режим: Только чтение")
                                         : QStringLiteral("ККМ не подключена"));
        // Disconnecting stays available: it ends the running job first.
        mm_c_disconnect->setEnabled(connected);
        mm_c_connect->setEnabled(!busy);
        mm_c_auth->setEnabled(connected && !busy);
        ts_Information->b_infoRefresh->setEnabled(!busy);
        // Loading fills the settings page only; it needs no register.
        mm_f_saveProfile->setEnabled(connected && !busy);
        mm_f_compareProfile->setEnabled(connected && !busy);
        mm_f_loadProfile->setEnabled(!busy);

        // The page in front says what it offers; the stop stays live while
        // its transfer runs.
        const TPage* front = FrontPage();
        const TTableCommands offered = front ? front->Commands(connected, writable) : TTableCommands();
        si_ReadTableFromKKM->setEnabled(!busy && offered.Read);
        si_WriteTableToKKM->setEnabled(!busy && offered.Write);
        si_StopReading->setEnabled(offered.Stop);
        si_Import->setEnabled(!busy && offered.Import);
        si_Export->setEnabled(!busy && offered.Export);
        for (int i = 0; i < PageControl->count(); ++i)
            if (auto* page = qobject_cast<TPage*>(PageControl->widget(i)))
                page->Update(page == front, busy);
    });
    inUpdate_ = false;
}

// ---------------------------------------------------------------------------
// Handlers

int TMainForm::ActivePage() const
{
    return PageControl->currentIndex();
}

void TMainForm::ShowPage(int index, const char* location)
{
    Guard(QLatin1String(location), [&] { PageControl->setCurrentIndex(index); });
}

void TMainForm::eb_InformationClick()
{
    ShowPage(pgInformation, "TMainForm.eb_InformationClick");
}

void TMainForm::eb_KKMOptionsClick()
{
    ShowPage(pgKKMOptions, "TMainForm.eb_KKMOptionsClick");
}

void TMainForm::eb_GoodsClick()
{
    ShowPage(pgGoods, "TMainForm.eb_GoodsClick");
}

void TMainForm::eb_LogoClick()
{
    ShowPage(pgLogo, "TMainForm.eb_LogoClick");
}

void TMainForm::mm_f_exitClick()
{
    Guard(QStringLiteral("TMainForm.mm_f_exitClick"), [&] { close(); });
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // The running job ends at once and no request leaves after this.
    Session->ClosePort();
    event->accept();
}

void TMainForm::led_connectedDblClick()
{
    Guard(QStringLiteral("TMainForm.led_connectedDblClick"), [&] { mm_c_connectClick(); });
}

void TMainForm::led_writingDblClick()
{
    Guard(QStringLiteral("TMainForm.led_writingDblClick"), [&] {
        if (WorkMode == wmReadOnly || WorkMode == wmReadWrite)
            mm_c_authClick();
    });
}

void TMainForm::si_StopReadingClick()
{
    if (TPage* page = FrontPage())
        page->Stop();
}

void TMainForm::mm_c_connectClick()
{
    Guard(QStringLiteral("TMainForm.mm_c_connectClick"), [&] {
        if (!ConnectForm)
            throw EKkmError(QStringLiteral("Окно подключения не создано"));
        const bool connected = ConnectForm->exec() == QDialog::Accepted;
        // An attempt that closed the old port and did not connect leaves the
        // window offline, and the journal says so.
        const bool dropped = std::exchange(linkDropped_, false);
        if (!connected) {
            if (dropped)
                WriteLog(kkm::OfflineModeLine(), QColor(clBlue));
            return;
        }
        WriteLog(kkm::ConnectedLine(ConnectForm->cb_Port->currentText(), ConnectForm->cb_PortSpeed->currentText()),
                 QColor(clBlack));
        WriteLog(kkm::ReadOnlyModeLine(), QColor(clBlue));
        WorkMode = wmReadOnly;
        ts_Information->b_InfoRefreshClick();
        PageControl->setCurrentIndex(pgInformation);
    });
}

void TMainForm::mm_c_disconnectClick()
{
    Guard(QStringLiteral("TMainForm.mm_c_disconnectClick"), [&] {
        // A running job ends first, at its next step; the pause of a
        // time-out after the close is the worker's, before the next opening.
        Session->Disconnect();
        WorkMode = wmOffline;
        WriteLog(kkm::OfflineModeLine(), QColor(clBlue));
    });
}

void TMainForm::ProtokolLineLost()
{
    Guard(QStringLiteral("TMainForm.ProtokolLineLost"), [&] {
        // The session has closed the port already.
        WriteLog(kkm::LineLostLine(), QColor(clRed));
        if (WorkMode == wmOffline)
            return; // lost during a connection attempt: the mode has not changed
        WorkMode = wmOffline;
        WriteLog(kkm::OfflineModeLine(), QColor(clBlue));
    });
}

void TMainForm::mm_c_authClick()
{
    Guard(QStringLiteral("TMainForm.mm_c_authClick"), [&] {
        if (!AuthForm)
            throw EKkmError(QStringLiteral("Окно авторизации не создано"));
        // The dialog reports a success itself (Authorised), also one that
        // comes after it was cancelled.
        AuthForm->exec();
    });
}

void TMainForm::Authorised(const QString& user)
{
    WriteLog(kkm::AuthorisedLine(user),
             QColor(clBlack));
    WriteLog(kkm::ReadWriteModeLine(), QColor(clBlue));
    WorkMode = wmReadWrite;
}

void TMainForm::OldPortClosed()
{
    // Whatever the attempt comes to, the old connection is gone.
    if (WorkMode == wmOffline)
        return;
    WorkMode = wmOffline;
    linkDropped_ = true;
    act_mainFormUpdate();
}

// ---------------------------------------------------------------------------
// Speed-bar commands: the frame keeps the buttons and the guard, the page in
// front does the work.

TPage* TMainForm::FrontPage() const
{
    return qobject_cast<TPage*>(PageControl->currentWidget());
}

bool TMainForm::InFront(const TPage* page) const
{
    return page && PageControl->currentWidget() == page;
}

void TMainForm::si_ReadTableFromKKMClick()
{
    si_ReadTableFromKKM->setEnabled(false);
    si_WriteTableToKKM->setEnabled(false);
    Guard(QStringLiteral("TMainForm.si_ReadTableFromKKMClick"), [&] {
        if (TPage* page = FrontPage())
            page->ReadTable();
    });
    // Enabled in every case; the next idle moment decides by mode and page,
    // and a job the command started keeps them unavailable at once.
    si_ReadTableFromKKM->setEnabled(true);
    si_WriteTableToKKM->setEnabled(true);
    if (Busy())
        act_mainFormUpdate();
}

void TMainForm::si_WriteTableToKKMClick()
{
    // The zeroing switch of the goods write keeps still with the buttons.
    si_ReadTableFromKKM->setEnabled(false);
    si_WriteTableToKKM->setEnabled(false);
    ts_Goods->cb_QuantNull->setEnabled(false);
    Guard(QStringLiteral("TMainForm.si_WriteTableToKKMClick"), [&] {
        if (TPage* page = FrontPage())
            page->WriteTable();
    });
    si_ReadTableFromKKM->setEnabled(true);
    si_WriteTableToKKM->setEnabled(true);
    ts_Goods->cb_QuantNull->setEnabled(true);
    if (Busy())
        act_mainFormUpdate();
}

void TMainForm::si_ImportClick()
{
    Guard(QStringLiteral("TMainForm.si_ImportClick"), [&] {
        if (TPage* page = FrontPage())
            page->Import();
    });
    if (Busy())
        act_mainFormUpdate();
}

void TMainForm::si_ExportClick()
{
    Guard(QStringLiteral("TMainForm.si_ExportClick"), [&] {
        if (TPage* page = FrontPage())
            page->Export();
    });
    if (Busy())
        act_mainFormUpdate();
}

void TMainForm::ShowProgress(int item, int first, int last)
{
    // The panel widens to hold the longest text and keeps that width while
    // the transfer runs, so it does not jitter from item to item.
    const int width = lb_StatusEmpty->fontMetrics().horizontalAdvance(
                          QStringLiteral("%1 / %1..%1").arg(TGoodsPage::ItemCount)) + 12;
    if (lb_StatusEmpty->width() < width)
        lb_StatusEmpty->setFixedWidth(width);
    // A fixed size in both directions: a new text then repaints the panel
    // without laying out the status bar again for every item.
    lb_StatusEmpty->setFixedHeight(lb_StatusEmpty->height());
    lb_StatusEmpty->setText(QString::number(item) + QStringLiteral(" / ") + QString::number(first) +
                            QStringLiteral("..") + QString::number(last));
}

void TMainForm::ClearProgress()
{
    lb_StatusEmpty->clear();
    lb_StatusEmpty->setFixedWidth(50);
}
