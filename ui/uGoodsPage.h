// Page 2: the register's goods table in the grid Goods, one row per item,
// with the editing rules of its columns, each item's flag and the stop
// request of its transfers. The goods range bar (the range edits and
// cb_QuantNull) is the page's; the frame shows it in the speed bar while
// the page is in front.
#pragma once

#include "uPage.h"

#include "SettingsMap.h"

#include <QTableView>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class TGoodsModel;

namespace kkm {
class TJobContext;
}

// The goods grid: asks OnSelectCell before a cell is selected by a click or
// a key, as a string grid does, and stays where it is when refused.
class TGoodsGrid : public QTableView {
    Q_OBJECT

public:
    using QTableView::QTableView;

    // Grid numbering: row n is item n. False refuses the selection.
    std::function<bool(int Col, int Row)> OnSelectCell;

    // No cell opens for typing while locked; an editor open at the lock is
    // closed (its text is in the cell already) and opens again after it.
    void SetLocked(bool Locked);

protected:
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    QModelIndex moveCursor(CursorAction Action, Qt::KeyboardModifiers Modifiers) override;

private:
    bool Refused(const QModelIndex& Index);

    bool locked_ = false;
    EditTriggers triggers_;
    QPersistentModelIndex reopen_;
};

class TGoodsPage : public TPage {
    Q_OBJECT

public:
    static constexpr int ItemCount = GoodsItemCount;
    // Columns of Goods.
    enum { colItem = 0, colName, colBarcode, colSection, colPrice, colFractional, colSales };

    TGoodsPage(TPageHost* Host, QWidget* Parent);

    // The items of the goods range read from the register into the grid, or
    // written to it from the grid, as a job on the session: the window stays
    // live and the stop button ends the transfer before the next item.
    void ReadTable() override;
    void WriteTable() override;
    // "Прервать": the running goods transfer ends before its next item.
    void Stop() override;
    TTableCommands Commands(bool Connected, bool Writable) const override;
    // The range bar is seen only with the page in front; the zeroing switch
    // keeps still while a job runs.
    void Update(bool InFront, bool Busy) override;
    // The goods range from ed_GoodsStart and ed_GoodsEND as items that exist;
    // empty (First > Last) when the end is below the start. A text that is
    // not an integer raises an error.
    void GoodsRange(int& First, int& Last) const;

    TGoodsGrid* Goods = nullptr;
    TGoodsModel* GoodsModel = nullptr;

    // The range bar: "Интервал" FIRST "--" LAST and the zeroing of sales.
    QWidget* pnl_GoodsRange = nullptr;
    QCheckBox* cb_QuantNull = nullptr;
    QLabel* lb_Interval = nullptr;
    QLineEdit* ed_GoodsStart = nullptr;
    QLabel* lb_IntervalDot = nullptr;
    QLineEdit* ed_GoodsEND = nullptr;

    // One flag per item (item n at index n - 1): its "Дробное" as last set.
    std::array<std::uint8_t, ItemCount> GoodsItemFlags{};
    // Set by "Прервать"; taken back by the running goods transfer before
    // its next item, on the session's worker. Cleared when one starts.
    std::atomic<bool> StopRequested{false};

    // Cells in grid numbering: row 0 is the header row, row n is item n.
    QString Cell(int Col, int Row) const;
    void SetCell(int Col, int Row, const QString& Text);
    // The "Дробное" cell of an item and its flag in GoodsItemFlags together.
    void SetFractional(int Item, bool On);

    // Start-up: headers, widths, the item numbers, every item's flag cleared.
    void SetUpGrid();

    // What typing leaves in a cell of column Col; the text unchanged for an
    // empty text and for the columns without a rule.
    static QString GoodsEditText(int Col, const QString& Text);
    // What the range correction leaves in a goods range edit.
    static QString GoodsRangeText(const QString& Text);

public slots:
    // True for the columns that may be selected; toggles "Дробное".
    bool GoodsSelectCell(int Col, int Row);
    // The editor's text of a cell changed.
    void GoodsSetEditText(int Col, int Row, const QString& Text);
    // The text of ed_GoodsStart or ed_GoodsEND changed.
    void ed_GoodsStartChange(QLineEdit* Edit);

    // CSV exchange of the grid: export writes the rows of the goods range,
    // import puts each line of a file into the row its item number names.
    // The file dialog comes first; the file is then written or read by a job.
public:
    void Export() override;
    void Import() override;

private:
    void BuildRangeBar();
    // Starts Body with the grid locked until Done, which then runs under the
    // error guard with Location. False when the session refused it.
    bool StartGoodsJob(const QString& Location,
                       std::function<void(kkm::TJobContext&)> Body, std::function<void()> Done);
    // While a job of this page runs the grid takes no edits: a write or an
    // export has taken its rows, a read or an import fills them.
    void SetLocked(bool Locked);
    // GoodsRange for a table transfer: a range that is not a number ends the
    // transfer right after its StartLine, before anything is sent.
    void TransferRange(const QString& StartLine, int& First, int& Last) const;

    bool locked_ = false;
};
