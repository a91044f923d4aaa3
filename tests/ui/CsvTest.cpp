// The goods list's CSV export and import through the main window: the real
// file dialogs answered by a driver, the files checked byte for byte, the
// grid, the item flags, the journal and the message boxes.
#include "Cp1251.h"
#include "GoodsModel.h"
#include "UiTestSupport.h"
#include "uMainForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <memory>
#include <vector>

namespace {

// How a file dialog looked when it came up.
struct TSeenDialog {
    QString Name;
    QString Dir;
    QStringList Filters;
    QString Suffix;
    QString FileName;
    QFileDialog::AcceptMode Mode = QFileDialog::AcceptOpen;
};

// A message box as the driver found it, and the newest journal line then.
struct TBox {
    TSeenBox Box;
    QString LastLine;
};

// A journal entry's text and colour.
struct TLine {
    QString Text;
    QRgb Color;
    bool operator==(const TLine&) const = default;
};

QByteArray W(const char* utf8)
{
    return ToCp1251(QString::fromUtf8(utf8));
}

QString Utf(const QByteArray& cp1251)
{
    return FromCp1251(cp1251);
}

const QString StartExport = QStringLiteral("Выполняется экспорт данных...");
const QString DoneExport = QStringLiteral("Экспорт данных завершен!");
const QString StartImport = QStringLiteral("Выполняется импорт данных...");
const QString DoneImport = QStringLiteral("Импорт данных завершен.");

QString GuardText(const QString& location, const QString& message)
{
    return QStringLiteral("Ошибка по месту: ") + location + QStringLiteral("\n\rТекст ошибки: ") + message +
           QStringLiteral("\n\rСообщите разработчикам.");
}

} // namespace

Q_DECLARE_METATYPE(QList<TLine>)

class CsvTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogSetUp_data();
    void dialogSetUp();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void otherPagesDoNothing();
    void exportRange_data();
    void exportRange();
    void exportNameWithoutExtension();
    void importLines_data();
    void importLines();
    void itemNumbersOutsideTheGrid_data();
    void itemNumbersOutsideTheGrid();
    void lineEnds_data();
    void lineEnds();
    void anyBytesAreRead_data();
    void anyBytesAreRead();
    void roundTripKeepsBytes();
    void exportThatCannotBeWritten_data();
    void exportThatCannotBeWritten();
    void unreadableImport();
    void progressAndInputWhileRunning_data();
    void progressAndInputWhileRunning();

private:
    // Runs the import or export with the goods page in front; the file
    // dialog chooses Path (an empty Path cancels it) and the next Boxes
    // message boxes are accepted. False when a modal window came up that was
    // not expected or an expected one did not.
    // Replace answers Qt's question whether to replace an existing file.
    bool Run(bool import, const QString& path, int boxes = 0, std::vector<TBox>* seen = nullptr,
             TSeenDialog* dialog = nullptr, bool replace = false);
    // The goods page of a new main window in front.
    void NewWindow();
    QString WriteFile(const QString& name, const QByteArray& bytes);
    QByteArray ReadFile(const QString& path);
    QString Path(const QString& name) const { return dir_->filePath(name); }
    // The journal entries written since the last call, oldest first.
    QList<TLine> NewLines();
    QStringList Row(int item) const;
    void SetRow(int item, const QStringList& cells);

    std::unique_ptr<TMainForm> m_;
    std::unique_ptr<QTemporaryDir> dir_;
    int journalSeen_ = 0;
};

void CsvTest::init()
{
    NewWindow();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void CsvTest::NewWindow()
{
    m_ = std::make_unique<TMainForm>();
    m_->show();
    m_->PageControl->setCurrentIndex(TMainForm::pgGoods);
    QApplication::processEvents();
    journalSeen_ = 0;
    NewLines();
}

void CsvTest::cleanup()
{
    m_.reset();
    dir_.reset();
}

bool CsvTest::Run(bool import, const QString& path, int boxes, std::vector<TBox>* seen,
                  TSeenDialog* dialog, bool replace)
{
    TModalDriver driver;
    driver.OnDialog<QFileDialog>([path, dialog](QFileDialog* d) {
        if (dialog) {
            const auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            *dialog = {d->objectName(), d->directory().absolutePath(), d->nameFilters(),
                       d->defaultSuffix(), name ? name->text() : QStringLiteral("<none>"),
                       d->acceptMode()};
        }
        if (path.isEmpty()) {
            d->reject();
            return;
        }
        // As a person does: the whole path into the name edit, then Enter.
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name)
            return;
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    });
    if (replace)
        driver.Then([](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || !box->isVisible() || !box->button(QMessageBox::Yes))
                return false;
            QTimer::singleShot(0, box->button(QMessageBox::Yes), &QAbstractButton::click);
            return true;
        });
    std::vector<TBox> local;
    if (!seen)
        seen = &local;
    seen->assign(boxes, TBox());
    for (TBox& seenBox : *seen)
        driver.Then([this, &seenBox](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || !box->isVisible() || !box->button(QMessageBox::Ok))
                return false;
            seenBox = {{box->windowTitle(), box->text(), box->icon()}, JournalTexts(m_->re_LogOut).value(0)};
            QTimer::singleShot(0, box->button(QMessageBox::Ok), &QAbstractButton::click);
            return true;
        });
    if (import)
        m_->si_ImportClick();
    else
        m_->si_ExportClick();
    // The file is read or written by a job; its boxes come while it runs or
    // at its end.
    const bool idle = WaitIdle(*m_);
    if (!driver.Unexpected.isEmpty())
        qWarning() << "unexpected:" << driver.Unexpected;
    return idle && driver.Done() && driver.Unexpected.isEmpty();
}

QString CsvTest::WriteFile(const QString& name, const QByteArray& bytes)
{
    QFile file(Path(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test file");
    return file.fileName();
}

QByteArray CsvTest::ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

QList<TLine> CsvTest::NewLines()
{
    const QList<TLogEntry> entries = JournalEntries(m_->re_LogOut);
    QList<TLine> lines;
    for (qsizetype i = entries.size() - 1 - journalSeen_; i >= 0; --i)
        lines.append({entries[i].Text, entries[i].TextColor.rgb()});
    journalSeen_ = int(entries.size());
    return lines;
}

QStringList CsvTest::Row(int item) const
{
    QStringList cells;
    for (int col = 1; col <= 6; ++col)
        cells << m_->ts_Goods->Cell(col, item);
    return cells;
}

void CsvTest::SetRow(int item, const QStringList& cells)
{
    for (int col = 1; col <= 6; ++col)
        m_->ts_Goods->SetCell(col, item, cells.value(col - 1));
}

// ---------------------------------------------------------------------------

void CsvTest::dialogSetUp_data()
{
    QTest::addColumn<bool>("import");
    QTest::newRow("export") << false;
    QTest::newRow("import") << true;
}

void CsvTest::dialogSetUp()
{
    QFETCH(bool, import);
    const QString path = import ? WriteFile("a.csv", "1;a\r\n") : Path("a.csv");
    TSeenDialog first;
    QVERIFY(Run(import, path, 0, nullptr, &first));
    QCOMPARE(first.Name, import ? QStringLiteral("OpenDialog") : QStringLiteral("SaveDialog"));
    QCOMPARE(first.Mode, import ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    QCOMPARE(first.Dir, QCoreApplication::applicationDirPath());
    QCOMPARE(first.Filters, QStringList{QStringLiteral("CSV Files (*.csv)")});
    QCOMPARE(first.Suffix, QStringLiteral("csv"));
    QCOMPARE(first.FileName, QString());

    // The next time it starts again in the program's folder, without the
    // name chosen before.
    TSeenDialog second;
    QVERIFY(Run(import, QString(), 0, nullptr, &second));
    QCOMPARE(second.Dir, QCoreApplication::applicationDirPath());
    QCOMPARE(second.FileName, QString());
}

void CsvTest::cancelChangesNothing_data()
{
    dialogSetUp_data();
}

void CsvTest::cancelChangesNothing()
{
    QFETCH(bool, import);
    SetRow(5, {"Хлеб", "", "1", "2.00", "ДА", ""});
    const QStringList before = Row(5);
    QVERIFY(Run(import, QString()));
    QCOMPARE(NewLines(), QList<TLine>());
    QCOMPARE(Row(5), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList());
    QCOMPARE(m_->lb_StatusEmpty->text(), QString());
}

void CsvTest::otherPagesDoNothing()
{
    // Only the goods page exchanges files; elsewhere no dialog comes up (the
    // driver would report it) and nothing is written.
    for (int page : {TMainForm::pgInformation, TMainForm::pgKKMOptions}) {
        m_->PageControl->setCurrentIndex(page);
        TModalDriver driver(2000);
        m_->si_ExportClick();
        m_->si_ImportClick();
        QVERIFY(SpinUntil([] { return QApplication::activeModalWidget() == nullptr; }));
        QCOMPARE(driver.Unexpected, QStringList());
        QCOMPARE(NewLines(), QList<TLine>());
    }
}

void CsvTest::exportRange_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("fresh 3..4") << "3" << "4" << QByteArray("3;;;;;;\r\n4;;;;;;\r\n");
    QTest::newRow("one item") << "9999" << "9999" << QByteArray("9999;;;;;;\r\n");
    QTest::newRow("filled rows") << "11" << "12"
                                 << (W("11;Хлеб ржаной   ;4600000000001;2;15.50;ДА;3.5\r\n") +
                                     W("12;Молоко;;;;НЕТ;\r\n"));
    QTest::newRow("empty range") << "10" << "5" << QByteArray();
    // Pasted text the range edits let through: rows outside the grid are
    // not exported (row 0 holds the headers).
    QTest::newRow("start below 1") << "-2" << "1" << QByteArray("1;;;;;;\r\n");
}

void CsvTest::exportRange()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QByteArray, file);
    SetRow(11, {"Хлеб ржаной   ", "4600000000001", "2", "15.50", "ДА", "3.5"});
    SetRow(12, {"Молоко", "", "", "", "НЕТ", ""});
    // The range edits correct typing only while the goods page is in front.
    m_->PageControl->setCurrentIndex(TMainForm::pgInformation);
    m_->ed_GoodsStart->setText(start);
    m_->ed_GoodsEND->setText(end);
    m_->PageControl->setCurrentIndex(TMainForm::pgGoods);

    WriteFile("goods.csv", "old contents that are replaced");
    // Qt's dialog asks before replacing a file.
    QVERIFY(Run(false, Path("goods.csv"), 0, nullptr, nullptr, true));
    QCOMPARE(ReadFile(Path("goods.csv")), file);
    QCOMPARE(NewLines(), (QList<TLine>{{StartExport, clBlack}, {DoneExport, clBlack}}));
    QCOMPARE(m_->lb_StatusEmpty->text(), QString());
}

void CsvTest::exportNameWithoutExtension()
{
    // A name typed without an extension gets ".csv", as the user types it.
    m_->ed_GoodsStart->setText("1");
    m_->ed_GoodsEND->setText("1");
    TModalDriver driver;
    const QString folder = dir_->path();
    driver.OnDialog<QFileDialog>([folder](QFileDialog* d) {
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        d->setDirectory(folder);
        QTest::keyClicks(name, "list");
        QTest::keyClick(name, Qt::Key_Return);
    });
    m_->si_ExportClick();
    QVERIFY(WaitIdle(*m_));
    QVERIFY(driver.Done());
    QCOMPARE(ReadFile(Path("list.csv")), QByteArray("1;;;;;;\r\n"));
}

void CsvTest::importLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("item");
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QString>("box");   // a rejected field's message
    QTest::addColumn<QString>("error"); // the error reporter's message
    QTest::addColumn<QList<TLine>>("journal");

    const QList<TLine> done = {{StartImport, clBlack}, {DoneImport, clBlack}};
    const QStringList untouched = {"старое", "1", "1", "1.00", "ДА", "5"};

    QTest::newRow("comma price")
        << W("12;Хлеб;123;2;15,50;ДА;0\r\n") << 12
        << QStringList{"Хлеб", "123", "2", "15.50", "ДА", "0"} << "" << "" << done;
    QTest::newRow("empty fields take defaults, the last stays empty")
        << W("7;Молоко;;;;;\r\n") << 7 << QStringList{"Молоко", "", "0", "0.00", "НЕТ", ""} << "" << ""
        << done;
    QTest::newRow("unchecked last field")
        << W("8;Сыр;;1;2;может\r\n") << 8 << QStringList{"Сыр", "", "1", "2", "может", "5"} << "" << ""
        << done;
    QTest::newRow("comma in a name")
        << W("9;Соль, крупная, 1 кг;;;;;\r\n") << 9
        << QStringList{"Соль. крупная, 1 кг", "", "0", "0.00", "НЕТ", ""} << "" << "" << done;
    QTest::newRow("blanks around fields, more fields than columns")
        << W("10;  Чай  ; 77 ;3;1.5;НЕТ;2 ;x;y\r\n") << 10
        << QStringList{"Чай  ", "77 ", "3", "1.5", "НЕТ", "2 "} << "" << "" << done;
    // Only leading blanks go from a field that is not the last.
    QTest::newRow("trailing blank in a checked field")
        << W("10;Чай;;3;1.5;НЕТ ;2\r\n") << 10 << QStringList{"Чай", "", "3", "1.5", "ДА", "5"}
        << "Поле \"Дробное\" должно принимать значение - \"ДА\" или \"НЕТ\"" << ""
        << QList<TLine>{{StartImport, clBlack}, {"Ошибка в записи № 10", clRed}};
    QTest::newRow("later line overwrites")
        << W("12;Хлеб;;;;ДА;1\n12;Батон;;;;\n") << 12
        << QStringList{"Батон", "", "0", "0.00", "", "1"} << "" << "" << done;
    // The fields before the rejected one stay, the rest of the file is not read.
    QTest::newRow("section 17")
        << W("12;Хлеб;123;17;1;ДА;0\r\n13;Соль;;;;;\r\n") << 12
        << QStringList{"Хлеб", "123", "1", "1.00", "ДА", "5"}
        << "Номер отдела не может иметь значение больше 16!" << ""
        << QList<TLine>{{StartImport, clBlack}, {"Ошибка в записи № 12", clRed}};
    QTest::newRow("section not a number")
        << W("12;Хлеб;;2a;;;\r\n") << 12 << QStringList{"Хлеб", "", "1", "1.00", "ДА", "5"}
        << "Номер отдела имеет неправильный тип!" << ""
        << QList<TLine>{{StartImport, clBlack}, {"Ошибка в записи № 12", clRed}};
    QTest::newRow("price not a number")
        << W("12;Хлеб;;;12 руб;;\r\n") << 12 << QStringList{"Хлеб", "", "0", "1.00", "ДА", "5"}
        << "Цена имеет неправильный тип!" << ""
        << QList<TLine>{{StartImport, clBlack}, {"Ошибка в записи № 12", clRed}};
    QTest::newRow("fractional checked when not last")
        << W("12;Хлеб;;;;да;\r\n") << 12 << QStringList{"Хлеб", "", "0", "0.00", "ДА", "5"}
        << "Поле \"Дробное\" должно принимать значение - \"ДА\" или \"НЕТ\"" << ""
        << QList<TLine>{{StartImport, clBlack}, {"Ошибка в записи № 12", clRed}};
    QTest::newRow("header line") << W("Товар;Наименование;Штрих-код;Отдел;Цена;Дробное;Продажи\r\n12;Хлеб\r\n")
                                 << 12 << untouched << "" << "'Товар' не является целым числом"
                                 << QList<TLine>{{StartImport, clBlack}};
    QTest::newRow("empty line") << W("12;Хлеб\r\n\r\n13;Соль\r\n") << 12
                                << QStringList{"Хлеб", "1", "1", "1.00", "ДА", "5"} << ""
                                << "'' не является целым числом" << QList<TLine>{{StartImport, clBlack}};
    QTest::newRow("empty file") << QByteArray() << 12 << untouched << "" << "" << done;
}

void CsvTest::importLines()
{
    QFETCH(QByteArray, file);
    QFETCH(int, item);
    QFETCH(QStringList, row);
    QFETCH(QString, box);
    QFETCH(QString, error);
    QFETCH(QList<TLine>, journal);

    for (int i : {item, item + 1}) {
        SetRow(i, {"старое", "1", "1", "1.00", "ДА", "5"});
        m_->GoodsItemFlags[i - 1] = 1;
    }
    std::vector<TBox> seen;
    QVERIFY(Run(true, WriteFile("in.csv", file), box.isEmpty() && error.isEmpty() ? 0 : 1, &seen));
    QCOMPARE(Row(item), row);
    // The flag follows the "Дробное" cell, whatever the cell was set to.
    QCOMPARE(m_->GoodsItemFlags[item - 1], row[4] == QStringLiteral("ДА") ? 1 : 0);
    QCOMPARE(Row(item + 1), (QStringList{"старое", "1", "1", "1.00", "ДА", "5"}));
    if (!box.isEmpty()) {
        QCOMPARE(seen[0].Box.Title, QStringLiteral("Ошибка"));
        QCOMPARE(seen[0].Box.Icon, QMessageBox::Critical);
        QCOMPARE(seen[0].Box.Text, box);
        // The box comes first, the red line once it is closed.
        QCOMPARE(seen[0].LastLine, StartImport);
    }
    if (!error.isEmpty())
        QCOMPARE(seen[0].Box.Text, GuardText("TMainForm.si_ImportClick", error));
    QCOMPARE(NewLines(), journal);
    QCOMPARE(m_->lb_StatusEmpty->text(), QString());
}

void CsvTest::itemNumbersOutsideTheGrid_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0") << QByteArray("0") << "0";
    QTest::newRow("10000") << QByteArray("10000") << "10000";
    QTest::newRow("-1") << QByteArray("-1") << "-1";
    QTest::newRow("beyond 64 bits") << QByteArray("123456789012345678901234567890")
                                    << "123456789012345678901234567890";
    QTest::newRow("int overflow") << QByteArray("4294967297") << "4294967297";
}

void CsvTest::itemNumbersOutsideTheGrid()
{
    QFETCH(QByteArray, item);
    QFETCH(QString, shown);
    QStringList headers;
    for (int col = 0; col < 7; ++col)
        headers << m_->ts_Goods->Cell(col, 0);

    const QByteArray file = W("1;Первый;;;;;\r\n") + item + W(";Чужой;1;2;3;ДА;4\r\n2;Второй;;;;;\r\n");
    QVERIFY(Run(true, WriteFile("in.csv", file)));
    QCOMPARE(NewLines(), (QList<TLine>{{StartImport, clBlack}, {"Ошибка в записи № " + shown, clRed}}));
    QCOMPARE(Row(1).first(), QStringLiteral("Первый"));
    QCOMPARE(Row(2).first(), QString());
    QStringList after;
    for (int col = 0; col < 7; ++col)
        after << m_->ts_Goods->Cell(col, 0);
    QCOMPARE(after, headers);
    QCOMPARE(m_->ts_Goods->Cell(0, 1), QStringLiteral("1"));
    QCOMPARE(m_->ts_Goods->Cell(0, 9999), QStringLiteral("9999"));
    for (int i = 1; i <= 9999; ++i)
        if (m_->ts_Goods->Cell(1, i) == QStringLiteral("Чужой"))
            QFAIL(qPrintable(QStringLiteral("row %1 was written").arg(i)));
}

void CsvTest::lineEnds_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("CR LF") << W("1;Хлеб;;;;ДА;2\r\n2;Соль;;;;НЕТ;\r\n");
    QTest::newRow("LF") << W("1;Хлеб;;;;ДА;2\n2;Соль;;;;НЕТ;\n");
    QTest::newRow("mixed, no end on the last") << W("1;Хлеб;;;;ДА;2\n2;Соль;;;;НЕТ;\r\n").chopped(2);
}

void CsvTest::lineEnds()
{
    QFETCH(QByteArray, file);
    QVERIFY(Run(true, WriteFile("in.csv", file)));
    QCOMPARE(Row(1), (QStringList{"Хлеб", "", "0", "0.00", "ДА", "2"}));
    QCOMPARE(Row(2), (QStringList{"Соль", "", "0", "0.00", "НЕТ", ""}));
    QCOMPARE(NewLines().last(), (TLine{DoneImport, clBlack}));
    // Imported "ДА" is a set flag: one click shows "НЕТ".
    QVERIFY(!m_->ts_Goods->GoodsSelectCell(5, 1));
    QCOMPARE(m_->ts_Goods->Cell(5, 1), QStringLiteral("НЕТ"));
}

void CsvTest::anyBytesAreRead_data()
{
    QTest::addColumn<QByteArray>("name"); // the bytes of the name field
    QTest::newRow("UTF-8") << QStringLiteral("Хлеб ржаной «Ёлка» №1").toUtf8();
    QTest::newRow("0 bytes and the free byte 0x98") << QByteArray("a\0b\x98\x01z", 6);
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        if (b != ';' && b != '\n' && b != ',' && b > ' ')
            all.append(char(b));
    QTest::newRow("every byte") << all;
    QTest::newRow("a megabyte") << QByteArray(1 << 20, '\xFF');
}

void CsvTest::anyBytesAreRead()
{
    QFETCH(QByteArray, name);
    // Read one character per byte as Windows-1251, whatever the file holds,
    // and written back as the same bytes.
    const QByteArray line = "5;" + name + ";;;;;";
    QVERIFY(Run(true, WriteFile("in.csv", line + "\r\n6;x\r\n")));
    QCOMPARE(NewLines().last(), (TLine{DoneImport, clBlack}));
    QCOMPARE(m_->ts_Goods->Cell(1, 5), Utf(name));
    QCOMPARE(m_->ts_Goods->Cell(1, 6), QStringLiteral("x"));
    // The window still paints the row.
    m_->ts_Goods->Goods->scrollTo(m_->ts_Goods->GoodsModel->index(4, 1));
    m_->repaint();

    m_->ed_GoodsStart->setText("5");
    m_->ed_GoodsEND->setText("5");
    QVERIFY(Run(false, Path("out.csv")));
    QCOMPARE(ReadFile(Path("out.csv")), "5;" + name + W(";;0;0.00;НЕТ;\r\n"));
}

void CsvTest::roundTripKeepsBytes()
{
    // Every letter of the code page, signs, and a name that keeps its
    // trailing blanks as read from the register.
    const QStringList names = {
        "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдеёжзийклмнопрстуфхцчшщъыьэюя",
        "«Ёж» №5 — 10€ ±", "Хлеб ржаной                  ", "ЎўЄєІіЇї"};
    for (int i = 0; i < names.size(); ++i)
        SetRow(100 + i, {names[i], "46" + QString::number(i), QString::number(i + 1), "1" + QString::number(i) + ".50",
                         i % 2 ? "ДА" : "НЕТ", "0.25" + QString::number(i)});
    m_->ed_GoodsStart->setText("100");
    m_->ed_GoodsEND->setText(QString::number(99 + names.size()));
    QVERIFY(Run(false, Path("goods.csv")));
    const QByteArray file = ReadFile(Path("goods.csv"));
    QVERIFY(file.contains(W("\r\n102;«Ёж» №5 — 10€ ±;462;3;12.50;НЕТ;0.252\r\n")));

    std::vector<QStringList> rows;
    for (int i = 0; i < names.size(); ++i)
        rows.push_back(Row(100 + i));
    // Into a fresh window, then out again.
    NewWindow();
    QVERIFY(Run(true, Path("goods.csv")));
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(Row(100 + i), rows[i]);
        QCOMPARE(m_->GoodsItemFlags[100 + i - 1], i % 2 ? 1 : 0);
    }
    m_->ed_GoodsStart->setText("100");
    m_->ed_GoodsEND->setText(QString::number(99 + names.size()));
    QVERIFY(Run(false, Path("again.csv")));
    QCOMPARE(ReadFile(Path("again.csv")), file);
}

void CsvTest::exportThatCannotBeWritten_data()
{
    // Targets that fail for root too.
    QTest::addColumn<QString>("where");
    QTest::newRow("under a regular file") << "file";
#ifndef _WIN32
    // Linux's own: a file system that takes no new files, a size limit.
    QTest::newRow("in /proc") << "proc";
    QTest::newRow("disk full") << "full";
#endif
    // Pasted into the range edit, which corrects only the last character.
    QTest::newRow("range not a number") << "range";
}

void CsvTest::exportThatCannotBeWritten()
{
    QFETCH(QString, where);
    WriteFile("goods.csv", "the old list");
    QString path = Path("goods.csv");
    QStringList files = {"goods.csv"};
    if (where == QLatin1String("file")) {
        path = WriteFile("plain", "x") + QStringLiteral("/goods.csv");
        files << "plain";
    } else if (where == QLatin1String("proc")) {
        path = QStringLiteral("/proc/kkm-goods.csv");
    }
    SetRow(1, {"Хлеб", "4600000000001", "1", "15.50", "ДА", "0"});
    m_->ed_GoodsStart->setText(where == QLatin1String("range") ? "1a2" : "1");
    m_->ed_GoodsEND->setText("9999");

#ifndef _WIN32
    // A full disk: the file may not grow beyond a few kilobytes, so writing
    // fails with EFBIG (the signal that would come with it is ignored).
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (where == QLatin1String("full")) {
        rlimit small = old;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
#endif
    std::vector<TBox> seen;
    const bool replace = where == QLatin1String("full") || where == QLatin1String("range");
    const bool ran = Run(false, path, 1, &seen, nullptr, replace);
#ifndef _WIN32
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
#endif
    QVERIFY(ran);

    const TSeenBox& error = seen[0].Box;
    QCOMPARE(error.Title, QStringLiteral("Ошибка"));
    const QString head = QStringLiteral("Ошибка по месту: TMainForm.si_ExportClick\n\rТекст ошибки: ");
    // The cause, not a bare "Unknown error".
    QVERIFY2(error.Text.startsWith(head) && !error.Text.contains(QStringLiteral("Unknown error")),
             qPrintable(error.Text));
    if (where == QLatin1String("range"))
        QCOMPARE(error.Text, GuardText("TMainForm.si_ExportClick", "'1a2' не является целым числом"));
    const QList<TLine> lines = NewLines();
    QVERIFY(!lines.contains(TLine{DoneExport, clBlack}));
    QCOMPARE(m_->lb_StatusEmpty->text(), QString());
    // The old file stays as it was and nothing is left behind.
    QCOMPARE(ReadFile(Path("goods.csv")), QByteArray("the old list"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
}

void CsvTest::unreadableImport()
{
    // A file that opens but fails to read, even for root: the error reporter
    // says so after the start line, and there is no completion line.
    // The dialog lists only *.csv names, so the file is chosen through a link.
    const QString link = Path("mem.csv");
    QVERIFY(QFile::link(QStringLiteral("/proc/%1/mem").arg(QCoreApplication::applicationPid()), link));
    std::vector<TBox> seen;
    QVERIFY(Run(true, link, 1, &seen));
    const QString head = QStringLiteral("Ошибка по месту: TMainForm.si_ImportClick\n\rТекст ошибки: ");
    QVERIFY2(seen[0].Box.Text.startsWith(head) && seen[0].Box.Text.size() > head.size() + 30,
             qPrintable(seen[0].Box.Text));
    QCOMPARE(NewLines(), (QList<TLine>{{StartImport, clBlack}}));
}

void CsvTest::progressAndInputWhileRunning_data()
{
    dialogSetUp_data();
}

void CsvTest::progressAndInputWhileRunning()
{
    QFETCH(bool, import);
    QByteArray file;
    for (int i = 1; i <= 9999; ++i)
        file += QByteArray::number(i) + W(";Товар ") + QByteArray::number(i) + ";;;;;\r\n";
    const QString in = WriteFile("in.csv", file);
    m_->ed_GoodsStart->setText("1");
    m_->ed_GoodsEND->setText("9999");

    // The user acts when the panel first changes: the slot runs right after
    // the window's own, between two reports of the running transfer, and
    // clicks both buttons again.
    QStringList panel;
    const QMetaObject::Connection watch =
        connect(m_->Session, &kkm::TSession::Progress, this, [&] {
            const QString text = m_->lb_StatusEmpty->text();
            if (!text.isEmpty() && (panel.isEmpty() || panel.last() != text)) {
                panel << text;
                if (panel.size() == 1) {
                    m_->si_ImportClick();
                    m_->si_ExportClick();
                }
            }
        });
    const bool ran = Run(import, import ? in : Path("out.csv"));
    disconnect(watch);
    QVERIFY(ran);
    QVERIFY(!panel.isEmpty());
    static const QRegularExpression format(QStringLiteral("^(\\d+) / 1\\.\\.9999$"));
    for (const QString& text : panel)
        QVERIFY2(format.match(text).hasMatch(), qPrintable(text));
    QCOMPARE(m_->lb_StatusEmpty->text(), QString());
    // The clicks during the transfer started nothing: one start, one end.
    QCOMPARE(NewLines().size(), 2);
    if (import)
        QCOMPARE(m_->ts_Goods->Cell(1, 9999), QStringLiteral("Товар 9999"));
    else
        QCOMPARE(ReadFile(Path("out.csv")).size(), qsizetype(9 * 9 + 90 * 10 + 900 * 11 + 9000 * 12));
}

KKM_WINDOW_TEST_MAIN(CsvTest)

#include "CsvTest.moc"
