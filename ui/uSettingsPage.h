// Page 1: the register's settings tables 2 to 10, one sub-page of pc_Options
// per table, each built from the table map (a form of fields, lines of
// records, or a grid with lists laid over its cells), with the editing aids
// of the grids, the numeric edits and the text lines.
//
// Every control is a public member named as on the window and carries the
// same objectName; the controls of numbered rows are arrays indexed by the
// row number (ed_DscValue[1] is "ed_DscValue1", index 0 unused). Control()
// finds any of them by name. The kinds: QLineEdit for texts and numbers,
// QComboBox for lists, TCheckComboBox (also a QComboBox) for checked lists,
// QCheckBox for flags.
#pragma once

#include "uPage.h"

#include "Profile.h"
#include "SettingsMap.h"

#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QTableWidget;
class QToolButton;
class TCheckComboBox;

class TSettingsPage : public TPage {
    Q_OBJECT

public:
    // Sub-pages of pc_Options by index.
    enum { spMainOptions = 0, spPrintOpt, spReklama, spDiscounts, spTaxes, spSections, spDevices,
           spOperators, spPayTypes };

    TSettingsPage(TPageHost* Host, QWidget* Parent);

    // The table of the sub-page in front, read from the register into its
    // controls, or written back from them (the writable tables only).
    void ReadTable() override;
    void WriteTable() override;
    TTableCommands Commands(bool Connected, bool Writable) const override
    {
        TTableCommands c;
        c.Read = Connected;
        c.Write = Writable;
        return c;
    }

    // The one binder between the table map and the controls: a field's value
    // into the control of that name (a grid cell with the list laid over it),
    // and the control's value back. An unknown control raises an error.
    void SetFieldValue(const TFieldValue& Value);
    // Text into Edit whole, also when it is longer than the edit's typing
    // limit, which is widened while such a text is shown.
    static void SetWholeText(QLineEdit* Edit, const QString& Text);
    TControlValue FieldValue(const TTableField& Field, int Row) const;
    // Every value of the profile into its control, table by table.
    void ShowProfile(const kkm::TProfile& Profile);

    // A control of the page by its name, or nullptr.
    template <class T = QWidget>
    T* Control(const QString& Name) const
    {
        return findChild<T*>(Name);
    }

    // The sub-pages of the read-only tables can be shown and filled by
    // reading, but take no input; the first sub-page comes to the front.
    void DisableReadOnlyPages();

    // Cells in the grids' own numbering (row 0 is the header row).
    QString SectionsCell(int Col, int Row) const;
    void SetSectionsCell(int Col, int Row, const QString& Text);
    QString OperatorsCell(int Col, int Row) const;
    void SetOperatorsCell(int Col, int Row, const QString& Text);
    // The list laid over the sphere cell of section row 1..16, and the rights
    // check list over the rights cell of operator row 1..7.
    QComboBox* SectionsList(int Row) const;
    QListWidget* OperatorRights(int Row) const;
    // The sphere cell of a section row and its list together: 1 "Услуги",
    // anything else 0 "Торговля". The list's change handler is not run.
    void SetSectionsSphere(int Row, int Value);
    // The seven marks of an operator row's rights list from bits 0..6 of
    // Mask; the rights cell is left as it is.
    void SetOperatorRightsMarks(int Row, int Mask);

    // The text line of record 1..9: its edit, its attribute list, its centre
    // button.
    QLineEdit* TextLineEdit(int Record) const;
    TCheckComboBox* TextLineAttributes(int Record) const;
    QToolButton* CentreButton(int Record) const;
    // The centring of a text line: the trimmed text with leading spaces, the
    // line 16 characters wide with double width, else 32.
    static QString CentredText(const QString& Text, bool DoubleWidth);
    // False when the key press of Key into Edit is to be discarded.
    static bool NumericKeyAllowed(const QString& EditName, QChar Key);

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

    // Table 2, register options.
    TCheckComboBox* cb_RegOptions = nullptr;
    QComboBox* cb_MoneyBoxList = nullptr;
    TCheckComboBox* cb_zOptions = nullptr;
    QComboBox* cb_Kassir = nullptr;
    QLineEdit* ed_ScreenDelay = nullptr;
    QLineEdit* ed_AutoLock = nullptr;
    QComboBox* cb_WritingJournal = nullptr;
    QLineEdit* ed_INN = nullptr;

    // Table 3, print options.
    QLineEdit* ed_PoContrast = nullptr;
    QLineEdit* ed_PoStringInterval = nullptr;
    QComboBox* cb_PoEconFont = nullptr;
    QComboBox* cb_PoDocSep = nullptr;
    TCheckComboBox* cb_PoObraml = nullptr;
    TCheckComboBox* cb_PoCheck = nullptr;

    // Table 4, text lines, records 1 to 9.
    QLineEdit* ed_CheckBeginFirst = nullptr;
    QLineEdit* ed_CheckBeginSecond = nullptr;
    QLineEdit* ed_CheckBeginThird = nullptr;
    QLineEdit* ed_CheckTop = nullptr;
    QLineEdit* ed_CheckEndFirst = nullptr;
    QLineEdit* ed_CheckEndSecond = nullptr;
    QLineEdit* ed_CheckEndThird = nullptr;
    QLineEdit* ed_BuyDisplayFirst = nullptr;
    QLineEdit* ed_BuyDisplaySecond = nullptr;
    TCheckComboBox* cb_CheckBeginfirstc = nullptr;
    TCheckComboBox* cb_CheckBeginSecondc = nullptr;
    TCheckComboBox* cb_CheckBeginThirdc = nullptr;
    TCheckComboBox* cb_checkTopc = nullptr;
    TCheckComboBox* cb_CheckEndFirstc = nullptr;
    TCheckComboBox* cb_CheckEndSecondc = nullptr;
    TCheckComboBox* cb_CheckEndThirdc = nullptr;
    TCheckComboBox* cb_BuyDisplayFirstc = nullptr;
    TCheckComboBox* cb_BuyDisplaySecondc = nullptr;
    QToolButton* bCenter1 = nullptr;
    QToolButton* bCenter2 = nullptr;
    QToolButton* bCenter3 = nullptr;
    QToolButton* bCenter4 = nullptr;
    QToolButton* bCenter5 = nullptr;
    QToolButton* bCenter6 = nullptr;
    QToolButton* bCenter7 = nullptr;
    QToolButton* bCenter8 = nullptr;
    QToolButton* bCenter9 = nullptr;

    // Table 5, discounts and surcharges, by row.
    std::vector<QLineEdit*> ed_DscValue;
    std::vector<QLineEdit*> ed_DscName;
    std::vector<QComboBox*> cb_DscType;
    std::vector<QComboBox*> cb_DscSummType;
    std::vector<QCheckBox*> cb_DscAuth;

    // Table 6, taxes, by row.
    std::vector<QLineEdit*> ed_txName;
    std::vector<QLineEdit*> ed_txValue;

    // Table 7, sections.
    QWidget* pnl_sections = nullptr;
    QTableWidget* SectionsSettings = nullptr;

    // Table 8, attached devices.
    QComboBox* cb_BarcodeSpeed = nullptr;
    QComboBox* cb_ElectronicScaleSpeed = nullptr;
    QComboBox* cb_ElectronicScaleProtocol = nullptr;
    QComboBox* cb_ElecticScalesInterface = nullptr;
    QComboBox* cb_PCSpeed = nullptr;

    // Table 9, operators.
    QWidget* pnl_operators = nullptr;
    QTableWidget* Operators = nullptr;

    // Table 10, payment types, by row.
    std::vector<QLineEdit*> ed_PayType;
    std::vector<QCheckBox*> cb_PayType;

public slots:
    // Sections grid: places, syncs and shows or hides the list of a cell
    // with a list; the selection of a row's list goes into its cell; a
    // released key normalises the current cell.
    void SectionsSettingsDrawCell(int Col, int Row);
    void cb_SectionsInvisChange(QComboBox* List);
    void SectionsSettingsKeyUp();
    // Operators grid: places the rights lists; a changed mark recomputes the
    // row's rights cell; a cell takes at most its column's length.
    void OperatorsDrawCell(int Col, int Row);
    void CheckListBoxClickCheck(QListWidget* List);
    void OperatorsSetEditText(int Col, int Row, const QString& Text);
    // The key filter of the numeric edits; false discards the key.
    bool ed_DateIntervalKeyPress(QLineEdit* Edit, QChar Key);
    // Centres the text of the button's line.
    void bCenter1Click(QToolButton* Button);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // The lists laid over one column of a grid, by row (0 unused).
    struct TCellLists {
        QTableWidget* Grid = nullptr;
        const TTableField* Field = nullptr; // the column's field, of the first record
        std::vector<QWidget*> ByRow;
        QString DrawLocation;               // the placing handler's, for its error box
    };

    // The table of the sub-page in front; none when no sub-page is.
    const TRegisterTable* CurrentTable() const;

    // The builders: a sub-page from its table, by the table's layout.
    void BuildForm(QWidget* Sheet, const TRegisterTable& Table);
    void BuildRows(QWidget* Sheet, const TRegisterTable& Table);
    void BuildGrid(QWidget* Sheet, const TRegisterTable& Table);
    QWidget* MakeControl(QWidget* Parent, const TTableField& Field);
    QWidget* MakeCellList(QWidget* Panel, QTableWidget* Grid, const TTableField& Field, int Row);
    // The centre button of a text line, and the line's edit and attributes
    // kept by record.
    void AddLineAids(QGridLayout* Grid, int GridRow, int Column, const std::vector<QWidget*>& Controls,
                     const std::vector<const TTableField*>& Fields, int Record);
    // The members take the controls of their names.
    void BindMembers();
    // Editing aids of the two grids.
    void SetUpGridEditing();

    const TCellLists* CellLists(const QTableWidget* Grid) const;
    const TCellLists* CellListsOfViewport(const QObject* Viewport) const;
    // The lists that hold Overlay; an error for any other widget.
    const TCellLists& ListsOf(const QWidget* Overlay) const;
    // The grid's current cell moves to Row.
    static void FollowRow(QTableWidget* Grid, int Row);
    // Places one row's list over its cell (and, for a list of items, shows
    // the cell's item in it); the handler's location names the grid.
    void DrawCell(QTableWidget* Grid, int Col, int Row);
    // Every list of the grid follows its cell.
    void PlaceCellLists(const QTableWidget* Grid);
    // A cell with a list and its list together; the list's handler is not run.
    void SetCellList(const TCellLists& Lists, int Row, int Index);
    void SetCellMarks(const TCellLists& Lists, int Row, int Mask);

    std::vector<TCellLists> cellLists_;
    std::vector<QLineEdit*> lineEdits_;          // by record, 0 unused
    std::vector<TCheckComboBox*> lineAttributes_;
    std::vector<QToolButton*> centreButtons_;
    std::vector<QLineEdit*> numericEdits_; // the whole-number edits of tables that take input
};
