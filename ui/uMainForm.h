// The main window: the frame every page lives in. It holds the session
// (the register's work on its worker), the work mode, the journal and the
// error reporter, shows the table commands of the page in front, and
// derives the available commands from the work mode, the busy state and
// the page in front whenever the program becomes idle.
#pragma once

#include "PageHost.h"
#include "Session.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QStackedWidget;
class QTimer;
class QToolBar;
class QToolButton;

class TAuthForm;
class TConnectForm;
class TGoodsPage;
class TInfoPage;
class TJournal;
class TLed;
class TLogoPage;
class TProgressScope;
class TSettingsPage;

class TMainForm : public QMainWindow, public TPageHost {
    Q_OBJECT

public:
    // Work modes.
    static constexpr std::uint8_t wmOffline = 1;
    static constexpr std::uint8_t wmReadOnly = 2;
    static constexpr std::uint8_t wmReadWrite = 3;

    // Pages of PageControl, in the order of the navigation buttons.
    enum TPageIndex { pgInformation = 0, pgKKMOptions = 1, pgGoods = 2, pgLogo = 3 };

    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    std::uint8_t WorkMode = 0;

    // Runs the register's work on its worker, which owns the protocol
    // component; the window sets its time-out through it.
    kkm::TSession* Session = nullptr;

    // The frame's services to the pages and dialogs.
    bool StartJob(const QString& Location, kkm::TSession::Job Body,
                  std::function<void()> Done = {}) override;
    bool Busy() const override { return Session->Busy(); }
    void WriteLog(const QString& Text, const QColor& Color) override;
    void ShowError(const QString& Location, const QString& Message) override;
    QWidget* Window() override { return this; }
    bool InFront(const TPage* Page) const override;
    QFileDialog* OpenDialog() const override { return openDialog_; }
    QFileDialog* SaveDialog() const override { return saveDialog_; }
    void Adopt(TConnectForm* Dialog) override { ConnectForm = Dialog; }
    void Adopt(TAuthForm* Dialog) override { AuthForm = Dialog; }
    void ClosePort() override { Session->ClosePort(); }
    void OldPortClosed() override;
    void Authorised(const QString& User) override;

    // The journal's colour for a job's line.
    static QColor LineColor(kkm::TLineKind Kind);

    // The two dialogs, entered when they are created.
    TConnectForm* ConnectForm = nullptr;
    TAuthForm* AuthForm = nullptr;

    int ActivePage() const;
    // The page in front when it takes the speed-bar commands, else nullptr.
    TPage* FrontPage() const;

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

    // Journal and status bar.
    TJournal* re_LogOut = nullptr;
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

    // Shared by the picture loader, the goods CSV exchange and the profiles;
    // Qt's own widgets, not the platform's, so they behave alike everywhere.
    QFileDialog* openDialog_ = nullptr;
    QFileDialog* saveDialog_ = nullptr;
    QTimer* clockTimer_ = nullptr;
    // The status bar follows the running job's progress reports.
    std::unique_ptr<TProgressScope> jobProgress_;
    bool inUpdate_ = false;
    // A connect attempt took the connection away; unless it connects, the
    // journal is told when the dialog closes.
    bool linkDropped_ = false;
};
