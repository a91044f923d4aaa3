// The main window: the frame every page lives in. It owns the protocol
// component, the work mode, the journal and the error reporter, and derives
// the available commands from the work mode and the active page whenever
// the program becomes idle.
#pragma once

#include "ErrorGuard.h"
#include "OmvekCP.h"

#include <QColor>
#include <QImage>
#include <QMainWindow>

#include <array>
#include <cstdint>
#include <utility>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTextEdit;
class QTimer;
class QToolBar;
class QToolButton;

class TAuthForm;
class TConnectForm;
class TGoodsModel;
class TLed;

// Journal colours: progress and completion, errors, changes of work mode.
constexpr QRgb clBlack = qRgb(0, 0, 0);
constexpr QRgb clRed = qRgb(255, 0, 0);
constexpr QRgb clBlue = qRgb(0, 0, 255);

// The logo copy frame in inclusive preview coordinates.
struct TCopyRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
};

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
    enum TPage { pgInformation = 0, pgKKMOptions = 1, pgGoods = 2, pgLogo = 3 };

    static constexpr int GoodsItems = 9999;
    static constexpr int SectionRows = 16;
    static constexpr int OperatorRows = 7;

    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // State shared with the pages.
    std::array<std::uint8_t, GoodsItems> GoodsItemFlags{}; // item n at index n - 1
    bool StopRequested = false;
    QImage SourcePicture;
    bool AutoRebuild = false;
    TCopyRect CopyRect;
    std::uint8_t WorkMode = 0;

    TOmvekCP* Protokol = nullptr;

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

    // Grid cells in the grids' own numbering (row 0 is the header row).
    QString GoodsCell(int Col, int Row) const;
    void SetGoodsCell(int Col, int Row, const QString& Text);
    QString SectionsCell(int Col, int Row) const;
    void SetSectionsCell(int Col, int Row, const QString& Text);
    QString OperatorsCell(int Col, int Row) const;
    void SetOperatorsCell(int Col, int Row, const QString& Text);
    // The list laid over the cell of column 4 of section row 1..16, and the
    // rights check list over the cell of column 2 of operator row 1..7.
    QComboBox* SectionsList(int Row) const;
    QListWidget* OperatorRights(int Row) const;

    // Main menu.
    QMenu* mm_File = nullptr;
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

    // Pages.
    QStackedWidget* PageControl = nullptr;
    QWidget* ts_Information = nullptr;
    QWidget* ts_KKMOptions = nullptr;
    QWidget* ts_Goods = nullptr;
    QWidget* ts_Logo = nullptr;

    // Device information page.
    QGroupBox* gb_KKMInfo = nullptr;
    QLabel* lb_c_ModelName = nullptr;
    QLabel* lb_ModelName = nullptr;
    QLabel* lb_c_znumber = nullptr;
    QLabel* lb_zNumber = nullptr;
    QLabel* lb_c_Sp = nullptr;
    QLabel* lb_SP = nullptr;
    QLabel* lb_c_KKMDate = nullptr;
    QLabel* lb_KKMDate = nullptr;
    QLabel* lb_c_KKMError = nullptr;
    QLabel* lb_KKMError = nullptr;
    QLabel* lb_c_Opertor = nullptr;
    QLabel* lb_Operator = nullptr;
    QLabel* lb_c_Smena = nullptr;
    QLabel* lb_Smena = nullptr;
    QLabel* lb_c_itog = nullptr;
    QLabel* lb_itog = nullptr;
    QLabel* lb_c_Nal = nullptr;
    QLabel* lb_Nal = nullptr;
    QPushButton* b_infoRefresh = nullptr;

    // Settings page and its sub-pages, by index.
    QTabWidget* pc_Options = nullptr;
    QWidget* ts_KKMMainOptions = nullptr;
    QWidget* ts_KKMPrintOpt = nullptr;
    QWidget* ts_KKMReklama = nullptr;
    QWidget* ts_KKMDiscounts = nullptr;
    QWidget* ts_Taxes = nullptr;
    QWidget* ts_Sections = nullptr;
    QWidget* ts_Devices = nullptr;
    QWidget* ts_Operators = nullptr;
    QWidget* ts_PayTypes = nullptr;
    QWidget* pnl_sections = nullptr;
    QTableWidget* SectionsSettings = nullptr;
    QWidget* pnl_operators = nullptr;
    QTableWidget* Operators = nullptr;

    // Goods page.
    QTableView* Goods = nullptr;
    TGoodsModel* GoodsModel = nullptr;

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
    void b_InfoRefreshClick();
    // The register's line went away under an open port (cable pulled).
    void ProtokolLineLost();

    void cb_SectionsInvisChange(QComboBox* List);
    void CheckListBoxClickCheck(QListWidget* List);

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void BuildMenu();
    void BuildSpeedBar();
    void BuildExpressPanel();
    void BuildPages();
    void BuildInformationPage();
    void BuildOptionsPage();
    void BuildGoodsPage();
    void BuildStatusBar();
    void ShowPage(int Index, const char* Location);

    std::array<QComboBox*, SectionRows + 1> sectionsLists_{};   // by row, 0 unused
    std::array<QListWidget*, OperatorRows + 1> operatorRights_{}; // by row, 0 unused
    QTimer* clockTimer_ = nullptr;
    bool inUpdate_ = false;
};
