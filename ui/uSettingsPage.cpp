#include "uSettingsPage.h"

#include "SettingsJobs.h"

#include "CheckComboBox.h"
#include "GridEdit.h"
#include "KkmText.h"
#include "StringGrid.h"


#include <algorithm>
#include <functional>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
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

QString Named(const char* base, int n)
{
    return QLatin1String(base) + QString::number(n);
}

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

const TRegisterTable& TableOf(const char* page)
{
    for (const TRegisterTable& t : SettingsTables())
        if (t.Page == QLatin1String(page))
            return t;
    throw EKkmError(QStringLiteral("Нет таблицы для %1").arg(QLatin1String(page)));
}

// An edit of the field's typing length.
QLineEdit* Edit(QWidget* parent, const QString& name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(MapField(name).MaxLength);
    return e;
}

// A fixed list of the field's items: no free text; the item the map says
// is selected at start (-1: none).
QComboBox* List(QWidget* parent, const QString& name)
{
    const TTableField& f = MapField(name);
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(f.Items);
    c->setCurrentIndex(f.StartIndex);
    return c;
}

TCheckComboBox* CheckedList(QWidget* parent, const QString& name)
{
    auto* c = new TCheckComboBox(parent);
    c->setObjectName(name);
    c->SetItems(MapField(name).Items);
    return c;
}

// A caption in front of its control, one row of a two-column grid.
void AddRow(QGridLayout* grid, const QString& caption, QWidget* control)
{
    const int row = grid->rowCount();
    auto* label = new QLabel(caption, control->parentWidget());
    label->setBuddy(control);
    grid->addWidget(label, row, 0);
    grid->addWidget(control, row, 1);
}

QGridLayout* FormGrid(QWidget* sheet)
{
    auto* outer = new QVBoxLayout(sheet);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->setColumnMinimumWidth(1, 220);
    outer->addLayout(grid);
    outer->addStretch(1);
    return grid;
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

} // namespace

TSettingsPage::TSettingsPage(TPageHost* host, QWidget* parent)
    : TPage(host, "ts_KKMOptions", QStringLiteral("Настройки ДЛФ"), parent)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    pc_Options = new QTabWidget(this);
    pc_Options->setObjectName(QStringLiteral("pc_Options"));
    page->addWidget(pc_Options);

    auto sub = [this](const char* name, const QString& caption) {
        QWidget* p = new QWidget(pc_Options);
        p->setObjectName(QLatin1String(name));
        pc_Options->addTab(p, caption);
        return p;
    };
    ts_KKMMainOptions = sub("ts_KKMMainOptions", QStringLiteral("Опции ДЛФ"));
    ts_KKMPrintOpt = sub("ts_KKMPrintOpt", QStringLiteral("Опции печати ДЛФ"));
    ts_KKMReklama = sub("ts_KKMReklama", QStringLiteral("Рекламные строки"));
    ts_KKMDiscounts = sub("ts_KKMDiscounts", QStringLiteral("Скидки / Наценки"));
    ts_Taxes = sub("ts_Taxes", QStringLiteral("Налоги"));
    ts_Sections = sub("ts_Sections", QStringLiteral("Опции отделов"));
    ts_Devices = sub("ts_Devices", QStringLiteral("Устройства"));
    ts_Operators = sub("ts_Operators", QStringLiteral("Операторы"));
    ts_PayTypes = sub("ts_PayTypes", QStringLiteral("Типы оплаты"));

    BuildMainOptions();
    BuildPrintOptions();
    BuildTextLines();
    BuildDiscounts();
    BuildTaxes();
    BuildGrids();
    BuildDevices();
    BuildPayTypes();

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
// Layout of the sub-pages

void TSettingsPage::BuildMainOptions()
{
    QWidget* s = ts_KKMMainOptions;
    QGridLayout* grid = FormGrid(s);
    cb_RegOptions = CheckedList(s, QStringLiteral("cb_RegOptions"));
    cb_MoneyBoxList = List(s, QStringLiteral("cb_MoneyBoxList"));
    cb_zOptions = CheckedList(s, QStringLiteral("cb_zOptions"));
    cb_Kassir = List(s, QStringLiteral("cb_Kassir"));
    ed_ScreenDelay = Edit(s, QStringLiteral("ed_ScreenDelay"));
    ed_AutoLock = Edit(s, QStringLiteral("ed_AutoLock"));
    cb_WritingJournal = List(s, QStringLiteral("cb_WritingJournal"));
    ed_INN = Edit(s, QStringLiteral("ed_INN"));

    AddRow(grid, QStringLiteral("Опции регистрации"), cb_RegOptions);
    AddRow(grid, QStringLiteral("Денежный ящик"), cb_MoneyBoxList);
    AddRow(grid, QStringLiteral("Опции Z-отчета"), cb_zOptions);
    AddRow(grid, QStringLiteral("Кассир по умолчанию"), cb_Kassir);
    AddRow(grid, QStringLiteral("Длительность подсветки (сек. 0 - 999)"), ed_ScreenDelay);
    AddRow(grid, QStringLiteral("Автоматическая блокировка (сек. 0 - 60)"), ed_AutoLock);
    AddRow(grid, QStringLiteral("Вести журнал"), cb_WritingJournal);
    AddRow(grid, QStringLiteral("ИНН"), ed_INN);
}

void TSettingsPage::BuildPrintOptions()
{
    QWidget* s = ts_KKMPrintOpt;
    QGridLayout* grid = FormGrid(s);
    ed_PoContrast = Edit(s, QStringLiteral("ed_PoContrast"));
    ed_PoStringInterval = Edit(s, QStringLiteral("ed_PoStringInterval"));
    cb_PoEconFont = List(s, QStringLiteral("cb_PoEconFont"));
    cb_PoDocSep = List(s, QStringLiteral("cb_PoDocSep"));
    cb_PoObraml = CheckedList(s, QStringLiteral("cb_PoObraml"));
    cb_PoCheck = CheckedList(s, QStringLiteral("cb_PoCheck"));

    AddRow(grid, QStringLiteral("Контраст печати (1 .. 4)"), ed_PoContrast);
    AddRow(grid, QStringLiteral("Межстрочный интервал (0 .. 8)"), ed_PoStringInterval);
    AddRow(grid, QStringLiteral("Экономный шрифт"), cb_PoEconFont);
    AddRow(grid, QStringLiteral("Разделители документов"), cb_PoDocSep);
    AddRow(grid, QStringLiteral("Обрамление чека"), cb_PoObraml);
    AddRow(grid, QStringLiteral("Настройки чека"), cb_PoCheck);
}

void TSettingsPage::BuildTextLines()
{
    QWidget* s = ts_KKMReklama;
    auto* column = new QVBoxLayout(s);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    struct TLineNames {
        const char* Edit;
        const char* Attributes;
        QLineEdit** EditMember;
        TCheckComboBox** AttributesMember;
        QToolButton** ButtonMember;
    };
    const TLineNames lines[TextLines] = {
        {"ed_CheckBeginFirst", "cb_CheckBeginfirstc", &ed_CheckBeginFirst, &cb_CheckBeginfirstc, &bCenter1},
        {"ed_CheckBeginSecond", "cb_CheckBeginSecondc", &ed_CheckBeginSecond, &cb_CheckBeginSecondc, &bCenter2},
        {"ed_CheckBeginThird", "cb_CheckBeginThirdc", &ed_CheckBeginThird, &cb_CheckBeginThirdc, &bCenter3},
        {"ed_CheckTop", "cb_checkTopc", &ed_CheckTop, &cb_checkTopc, &bCenter4},
        {"ed_CheckEndFirst", "cb_CheckEndFirstc", &ed_CheckEndFirst, &cb_CheckEndFirstc, &bCenter5},
        {"ed_CheckEndSecond", "cb_CheckEndSecondc", &ed_CheckEndSecond, &cb_CheckEndSecondc, &bCenter6},
        {"ed_CheckEndThird", "cb_CheckEndThirdc", &ed_CheckEndThird, &cb_CheckEndThirdc, &bCenter7},
        {"ed_BuyDisplayFirst", "cb_BuyDisplayFirstc", &ed_BuyDisplayFirst, &cb_BuyDisplayFirstc, &bCenter8},
        {"ed_BuyDisplaySecond", "cb_BuyDisplaySecondc", &ed_BuyDisplaySecond, &cb_BuyDisplaySecondc, &bCenter9},
    };
    // Groups from top to bottom, with the records they hold.
    const struct {
        QString Caption;
        int First;
        int Last;
    } groups[] = {{QStringLiteral("Начало чека"), 1, 3},
                  {QStringLiteral("Заголовок чека"), 4, 4},
                  {QStringLiteral("Окончание чека"), 5, 7},
                  {QStringLiteral("Дисплей покупателя "), 8, 9}};
    const QIcon centre = CentreIcon();
    for (const auto& g : groups) {
        auto* box = new QGroupBox(g.Caption, s);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(8, 6, 8, 6);
        grid->setVerticalSpacing(4);
        grid->setColumnStretch(0, 1);
        for (int n = g.First; n <= g.Last; ++n) {
            const TLineNames& names = lines[n - 1];
            QLineEdit* edit = Edit(box, QLatin1String(names.Edit));
            QFont mono(QStringLiteral("Monospace"));
            mono.setStyleHint(QFont::TypeWriter);
            edit->setFont(mono);
            TCheckComboBox* attributes = CheckedList(box, QLatin1String(names.Attributes));
            attributes->setMinimumWidth(170);
            auto* button = new QToolButton(box);
            button->setObjectName(Named("bCenter", n));
            button->setToolTip(QStringLiteral("Выравнять по центру"));
            button->setIcon(centre);
            button->setAutoRaise(true);
            const int row = n - g.First;
            grid->addWidget(edit, row, 0);
            grid->addWidget(attributes, row, 1);
            grid->addWidget(button, row, 2);
            *names.EditMember = edit;
            *names.AttributesMember = attributes;
            *names.ButtonMember = button;
            lineEdits_[n] = edit;
            lineAttributes_[n] = attributes;
            centreButtons_[n] = button;
            connect(button, &QToolButton::clicked, this, [this, button] { bCenter1Click(button); });
        }
        column->addWidget(box);
    }
    column->addStretch(1);
}

void TSettingsPage::BuildDiscounts()
{
    QWidget* s = ts_KKMDiscounts;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    outer->addLayout(grid);
    outer->addStretch(1);
    const QStringList& headers = TableOf("ts_KKMDiscounts").ColumnTitles;
    for (int c = 0; c < headers.size(); ++c)
        grid->addWidget(HeaderLabel(s, headers[c]), 0, c + 1);
    for (int n = 1; n <= DiscountRows; ++n) {
        grid->addWidget(new QLabel(QString::number(n), s), n, 0);
        ed_DscValue[n] = Edit(s, Named("ed_DscValue", n));
        ed_DscName[n] = Edit(s, Named("ed_DscName", n));
        cb_DscType[n] = List(s, Named("cb_DscType", n));
        cb_DscSummType[n] = List(s, Named("cb_DscSummType", n));
        cb_DscAuth[n] = new QCheckBox(s);
        cb_DscAuth[n]->setObjectName(Named("cb_DscAuth", n));
        grid->addWidget(ed_DscValue[n], n, 1);
        grid->addWidget(ed_DscName[n], n, 2);
        grid->addWidget(cb_DscType[n], n, 3);
        grid->addWidget(cb_DscSummType[n], n, 4);
        grid->addWidget(cb_DscAuth[n], n, 5, Qt::AlignHCenter);
    }
}

void TSettingsPage::BuildTaxes()
{
    QWidget* s = ts_Taxes;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    outer->addLayout(grid);
    outer->addStretch(1);
    const QStringList& headers = TableOf("ts_Taxes").ColumnTitles;
    for (int c = 0; c < headers.size(); ++c)
        grid->addWidget(HeaderLabel(s, headers[c]), 0, c);
    for (int n = 1; n <= TaxRows; ++n) {
        ed_txName[n] = Edit(s, Named("ed_txName", n));
        ed_txValue[n] = Edit(s, Named("ed_txValue", n));
        grid->addWidget(ed_txName[n], n, 0);
        grid->addWidget(ed_txValue[n], n, 1);
    }
    grid->setColumnStretch(2, 1);
}

void TSettingsPage::BuildDevices()
{
    QWidget* s = ts_Devices;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto group = [&](const QString& caption) {
        auto* box = new QGroupBox(caption, s);
        auto* grid = new QGridLayout(box);
        grid->setColumnMinimumWidth(1, 180);
        grid->setColumnStretch(2, 1);
        outer->addWidget(box);
        return std::pair{box, grid};
    };
    auto [scanner, scannerGrid] = group(QStringLiteral("Сканер штрих-кода"));
    cb_BarcodeSpeed = List(scanner, QStringLiteral("cb_BarcodeSpeed"));
    AddRow(scannerGrid, QStringLiteral("Скорость обмена"), cb_BarcodeSpeed);

    auto [scales, scalesGrid] = group(QStringLiteral("Электронные весы"));
    cb_ElectronicScaleSpeed = List(scales, QStringLiteral("cb_ElectronicScaleSpeed"));
    cb_ElectronicScaleProtocol = List(scales, QStringLiteral("cb_ElectronicScaleProtocol"));
    cb_ElecticScalesInterface = List(scales, QStringLiteral("cb_ElecticScalesInterface"));
    AddRow(scalesGrid, QStringLiteral("Скорость обмена"), cb_ElectronicScaleSpeed);
    AddRow(scalesGrid, QStringLiteral("Протокол"), cb_ElectronicScaleProtocol);
    AddRow(scalesGrid, QStringLiteral("Интерфейс"), cb_ElecticScalesInterface);

    auto [pc, pcGrid] = group(QStringLiteral("ПК"));
    cb_PCSpeed = List(pc, QStringLiteral("cb_PCSpeed"));
    AddRow(pcGrid, QStringLiteral("Скорость обмена"), cb_PCSpeed);
    outer->addStretch(1);
}

void TSettingsPage::BuildPayTypes()
{
    QWidget* s = ts_PayTypes;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    outer->addLayout(grid);
    outer->addStretch(1);
    const QStringList& headers = TableOf("ts_PayTypes").ColumnTitles;
    for (int c = 0; c < headers.size(); ++c)
        grid->addWidget(HeaderLabel(s, headers[c]), 0, c);
    for (int n = 1; n <= PayTypeRows; ++n) {
        ed_PayType[n] = Edit(s, Named("ed_PayType", n));
        cb_PayType[n] = new QCheckBox(s);
        cb_PayType[n]->setObjectName(Named("cb_PayType", n));
        grid->addWidget(ed_PayType[n], n, 0);
        grid->addWidget(cb_PayType[n], n, 1, Qt::AlignHCenter);
    }
    grid->setColumnStretch(2, 1);
}

void TSettingsPage::BuildGrids()
{
    // The two grids stand on panels; the per-row lists created at start-up
    // lie on the same panels, over the grid.
    auto gridOnPanel = [](QWidget* sheet, const char* panelName, const char* gridName,
                          QWidget*& panel, QTableWidget*& grid) {
        auto* sheetLayout = new QVBoxLayout(sheet);
        sheetLayout->setContentsMargins(4, 4, 4, 4);
        panel = new QWidget(sheet);
        panel->setObjectName(QLatin1String(panelName));
        sheetLayout->addWidget(panel);
        auto* panelLayout = new QVBoxLayout(panel);
        panelLayout->setContentsMargins(0, 0, 0, 0);
        grid = new QTableWidget(panel);
        grid->setObjectName(QLatin1String(gridName));
        grid->verticalHeader()->hide();
        grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        grid->horizontalHeader()->setHighlightSections(false);
        grid->setSelectionMode(QAbstractItemView::SingleSelection);
        panelLayout->addWidget(grid);
    };
    gridOnPanel(ts_Sections, "pnl_sections", "SectionsSettings", pnl_sections, SectionsSettings);
    gridOnPanel(ts_Operators, "pnl_operators", "Operators", pnl_operators, Operators);

    // The sections grid's cell editor opens wherever the current cell goes.
    SectionsSettings->setEditTriggers(QAbstractItemView::AllEditTriggers);
    auto* sectionsEditor = new TLiveEditDelegate(SectionsSettings);
    sectionsEditor->OnKeyUp = [this] { SectionsSettingsKeyUp(); };
    SectionsSettings->setItemDelegate(sectionsEditor);
    SectionsSettings->installEventFilter(this);
    SectionsSettings->viewport()->installEventFilter(this);

    auto* operatorsEditor = new TLiveEditDelegate(Operators);
    operatorsEditor->OnEditText = [this](int col, int row, const QString& text) {
        OperatorsSetEditText(col, row, text);
    };
    Operators->setItemDelegate(operatorsEditor);
    Operators->viewport()->installEventFilter(this);

    // Scrolling moves the overlays along with their cells.
    for (QScrollBar* bar : {SectionsSettings->horizontalScrollBar(), SectionsSettings->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, &TSettingsPage::PlaceSectionsLists);
    for (QScrollBar* bar : {Operators->horizontalScrollBar(), Operators->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, &TSettingsPage::PlaceOperatorRights);
    connect(SectionsSettings->horizontalHeader(), &QHeaderView::sectionResized, this,
            &TSettingsPage::PlaceSectionsLists);
    connect(Operators->horizontalHeader(), &QHeaderView::sectionResized, this,
            &TSettingsPage::PlaceOperatorRights);
}

// ---------------------------------------------------------------------------
// Start-up

// The grid's header, column widths, row height and row count as the map
// describes them.
static void SetUpGrid(QTableWidget* grid, const TRegisterTable& t,
                      const std::function<void(int, int, const QString&)>& setCell)
{
    const TGridLayout& g = t.Grid;
    grid->setColumnCount(static_cast<int>(g.Titles.size()));
    grid->setRowCount(t.RecordCount());
    grid->verticalHeader()->setDefaultSectionSize(g.RowHeight);
    for (int c = 0; c < g.Titles.size(); ++c) {
        grid->setColumnWidth(c, g.Widths[static_cast<std::size_t>(c)]);
        setCell(c, 0, g.Titles[c]);
    }
}

void TSettingsPage::SetUpSectionsGrid()
{
    // A fixed row of headers and a fixed column of labels.
    const TRegisterTable& t = TableOf("ts_Sections");
    if (t.RecordCount() != SectionRows)
        throw EKkmError(QStringLiteral("Таблица отделов: %1 строк").arg(t.RecordCount()));
    SetUpGrid(SectionsSettings, t, [this](int c, int r, const QString& text) { SetSectionsCell(c, r, text); });
    for (int r = 1; r <= SectionRows; ++r) {
        for (int c = 0; c < t.Grid.FixedColumns; ++c) {
            SetSectionsCell(c, r, t.Grid.RowLabel + QString::number(r));
            QTableWidgetItem* label = SectionsSettings->item(r - 1, c);
            label->setFlags(Qt::ItemIsEnabled);
            label->setBackground(palette().brush(QPalette::Button));
        }

        // The cell under the list is changed through the list only.
        const TTableField& sphere = MapField(QStringLiteral("SectionsSettings"), 4, r);
        auto* cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        SectionsSettings->setItem(r - 1, sphere.Column, cell);

        QComboBox* list = new QComboBox(pnl_sections);
        list->setObjectName(Named("cb_Sections", r));
        list->addItems(sphere.Items);
        list->setProperty("Tag", r);
        list->hide();
        list->raise();
        connect(list, &QComboBox::currentIndexChanged, this, [this, list] { cb_SectionsInvisChange(list); });
        sectionsLists_[r] = list;
    }
}

void TSettingsPage::SetUpOperatorsGrid()
{
    // No fixed column; a rights check list per row.
    const TRegisterTable& t = TableOf("ts_Operators");
    if (t.RecordCount() != OperatorRows)
        throw EKkmError(QStringLiteral("Таблица операторов: %1 строк").arg(t.RecordCount()));
    SetUpGrid(Operators, t, [this](int c, int r, const QString& text) { SetOperatorsCell(c, r, text); });
    for (int r = 1; r <= OperatorRows; ++r) {
        QListWidget* list = new QListWidget(pnl_operators);
        list->setObjectName(Named("CheckListBox", r));
        list->setProperty("Tag", r);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        for (const QString& right : MapField(QStringLiteral("Operators"), 2, r).Items) {
            auto* item = new QListWidgetItem(right, list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
        }
        connect(list, &QListWidget::itemChanged, this, [this, list] { CheckListBoxClickCheck(list); });
        list->hide();
        list->raise();
        operatorRights_[r] = list;
    }
}

void TSettingsPage::DisableReadOnlyPages()
{
    // The read-only tables' pages can be shown and filled by reading, but
    // their controls take no input.
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

QComboBox* TSettingsPage::SectionsList(int row) const
{
    return row >= 1 && row <= SectionRows ? sectionsLists_[row] : nullptr;
}

QListWidget* TSettingsPage::OperatorRights(int row) const
{
    return row >= 1 && row <= OperatorRows ? operatorRights_[row] : nullptr;
}

void TSettingsPage::SetSectionsSphere(int row, int value)
{
    QComboBox* list = SectionsList(row);
    if (!list)
        return;
    const int index = value == 1 ? 1 : 0;
    SetSectionsCell(4, row, QString::number(index));
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(index);
}

void TSettingsPage::SetOperatorRightsMarks(int row, int mask)
{
    QListWidget* list = OperatorRights(row);
    if (!list)
        return;
    // Marks set by code must not rewrite the rights cell.
    const QSignalBlocker quiet(list);
    for (int i = 0; i < list->count() && i < 7; ++i)
        list->item(i)->setCheckState((mask >> i) & 1 ? Qt::Checked : Qt::Unchecked);
    list->viewport()->update();
}

QLineEdit* TSettingsPage::TextLineEdit(int record) const
{
    return record >= 1 && record <= TextLines ? lineEdits_[record] : nullptr;
}

TCheckComboBox* TSettingsPage::TextLineAttributes(int record) const
{
    return record >= 1 && record <= TextLines ? lineAttributes_[record] : nullptr;
}

QToolButton* TSettingsPage::CentreButton(int record) const
{
    return record >= 1 && record <= TextLines ? centreButtons_[record] : nullptr;
}

// ---------------------------------------------------------------------------
// Sections grid

void TSettingsPage::SectionsSettingsDrawCell(int col, int row)
{
    if (col != 4 || row < 1 || row > SectionRows)
        return;
    Host->Guard(QStringLiteral("Tfm_Main.SectionsSettingsDrawCell"), [&] {
        QComboBox* list = sectionsLists_[row];
        PlaceOverCell(SectionsSettings, col, row - 1, list);
        if (SectionsCell(col, row).isEmpty())
            SetSectionsCell(col, row, QStringLiteral("0"));
        // Following the cell is no change made by the user. A value without
        // an item leaves the list without a selection rather than raising an
        // error from every paint.
        bool number = false;
        const int index = SectionsCell(col, row).toInt(&number);
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(number && index >= 0 && index < list->count() ? index : -1);
    });
}

void TSettingsPage::PlaceSectionsLists()
{
    for (int r = 1; r <= SectionRows; ++r)
        if (sectionsLists_[r])
            SectionsSettingsDrawCell(4, r);
}

void TSettingsPage::cb_SectionsInvisChange(QComboBox* list)
{
    Host->Guard(QStringLiteral("Tfm_Main.cb_SectionsInvisChange"), [&] {
        const int row = list->property("Tag").toInt();
        SetSectionsCell(4, row, QString::number(list->currentIndex()));
        const int col = SectionsSettings->currentColumn();
        SectionsSettings->setCurrentCell(row - 1, col > 0 ? col : 1);
    });
}

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

// ---------------------------------------------------------------------------
// Operators grid

void TSettingsPage::OperatorsDrawCell(int col, int row)
{
    if (col != 2 || row < 1 || row > OperatorRows)
        return;
    Host->Guard(QStringLiteral("Tfm_Main.OperatorsDrawCell"), [&] {
        // One pixel in at the left and top, so the grid line stays visible.
        PlaceOverCell(Operators, col, row - 1, operatorRights_[row], QMargins(1, 1, 0, 0));
    });
}

void TSettingsPage::PlaceOperatorRights()
{
    for (int r = 1; r <= OperatorRows; ++r)
        if (operatorRights_[r])
            OperatorsDrawCell(2, r);
}

void TSettingsPage::CheckListBoxClickCheck(QListWidget* list)
{
    Host->Guard(QStringLiteral("Tfm_Main.CheckListBoxClickCheck"), [&] {
        const int row = list->property("Tag").toInt();
        int mask = 0;
        for (int i = 0; i < list->count() && i < 7; ++i)
            if (list->item(i)->checkState() == Qt::Checked)
                mask += 1 << i;
        SetOperatorsCell(2, row, QString::number(mask));
        const int col = Operators->currentColumn();
        Operators->setCurrentCell(row - 1, col >= 0 ? col : 0);
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
        const int record = int(std::find(centreButtons_.begin(), centreButtons_.end(), button) -
                               centreButtons_.begin());
        if (record < 1 || record > TextLines)
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
        // Painting the grid lays the overlays over their cells.
        if (watched == SectionsSettings->viewport())
            PlaceSectionsLists();
        else if (watched == Operators->viewport())
            PlaceOperatorRights();
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
    if (f.Kind == TControlKind::GridCell) {
        auto* grid = qobject_cast<QTableWidget*>(control);
        if (!grid)
            throw EKkmError(QStringLiteral("%1 не таблица").arg(f.Control));
        if (f.Encoding == TEncoding::Sphere && grid == SectionsSettings) {
            // The cell and the row's list together.
            SetSectionsSphere(v.Row, v.Value.Index);
            return;
        }
        SetGridCell(grid, f.Column, v.Row, v.Value.Text);
        // The marks follow the cell's number; the handler must not write
        // the cell back.
        if (f.Encoding == TEncoding::OperatorRights && grid == Operators)
            SetOperatorRightsMarks(v.Row, static_cast<int>(v.Value.Bits));
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
    if (f.Kind == TControlKind::GridCell) {
        auto* grid = qobject_cast<QTableWidget*>(control);
        if (!grid)
            throw EKkmError(QStringLiteral("%1 не таблица").arg(f.Control));
        v.Text = GridCell(grid, f.Column, row);
        if (f.Encoding == TEncoding::Sphere && grid == SectionsSettings)
            if (const QComboBox* list = SectionsList(row))
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
