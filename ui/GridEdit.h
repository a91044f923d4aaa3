// Editing aids shared by the string grids of the pages.
#pragma once

#include <QMargins>
#include <QStyledItemDelegate>

#include <functional>

class QAbstractItemView;
class QTableView;

// In-place cell editor that behaves like a string grid's: the cell takes
// the editor's text on every change, a handler sees each change, and a
// change of the cell made by code shows in the open editor at once.
class TLiveEditDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit TLiveEditDelegate(QObject* Parent = nullptr);

    // Grid numbering: row 1 is the view's row 0 (row 0 is the header row).
    std::function<void(int Col, int Row, const QString& Text)> OnEditText;
    // A key released in an open editor.
    std::function<void()> OnKeyUp;

    QWidget* createEditor(QWidget* Parent, const QStyleOptionViewItem& Option,
                          const QModelIndex& Index) const override;
    void setEditorData(QWidget* Editor, const QModelIndex& Index) const override;
    void setModelData(QWidget* Editor, QAbstractItemModel* Model,
                      const QModelIndex& Index) const override;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
};

// Lays Overlay over the cell (Col, Row) of Grid in view numbering, in the
// coordinates of Overlay's parent, the rectangle moved in by Inset. Shows it
// while any part of the cell is in view, clipped to the visible part, and
// hides it otherwise.
void PlaceOverCell(const QTableView* Grid, int Col, int ViewRow, QWidget* Overlay,
                   const QMargins& Inset = {});
