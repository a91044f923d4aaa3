// The main window: the frame every page lives in. It owns the protocol
// component, the work mode, the journal and the error reporter, and derives
// the available commands from the work mode and the active page whenever
// the program becomes idle.
#pragma once

#include "ErrorGuard.h"
#include "OmvekCP.h"
#include "Session.h"
#include "uGoodsPage.h"
#include "uInfoPage.h"
#include "uLogoPage.h"
#include "uSettingsPage.h"

#include "LogoPreview.h"
#include "SourcePicture.h"

#include <QColor>
#include <QImage>
#include <QMainWindow>

#include <array>
#include <memory>
#include <atomic>
#include <cstdint>
#include <utility>

class QAction;
class QFileDialog;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QTextEdit;
class QTimer;
class QToolBar;
class QToolButton;

class TAuthForm;
class TProgressScope;
class TConnectForm;
class TLed;

// Journal colours: progress and completion, errors, changes of work mode.
constexpr QRgb clBlack = qRgb(0, 0, 0);
constexpr QRgb clRed = qRgb(255, 0, 0);
constexpr QRgb clBlue = qRgb(0, 0, 255);

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    // Every command goes to the register (2) from the PC (1).
    static constexpr std::uint8_t AR = 2;
    static constexpr std::uint8_t AT = 1;

    // Work modes.
    static constexpr std::uint8_t wmOffline = 1;
    static constexpr std::uint8_t wmReadOnly = 2;
    static constexpr std::uint8_t wmReadWrite = 3;

    // Pages of PageControl.
    enum TPageIndex { pgInformation = 0, pgKKMOptions = 1, pgGoods = 2, pgLogo = 3 };

    static constexpr int GoodsItems = GoodsItemCount;

    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // State shared with the pages.
    std::array<std::uint8_t, GoodsItems> GoodsItemFlags{}; // item n at index n - 1
    // Set by "Прервать"; the next goods transfer to check it takes it back
    // and ends, on the session's worker.
    std::atomic<bool> StopRequested{false};
    TSourcePicture SourcePicture;
    bool AutoRebuild = false;
    TCopyRect CopyRect;
    std::uint8_t WorkMode = 0;

    // Runs the register's work; its protocol component lives on the
    // session's worker, so the window only reads its PID, TimeOut, State
    // and Port.Opened, and sets its TimeOut.
    kkm::TSession* Session = nullptr;
    TOmvekCP* Protokol = nullptr;

    // A job runs (one busy state for the whole window): the commands that
    // talk to the register or fill what the job fills are unavailable.
    bool Busy() const { return Session->Busy(); }
    // Starts Body on the session. Done then runs here under the guard with
    // Location, so it may raise an error to show one. Refused with
    // "Передатчик занят." in red while another job runs.
    bool StartJob(const QString& Location, kkm::TSession::Job Body,
                  std::function<void()> Done = {});
    // The journal's colour for a job's line.
    static QColor LineColor(kkm::TLineKind Kind);

    // The two dialogs enter themselves here when they are created.
    TConnectForm* ConnectForm = nullptr;
    TAuthForm* AuthForm = nullptr;

    // One journal entry on top: time in black, " >> ", the text in Color.
    // A blank text adds nothing.
    void WriteLog(const QString& Text, const QColor& Color);
    // The error box; writes nothing to the journal.
    void ShowError(const QString& Location, const QString& Message);
    // Runs a handler's body under the error guard; false when it ended on an
    // error, which has then been shown with Location.
    template <class Body>
    bool Guard(const QString& Location, Body&& body)
    {
        return RunGuarded([this](const QString& l, const QString& m) { ShowError(l, m); },
                          Location, std::forward<Body>(body));
    }

    int ActivePage() const;
    // The page in front when it takes the speed-bar commands, else nullptr.
    TPage* FrontPage() const;

    // The authorisation dialog's job succeeded as User (an entry of its
    // list): the journal lines and read/write mode, whether or not the
    // dialog is still open.
    void Authorised(const QString& User);
    // A connect attempt has closed the open port: offline from now on.
    void OldPortClosed();

    // Progress of a long transfer in the status bar's empty panel:
    // "137 / 1..9999"; cleared at the end.
    void ShowProgress(int Item, int First, int Last);
    void ClearProgress();

    // Main menu.
    QMenu* mm_File = nullptr;
    QAction* mm_f_saveProfile = nullptr;
    QAction* mm_f_loadProfile = nullptr;
    QAction* mm_f_compareProfile = nullptr;
    QAction* mm_f_settings = nullptr;
    QAction* mm_f_exit = nullptr;
    QMenu* mm_Connection = nullptr;
    QAction* mm_c_connect = nullptr;
    QAction* mm_c_disconnect = nullptr;
    QAction* mm_c_auth = nullptr;
    QMenu* mm_Help = nullptr;
    QAction* mm_i_help = nullptr;
    QAction* mm_i_about = nullptr;

    // Speed bar with the goods range at its right end.
    QToolBar* SpeedBar = nullptr;
    QToolButton* si_ReadTableFromKKM = nullptr;
    QToolButton* si_WriteTableToKKM = nullptr;
    QToolButton* si_Import = nullptr;
    QToolButton* si_Export = nullptr;
    QToolButton* si_StopReading = nullptr;
    QWidget* pnl_GoodsRange = nullptr;
    QCheckBox* cb_QuantNull = nullptr;
    QLabel* lb_Interval = nullptr;
    QLineEdit* ed_GoodsStart = nullptr;
    QLabel* lb_IntervalDot = nullptr;
    QLineEdit* ed_GoodsEND = nullptr;

    // Navigation.
    QWidget* ExpressPanel = nullptr;
    QToolButton* eb_Information = nullptr;
    QToolButton* eb_KKMOptions = nullptr;
    QToolButton* eb_Goods = nullptr;
    QToolButton* eb_Logo = nullptr;

    // Pages; each owns its controls.
    QStackedWidget* PageControl = nullptr;
    TInfoPage* ts_Information = nullptr;
    TSettingsPage* ts_KKMOptions = nullptr;
    TGoodsPage* ts_Goods = nullptr;
    TLogoPage* ts_Logo = nullptr;

    // File dialogs shared by the picture loader and the goods CSV exchange;
    // Qt's own widgets, not the platform's, so they behave alike everywhere.
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;

    // Journal and status bar.
    QTextEdit* re_LogOut = nullptr;
    TLed* led_connected = nullptr;
    TLed* led_writing = nullptr;
    QLabel* lb_Clock = nullptr;
    QLabel* lb_StatusEmpty = nullptr;

public slots:
    void FormCreate();
    void act_mainFormUpdate();

    void mm_f_exitClick();
    // Profiles: every settings table read from the register into a file;
    // a file into the settings page's controls, to be looked over and
    // written table by table; the register compared with a file, the
    // differing fields listed in the journal.
    void mm_f_saveProfileClick();
    void mm_f_loadProfileClick();
    void mm_f_compareProfileClick();
    void mm_c_connectClick();
    void mm_c_disconnectClick();
    void mm_c_authClick();
    void eb_InformationClick();
    void eb_KKMOptionsClick();
    void eb_GoodsClick();
    void eb_LogoClick();
    void led_connectedDblClick();
    void led_writingDblClick();
    void si_StopReadingClick();
    // The speed-bar commands, carried out by the page in front.
    void si_ReadTableFromKKMClick();
    void si_WriteTableToKKMClick();
    void si_ImportClick();
    void si_ExportClick();
    // The register's line went away under an open port (cable pulled).
    void ProtokolLineLost();

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void BuildMenu();
    void BuildSpeedBar();
    void BuildExpressPanel();
    void BuildPages();
    void BuildStatusBar();
    void BuildFileDialogs();
    void ShowPage(int Index, const char* Location);

    QTimer* clockTimer_ = nullptr;
    // The status bar follows the running job's progress reports.
    std::unique_ptr<TProgressScope> jobProgress_;
    bool inUpdate_ = false;
    // A connect attempt took the connection away; unless it connects, the
    // journal is told when the dialog closes.
    bool linkDropped_ = false;
};
