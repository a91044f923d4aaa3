#include "GridEdit.h"

#include <QEvent>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QTableView>

TLiveEditDelegate::TLiveEditDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QWidget* TLiveEditDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                         const QModelIndex& index) const
{
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->installEventFilter(const_cast<TLiveEditDelegate*>(this));
    const QPersistentModelIndex cell(index);
    connect(editor, &QLineEdit::textEdited, this, [this, cell](const QString& text) {
        if (!cell.isValid())
            return;
        auto* model = const_cast<QAbstractItemModel*>(cell.model());
        model->setData(cell, text, Qt::EditRole);
        if (OnEditText)
            OnEditText(cell.column(), cell.row() + 1, text);
        // A cell changed by the handler is already in the editor: the view
        // passes every change of a cell to its open editor.
    });
    return editor;
}

void TLiveEditDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line)
        return;
    const QString text = index.data(Qt::EditRole).toString();
    // Leave the cursor alone while the texts agree.
    if (line->text() != text)
        line->setText(text);
}

void TLiveEditDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const
{
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        if (index.data(Qt::EditRole).toString() != line->text())
            model->setData(index, line->text(), Qt::EditRole);
}

bool TLiveEditDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease && OnKeyUp)
        OnKeyUp();
    return QStyledItemDelegate::eventFilter(watched, event);
}

void PlaceOverCell(const QTableView* grid, int col, int viewRow, QWidget* overlay,
                   const QMargins& inset)
{
    QWidget* viewport = grid->viewport();
    QWidget* panel = overlay->parentWidget();
    if (!panel)
        return;
    const QModelIndex index = grid->model()->index(viewRow, col);
    const QRect cell = grid->visualRect(index).marginsRemoved(inset);
    const QRect visible = cell.intersected(viewport->rect());
    if (!index.isValid() || visible.isEmpty() || !grid->isVisible()) {
        overlay->hide();
        return;
    }
    const QPoint offset = viewport->mapTo(panel, QPoint(0, 0));
    overlay->setGeometry(cell.translated(offset));
    if (visible == cell)
        overlay->clearMask();
    else
        overlay->setMask(QRegion(visible.translated(-cell.topLeft())));
    overlay->show();
}
