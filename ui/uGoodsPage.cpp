#include "uGoodsPage.h"

#include "GoodsCsv.h"
#include "GoodsModel.h"
#include "GridEdit.h"
#include "KkmText.h"
#include "SettingsMap.h"
#include "uMainForm.h"
#include "TransferProgress.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QString DigitsOnly(const QString& text)
{
    QString digits;
    for (QChar c : text)
        if (IsDigit(c))
            digits += c;
    return digits;
}

const QString Yes = QStringLiteral("ДА");
const QString No = QStringLiteral("НЕТ");

} // namespace

// ---------------------------------------------------------------------------
// The grid

bool TGoodsGrid::Refused(const QModelIndex& index)
{
    return index.isValid() && OnSelectCell && !OnSelectCell(index.column(), index.row() + 1);
}

void TGoodsGrid::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && Refused(index)) {
        event->accept();
        return;
    }
    // Other buttons do not select what a click may not select either.
    if (index.isValid() && !(model()->flags(index) & Qt::ItemIsSelectable)) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void TGoodsGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click of a double click is a selection attempt of its own.
    mousePressEvent(event);
}

void TGoodsGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && !(model()->flags(index) & Qt::ItemIsSelectable)) {
        event->accept();
        return;
    }
    QTableView::mouseMoveEvent(event);
}

QModelIndex TGoodsGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex next = QTableView::moveCursor(action, modifiers);
    if (next != currentIndex() && Refused(next))
        return currentIndex();
    return next;
}

// ---------------------------------------------------------------------------
// The page

TGoodsPage::TGoodsPage(TMainForm* main, QWidget* parent)
    : TPage(main, "ts_Goods", QStringLiteral("Товары"), parent)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    GoodsModel = new TGoodsModel(this);
    GoodsModel->setObjectName(QStringLiteral("GoodsModel"));
    Goods = new TGoodsGrid(this);
    Goods->setObjectName(QStringLiteral("Goods"));
    Goods->setModel(GoodsModel);
    Goods->verticalHeader()->hide();
    Goods->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Goods->horizontalHeader()->setHighlightSections(false);
    Goods->setSelectionMode(QAbstractItemView::SingleSelection);
    // The cell editor opens wherever the current cell goes.
    Goods->setEditTriggers(QAbstractItemView::AllEditTriggers);
    auto* editor = new TLiveEditDelegate(Goods);
    editor->OnEditText = [this](int col, int row, const QString& text) {
        GoodsSetEditText(col, row, text);
    };
    Goods->setItemDelegate(editor);
    Goods->OnSelectCell = [this](int col, int row) { return GoodsSelectCell(col, row); };
    page->addWidget(Goods);

    for (QLineEdit* range : {Main->ed_GoodsStart, Main->ed_GoodsEND})
        if (range)
            connect(range, &QLineEdit::textChanged, this, [this, range] { ed_GoodsStartChange(range); });
}

QString TGoodsPage::Cell(int col, int row) const
{
    return GoodsModel->Cell(col, row);
}

void TGoodsPage::SetCell(int col, int row, const QString& text)
{
    GoodsModel->SetCell(col, row, text);
}

void TGoodsPage::SetFractional(int item, bool on)
{
    if (item < 1 || item > ItemCount)
        return;
    SetCell(colFractional, item, on ? Yes : No);
    Main->GoodsItemFlags[item - 1] = on ? 1 : 0;
}

void TGoodsPage::SetUpGrid()
{
    const int widths[] = {40, 240, 90, 40, 60, 50, 60};
    const QString headers[] = {
        QStringLiteral("Товар"), QStringLiteral("Наименование"), QStringLiteral("Штрих-код"),
        QStringLiteral("Отдел"), QStringLiteral("Цена"), QStringLiteral("Дробное"),
        QStringLiteral("Продажи")};
    Goods->verticalHeader()->setDefaultSectionSize(20);
    GoodsModel->BeginUpdate();
    for (int c = 0; c < TGoodsModel::ColCount; ++c) {
        Goods->setColumnWidth(c, widths[c]);
        GoodsModel->SetCell(c, 0, headers[c]);
    }
    for (int item = 1; item <= ItemCount; ++item) {
        GoodsModel->SetCell(colItem, item, QString::number(item));
        Main->GoodsItemFlags[item - 1] = 0;
    }
    GoodsModel->EndUpdate();
}

bool TGoodsPage::GoodsSelectCell(int col, int row)
{
    bool allowed = false;
    Main->Guard(QStringLiteral("Tfm_Main.GoodsSelectCell"), [&] {
        if (col >= colItem && col <= colPrice) {
            allowed = true;
            return;
        }
        if (col == colFractional && row >= 1 && row <= ItemCount) {
            // The first click on an empty cell gives "ДА"; every later one
            // inverts the item's flag.
            if (TrimText(Cell(col, row)).isEmpty())
                SetFractional(row, true);
            else
                SetFractional(row, Main->GoodsItemFlags[row - 1] == 0);
        }
    });
    return allowed;
}

QString TGoodsPage::GoodsEditText(int col, const QString& text)
{
    if (text.isEmpty())
        return text;
    switch (col) {
    case colName:
        return text.left(32);
    case colBarcode:
        return DigitsOnly(text).left(13);
    case colSection: {
        QString t = DigitsOnly(text);
        if (!t.isEmpty()) {
            bool ok = false;
            const qulonglong value = t.toULongLong(&ok);
            if (!ok || value > 16)
                t.chop(1);
        }
        return t.left(2);
    }
    case colPrice: {
        QString t = text;
        if (t.startsWith(QLatin1Char('.')))
            t.prepend(QLatin1Char('0'));
        QString kept;
        bool point = false;
        for (QChar c : t) {
            if (IsDigit(c)) {
                kept += c;
            } else if (c == QLatin1Char('.') && !point) {
                kept += c;
                point = true;
            }
        }
        t = kept;
        if (!t.isEmpty()) {
            const int at = t.indexOf(QLatin1Char('.'));
            if (at < 0)
                t.truncate(7); // at most 7 digits before the point
            else if (at == 0)
                t.prepend(QLatin1Char('0'));
            else if (at <= 7)
                t.truncate(at + 3); // at most 2 digits after it
            else
                t.chop(1);
        }
        return t.left(10);
    }
    default:
        return text;
    }
}

void TGoodsPage::GoodsSetEditText(int col, int row, const QString& text)
{
    Main->Guard(QStringLiteral("Tfm_Main.GoodsSetEditText"), [&] {
        const QString result = GoodsEditText(col, text);
        // The open editor follows the cell, so the user sees the correction.
        if (result != text)
            SetCell(col, row, result);
    });
}

QString TGoodsPage::GoodsRangeText(const QString& text)
{
    QString t = TrimText(text);
    if (t.isEmpty()) {
        t = QStringLiteral("1");
    } else {
        // Typing adds at the end, so only the last character is examined.
        if (!IsDigit(t.back()))
            t.chop(1);
        if (t.size() > 4)
            t.chop(1);
    }
    if (t.isEmpty() || t == QLatin1String("0"))
        t = QStringLiteral("1");
    return t;
}

void TGoodsPage::ed_GoodsStartChange(QLineEdit* edit)
{
    Main->Guard(QStringLiteral("TMainForm.ed_GoodsStartChange"), [&] {
        if (Main->ActivePage() != TMainForm::pgGoods)
            return;
        const QString t = GoodsRangeText(edit->text());
        // The change re-runs this handler, which then finds nothing to do.
        if (t != edit->text())
            edit->setText(t);
    });
}

// ---------------------------------------------------------------------------
// Reading and writing the goods range

void TGoodsPage::GoodsRange(int& first, int& last) const
{
    const int start = StrToInt(Main->ed_GoodsStart->text());
    const int end = StrToInt(Main->ed_GoodsEND->text());
    // Items 1..9999 are all there is; a range edit set past them (the
    // correction runs only while the goods page is in front) reaches no
    // further, rather than into rows that do not exist.
    first = std::max(start, 1);
    last = std::min(end, ItemCount);
}

void TGoodsPage::ReadTable()
{
    const TTableSpec& t = GoodsTable();
    Main->WriteLog(t.ReadStartLine, QColor(clBlack));
    int first = 0;
    int last = -1;
    GoodsRange(first, last);
    {
        TProgressScope progress(Main, first, last);
        for (int item = first; item <= last; ++item) {
            // The stop button, navigation and the journal stay live.
            QCoreApplication::processEvents();
            if (Main->StopRequested) {
                Main->StopRequested = false;
                break;
            }
            progress.Item(item);
            TArrayOfByte bytes;
            std::int32_t rc = Main->Protokol->ReadTableRecord(TMainForm::AR, TMainForm::AT, 1,
                                                              static_cast<std::uint16_t>(item), bytes);
            if (rc != 0) {
                Main->WriteLog(TOmvekCP::ErrorText(rc), QColor(clRed));
                break;
            }
            TGoodsRow row;
            QString error;
            if (!DecodeGoodsRecord(bytes, row, error)) {
                Main->WriteLog(error, QColor(clRed));
                break;
            }
            // Cell by cell: the view repaints a changed cell only when it is
            // in view, where a change of a range would repaint the viewport.
            for (int c = colName; c <= colPrice; ++c)
                SetCell(c, item, row[static_cast<std::size_t>(c)]);
            SetFractional(item, row[colFractional] == Yes);
            TCurrency sales;
            rc = Main->Protokol->ReadGoodsSales(TMainForm::AR, TMainForm::AT, static_cast<std::uint16_t>(item),
                                                sales);
            if (rc != 0) {
                // The record's columns stay as read.
                Main->WriteLog(TOmvekCP::ErrorText(rc), QColor(clRed));
                break;
            }
            SetCell(colSales, item, GoodsSalesText(sales));
        }
    }
    // Also after a stop or an error answer.
    Main->WriteLog(t.ReadDoneLine, QColor(clBlack));
}

void TGoodsPage::WriteTable()
{
    const TTableSpec& t = GoodsTable();
    Main->WriteLog(t.WriteStartLine, QColor(clBlack));
    int first = 0;
    int last = -1;
    GoodsRange(first, last);
    {
        TProgressScope progress(Main, first, last);
        for (int item = first; item <= last; ++item) {
            QCoreApplication::processEvents();
            if (Main->StopRequested) {
                Main->StopRequested = false;
                break;
            }
            progress.Item(item);
            // Built from the row as it is now: a cell edited while earlier
            // items were sent goes out as edited.
            TGoodsRow row;
            for (int c = colName; c <= colFractional; ++c)
                row[static_cast<std::size_t>(c)] = Cell(c, item);
            std::array<bool, 7> filled{};
            TArrayOfByte bytes;
            QString error;
            const bool built = EncodeGoodsRecord(row, bytes, error, &filled);
            // The grid shows what is sent: the defaults of empty cells stay,
            // also when a later cell of the row failed.
            for (int c = colName; c <= colPrice; ++c)
                if (filled[static_cast<std::size_t>(c)])
                    SetCell(c, item, row[static_cast<std::size_t>(c)]);
            if (filled[colFractional])
                SetFractional(item, row[colFractional] == Yes);
            else
                Main->GoodsItemFlags[static_cast<std::size_t>(item - 1)] = row[colFractional] == Yes ? 1 : 0;
            if (!built)
                throw EKkmError(error);
            std::int32_t rc = Main->Protokol->WriteTableRecord(TMainForm::AR, TMainForm::AT, 1,
                                                               static_cast<std::uint16_t>(item), bytes);
            if (rc != 0) {
                Main->WriteLog(TOmvekCP::ErrorText(rc), QColor(clRed));
                break;
            }
            if (Main->cb_QuantNull->isChecked()) {
                rc = Main->Protokol->WriteGoodsSales(TMainForm::AR, TMainForm::AT, static_cast<std::uint16_t>(item),
                                                     TCurrency{});
                if (rc != 0) {
                    Main->WriteLog(TOmvekCP::ErrorText(rc), QColor(clRed));
                    break;
                }
            }
        }
    }
    Main->WriteLog(t.WriteDoneLine, QColor(clBlack));
}

// ---------------------------------------------------------------------------
// CSV export and import

namespace {

// Both dialogs start in the program's folder with an empty file name; a name
// typed without an extension gets ".csv".
void PrepareCsvDialog(QFileDialog* dialog)
{
    dialog->setDirectory(QCoreApplication::applicationDirPath());
    dialog->setNameFilter(QStringLiteral("CSV Files (*.csv)"));
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    // selectFile() ignores an empty name, so the name edit is cleared itself.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->clear();
}

// The file the user chose, or an empty text when the dialog was cancelled.
QString ChosenFile(QFileDialog* dialog)
{
    if (dialog->exec() != QDialog::Accepted)
        return QString();
    return dialog->selectedFiles().value(0);
}

// Export writes its lines in chunks of about this size.
constexpr qsizetype kExportChunk = 64 * 1024;

} // namespace

void TGoodsPage::Export()
{
    QFileDialog* dialog = Main->SaveDialog;
    PrepareCsvDialog(dialog);
    if (Main->ActivePage() != TMainForm::pgGoods)
        return;
    // The window handles input while a transfer runs; a second click on the
    // button then is not a second transfer.
    if (csvRunning_)
        return;
    const QScopedValueRollback<bool> running(csvRunning_, true);
    const QString path = ChosenFile(dialog);
    if (path.isEmpty())
        return;

    // The file replaces the old one only once it is complete, so a failed
    // export (a full disk, a range that is not a number) leaves the old file
    // as it was. The lines are gathered into chunks here rather than in the
    // file's own buffer, whose write errors come back without their cause.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw EKkmError(file.errorString());
    Main->WriteLog(QStringLiteral("Выполняется экспорт данных..."), QColor(clBlack));

    int first = 0;
    int last = -1;
    GoodsRange(first, last);
    {
        TProgressScope progress(Main, first, last);
        TGoodsRow row;
        QByteArray chunk;
        QString error;
        for (int item = first; item <= last; ++item) {
            for (int col = colItem; col <= colSales; ++col)
                row[col] = Cell(col, item);
            chunk += FormatGoodsCsvLine(row);
            if (chunk.size() >= kExportChunk || item == last) {
                if (!WriteCsvLine(file, chunk, error))
                    throw EKkmError(error);
                chunk.clear();
            }
            progress.Item(item);
            // The stop button, navigation and the journal stay live.
            QCoreApplication::processEvents();
        }
    }
    if (!file.commit())
        throw EKkmError(file.errorString());
    Main->WriteLog(QStringLiteral("Экспорт данных завершен!"), QColor(clBlack));
}

void TGoodsPage::Import()
{
    QFileDialog* dialog = Main->OpenDialog;
    PrepareCsvDialog(dialog);
    if (Main->ActivePage() != TMainForm::pgGoods)
        return;
    if (csvRunning_)
        return;
    const QScopedValueRollback<bool> running(csvRunning_, true);
    const QString path = ChosenFile(dialog);
    if (path.isEmpty())
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EKkmError(file.errorString());
    Main->WriteLog(QStringLiteral("Выполняется импорт данных..."), QColor(clBlack));

    TCsvLineReader reader(file);
    TProgressScope progress(Main, 1, ItemCount);
    QString text;
    while (reader.ReadLine(text)) {
        const TImportLine line = ParseImportLine(text);
        if (line.Status == TImportStatus::NotAnInteger)
            throw EKkmError(line.Message);
        // The grid has no row for it: row 0 is the header.
        if (line.Status == TImportStatus::ItemOutOfRange) {
            Main->WriteLog(ImportErrorLine(line), QColor(clRed));
            return;
        }
        for (const auto& [col, value] : line.Cells) {
            SetCell(col, line.Item, value);
            // The item's flag follows its "Дробное" cell, whatever it holds.
            if (col == colFractional)
                Main->GoodsItemFlags[line.Item - 1] = value == Yes ? 1 : 0;
        }
        if (line.Status == TImportStatus::FieldRejected) {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), line.Message,
                            QMessageBox::Ok, Main);
            box.setObjectName(QStringLiteral("ImportFieldBox"));
            box.exec();
            Main->WriteLog(ImportErrorLine(line), QColor(clRed));
            return;
        }
        progress.Item(line.Item);
        QCoreApplication::processEvents();
    }
    if (reader.Failed())
        throw EKkmError(reader.ErrorString());
    Main->WriteLog(QStringLiteral("Импорт данных завершен."), QColor(clBlack));
}
