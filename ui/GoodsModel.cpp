#include "GoodsModel.h"

#include <QBrush>
#include <QPalette>
#include <QApplication>

TGoodsModel::TGoodsModel(QObject* parent)
    : QAbstractTableModel(parent), cells_(ItemCount), headers_(ColCount)
{
}

QString TGoodsModel::Cell(int col, int row) const
{
    if (col < 0 || col >= ColCount || row < 0 || row > ItemCount)
        return QString();
    return row == 0 ? headers_.at(col) : cells_[row - 1][col];
}

void TGoodsModel::SetCell(int col, int row, const QString& text)
{
    if (col < 0 || col >= ColCount || row < 0 || row > ItemCount)
        return;
    if (row == 0) {
        headers_[col] = text;
        if (!updating_)
            emit headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    cells_[row - 1][col] = text;
    if (!updating_) {
        const QModelIndex i = index(row - 1, col);
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
    }
}

void TGoodsModel::BeginUpdate()
{
    ++updating_;
}

void TGoodsModel::EndUpdate()
{
    if (updating_ > 0 && --updating_ == 0) {
        emit headerDataChanged(Qt::Horizontal, 0, ColCount - 1);
        emit dataChanged(index(0, 0), index(ItemCount - 1, ColCount - 1));
    }
}

int TGoodsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ItemCount;
}

int TGoodsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColCount;
}

QVariant TGoodsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cells_[index.row()][index.column()];
    case Qt::BackgroundRole:
        // Column 0 is the grid's fixed column and looks like a header.
        if (index.column() == 0)
            return QApplication::palette().brush(QPalette::Button);
        return {};
    default:
        return {};
    }
}

bool TGoodsModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    SetCell(index.column(), index.row() + 1, value.toString());
    return true;
}

QVariant TGoodsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < ColCount ? headers_.at(section) : QVariant();
    return section + 1;
}

Qt::ItemFlags TGoodsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Names, barcodes, sections and prices are typed in place; the item
    // number is not. "Дробное" is toggled by a click and "Продажи" only
    // shows what was read: neither is ever selected.
    if (index.column() >= 5)
        return Qt::ItemIsEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() >= 1)
        f |= Qt::ItemIsEditable;
    return f;
}
