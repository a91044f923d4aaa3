#include "uSettingsPage.h"

#include "SettingsJobs.h"

#include "CheckComboBox.h"
#include "GridEdit.h"
#include "KkmText.h"
#include "StringGrid.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The map's field shown by the control of that name (a grid's: its column
// of Record). The controls are built from it, so a name the map lacks is a
// programming error found at start-up.
const TTableField& MapField(const QString& control, int column = -1, int record = -1)
{
    const TTableField* f = FindField(control, column, record);
    if (!f)
        throw EKkmError(QStringLiteral("Нет поля таблицы для %1").arg(control));
    return *f;
}

QLabel* HeaderLabel(QWidget* parent, const QString& text)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QIcon CentreIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    const int widths[] = {12, 8, 12, 6};
    for (int i = 0; i < 4; ++i) {
        const int w = widths[i];
        p.drawLine((16 - w) / 2, 3 + 3 * i, (16 + w) / 2 - 1, 3 + 3 * i);
    }
    return QIcon(pixmap);
}

bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsDigits(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// An edit of whole numbers only: no decimal separator is typed into it.
bool WholeNumber(const TTableField& f)
{
    return ValueKind(f) == TValueKind::Number || f.Encoding == TEncoding::Inn;
}

// The boxes of a sheet from top to bottom, with the records each holds; a
// table without groups has one area without a box.
std::vector<std::pair<QWidget*, TRecordGroup>> Areas(QWidget* sheet, QVBoxLayout* column,
                                                     const TRegisterTable& t)
{
    std::vector<std::pair<QWidget*, TRecordGroup>> areas;
    if (t.Groups.empty()) {
        areas.emplace_back(sheet, TRecordGroup{QString(), t.FirstRecord, t.LastRecord});
        return areas;
    }
    for (const TRecordGroup& g : t.Groups) {
        auto* box = new QGroupBox(g.Caption, sheet);
        column->addWidget(box);
        areas.emplace_back(box, g);
    }
    return areas;
}

QGridLayout* AreaGrid(QWidget* area, QVBoxLayout* column, bool boxed)
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(boxed ? 8 : 16);
    grid->setVerticalSpacing(boxed ? 4 : 8);
    if (boxed) {
        grid->setContentsMargins(8, 6, 8, 6);
        area->setLayout(grid);
    } else {
        column->addLayout(grid);
    }
    return grid;
}

QVBoxLayout* SheetColumn(QWidget* sheet)
{
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(6);
    return column;
}

// Controls of these names are the members of the same names; the rows'
// controls fill the vectors by record.
template <class T>
void Bind(const TSettingsPage& page, T*& member, const char* name)
{
    member = page.Control<T>(QLatin1String(name));
    if (!member)
        throw EKkmError(QStringLiteral("Нет элемента %1").arg(QLatin1String(name)));
}

// The table whose first record shows a field in the control of that name.
const TRegisterTable& TableOfControl(const QString& control)
{
    for (const TRegisterTable& t : SettingsTables())
        for (const TTableField& f : t.Fields)
            if (f.Control == control)
                return t;
    throw EKkmError(QStringLiteral("Нет поля таблицы для %1").arg(control));
}

template <class T>
void BindRows(const TSettingsPage& page, std::vector<T*>& member, const char* base)
{
    const TRegisterTable& t = TableOfControl(QLatin1String(base) + QLatin1Char('1'));
    member.assign(static_cast<std::size_t>(t.LastRecord + 1), nullptr);
    for (int n = t.FirstRecord; n <= t.LastRecord; ++n)
        Bind(page, member[static_cast<std::size_t>(n)],
             (QLatin1String(base) + QString::number(n)).toLatin1().constData());
}

} // namespace

#define KKM_BIND(member) Bind(*this, member, #member)
#define KKM_BIND_ROWS(member) BindRows(*this, member, #member)

TSettingsPage::TSettingsPage(TPageHost* host, QWidget* parent)
    : TPage(host, "ts_KKMOptions", QStringLiteral("Настройки ДЛФ"), parent)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    pc_Options = new QTabWidget(this);
    pc_Options->setObjectName(QStringLiteral("pc_Options"));
    page->addWidget(pc_Options);

    for (const TRegisterTable& t : SettingsTables()) {
        auto* sheet = new QWidget(pc_Options);
        sheet->setObjectName(t.Page);
        if (pc_Options->addTab(sheet, t.Caption) != t.SubPage)
            throw EKkmError(QStringLiteral("Страница %1 не на своем месте").arg(t.Page));
        switch (t.Layout()) {
        case TPageLayout::Form:
            BuildForm(sheet, t);
            break;
        case TPageLayout::Rows:
            BuildRows(sheet, t);
            break;
        case TPageLayout::Grid:
            BuildGrid(sheet, t);
            break;
        }
    }
    BindMembers();
    SetUpGridEditing();

    // Only digits, "-" and Backspace reach the numeric edits of the tables
    // that take input.
    for (const TRegisterTable& t : SettingsTables()) {
        if (!TakesInput(t))
            continue;
        for (const TTableField& f : t.Fields) {
            if (f.Kind != TControlKind::Edit || !WholeNumber(f))
                continue;
            auto* e = Control<QLineEdit>(f.Control);
            if (!e)
                throw EKkmError(QStringLiteral("Нет элемента %1").arg(f.Control));
            numericEdits_.push_back(e);
            e->installEventFilter(this);
        }
    }
}

// ---------------------------------------------------------------------------
// Building the sub-pages from the map

QWidget* TSettingsPage::MakeControl(QWidget* parent, const TTableField& f)
{
    QWidget* control = nullptr;
    switch (f.Kind) {
    case TControlKind::Edit: {
        auto* e = new QLineEdit(parent);
        e->setMaxLength(f.MaxLength);
        control = e;
        break;
    }
    case TControlKind::List: {
        // A fixed list: no free text; the item the map says is selected at
        // start (-1: none).
        auto* c = new QComboBox(parent);
        c->addItems(f.Items);
        c->setCurrentIndex(f.StartIndex);
        control = c;
        break;
    }
    case TControlKind::CheckedList: {
        auto* c = new TCheckComboBox(parent);
        c->SetItems(f.Items);
        control = c;
        break;
    }
    case TControlKind::CheckBox:
        control = new QCheckBox(parent);
        break;
    case TControlKind::GridCell:
    case TControlKind::CellList:
    case TControlKind::CellCheckedList:
        throw EKkmError(QStringLiteral("%1: ячейка вне таблицы").arg(f.Control));
    }
    control->setObjectName(f.Control);
    return control;
}

void TSettingsPage::BuildForm(QWidget* sheet, const TRegisterTable& t)
{
    QVBoxLayout* column = SheetColumn(sheet);
    for (const auto& [area, group] : Areas(sheet, column, t)) {
        QGridLayout* grid = AreaGrid(area, column, !t.Groups.empty());
        grid->setColumnMinimumWidth(1, t.Groups.empty() ? 220 : 180);
        grid->setColumnStretch(2, 1);
        for (const TTableField& f : t.Fields) {
            if (f.Record < group.First || f.Record > group.Last)
                continue;
            QWidget* control = MakeControl(area, f);
            auto* label = new QLabel(f.Caption, area);
            label->setBuddy(control);
            const int row = grid->rowCount();
            grid->addWidget(label, row, 0);
            grid->addWidget(control, row, 1);
        }
    }
    column->addStretch(1);
}

void TSettingsPage::BuildRows(QWidget* sheet, const TRegisterTable& t)
{
    QVBoxLayout* column = SheetColumn(sheet);
    const int first = t.NumberedRows ? 1 : 0;
    const std::vector<const TTableField*> shape = RecordFields(t, t.FirstRecord);
    for (const auto& [area, group] : Areas(sheet, column, t)) {
        QGridLayout* grid = AreaGrid(area, column, !t.Groups.empty());
        grid->setHorizontalSpacing(8);
        int row = 0;
        if (!t.ColumnTitles.isEmpty()) {
            for (int c = 0; c < t.ColumnTitles.size(); ++c)
                grid->addWidget(HeaderLabel(area, t.ColumnTitles[c]), row, first + c);
            ++row;
        }
        // Long texts take the width the line has; else the lines keep to the
        // left.
        bool stretched = false;
        for (std::size_t c = 0; c < shape.size(); ++c) {
            if (shape[c]->Kind == TControlKind::Edit && shape[c]->MaxLength >= 16) {
                grid->setColumnStretch(first + static_cast<int>(c), 1);
                stretched = true;
            }
        }
        for (int n = group.First; n <= group.Last; ++n, ++row) {
            if (t.NumberedRows)
                grid->addWidget(new QLabel(QString::number(n), area), row, 0);
            const std::vector<const TTableField*> fields = RecordFields(t, n);
            std::vector<QWidget*> controls;
            for (std::size_t c = 0; c < fields.size(); ++c) {
                QWidget* control = MakeControl(area, *fields[c]);
                const Qt::Alignment align =
                    fields[c]->Kind == TControlKind::CheckBox ? Qt::AlignHCenter : Qt::Alignment();
                grid->addWidget(control, row, first + static_cast<int>(c), align);
                controls.push_back(control);
            }
            AddLineAids(grid, row, first + static_cast<int>(fields.size()), controls, fields, n);
        }
        if (!stretched)
            grid->setColumnStretch(first + static_cast<int>(shape.size()) + 1, 1);
    }
    column->addStretch(1);
}

void TSettingsPage::AddLineAids(QGridLayout* grid, int gridRow, int col, const std::vector<QWidget*>& controls,
                                const std::vector<const TTableField*>& fields, int record)
{
    // A text line with print attributes: shown in a fixed-width font, with a
    // button that centres it for its width.
    QLineEdit* edit = nullptr;
    TCheckComboBox* attributes = nullptr;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i]->Encoding == TEncoding::LineAttributes)
            attributes = qobject_cast<TCheckComboBox*>(controls[i]);
        else if (fields[i]->Encoding == TEncoding::Text)
            edit = qobject_cast<QLineEdit*>(controls[i]);
    }
    if (!edit || !attributes)
        return;
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    edit->setFont(mono);
    attributes->setMinimumWidth(170);
    auto* button = new QToolButton(edit->parentWidget());
    button->setObjectName(QStringLiteral("bCenter") + QString::number(record));
    button->setToolTip(QStringLiteral("Выравнять по центру"));
    button->setIcon(CentreIcon());
    button->setAutoRaise(true);
    grid->addWidget(button, gridRow, col);
    connect(button, &QToolButton::clicked, this, [this, button] { bCenter1Click(button); });
    const auto at = static_cast<std::size_t>(record);
    if (lineEdits_.size() <= at) {
        lineEdits_.resize(at + 1, nullptr);
        lineAttributes_.resize(at + 1, nullptr);
        centreButtons_.resize(at + 1, nullptr);
    }
    lineEdits_[at] = edit;
    lineAttributes_[at] = attributes;
    centreButtons_[at] = button;
}

void TSettingsPage::BuildGrid(QWidget* sheet, const TRegisterTable& t)
{
    // The grid stands on a panel; the lists laid over its cells lie on the
    // same panel, over the grid.
    auto* sheetLayout = new QVBoxLayout(sheet);
    sheetLayout->setContentsMargins(4, 4, 4, 4);
    auto* panel = new QWidget(sheet);
    panel->setObjectName(t.Grid.Panel);
    sheetLayout->addWidget(panel);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QTableWidget(panel);
    grid->setObjectName(t.Fields.front().Control);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    panelLayout->addWidget(grid);

    // The header row, the widths, and a fixed column of row labels.
    const TGridLayout& g = t.Grid;
    grid->setColumnCount(static_cast<int>(g.Titles.size()));
    grid->setRowCount(t.RecordCount());
    grid->verticalHeader()->setDefaultSectionSize(g.RowHeight);
    for (int c = 0; c < g.Titles.size(); ++c) {
        grid->setColumnWidth(c, g.Widths[static_cast<std::size_t>(c)]);
        SetGridCell(grid, c, 0, g.Titles[c]);
    }
    for (int r = 1; r <= t.RecordCount(); ++r) {
        for (int c = 0; c < g.FixedColumns; ++c) {
            SetGridCell(grid, c, r, g.RowLabel + QString::number(r));
            QTableWidgetItem* label = grid->item(r - 1, c);
            label->setFlags(Qt::ItemIsEnabled);
            label->setBackground(palette().brush(QPalette::Button));
        }
    }

    // A list over every cell of the columns that have one.
    for (const TTableField* f : RecordFields(t, t.FirstRecord)) {
        if (f->Overlay.isEmpty())
            continue;
        TCellLists lists;
        lists.Grid = grid;
        lists.Field = f;
        lists.DrawLocation = QStringLiteral("Tfm_Main.") + grid->objectName() + QStringLiteral("DrawCell");
        lists.ByRow.assign(static_cast<std::size_t>(t.LastRecord + 1), nullptr);
        for (int r = t.FirstRecord; r <= t.LastRecord; ++r)
            lists.ByRow[static_cast<std::size_t>(r)] =
                MakeCellList(panel, grid, MapField(f->Control, f->Column, r), r);
        cellLists_.push_back(std::move(lists));
    }

    // Painting, scrolling and resizing move the lists along with their cells.
    grid->viewport()->installEventFilter(this);
    auto place = [this, grid] { PlaceCellLists(grid); };
    connect(grid->horizontalScrollBar(), &QScrollBar::valueChanged, this, place);
    connect(grid->verticalScrollBar(), &QScrollBar::valueChanged, this, place);
    connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this, place);
}

QWidget* TSettingsPage::MakeCellList(QWidget* panel, QTableWidget* grid, const TTableField& f, int row)
{
    QWidget* overlay = nullptr;
    if (f.Kind == TControlKind::CellList) {
        // The cell under the list is changed through the list only.
        auto* cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        grid->setItem(row - 1, f.Column, cell);

        auto* list = new QComboBox(panel);
        list->addItems(f.Items);
        connect(list, &QComboBox::currentIndexChanged, this, [this, list] { cb_SectionsInvisChange(list); });
        overlay = list;
    } else {
        auto* list = new QListWidget(panel);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        for (const QString& item : f.Items) {
            auto* mark = new QListWidgetItem(item, list);
            mark->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            mark->setCheckState(Qt::Unchecked);
        }
        connect(list, &QListWidget::itemChanged, this, [this, list] { CheckListBoxClickCheck(list); });
        overlay = list;
    }
    overlay->setObjectName(f.Overlay + QString::number(row));
    overlay->setProperty("Tag", row);
    overlay->setProperty("Grid", f.Control);
    overlay->hide();
    overlay->raise();
    return overlay;
}

void TSettingsPage::BindMembers()
{
    KKM_BIND(ts_KKMMainOptions);
    KKM_BIND(ts_KKMPrintOpt);
    KKM_BIND(ts_KKMReklama);
    KKM_BIND(ts_KKMDiscounts);
    KKM_BIND(ts_Taxes);
    KKM_BIND(ts_Sections);
    KKM_BIND(ts_Devices);
    KKM_BIND(ts_Operators);
    KKM_BIND(ts_PayTypes);

    KKM_BIND(cb_RegOptions);
    KKM_BIND(cb_MoneyBoxList);
    KKM_BIND(cb_zOptions);
    KKM_BIND(cb_Kassir);
    KKM_BIND(ed_ScreenDelay);
    KKM_BIND(ed_AutoLock);
    KKM_BIND(cb_WritingJournal);
    KKM_BIND(ed_INN);

    KKM_BIND(ed_PoContrast);
    KKM_BIND(ed_PoStringInterval);
    KKM_BIND(cb_PoEconFont);
    KKM_BIND(cb_PoDocSep);
    KKM_BIND(cb_PoObraml);
    KKM_BIND(cb_PoCheck);

    KKM_BIND(ed_CheckBeginFirst);
    KKM_BIND(ed_CheckBeginSecond);
    KKM_BIND(ed_CheckBeginThird);
    KKM_BIND(ed_CheckTop);
    KKM_BIND(ed_CheckEndFirst);
    KKM_BIND(ed_CheckEndSecond);
    KKM_BIND(ed_CheckEndThird);
    KKM_BIND(ed_BuyDisplayFirst);
    KKM_BIND(ed_BuyDisplaySecond);
    KKM_BIND(cb_CheckBeginfirstc);
    KKM_BIND(cb_CheckBeginSecondc);
    KKM_BIND(cb_CheckBeginThirdc);
    KKM_BIND(cb_checkTopc);
    KKM_BIND(cb_CheckEndFirstc);
    KKM_BIND(cb_CheckEndSecondc);
    KKM_BIND(cb_CheckEndThirdc);
    KKM_BIND(cb_BuyDisplayFirstc);
    KKM_BIND(cb_BuyDisplaySecondc);
    KKM_BIND(bCenter1);
    KKM_BIND(bCenter2);
    KKM_BIND(bCenter3);
    KKM_BIND(bCenter4);
    KKM_BIND(bCenter5);
    KKM_BIND(bCenter6);
    KKM_BIND(bCenter7);
    KKM_BIND(bCenter8);
    KKM_BIND(bCenter9);

    KKM_BIND_ROWS(ed_DscValue);
    KKM_BIND_ROWS(ed_DscName);
    KKM_BIND_ROWS(cb_DscType);
    KKM_BIND_ROWS(cb_DscSummType);
    KKM_BIND_ROWS(cb_DscAuth);
    KKM_BIND_ROWS(ed_txName);
    KKM_BIND_ROWS(ed_txValue);

    KKM_BIND(pnl_sections);
    KKM_BIND(SectionsSettings);

    KKM_BIND(cb_BarcodeSpeed);
    KKM_BIND(cb_ElectronicScaleSpeed);
    KKM_BIND(cb_ElectronicScaleProtocol);
    KKM_BIND(cb_ElecticScalesInterface);
    KKM_BIND(cb_PCSpeed);

    KKM_BIND(pnl_operators);
    KKM_BIND(Operators);

    KKM_BIND_ROWS(ed_PayType);
    KKM_BIND_ROWS(cb_PayType);
}

#undef KKM_BIND
#undef KKM_BIND_ROWS

void TSettingsPage::SetUpGridEditing()
{
    // The sections grid's cell editor opens wherever the current cell goes,
    // and a released key normalises the cell.
    SectionsSettings->setEditTriggers(QAbstractItemView::AllEditTriggers);
    auto* sectionsEditor = new TLiveEditDelegate(SectionsSettings);
    sectionsEditor->OnKeyUp = [this] { SectionsSettingsKeyUp(); };
    SectionsSettings->setItemDelegate(sectionsEditor);
    SectionsSettings->installEventFilter(this);

    // The operators grid's cells keep to their length as they are typed.
    auto* operatorsEditor = new TLiveEditDelegate(Operators);
    operatorsEditor->OnEditText = [this](int col, int row, const QString& text) {
        OperatorsSetEditText(col, row, text);
    };
    Operators->setItemDelegate(operatorsEditor);
}

void TSettingsPage::DisableReadOnlyPages()
{
    for (const TRegisterTable& t : SettingsTables())
        if (QWidget* sub = pc_Options->widget(t.SubPage))
            sub->setEnabled(TakesInput(t));
    pc_Options->setCurrentIndex(spMainOptions);
}

// ---------------------------------------------------------------------------
// Grid access

QString TSettingsPage::SectionsCell(int col, int row) const
{
    return GridCell(SectionsSettings, col, row);
}

void TSettingsPage::SetSectionsCell(int col, int row, const QString& text)
{
    SetGridCell(SectionsSettings, col, row, text);
}

QString TSettingsPage::OperatorsCell(int col, int row) const
{
    return GridCell(Operators, col, row);
}

void TSettingsPage::SetOperatorsCell(int col, int row, const QString& text)
{
    SetGridCell(Operators, col, row, text);
}

const TSettingsPage::TCellLists* TSettingsPage::CellLists(const QTableWidget* grid) const
{
    for (const TCellLists& lists : cellLists_)
        if (lists.Grid == grid)
            return &lists;
    return nullptr;
}

const TSettingsPage::TCellLists& TSettingsPage::ListsOf(const QWidget* overlay) const
{
    for (const TCellLists& lists : cellLists_)
        if (std::find(lists.ByRow.begin(), lists.ByRow.end(), overlay) != lists.ByRow.end())
            return lists;
    throw EKkmError(QStringLiteral("%1 не над таблицей").arg(overlay->objectName()));
}

void TSettingsPage::FollowRow(QTableWidget* grid, int row)
{
    // The current cell goes to the list's row, in its column unless that is
    // a row label (or there is none).
    const int fixed = TableOfControl(grid->objectName()).Grid.FixedColumns;
    const int col = grid->currentColumn();
    grid->setCurrentCell(row - 1, col >= fixed ? col : fixed);
}

const TSettingsPage::TCellLists* TSettingsPage::CellListsOfViewport(const QObject* viewport) const
{
    for (const TCellLists& lists : cellLists_)
        if (lists.Grid->viewport() == viewport)
            return &lists;
    return nullptr;
}

QComboBox* TSettingsPage::SectionsList(int row) const
{
    const TCellLists* lists = CellLists(SectionsSettings);
    return lists && row >= 1 && row < int(lists->ByRow.size()) ? qobject_cast<QComboBox*>(lists->ByRow[row])
                                                                : nullptr;
}

QListWidget* TSettingsPage::OperatorRights(int row) const
{
    const TCellLists* lists = CellLists(Operators);
    return lists && row >= 1 && row < int(lists->ByRow.size()) ? qobject_cast<QListWidget*>(lists->ByRow[row])
                                                                : nullptr;
}

void TSettingsPage::SetCellList(const TCellLists& lists, int row, int value)
{
    if (row < 1 || row >= int(lists.ByRow.size()))
        return;
    auto* list = qobject_cast<QComboBox*>(lists.ByRow[static_cast<std::size_t>(row)]);
    const int index = value == 1 ? 1 : 0;
    SetGridCell(lists.Grid, lists.Field->Column, row, QString::number(index));
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(index);
}

void TSettingsPage::SetCellMarks(const TCellLists& lists, int row, int mask)
{
    if (row < 1 || row >= int(lists.ByRow.size()))
        return;
    auto* list = qobject_cast<QListWidget*>(lists.ByRow[static_cast<std::size_t>(row)]);
    // Marks set by code must not rewrite the cell.
    const QSignalBlocker quiet(list);
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState((mask >> i) & 1 ? Qt::Checked : Qt::Unchecked);
    list->viewport()->update();
}

void TSettingsPage::SetSectionsSphere(int row, int value)
{
    if (const TCellLists* lists = CellLists(SectionsSettings))
        SetCellList(*lists, row, value);
}

void TSettingsPage::SetOperatorRightsMarks(int row, int mask)
{
    if (const TCellLists* lists = CellLists(Operators))
        SetCellMarks(*lists, row, mask);
}

QLineEdit* TSettingsPage::TextLineEdit(int record) const
{
    return record >= 1 && record < int(lineEdits_.size()) ? lineEdits_[record] : nullptr;
}

TCheckComboBox* TSettingsPage::TextLineAttributes(int record) const
{
    return record >= 1 && record < int(lineAttributes_.size()) ? lineAttributes_[record] : nullptr;
}

QToolButton* TSettingsPage::CentreButton(int record) const
{
    return record >= 1 && record < int(centreButtons_.size()) ? centreButtons_[record] : nullptr;
}

// ---------------------------------------------------------------------------
// Lists laid over cells

void TSettingsPage::DrawCell(QTableWidget* grid, int col, int row)
{
    const TCellLists* lists = CellLists(grid);
    if (!lists || col != lists->Field->Column || row < 1 || row >= int(lists->ByRow.size()))
        return;
    Host->Guard(lists->DrawLocation, [&] {
        QWidget* overlay = lists->ByRow[static_cast<std::size_t>(row)];
        auto* list = qobject_cast<QComboBox*>(overlay);
        if (!list) {
            // One pixel in at the left and top, so the grid line stays visible.
            PlaceOverCell(grid, col, row - 1, overlay, QMargins(1, 1, 0, 0));
            return;
        }
        PlaceOverCell(grid, col, row - 1, list);
        if (GridCell(grid, col, row).isEmpty())
            SetGridCell(grid, col, row, QStringLiteral("0"));
        // Following the cell is no change made by the user. A value without
        // an item leaves the list without a selection rather than raising an
        // error from every paint.
        bool number = false;
        const int index = GridCell(grid, col, row).toInt(&number);
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(number && index >= 0 && index < list->count() ? index : -1);
    });
}

void TSettingsPage::PlaceCellLists(const QTableWidget* grid)
{
    const TCellLists* lists = CellLists(grid);
    if (!lists)
        return;
    for (int r = 1; r < int(lists->ByRow.size()); ++r)
        if (lists->ByRow[static_cast<std::size_t>(r)])
            DrawCell(lists->Grid, lists->Field->Column, r);
}

void TSettingsPage::SectionsSettingsDrawCell(int col, int row)
{
    DrawCell(SectionsSettings, col, row);
}

void TSettingsPage::OperatorsDrawCell(int col, int row)
{
    DrawCell(Operators, col, row);
}

void TSettingsPage::cb_SectionsInvisChange(QComboBox* list)
{
    Host->Guard(QStringLiteral("Tfm_Main.cb_SectionsInvisChange"), [&] {
        const int row = list->property("Tag").toInt();
        const TCellLists& lists = ListsOf(list);
        SetGridCell(lists.Grid, lists.Field->Column, row, QString::number(list->currentIndex()));
        FollowRow(lists.Grid, row);
    });
}

// ---------------------------------------------------------------------------
// Editing the grids

void TSettingsPage::SectionsSettingsKeyUp()
{
    Host->Guard(QStringLiteral("Tfm_Main.SectionsSettingsKeyUp"), [&] {
        const int col = SectionsSettings->currentColumn();
        const int row = SectionsSettings->currentRow() + 1;
        if (col < 0 || row < 1)
            return;
        const QString text = SectionsCell(col, row);
        if (text.isEmpty())
            return;
        // The column's length, and for a number its range: a cell that is
        // no number within it is cleared.
        QString t = text;
        if (const TTableField* f = FindField(SectionsSettings->objectName(), col, row);
            f && f->MaxLength > 0) {
            t = t.left(f->MaxLength);
            std::int64_t n = 0;
            if (f->HasRange() && !(IsDigits(t) && TryStrToInt64(t, n) && n >= f->Min && n <= f->Max))
                t.clear();
        }
        // The open editor follows the cell.
        if (t != text)
            SetSectionsCell(col, row, t);
    });
}

void TSettingsPage::CheckListBoxClickCheck(QListWidget* list)
{
    Host->Guard(QStringLiteral("Tfm_Main.CheckListBoxClickCheck"), [&] {
        const int row = list->property("Tag").toInt();
        const TCellLists& lists = ListsOf(list);
        int mask = 0;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->checkState() == Qt::Checked)
                mask += 1 << i;
        SetGridCell(lists.Grid, lists.Field->Column, row, QString::number(mask));
        FollowRow(lists.Grid, row);
    });
}

void TSettingsPage::OperatorsSetEditText(int col, int row, const QString& text)
{
    Host->Guard(QStringLiteral("Tfm_Main.OperatorsSetEditText"), [&] {
        const TTableField* f = FindField(Operators->objectName(), col, row);
        if (f && f->MaxLength > 0 && text.size() > f->MaxLength)
            SetOperatorsCell(col, row, text.left(f->MaxLength));
    });
}

// ---------------------------------------------------------------------------
// Numeric edits and text lines

bool TSettingsPage::NumericKeyAllowed(const QString& editName, QChar key)
{
    if (!(key == QChar(8) || key == QLatin1Char('-') || IsDigit(key) || key == QLatin1Char('.')))
        return false;
    const TTableField* f = FindField(editName);
    return !(key == QLatin1Char('.') && f && WholeNumber(*f));
}

bool TSettingsPage::ed_DateIntervalKeyPress(QLineEdit* edit, QChar key)
{
    bool allowed = true;
    Host->Guard(QStringLiteral("Tfm_Main.me_KKMAddrKeyPress"), [&] {
        allowed = NumericKeyAllowed(edit->objectName(), key);
    });
    return allowed;
}

QString TSettingsPage::CentredText(const QString& text, bool doubleWidth)
{
    QString t = TrimText(text);
    const int n = t.size();
    const int width = doubleWidth ? 16 : 32;
    if (doubleWidth && n > width)
        t.truncate(width);
    if (n < width)
        t.prepend(QString((width - n) / 2, QLatin1Char(' ')));
    return t;
}

void TSettingsPage::bCenter1Click(QToolButton* button)
{
    Host->Guard(QStringLiteral("Tfm_Main.bCenter1Click"), [&] {
        const auto at = std::find(centreButtons_.begin(), centreButtons_.end(), button);
        const int record = int(at - centreButtons_.begin());
        if (!button || at == centreButtons_.end())
            throw EKkmError(QStringLiteral("Неизвестная кнопка выравнивания"));
        QLineEdit* edit = lineEdits_[record];
        edit->setText(CentredText(edit->text(), lineAttributes_[record]->Checked(0)));
    });
}

// ---------------------------------------------------------------------------
// Events

bool TSettingsPage::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && std::find(numericEdits_.begin(), numericEdits_.end(), edit) != numericEdits_.end()) {
            // Only typed characters are filtered; editing keys and shortcuts
            // pass as they are.
            const QString text = static_cast<QKeyEvent*>(event)->text();
            if (text.size() == 1 && text[0].isPrint() && !ed_DateIntervalKeyPress(edit, text[0]))
                return true;
        }
    } else if (type == QEvent::KeyRelease && watched == SectionsSettings) {
        SectionsSettingsKeyUp();
    } else if (type == QEvent::Paint || type == QEvent::Resize || type == QEvent::Show) {
        // Painting a grid lays its lists over their cells.
        if (const TCellLists* lists = CellListsOfViewport(watched))
            PlaceCellLists(lists->Grid);
    }
    return TPage::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Binding the table map to the controls

void TSettingsPage::SetFieldValue(const TFieldValue& v)
{
    const TTableField& f = *v.Field;
    QWidget* control = Control(f.Control);
    if (!control)
        throw EKkmError(QStringLiteral("Нет элемента %1").arg(f.Control));
    if (InGrid(f.Kind)) {
        auto* grid = qobject_cast<QTableWidget*>(control);
        if (!grid)
            throw EKkmError(QStringLiteral("%1 не таблица").arg(f.Control));
        const TCellLists* lists = CellLists(grid);
        if (f.Kind == TControlKind::CellList && lists) {
            // The cell and the row's list together.
            SetCellList(*lists, v.Row, v.Value.Index);
            return;
        }
        SetGridCell(grid, f.Column, v.Row, v.Value.Text);
        // The marks follow the cell's number; the handler must not write
        // the cell back.
        if (f.Kind == TControlKind::CellCheckedList && lists)
            SetCellMarks(*lists, v.Row, static_cast<int>(v.Value.Bits));
        return;
    }
    // The checked list is a combo box as well, so it is asked for first.
    if (auto* checked = qobject_cast<TCheckComboBox*>(control))
        checked->SetMask(v.Value.Bits);
    else if (auto* list = qobject_cast<QComboBox*>(control))
        list->setCurrentIndex(v.Value.Index >= 0 && v.Value.Index < list->count() ? v.Value.Index : -1);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        SetWholeText(edit, v.Value.Text);
    else if (auto* box = qobject_cast<QCheckBox*>(control))
        box->setChecked(v.Value.Checked);
    else
        throw EKkmError(QStringLiteral("%1: неизвестный вид элемента").arg(f.Control));
}

void TSettingsPage::SetWholeText(QLineEdit* edit, const QString& text)
{
    // An edit's length limit is for typing. A line edit cuts whatever it is
    // given to its limit, and a value read from the register cut that way
    // (a contrast of 10 shown as 1) would be written back changed; such a
    // value widens the limit for as long as it is shown.
    QVariant limit = edit->property("TypingLimit");
    if (!limit.isValid()) {
        limit = edit->maxLength();
        edit->setProperty("TypingLimit", limit);
    }
    edit->setMaxLength(std::max(limit.toInt(), static_cast<int>(text.size())));
    edit->setText(text);
}

TControlValue TSettingsPage::FieldValue(const TTableField& f, int row) const
{
    QWidget* control = Control(f.Control);
    if (!control)
        throw EKkmError(QStringLiteral("Нет элемента %1").arg(f.Control));
    TControlValue v;
    if (InGrid(f.Kind)) {
        auto* grid = qobject_cast<QTableWidget*>(control);
        if (!grid)
            throw EKkmError(QStringLiteral("%1 не таблица").arg(f.Control));
        v.Text = GridCell(grid, f.Column, row);
        const TCellLists* lists = CellLists(grid);
        if (f.Kind == TControlKind::CellList && lists && row >= 1 && row < int(lists->ByRow.size()))
            if (const auto* list = qobject_cast<const QComboBox*>(lists->ByRow[static_cast<std::size_t>(row)]))
                v.Index = list->currentIndex();
        return v;
    }
    if (auto* checked = qobject_cast<TCheckComboBox*>(control))
        v.Bits = checked->Mask();
    else if (auto* list = qobject_cast<QComboBox*>(control))
        v.Index = list->currentIndex();
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        v.Text = edit->text();
    else if (auto* box = qobject_cast<QCheckBox*>(control))
        v.Checked = box->isChecked();
    else
        throw EKkmError(QStringLiteral("%1: неизвестный вид элемента").arg(f.Control));
    return v;
}

void TSettingsPage::ShowProfile(const kkm::TProfile& profile)
{
    for (const auto& [key, records] : profile.Tables)
        for (const std::vector<TFieldValue>& values : records)
            for (const TFieldValue& v : values)
                SetFieldValue(v);
}

// ---------------------------------------------------------------------------
// Reading

const TRegisterTable* TSettingsPage::CurrentTable() const
{
    const int sub = pc_Options->currentIndex();
    const std::vector<TRegisterTable>& tables = SettingsTables();
    if (sub < 0 || sub >= static_cast<int>(tables.size()))
        return nullptr;
    return &tables[static_cast<std::size_t>(sub)];
}

void TSettingsPage::ReadTable()
{
    const TRegisterTable* table = CurrentTable();
    if (!table)
        return;
    Host->StartJob(QStringLiteral("TMainForm.si_ReadTableFromKKMClick"),
                   [this, table](kkm::TJobContext& job) {
                       kkm::SettingsReadJob(job, *table, [this, &job](const std::vector<TFieldValue>& values) {
                           job.Post([this, values] {
                               for (const TFieldValue& v : values)
                                   SetFieldValue(v);
                           });
                       });
                   });
}

// ---------------------------------------------------------------------------
// Writing

void TSettingsPage::WriteTable()
{
    const TRegisterTable* table = CurrentTable();
    if (!table)
        return;
    const TRegisterTable& t = *table;
    // Read-only tables: nothing, not even a journal line.
    if (t.Write == TWriteKind::Never)
        return;
    // The values are taken, encoded and their defaults shown now; the job
    // only sends them.
    auto plan = std::make_shared<kkm::TSettingsWritePlan>(kkm::PlanSettingsWrite(
        t, [&](const TFieldValue& v, int) { return FieldValue(*v.Field, v.Row); },
        [this](const TFieldValue& v) { SetFieldValue(v); }));
    if (plan->Items.empty() && !plan->BuildError.isEmpty()) {
        Host->WriteLog(t.WriteStartLine, QColor(clBlack));
        throw EKkmError(plan->BuildError);
    }
    auto outcome = std::make_shared<kkm::TWriteOutcome>(kkm::TWriteOutcome::Written);
    Host->StartJob(
        QStringLiteral("TMainForm.si_WriteTableToKKMClick"),
        [plan, outcome](kkm::TJobContext& job) { *outcome = kkm::SettingsWriteJob(job, *plan); },
        [plan, outcome] {
            // Everything before the value that could not be encoded went out.
            if (*outcome == kkm::TWriteOutcome::NotEncoded)
                throw EKkmError(plan->BuildError);
        });
}
