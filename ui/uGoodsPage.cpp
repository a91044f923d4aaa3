#include "uGoodsPage.h"

#include "GoodsCsv.h"
#include "GoodsJobs.h"
#include "GoodsModel.h"
#include "GridEdit.h"
#include "KkmText.h"
#include "SettingsMap.h"


#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSemaphore>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

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

void TGoodsGrid::SetLocked(bool locked)
{
    if (locked == locked_)
        return;
    locked_ = locked;
    if (locked) {
        triggers_ = editTriggers();
        setEditTriggers(NoEditTriggers);
        reopen_ = QPersistentModelIndex();
        if (QWidget* editor = indexWidget(currentIndex())) {
            reopen_ = currentIndex();
            closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
        return;
    }
    setEditTriggers(triggers_);
    if (reopen_.isValid() && reopen_ == currentIndex()) {
        // The editor takes the focus when it opens; it goes back to where
        // the user has put it meanwhile.
        QWidget* focus = QApplication::focusWidget();
        edit(currentIndex());
        if (focus && focus != this && !isAncestorOf(focus))
            focus->setFocus();
    }
    reopen_ = QPersistentModelIndex();
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

TGoodsPage::TGoodsPage(TPageHost* host, QWidget* parent)
    : TPage(host, "ts_Goods", QStringLiteral("Товары"), parent)
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

    BuildRangeBar();
}

void TGoodsPage::BuildRangeBar()
{
    // Made here, shown in the frame's speed bar while this page is in front.
    pnl_GoodsRange = new QWidget(this);
    pnl_GoodsRange->setObjectName(QStringLiteral("pnl_GoodsRange"));
    auto* range = new QHBoxLayout(pnl_GoodsRange);
    range->setContentsMargins(0, 0, 4, 0);
    range->setSpacing(6);
    cb_QuantNull = new QCheckBox(QStringLiteral("Обнуление кол-ва продаж"), pnl_GoodsRange);
    cb_QuantNull->setObjectName(QStringLiteral("cb_QuantNull"));
    lb_Interval = new QLabel(QStringLiteral("Интервал"), pnl_GoodsRange);
    lb_Interval->setObjectName(QStringLiteral("lb_Interval"));
    ed_GoodsStart = new QLineEdit(QStringLiteral("1"), pnl_GoodsRange);
    ed_GoodsStart->setObjectName(QStringLiteral("ed_GoodsStart"));
    ed_GoodsStart->setMaxLength(4);
    ed_GoodsStart->setFixedWidth(44);
    lb_IntervalDot = new QLabel(QStringLiteral("--"), pnl_GoodsRange);
    lb_IntervalDot->setObjectName(QStringLiteral("lb_IntervalDot"));
    ed_GoodsEND = new QLineEdit(QString::number(ItemCount), pnl_GoodsRange);
    ed_GoodsEND->setObjectName(QStringLiteral("ed_GoodsEND"));
    ed_GoodsEND->setMaxLength(4);
    ed_GoodsEND->setFixedWidth(44);
    range->addWidget(cb_QuantNull);
    range->addSpacing(8);
    range->addWidget(lb_Interval);
    range->addWidget(ed_GoodsStart);
    range->addWidget(lb_IntervalDot);
    range->addWidget(ed_GoodsEND);

    for (QLineEdit* edit : {ed_GoodsStart, ed_GoodsEND})
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { ed_GoodsStartChange(edit); });
}

TTableCommands TGoodsPage::Commands(bool connected, bool writable) const
{
    TTableCommands c;
    c.Read = connected;
    c.Write = writable;
    c.Import = true;
    c.Export = true;
    c.Stop = connected;
    return c;
}

void TGoodsPage::Update(bool inFront, bool busy)
{
    lb_Interval->setVisible(inFront);
    ed_GoodsStart->setVisible(inFront);
    lb_IntervalDot->setVisible(inFront);
    ed_GoodsEND->setVisible(inFront);
    cb_QuantNull->setVisible(inFront);
    cb_QuantNull->setEnabled(!busy);
}

void TGoodsPage::Stop()
{
    StopRequested = true;
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
    GoodsItemFlags[item - 1] = on ? 1 : 0;
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
        GoodsItemFlags[item - 1] = 0;
    }
    GoodsModel->EndUpdate();
}

bool TGoodsPage::GoodsSelectCell(int col, int row)
{
    bool allowed = false;
    Host->Guard(QStringLiteral("Tfm_Main.GoodsSelectCell"), [&] {
        if (col >= colItem && col <= colPrice) {
            allowed = true;
            return;
        }
        // A job has taken the rows or fills them.
        if (col == colFractional && row >= 1 && row <= ItemCount && !locked_) {
            // The first click on an empty cell gives "ДА"; every later one
            // inverts the item's flag.
            if (TrimText(Cell(col, row)).isEmpty())
                SetFractional(row, true);
            else
                SetFractional(row, GoodsItemFlags[row - 1] == 0);
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
    Host->Guard(QStringLiteral("Tfm_Main.GoodsSetEditText"), [&] {
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
    Host->Guard(QStringLiteral("TMainForm.ed_GoodsStartChange"), [&] {
        if (!Host->InFront(this))
            return;
        const QString t = GoodsRangeText(edit->text());
        // The change re-runs this handler, which then finds nothing to do.
        if (t != edit->text())
            edit->setText(t);
    });
}

// ---------------------------------------------------------------------------
// Reading and writing the goods range

namespace {

// The rows of items First..Last as the grid shows them now.
kkm::TGoodsRows TakeRows(const TGoodsPage& page, int first, int last)
{
    kkm::TGoodsRows rows;
    rows.First = first;
    rows.Last = last;
    if (first <= last)
        rows.Rows.resize(static_cast<std::size_t>(last - first + 1));
    for (int item = first; item <= last; ++item) {
        TGoodsRow& row = rows.Rows[static_cast<std::size_t>(item - first)];
        for (int col = TGoodsPage::colItem; col <= TGoodsPage::colSales; ++col)
            row[static_cast<std::size_t>(col)] = page.Cell(col, item);
    }
    return rows;
}

// Runs Fn where the job's reports go and returns once it has returned, or
// as soon as the job is asked to end: the window then waits for the job.
void PostAndWait(kkm::TJobContext& job, std::function<void()> fn)
{
    auto ran = std::make_shared<QSemaphore>();
    // Released once the posted call is gone, run or dropped.
    std::shared_ptr<void> release(nullptr, [ran](void*) { ran->release(); });
    job.Post([fn = std::move(fn), release] { fn(); });
    release.reset();
    while (!ran->tryAcquire(1, 20))
        if (job.Cancelled())
            return;
}

// Keeps a file job at most a few hundred reports ahead of the window. A
// file goes through far faster than the window shows its lines; unpaced,
// the whole file's reports, its end included, would queue up at once and be
// handled in one go, with no progress shown and no input taken meanwhile.
class TPacedJob final : public kkm::TJobContext {
public:
    explicit TPacedJob(kkm::TJobContext& inner) : inner_(inner) {}

    TOmvekCP& Protokol() override { return inner_.Protokol(); }
    void Line(const QString& text, kkm::TLineKind kind) override
    {
        inner_.Line(text, kind);
        Count();
    }
    void Progress(int item, int first, int last) override
    {
        inner_.Progress(item, first, last);
        Count();
    }
    void Post(std::function<void()> fn) override
    {
        inner_.Post(std::move(fn));
        Count();
    }
    bool Cancelled() const override { return inner_.Cancelled(); }

private:
    static constexpr int kAhead = 256;

    void Count()
    {
        if (++reports_ % kAhead != 0 || unpaced_)
            return;
        // Everything up to the previous mark has been handled by now. A job
        // asked to end goes on unpaced: the window waits for it.
        while (!handled_->tryAcquire(1, 20)) {
            if (inner_.Cancelled()) {
                unpaced_ = true;
                return;
            }
        }
        inner_.Post([handled = handled_] { handled->release(); });
    }

    kkm::TJobContext& inner_;
    std::shared_ptr<QSemaphore> handled_ = std::make_shared<QSemaphore>(1);
    int reports_ = 0;
    bool unpaced_ = false;
};

} // namespace

void TGoodsPage::GoodsRange(int& first, int& last) const
{
    const int start = StrToInt(ed_GoodsStart->text());
    const int end = StrToInt(ed_GoodsEND->text());
    // Items 1..9999 are all there is; a range edit set past them (the
    // correction runs only while the goods page is in front) reaches no
    // further, rather than into rows that do not exist.
    first = std::max(start, 1);
    last = std::min(end, ItemCount);
}

void TGoodsPage::TransferRange(const QString& startLine, int& first, int& last) const
{
    try {
        GoodsRange(first, last);
    } catch (...) {
        Host->WriteLog(startLine, QColor(clBlack));
        throw;
    }
}

void TGoodsPage::SetLocked(bool locked)
{
    locked_ = locked;
    Goods->SetLocked(locked);
}

bool TGoodsPage::StartGoodsJob(const QString& location,
                               std::function<void(kkm::TJobContext&)> body, std::function<void()> done)
{
    // A stop asked for while no transfer ran belongs to none: every
    // transfer starts without one. Not while another job runs, whose stop
    // it may be.
    if (!Host->Busy())
        StopRequested = false;
    const bool started = Host->StartJob(location, std::move(body),
                                        [this, done = std::move(done)]() mutable {
                                            SetLocked(false);
                                            if (done)
                                                done();
                                        });
    if (started)
        SetLocked(true);
    return started;
}

void TGoodsPage::ReadTable()
{
    int first = 0;
    int last = -1;
    TransferRange(GoodsTable().ReadStartLine, first, last);
    std::atomic<bool>* stop = &StopRequested;
    StartGoodsJob(QStringLiteral("TMainForm.si_ReadTableFromKKMClick"),
                  [this, first, last, stop](kkm::TJobContext& job) {
                      kkm::GoodsReadJob(
                          job, first, last, stop,
                          [this, &job](int item, const TGoodsRow& row) {
                              job.Post([this, item, row] {
                                  // Cell by cell: the view repaints a changed cell only
                                  // when it is in view, where a change of a range would
                                  // repaint the viewport.
                                  for (int c = colName; c <= colPrice; ++c)
                                      SetCell(c, item, row[static_cast<std::size_t>(c)]);
                                  SetFractional(item, row[colFractional] == Yes);
                              });
                          },
                          [this, &job](int item, TCurrency sales) {
                              job.Post([this, item, sales] { SetCell(colSales, item, GoodsSalesText(sales)); });
                          });
                  },
                  {});
}

void TGoodsPage::WriteTable()
{
    int first = 0;
    int last = -1;
    TransferRange(GoodsTable().WriteStartLine, first, last);
    // The rows as they are at the start: the grid takes no edits meanwhile.
    kkm::TGoodsRows rows = TakeRows(*this, first, last);
    const bool zeroSales = cb_QuantNull->isChecked();
    std::atomic<bool>* stop = &StopRequested;
    struct TResult {
        bool Encoded = true;
        QString Error;
    };
    auto result = std::make_shared<TResult>();
    StartGoodsJob(
        QStringLiteral("TMainForm.si_WriteTableToKKMClick"),
        [this, rows = std::move(rows), zeroSales, stop, result](kkm::TJobContext& job) {
            result->Encoded = kkm::GoodsWriteJob(
                job, rows, zeroSales, stop,
                [this, &job](int item, const TGoodsRow& row, const std::array<bool, 7>& filled) {
                    job.Post([this, item, row, filled] {
                        // The grid shows what is sent.
                        for (int c = colName; c <= colPrice; ++c)
                            if (filled[static_cast<std::size_t>(c)])
                                SetCell(c, item, row[static_cast<std::size_t>(c)]);
                        if (filled[colFractional])
                            SetFractional(item, row[colFractional] == Yes);
                        else
                            GoodsItemFlags[static_cast<std::size_t>(item - 1)] =
                                row[colFractional] == Yes ? 1 : 0;
                    });
                },
                result->Error);
        },
        [result] {
            if (!result->Encoded)
                throw EKkmError(result->Error);
        });
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

} // namespace

void TGoodsPage::Export()
{
    QFileDialog* dialog = Host->SaveDialog();
    PrepareCsvDialog(dialog);
    if (!Host->InFront(this))
        return;
    // The button is off while a job runs; a click that comes anyway is not
    // a second transfer.
    if (Host->Busy())
        return;
    const QString path = ChosenFile(dialog);
    if (path.isEmpty())
        return;

    // The range is taken now; one that is not a number ends the export
    // after its start line, where the export takes it.
    kkm::TGoodsRows rows;
    const bool ranged = RunGuarded([&](const QString&, const QString& message) {
        rows.RangeFailed = true;
        rows.RangeError = message;
    }, QString(), [&] { GoodsRange(rows.First, rows.Last); });
    if (ranged)
        rows = TakeRows(*this, rows.First, rows.Last);
    auto result = std::make_shared<kkm::TFileJobResult>();
    StartGoodsJob(
        QStringLiteral("TMainForm.si_ExportClick"),
        [path, rows = std::move(rows), result](kkm::TJobContext& job) {
            TPacedJob paced(job);
            *result = kkm::GoodsCsvExportJob(paced, path, rows);
        },
        [result] {
            if (result->Failed)
                throw EKkmError(result->Error);
        });
}

void TGoodsPage::Import()
{
    QFileDialog* dialog = Host->OpenDialog();
    PrepareCsvDialog(dialog);
    if (!Host->InFront(this))
        return;
    if (Host->Busy())
        return;
    const QString path = ChosenFile(dialog);
    if (path.isEmpty())
        return;

    auto result = std::make_shared<kkm::TFileJobResult>();
    StartGoodsJob(
        QStringLiteral("TMainForm.si_ImportClick"),
        [this, path, result](kkm::TJobContext& job) {
            TPacedJob paced(job);
            *result = kkm::GoodsCsvImportJob(
                paced, path,
                [this, &paced](const TImportLine& line) {
                    if (line.Cells.empty())
                        return;
                    paced.Post([this, item = line.Item, cells = line.Cells] {
                        for (const auto& [col, value] : cells) {
                            SetCell(col, item, value);
                            // The item's flag follows its "Дробное" cell, whatever it holds.
                            if (col == colFractional)
                                GoodsItemFlags[static_cast<std::size_t>(item - 1)] = value == Yes ? 1 : 0;
                        }
                    });
                },
                [this, &paced](const QString& message) {
                    // The import waits for the box: its red line comes once
                    // the box is closed.
                    PostAndWait(paced, [this, message] {
                        QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), message,
                                        QMessageBox::Ok, Host->Window());
                        box.setObjectName(QStringLiteral("ImportFieldBox"));
                        box.exec();
                    });
                });
        },
        [result] {
            if (result->Failed)
                throw EKkmError(result->Error);
        });
}
