// The settings and goods pages without a register: the controls and their
// start-up state, the editing aids of the grids and edits, the goods grid's
// typing rules and the range correction, the checked lists, and how the
// main window hands its speed-bar commands to the page in front.
#include "CheckComboBox.h"
#include "GoodsModel.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {

// The sub-page of the settings page in front, everything laid out.
void ShowSettings(TMainForm& m, int subPage)
{
    m.PageControl->setCurrentIndex(TMainForm::pgKKMOptions);
    m.ts_KKMOptions->pc_Options->setCurrentIndex(subPage);
    QApplication::processEvents();
}

// True when Overlay lies over its cell exactly as far as the cell is in
// view, and is hidden when the cell is out of view.
bool OverlayInPlace(const QTableView* grid, int col, int viewRow, const QWidget* overlay,
                    const QMargins& inset)
{
    const QRect cell = grid->visualRect(grid->model()->index(viewRow, col)).marginsRemoved(inset);
    const bool inView = cell.intersects(grid->viewport()->rect());
    if (overlay->isVisible() != inView)
        return false;
    if (!inView)
        return true;
    const QPoint offset = grid->viewport()->mapTo(overlay->parentWidget(), QPoint(0, 0));
    return overlay->geometry() == cell.translated(offset);
}

// Types Text key by key; QTest's own typing knows only ASCII.
void TypeText(QWidget* widget, const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key(c.toUpper().unicode()), QString(c),
                                Qt::NoModifier);
    }
}

// Opens the cell editor of a view cell and types Keys into it.
QLineEdit* TypeIntoCell(QAbstractItemView* view, int col, int viewRow, const QString& keys)
{
    const QModelIndex index = view->model()->index(viewRow, col);
    view->setCurrentIndex(index);
    if (!view->indexWidget(index))
        view->edit(index);
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(index));
    if (editor) {
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Backspace);
        TypeText(editor, keys);
    }
    return editor;
}

// A page that records what the speed bar asked of it.
class TProbePage : public TPage {
public:
    TProbePage(TMainForm* main, const char* name, const QString& caption, QWidget* parent)
        : TPage(main, name, caption, parent), Main(main)
    {
    }
    TMainForm* const Main;
    QStringList Calls;
    bool Fail = false;
    // Button states seen inside the command: read, write, cb_QuantNull.
    QList<bool> SeenEnabled;

    // What the logo page offers.
    TTableCommands Commands(bool, bool writable) const override
    {
        TTableCommands c;
        c.Write = writable;
        c.Import = true;
        return c;
    }
    void ReadTable() override { Record(QStringLiteral("read")); }
    void WriteTable() override { Record(QStringLiteral("write")); }
    void Import() override { Record(QStringLiteral("import")); }
    void Export() override { Record(QStringLiteral("export")); }

private:
    void Record(const QString& call)
    {
        Calls << call;
        SeenEnabled = {Main->si_ReadTableFromKKM->isEnabled(), Main->si_WriteTableToKKM->isEnabled(),
                       Main->ts_Goods->cb_QuantNull->isEnabled()};
        if (Fail)
            throw EKkmError(QStringLiteral("сбой страницы"));
        Main->WriteLog(QStringLiteral("после сбоя"), QColor(clBlack));
    }
};

} // namespace

class PagesTest : public QObject {
    Q_OBJECT

private slots:
    void controlsAtStartUp_data();
    void controlsAtStartUp();
    void captionsAndGroups();
    void readOnlyPagesTakeNoInput();
    void readValuesLongerThanTheTypingLimit();
    void checkedLists();
    void centring_data();
    void centring();
    void numericKeys_data();
    void numericKeys();
    void sectionsKeyRules_data();
    void sectionsKeyRules();
    void sectionsLists();
    void operatorsRights();
    void goodsTyping_data();
    void goodsTyping();
    void goodsFractionalAndFixedColumns();
    void goodsRange_data();
    void goodsRange();
    void commandsGoToThePageInFront();
    void commandErrorsAreReportedAndButtonsComeBack_data();
    void commandErrorsAreReportedAndButtonsComeBack();
    void progressInStatusBar();
};

// ---------------------------------------------------------------------------
// Controls and their start-up state

void PagesTest::controlsAtStartUp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");  // edit, list, checked, flag
    QTest::addColumn<QString>("items"); // list items joined by "|"
    QTest::addColumn<int>("limit");     // edits: maxLength; lists: selected index
    QTest::addColumn<bool>("enabled");

    const QString noYes = QStringLiteral("НЕТ|ДА");
    const QString speeds = QStringLiteral("Отключено|1200|2400|4800|9600|19200|38400|57600|115200");
    auto row = [](const QString& name, const char* kind, const QString& items, int limit, bool enabled) {
        QTest::newRow(qPrintable(name)) << name << QString::fromLatin1(kind) << items << limit << enabled;
    };
    row("cb_RegOptions", "checked",
        "Продажа по коду|Свободная цена|Своб. цена товара|Свободные скидки|Контрол. дробное", 0, true);
    row("cb_MoneyBoxList", "list", "Выкл.|6 В|12 В", 0, true);
    row("cb_zOptions", "checked", "Отчет по отделам|Отч. по кассирам|Отчет по налогам|Инкасация", 0, true);
    row("cb_Kassir", "list", "0|1|2|3|4|5|6|7", 0, true);
    row("ed_ScreenDelay", "edit", "", 3, true);
    row("ed_AutoLock", "edit", "", 2, true);
    row("cb_WritingJournal", "list", noYes, 0, true);
    row("ed_INN", "edit", "", 12, true);
    row("ed_PoContrast", "edit", "", 1, true);
    row("ed_PoStringInterval", "edit", "", 1, true);
    row("cb_PoEconFont", "list", noYes, 0, true);
    row("cb_PoDocSep", "list", noYes, 0, true);
    row("cb_PoObraml", "checked",
        "Изображение заголовка|Строки  заголовка|Реквизиты кассира|Место подписи|"
        "Изображение окончания|Строки окончания", 0, true);
    row("cb_PoCheck", "checked",
        "Названия отделов|Номера отделов|Названия товаров|Коды товаров|Единичное кол-во|"
        "Печать налогов|Выделять ИТОГ", 0, true);
    for (const char* edit : {"ed_CheckBeginFirst", "ed_CheckBeginSecond", "ed_CheckBeginThird",
                             "ed_CheckTop", "ed_CheckEndFirst", "ed_CheckEndSecond",
                             "ed_CheckEndThird", "ed_BuyDisplayFirst", "ed_BuyDisplaySecond"})
        row(QLatin1String(edit), "edit", "", 32, true);
    for (const char* list : {"cb_CheckBeginfirstc", "cb_CheckBeginSecondc", "cb_CheckBeginThirdc",
                             "cb_checkTopc", "cb_CheckEndFirstc", "cb_CheckEndSecondc",
                             "cb_CheckEndThirdc", "cb_BuyDisplayFirstc", "cb_BuyDisplaySecondc"})
        row(QLatin1String(list), "checked", "По ширине|По высоте|Утолщенный", 0, true);
    for (int n = 1; n <= 8; ++n) {
        row(QStringLiteral("ed_DscValue%1").arg(n), "edit", "", 5, false);
        row(QStringLiteral("ed_DscName%1").arg(n), "edit", "", 16, false);
        row(QStringLiteral("cb_DscType%1").arg(n), "list", "Скидка|Наценка", -1, false);
        row(QStringLiteral("cb_DscSummType%1").arg(n), "list", "Процентная|Суммовая", -1, false);
        row(QStringLiteral("cb_DscAuth%1").arg(n), "flag", "", 0, false);
    }
    for (int n = 1; n <= 4; ++n) {
        row(QStringLiteral("ed_txName%1").arg(n), "edit", "", 5, false);
        row(QStringLiteral("ed_txValue%1").arg(n), "edit", "", 5, false);
    }
    row("cb_BarcodeSpeed", "list", speeds, -1, false);
    row("cb_ElectronicScaleSpeed", "list", speeds, -1, false);
    row("cb_ElectronicScaleProtocol", "list", "Штрих - 5|Масса - 1|Масса - 2", -1, false);
    row("cb_ElecticScalesInterface", "list", "RS232|Токовая петля", -1, false);
    row("cb_PCSpeed", "list", speeds, -1, false);
    for (int n = 1; n <= 3; ++n) {
        row(QStringLiteral("ed_PayType%1").arg(n), "edit", "", 12, false);
        row(QStringLiteral("cb_PayType%1").arg(n), "flag", "", 0, false);
    }
}

void PagesTest::controlsAtStartUp()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, items);
    QFETCH(int, limit);
    QFETCH(bool, enabled);

    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    // One control of that name in the whole window, found through the page.
    QCOMPARE(w.Main->findChildren<QWidget*>(name).size(), 1);
    QWidget* control = page->Control(name);
    QVERIFY(control);
    QCOMPARE(control->isEnabledTo(w.Main.get()), enabled);

    if (kind == QLatin1String("edit")) {
        auto* edit = qobject_cast<QLineEdit*>(control);
        QVERIFY(edit);
        QCOMPARE(edit->maxLength(), limit);
        QCOMPARE(edit->text(), QString());
    } else if (kind == QLatin1String("flag")) {
        auto* box = qobject_cast<QCheckBox*>(control);
        QVERIFY(box);
        QVERIFY(!box->isChecked());
    } else {
        auto* list = qobject_cast<QComboBox*>(control);
        QVERIFY(list);
        QVERIFY(!list->isEditable());
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->itemText(i);
        QCOMPARE(texts.join(QLatin1Char('|')), items);
        auto* checked = qobject_cast<TCheckComboBox*>(control);
        QCOMPARE(checked != nullptr, kind == QLatin1String("checked"));
        if (checked) {
            QCOMPARE(checked->Mask(), 0u);
            QCOMPARE(checked->CheckedText(), QString());
        } else {
            QCOMPARE(list->currentIndex(), limit);
        }
    }
}

void PagesTest::captionsAndGroups()
{
    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;

    // Each caption label names its control.
    const QList<QPair<QWidget*, QString>> captions = {
        {page->cb_RegOptions, "Опции регистрации"},
        {page->ed_ScreenDelay, "Длительность подсветки (сек. 0 - 999)"},
        {page->ed_AutoLock, "Автоматическая блокировка (сек. 0 - 60)"},
        {page->ed_INN, "ИНН"},
        {page->ed_PoContrast, "Контраст печати (1 .. 4)"},
        {page->ed_PoStringInterval, "Межстрочный интервал (0 .. 8)"},
        {page->cb_PoCheck, "Настройки чека"},
        {page->cb_ElecticScalesInterface, "Интерфейс"},
    };
    for (const auto& [control, caption] : captions) {
        QLabel* found = nullptr;
        for (QLabel* label : page->findChildren<QLabel*>())
            if (label->buddy() == control)
                found = label;
        QVERIFY2(found, qPrintable(control->objectName()));
        QCOMPARE(found->text(), caption);
    }

    // The text lines' groups stand from top to bottom in this order and
    // hold their records' edits, attribute lists and centre buttons.
    const QStringList titles = {"Начало чека", "Заголовок чека", "Окончание чека", "Дисплей покупателя "};
    const int firstRecord[] = {1, 4, 5, 8, 10};
    QList<QGroupBox*> groups = page->ts_KKMReklama->findChildren<QGroupBox*>();
    ShowSettings(*w.Main, TSettingsPage::spReklama);
    std::sort(groups.begin(), groups.end(), [](QGroupBox* a, QGroupBox* b) { return a->y() < b->y(); });
    QCOMPARE(groups.size(), 4);
    for (int g = 0; g < 4; ++g) {
        QCOMPARE(groups[g]->title(), titles[g]);
        for (int n = firstRecord[g]; n < firstRecord[g + 1]; ++n) {
            QCOMPARE(page->TextLineEdit(n)->parentWidget(), groups[g]);
            QCOMPARE(page->TextLineAttributes(n)->parentWidget(), groups[g]);
            QToolButton* button = page->CentreButton(n);
            QCOMPARE(button->objectName(), QStringLiteral("bCenter%1").arg(n));
            QCOMPARE(button->toolTip(), QStringLiteral("Выравнять по центру"));
        }
    }
    QCOMPARE(page->TextLineEdit(4), page->ed_CheckTop);
    QCOMPARE(page->TextLineAttributes(4), page->cb_checkTopc);
    QCOMPARE(page->CentreButton(9), page->bCenter9);
}

void PagesTest::readValuesLongerThanTheTypingLimit()
{
    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    const TTableField* contrast = FindField(u"ed_PoContrast");
    QVERIFY(contrast);
    auto show = [&](const QString& text) {
        TFieldValue v;
        v.Field = contrast;
        v.Value.Text = text;
        page->SetFieldValue(v);
    };
    // A read value is shown and written back whole, not cut to what can be typed.
    show(QStringLiteral("255"));
    QCOMPARE(page->ed_PoContrast->text(), QStringLiteral("255"));
    QCOMPARE(page->FieldValue(*contrast, -1).Text, QStringLiteral("255"));
    // Typing keeps its limit once a value that fits is shown again.
    show(QStringLiteral("3"));
    QCOMPARE(page->ed_PoContrast->maxLength(), 1);
    ShowSettings(*w.Main, TSettingsPage::spPrintOpt);
    page->ed_PoContrast->clear();
    TypeText(page->ed_PoContrast, QStringLiteral("34"));
    QCOMPARE(page->ed_PoContrast->text(), QStringLiteral("3"));
}

void PagesTest::readOnlyPagesTakeNoInput()
{
    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    ShowSettings(*w.Main, TSettingsPage::spTaxes);
    QCOMPARE(page->pc_Options->currentWidget(), page->ts_Taxes);
    QVERIFY(page->ed_txName[1]->isVisible());

    // Typing does nothing; code (the read) fills the controls.
    TypeText(page->ed_txName[1], QStringLiteral("НДС"));
    QCOMPARE(page->ed_txName[1]->text(), QString());
    page->ed_txName[1]->setText(QStringLiteral("НДС"));
    page->cb_PCSpeed->setCurrentIndex(4);
    QCOMPARE(page->ed_txName[1]->text(), QStringLiteral("НДС"));
    QCOMPARE(page->cb_PCSpeed->currentText(), QStringLiteral("9600"));
}

void PagesTest::checkedLists()
{
    TWindows w = CreateWindows();
    TCheckComboBox* list = w.Main->ts_KKMOptions->cb_PoObraml; // six items
    int changes = 0;
    connect(list, &TCheckComboBox::CheckedChanged, this, [&] { ++changes; });

    // Bits without an item are ignored; setting clears the old marks first.
    list->SetMask(0xC5);
    QCOMPARE(list->Mask(), 0x05u);
    QVERIFY(list->Checked(0) && !list->Checked(1) && list->Checked(2));
    QCOMPARE(list->CheckedText(), QStringLiteral("Изображение заголовка, Реквизиты кассира"));
    QCOMPARE(changes, 1);
    list->SetMask(0x02);
    QCOMPARE(list->Mask(), 0x02u);
    list->SetMask(0x02);
    QCOMPARE(changes, 2);

    // The two context commands.
    QCOMPARE(list->act_CheckAll->text(), QStringLiteral("&Отметить все"));
    QCOMPARE(list->act_UncheckAll->text(), QStringLiteral("&Снять выделение со всех"));
    list->act_CheckAll->trigger();
    QCOMPARE(list->Mask(), 0x3Fu);
    list->act_UncheckAll->trigger();
    QCOMPARE(list->Mask(), 0u);

    // A click in the open list flips the item's mark and leaves it open.
    ShowSettings(*w.Main, TSettingsPage::spPrintOpt);
    list->showPopup();
    QVERIFY(SpinUntil([&] { return list->view()->isVisible(); }));
    const QRect second = list->view()->visualRect(list->model()->index(1, 0));
    QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(list->Mask(), 0x02u);
    QVERIFY(list->view()->isVisible());
    QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(list->Mask(), 0u);
    list->hidePopup();
}

// ---------------------------------------------------------------------------
// Text lines and numeric edits

void PagesTest::centring_data()
{
    QTest::addColumn<int>("record");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("doubleWidth");
    QTest::addColumn<QString>("expected");

    const QString twenty = QStringLiteral("ABCDEFGHIJKLMNOPQRST");
    QTest::newRow("5 characters") << 1 << "Слово" << false << QString(13, ' ') + "Слово";
    QTest::newRow("5 characters, double width") << 4 << "Слово" << true << QString(5, ' ') + "Слово";
    QTest::newRow("20 characters, double width cut to 16") << 8 << twenty << true << twenty.left(16);
    QTest::newRow("already centred") << 9 << QString(13, ' ') + "Слово" << false << QString(13, ' ') + "Слово";
    QTest::newRow("trimmed first") << 5 << "  Слово    " << false << QString(13, ' ') + "Слово";
    QTest::newRow("odd remainder rounds down") << 2 << "ABCD" << true << QString(6, ' ') + "ABCD";
    QTest::newRow("32 characters") << 3 << QString(32, 'x') << false << QString(32, 'x');
    QTest::newRow("empty") << 6 << "" << false << QString(16, ' ');
}

void PagesTest::centring()
{
    QFETCH(int, record);
    QFETCH(QString, text);
    QFETCH(bool, doubleWidth);
    QFETCH(QString, expected);

    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    ShowSettings(*w.Main, TSettingsPage::spReklama);
    page->TextLineEdit(record)->setText(text);
    // Double height and bold do not change the width.
    page->TextLineAttributes(record)->SetMask(doubleWidth ? 0x07 : 0x06);
    QTest::mouseClick(page->CentreButton(record), Qt::LeftButton);
    QCOMPARE(page->TextLineEdit(record)->text(), expected);
    // Only the button's own line changes.
    const int other = record == 1 ? 2 : 1;
    QCOMPARE(page->TextLineEdit(other)->text(), QString());
}

void PagesTest::numericKeys_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    QTest::newRow("contrast: letter") << "ed_PoContrast" << "a" << "";
    QTest::newRow("contrast: point") << "ed_PoContrast" << "." << "";
    QTest::newRow("contrast: minus") << "ed_PoContrast" << "-" << "-";
    QTest::newRow("contrast: digit") << "ed_PoContrast" << "3" << "3";
    QTest::newRow("interval: limit 1") << "ed_PoStringInterval" << "78" << "7";
    QTest::newRow("INN: mixed") << "ed_INN" << "12a.-3 4b" << "12-34";
    QTest::newRow("backlight: cyrillic") << "ed_ScreenDelay" << "1ж5" << "15";
    QTest::newRow("auto lock: limit 2") << "ed_AutoLock" << "601" << "60";
    // Other edits keep every key.
    QTest::newRow("text line unfiltered") << "ed_CheckTop" << "a.1" << "a.1";
}

void PagesTest::numericKeys()
{
    QFETCH(QString, edit);
    QFETCH(QString, keys);
    QFETCH(QString, expected);

    TWindows w = CreateWindows();
    auto* e = w.Main->ts_KKMOptions->Control<QLineEdit>(edit);
    QVERIFY(e);
    TypeText(e, keys);
    QCOMPARE(e->text(), expected);
    // Backspace and the editing keys still work.
    QTest::keyClick(e, Qt::Key_End);
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->text(), expected.left(std::max<qsizetype>(0, expected.size() - 1)));
}

// ---------------------------------------------------------------------------
// Sections and operators grids

void PagesTest::sectionsKeyRules_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    QTest::newRow("tax code 7 cleared") << 2 << "7" << "";
    QTest::newRow("tax code 3 stays") << 2 << "3" << "3";
    QTest::newRow("tax code 31 keeps 3") << 2 << "31" << "3";
    QTest::newRow("tax code letter cleared") << 2 << "x" << "";
    QTest::newRow("digits 12 leaves 1") << 3 << "12" << "1";
    QTest::newRow("digits 9 stays") << 3 << "9" << "9";
    QTest::newRow("digits letter cleared") << 3 << "q" << "";
    QTest::newRow("name cut to 11") << 1 << "Бакалея и чай" << "Бакалея и ч";
    QTest::newRow("short name stays") << 1 << "Хлеб" << "Хлеб";
}

void PagesTest::sectionsKeyRules()
{
    QFETCH(int, col);
    QFETCH(QString, keys);
    QFETCH(QString, expected);

    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    // The sub-page takes no input in the program; the rules hold whenever
    // the grid does.
    page->ts_Sections->setEnabled(true);
    ShowSettings(*w.Main, TSettingsPage::spSections);
    QLineEdit* editor = TypeIntoCell(page->SectionsSettings, col, 2, keys);
    QVERIFY(editor);
    QCOMPARE(page->SectionsCell(col, 3), expected);
    QCOMPARE(editor->text(), expected);
    // The row label is fixed.
    QVERIFY(!(page->SectionsSettings->item(2, 0)->flags() & Qt::ItemIsEditable));
}

void PagesTest::sectionsLists()
{
    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    QTableWidget* grid = page->SectionsSettings;

    // Painting the grid lays each row's list over column 4 and fills empty
    // cells with "0".
    ShowSettings(*w.Main, TSettingsPage::spSections);
    auto allInPlace = [&] {
        for (int r = 1; r <= 16; ++r)
            if (!OverlayInPlace(grid, 4, r - 1, page->SectionsList(r), {}))
                return false;
        return true;
    };
    QVERIFY(SpinUntil(allInPlace));
    QVERIFY(page->SectionsList(1)->isVisible());
    QCOMPARE(page->SectionsCell(4, 1), QStringLiteral("0"));
    QCOMPARE(page->SectionsList(1)->currentText(), QStringLiteral("Торговля"));

    // A list's selection goes into its cell and makes its row current.
    page->SectionsList(5)->setCurrentIndex(1);
    QCOMPARE(page->SectionsCell(4, 5), QStringLiteral("1"));
    QCOMPARE(grid->currentRow(), 4);

    // Set by code (reading): cell and list together, 1 "Услуги", any other
    // value "Торговля", and the list's handler does not move the grid.
    grid->setCurrentCell(0, 1);
    page->SetSectionsSphere(7, 1);
    QCOMPARE(page->SectionsCell(4, 7), QStringLiteral("1"));
    QCOMPARE(page->SectionsList(7)->currentText(), QStringLiteral("Услуги"));
    page->SetSectionsSphere(7, 2);
    QCOMPARE(page->SectionsCell(4, 7), QStringLiteral("0"));
    QCOMPARE(page->SectionsList(7)->currentText(), QStringLiteral("Торговля"));
    QCOMPARE(grid->currentRow(), 0);

    // A cell changed under the list shows in the list at the next paint.
    page->SetSectionsCell(4, 9, QStringLiteral("1"));
    QVERIFY(SpinUntil([&] { return page->SectionsList(9)->currentIndex() == 1; }));

    // Column 4 scrolled out of view hides all sixteen lists; back in view
    // shows them where their cells are.
    grid->setColumnWidth(0, 3000);
    QVERIFY(SpinUntil([&] {
        for (int r = 1; r <= 16; ++r)
            if (page->SectionsList(r)->isVisible())
                return false;
        return true;
    }));
    QScrollBar* bar = grid->horizontalScrollBar();
    QVERIFY(SpinUntil([&] { return bar->maximum() > 0; }));
    bar->setValue(bar->maximum());
    QVERIFY(SpinUntil(allInPlace));
    QVERIFY(page->SectionsList(1)->isVisible());

    // Another sub-page in front: the lists go with their page.
    page->pc_Options->setCurrentIndex(TSettingsPage::spOperators);
    QVERIFY(!page->SectionsList(1)->isVisible());
}

void PagesTest::operatorsRights()
{
    TWindows w = CreateWindows();
    TSettingsPage* page = w.Main->ts_KKMOptions;
    QTableWidget* grid = page->Operators;

    // Checking "продажа" and "x-отчеты" in row 3 gives 17.
    page->OperatorRights(3)->item(0)->setCheckState(Qt::Checked);
    page->OperatorRights(3)->item(4)->setCheckState(Qt::Checked);
    QCOMPARE(page->OperatorsCell(2, 3), QStringLiteral("17"));
    QCOMPARE(grid->currentRow(), 2);

    // Marks set by code leave the cell alone.
    page->SetOperatorsCell(2, 4, QStringLiteral("5"));
    page->SetOperatorRightsMarks(4, 0x42);
    QCOMPARE(page->OperatorsCell(2, 4), QStringLiteral("5"));
    QListWidget* rights = page->OperatorRights(4);
    for (int i = 0; i < 7; ++i)
        QCOMPARE(rights->item(i)->checkState() == Qt::Checked, i == 1 || i == 6);

    // A 40-character text typed into any column is cut to 32.
    ShowSettings(*w.Main, TSettingsPage::spOperators);
    for (int col : {0, 1}) {
        QLineEdit* editor = TypeIntoCell(grid, col, 0, QString(40, QChar(u'Ж')));
        QVERIFY(editor);
        QCOMPARE(page->OperatorsCell(col, 1), QString(32, QChar(u'Ж')));
        QCOMPARE(editor->text().size(), 32);
        grid->closePersistentEditor(grid->item(0, col));
    }

    // The rights lists lie over column 2 and stay there while scrolling.
    auto allInPlace = [&] {
        for (int r = 1; r <= 7; ++r)
            if (!OverlayInPlace(grid, 2, r - 1, page->OperatorRights(r), QMargins(1, 1, 0, 0)))
                return false;
        return true;
    };
    QVERIFY(SpinUntil(allInPlace));
    QVERIFY(page->OperatorRights(1)->isVisible());
    QScrollBar* bar = grid->verticalScrollBar();
    if (bar->maximum() == 0)
        grid->setRowHeight(0, 2000); // make the grid scroll on any screen size
    QVERIFY(SpinUntil([&] { return bar->maximum() > 0; }));
    bar->setValue(bar->maximum());
    QVERIFY(SpinUntil(allInPlace));
    QVERIFY(page->OperatorRights(7)->isVisible());
}

// ---------------------------------------------------------------------------
// Goods grid and range

void PagesTest::goodsTyping_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");

    QTest::newRow("price 1.2.3") << 4 << "1.2.3" << "1.23";
    QTest::newRow("price 12.345") << 4 << "12.345" << "12.34";
    QTest::newRow("price .5") << 4 << ".5" << "0.5";
    QTest::newRow("price 8 digits") << 4 << "12345678" << "1234567";
    QTest::newRow("price letter dropped") << 4 << "12a.5" << "12.5";
    QTest::newRow("price 7 digits and 2 decimals") << 4 << "1234567.891" << "1234567.89";
    QTest::newRow("price comma dropped") << 4 << "3,50" << "350";
    QTest::newRow("section 17") << 3 << "17" << "1";
    QTest::newRow("section 9") << 3 << "9" << "9";
    QTest::newRow("section 123") << 3 << "123" << "12";
    QTest::newRow("section 16") << 3 << "16" << "16";
    QTest::newRow("section letters") << 3 << "a1b" << "1";
    QTest::newRow("barcode letters") << 2 << "46a00b1" << "46001";
    QTest::newRow("barcode 14th digit") << 2 << "12345678901234" << "1234567890123";
    QTest::newRow("name 40 characters") << 1 << QString(40, QChar(u'Я')) << QString(32, QChar(u'Я'));
    QTest::newRow("name keeps anything") << 1 << "Молоко 3.2%" << "Молоко 3.2%";
}

void PagesTest::goodsTyping()
{
    QFETCH(int, col);
    QFETCH(QString, keys);
    QFETCH(QString, expected);

    TWindows w = CreateWindows();
    TGoodsPage* page = w.Main->ts_Goods;
    w.Main->PageControl->setCurrentIndex(TMainForm::pgGoods);
    QApplication::processEvents();
    QLineEdit* editor = TypeIntoCell(page->Goods, col, 41, keys);
    QVERIFY(editor);
    QCOMPARE(page->Cell(col, 42), expected);
    QCOMPARE(editor->text(), expected);
    // Clearing the editor clears the cell: an empty text needs no rule.
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Backspace);
    QCOMPARE(page->Cell(col, 42), QString());
}

void PagesTest::goodsFractionalAndFixedColumns()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    TGoodsPage* page = m.ts_Goods;
    TGoodsGrid* grid = page->Goods;
    m.PageControl->setCurrentIndex(TMainForm::pgGoods);
    QApplication::processEvents();
    const QModelIndex start = grid->model()->index(0, 1);
    grid->setCurrentIndex(start);

    auto click = [&](int col, int viewRow) {
        const QRect cell = grid->visualRect(grid->model()->index(viewRow, col));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    };

    // Each click switches "Дробное" and its flag; the cell is not selected.
    const QStringList shown = {"ДА", "НЕТ", "ДА"};
    for (const QString& text : shown) {
        click(5, 1);
        QCOMPARE(page->Cell(5, 2), text);
        QCOMPARE(m.ts_Goods->GoodsItemFlags[1], std::uint8_t(text == QStringLiteral("ДА")));
        QCOMPARE(grid->currentIndex(), start);
    }
    // An item set to "ДА" by code (an import) gives "НЕТ" at one click.
    page->SetFractional(9, true);
    QCOMPARE(m.ts_Goods->GoodsItemFlags[8], std::uint8_t(1));
    click(5, 8);
    QCOMPARE(page->Cell(5, 9), QStringLiteral("НЕТ"));
    QCOMPARE(m.ts_Goods->GoodsItemFlags[8], std::uint8_t(0));

    // "Продажи" cannot be selected, neither can the keyboard reach
    // "Дробное"; the item numbers and sales are not editable.
    page->SetCell(6, 1, QStringLiteral("1.5"));
    click(6, 0);
    QCOMPARE(grid->currentIndex(), start);
    QVERIFY(!(page->GoodsModel->flags(grid->model()->index(0, 6)) & Qt::ItemIsEditable));
    QVERIFY(!(page->GoodsModel->flags(grid->model()->index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(page->GoodsModel->flags(grid->model()->index(0, 4)) & Qt::ItemIsEditable);
    const QModelIndex price = grid->model()->index(0, 4);
    grid->setCurrentIndex(price);
    QTest::keyClick(grid, Qt::Key_Tab);
    QCOMPARE(grid->currentIndex().column(), 4);
    QCOMPARE(page->Cell(5, 1), QStringLiteral("ДА")); // the attempt toggled it
    click(0, 3);
    QCOMPARE(page->Cell(0, 4), QStringLiteral("4"));
    QVERIFY(!grid->indexWidget(grid->model()->index(3, 0)));
}

void PagesTest::goodsRange_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("keys"); // "<" is Backspace, "*" selects all
    QTest::addColumn<QString>("expected");
    QTest::newRow("cleared") << "5" << "<" << "1";
    QTest::newRow("zero") << "5" << "*0" << "1";
    QTest::newRow("fifth digit") << "1234" << "5" << "1234";
    QTest::newRow("letter") << "12" << "a" << "12";
    QTest::newRow("minus") << "12" << "-" << "12";
    QTest::newRow("digits") << "5" << "*250" << "250";
    QTest::newRow("inner zero") << "1" << "0" << "10";
}

void PagesTest::goodsRange()
{
    QFETCH(QString, before);
    QFETCH(QString, keys);
    QFETCH(QString, expected);

    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    m.PageControl->setCurrentIndex(TMainForm::pgGoods);
    QVERIFY(SpinUntil([&] { return m.ts_Goods->ed_GoodsStart->isVisible(); }));
    for (QLineEdit* edit : {m.ts_Goods->ed_GoodsStart, m.ts_Goods->ed_GoodsEND}) {
        edit->setText(before);
        edit->setFocus();
        edit->end(false);
        for (QChar key : keys) {
            if (key == QLatin1Char('<'))
                QTest::keyClick(edit, Qt::Key_Backspace);
            else if (key == QLatin1Char('*'))
                edit->selectAll();
            else
                QTest::keyClicks(edit, QString(key));
        }
        QCOMPARE(edit->text(), expected);
    }
    // Blanks around a pasted number go.
    m.ts_Goods->ed_GoodsEND->setText(QStringLiteral(" 77 "));
    QCOMPARE(m.ts_Goods->ed_GoodsEND->text(), QStringLiteral("77"));

    // Elsewhere than on the goods page nothing is corrected.
    m.PageControl->setCurrentIndex(TMainForm::pgInformation);
    m.ts_Goods->ed_GoodsStart->setText(QString());
    QCOMPARE(m.ts_Goods->ed_GoodsStart->text(), QString());
}

// ---------------------------------------------------------------------------
// The speed bar and the pages

void PagesTest::commandsGoToThePageInFront()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;

    m.PageControl->setCurrentIndex(TMainForm::pgInformation);
    QCOMPARE(m.FrontPage(), static_cast<TPage*>(m.ts_Information));
    m.PageControl->setCurrentIndex(TMainForm::pgKKMOptions);
    QCOMPARE(m.FrontPage(), static_cast<TPage*>(m.ts_KKMOptions));
    m.PageControl->setCurrentIndex(TMainForm::pgGoods);
    QCOMPARE(m.FrontPage(), static_cast<TPage*>(m.ts_Goods));
    m.PageControl->setCurrentIndex(TMainForm::pgLogo);
    QCOMPARE(m.FrontPage(), static_cast<TPage*>(m.ts_Logo));
    // A page without a command of its own does nothing, and the buttons
    // come back (the logo page's commands are tested with the page).
    const QString journal = m.re_LogOut->toPlainText();
    for (int page : {int(TMainForm::pgInformation)}) {
        m.PageControl->setCurrentIndex(page);
        m.si_ReadTableFromKKMClick();
        m.si_WriteTableToKKMClick();
        // The goods page's file exchange has tests of its own (CsvTest).
        if (page == TMainForm::pgGoods)
            continue;
        m.si_ImportClick();
        m.si_ExportClick();
    }
    QCOMPARE(m.re_LogOut->toPlainText(), journal);
    QVERIFY(m.si_ReadTableFromKKM->isEnabled() && m.si_WriteTableToKKM->isEnabled());
    QVERIFY(m.ts_Goods->cb_QuantNull->isEnabled());

    // A page in the logo page's place receives the buttons' clicks; the
    // idle routine decides which are available there.
    auto* probe = new TProbePage(&m, "ts_Probe", QStringLiteral("Проба"), m.PageControl);
    m.PageControl->removeWidget(m.ts_Logo);
    m.PageControl->insertWidget(TMainForm::pgLogo, probe);
    m.PageControl->setCurrentIndex(TMainForm::pgLogo);
    m.WorkMode = TMainForm::wmReadWrite;
    QVERIFY(SpinUntil([&] { return m.si_WriteTableToKKM->isEnabled() && m.si_Import->isEnabled(); }));
    QTest::mouseClick(m.si_WriteTableToKKM, Qt::LeftButton);
    QCOMPARE(probe->SeenEnabled, (QList<bool>{false, false, false}));
    QTest::mouseClick(m.si_Import, Qt::LeftButton);
    m.si_ReadTableFromKKMClick();
    QCOMPARE(probe->SeenEnabled, (QList<bool>{false, false, true}));
    m.si_ExportClick();
    QCOMPARE(probe->Calls, (QStringList{"write", "import", "read", "export"}));
    QVERIFY(m.si_ReadTableFromKKM->isEnabled() && m.si_WriteTableToKKM->isEnabled());
    QVERIFY(m.ts_Goods->cb_QuantNull->isEnabled());
    // The idle routine takes over again.
    QVERIFY(SpinUntil([&] { return !m.si_ReadTableFromKKM->isEnabled(); }));
}

void PagesTest::commandErrorsAreReportedAndButtonsComeBack_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("location");
    QTest::newRow("read") << "read" << "TMainForm.si_ReadTableFromKKMClick";
    QTest::newRow("write") << "write" << "TMainForm.si_WriteTableToKKMClick";
    QTest::newRow("import") << "import" << "TMainForm.si_ImportClick";
    QTest::newRow("export") << "export" << "TMainForm.si_ExportClick";
}

void PagesTest::commandErrorsAreReportedAndButtonsComeBack()
{
    QFETCH(QString, command);
    QFETCH(QString, location);

    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    auto* probe = new TProbePage(&m, "ts_Probe", QStringLiteral("Проба"), m.PageControl);
    m.PageControl->addWidget(probe);
    m.PageControl->setCurrentWidget(probe);
    probe->Fail = true;

    TModalDriver driver;
    TSeenBox box;
    driver.AcceptBox(&box);
    const QString journal = m.re_LogOut->toPlainText();
    const QMap<QString, std::function<void()>> commands = {
        {"read", [&] { m.si_ReadTableFromKKMClick(); }},
        {"write", [&] { m.si_WriteTableToKKMClick(); }},
        {"import", [&] { m.si_ImportClick(); }},
        {"export", [&] { m.si_ExportClick(); }}};
    commands[command]();
    QVERIFY(driver.Done());
    QCOMPARE(box.Text, QStringLiteral("Ошибка по месту: ") + location +
                           QStringLiteral("\n\rТекст ошибки: сбой страницы\n\rСообщите разработчикам."));
    // The command ended where it failed.
    QCOMPARE(m.re_LogOut->toPlainText(), journal);
    // The table commands give their buttons back also after an error.
    if (command == QLatin1String("read") || command == QLatin1String("write")) {
        QVERIFY(m.si_ReadTableFromKKM->isEnabled() && m.si_WriteTableToKKM->isEnabled());
        QVERIFY(m.ts_Goods->cb_QuantNull->isEnabled());
    }
}

void PagesTest::progressInStatusBar()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    QCOMPARE(m.lb_StatusEmpty->text(), QString());
    m.ShowProgress(137, 1, 9999);
    QCOMPARE(m.lb_StatusEmpty->text(), QStringLiteral("137 / 1..9999"));
    m.ShowProgress(9999, 9999, 9999);
    QCOMPARE(m.lb_StatusEmpty->text(), QStringLiteral("9999 / 9999..9999"));
    // The whole text fits in the panel.
    QVERIFY(m.lb_StatusEmpty->width() >= m.lb_StatusEmpty->fontMetrics().horizontalAdvance(m.lb_StatusEmpty->text()));
    m.ClearProgress();
    QCOMPARE(m.lb_StatusEmpty->text(), QString());
    QCOMPARE(m.lb_StatusEmpty->width(), 50);
}

KKM_WINDOW_TEST_MAIN(PagesTest)

#include "PagesTest.moc"
