#include "CheckComboBox.h"

#include <QAbstractItemView>
#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QStylePainter>

TCheckComboBox::TCheckComboBox(QWidget* parent) : QComboBox(parent)
{
    model_ = new QStandardItemModel(this);
    setModel(model_);
    // The plain delegate draws the check boxes in every style.
    setItemDelegate(new QStyledItemDelegate(this));
    view()->viewport()->installEventFilter(this);
    view()->installEventFilter(this);

    act_CheckAll = new QAction(QStringLiteral("&Отметить все"), this);
    act_UncheckAll = new QAction(QStringLiteral("&Снять выделение со всех"), this);
    connect(act_CheckAll, &QAction::triggered, this, &TCheckComboBox::CheckAll);
    connect(act_UncheckAll, &QAction::triggered, this, &TCheckComboBox::UncheckAll);

    connect(model_, &QStandardItemModel::itemChanged, this, [this] {
        if (silent_ == 0)
            emit CheckedChanged();
        update();
    });
}

void TCheckComboBox::SetItems(const QStringList& items)
{
    ++silent_;
    model_->clear();
    for (const QString& text : items) {
        auto* item = new QStandardItem(text);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setData(Qt::Unchecked, Qt::CheckStateRole);
        model_->appendRow(item);
    }
    --silent_;
    update();
}

bool TCheckComboBox::Checked(int index) const
{
    const QStandardItem* item = model_->item(index);
    return item && item->checkState() == Qt::Checked;
}

void TCheckComboBox::SetChecked(int index, bool on)
{
    QStandardItem* item = model_->item(index);
    if (item && (item->checkState() == Qt::Checked) != on)
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

void TCheckComboBox::SetMask(std::uint32_t mask)
{
    const std::uint32_t before = Mask();
    ++silent_;
    for (int i = 0; i < model_->rowCount(); ++i)
        SetChecked(i, i < 32 && (mask >> i) & 1u);
    --silent_;
    if (Mask() != before)
        emit CheckedChanged();
}

std::uint32_t TCheckComboBox::Mask() const
{
    std::uint32_t mask = 0;
    for (int i = 0; i < model_->rowCount() && i < 32; ++i)
        if (Checked(i))
            mask |= 1u << i;
    return mask;
}

void TCheckComboBox::CheckAll()
{
    SetMask(0xFFFFFFFFu);
}

void TCheckComboBox::UncheckAll()
{
    SetMask(0);
}

QString TCheckComboBox::CheckedText() const
{
    QStringList texts;
    for (int i = 0; i < model_->rowCount(); ++i)
        if (Checked(i))
            texts << model_->item(i)->text();
    return texts.join(QStringLiteral(", "));
}

void TCheckComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = CheckedText();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void TCheckComboBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(act_CheckAll);
    menu.addAction(act_UncheckAll);
    menu.exec(event->globalPos());
}

void TCheckComboBox::wheelEvent(QWheelEvent* event)
{
    // There is no current item to step through.
    event->ignore();
}

bool TCheckComboBox::eventFilter(QObject* watched, QEvent* event)
{
    // An item clicked or toggled by key in the open list flips its mark and
    // the list stays open.
    if (watched == view()->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QModelIndex index = view()->indexAt(mouse->position().toPoint());
        if (index.isValid())
            SetChecked(index.row(), !Checked(index.row()));
        return true;
    }
    if (watched == view() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QModelIndex index = view()->currentIndex();
            if (index.isValid())
                SetChecked(index.row(), !Checked(index.row()));
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}
