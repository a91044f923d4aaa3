#include "StringGrid.h"

#include <QTableWidget>

QString GridCell(const QTableWidget* grid, int col, int row)
{
    if (row == 0) {
        const QTableWidgetItem* h = grid->horizontalHeaderItem(col);
        return h ? h->text() : QString();
    }
    const QTableWidgetItem* item = grid->item(row - 1, col);
    return item ? item->text() : QString();
}

void SetGridCell(QTableWidget* grid, int col, int row, const QString& text)
{
    if (row == 0) {
        QTableWidgetItem* h = grid->horizontalHeaderItem(col);
        if (!h)
            grid->setHorizontalHeaderItem(col, h = new QTableWidgetItem);
        h->setText(text);
        return;
    }
    QTableWidgetItem* item = grid->item(row - 1, col);
    if (!item)
        grid->setItem(row - 1, col, item = new QTableWidgetItem);
    item->setText(text);
}
