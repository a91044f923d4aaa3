// Cells of a QTableWidget addressed as in a string grid: row 0 is the fixed
// header row (Qt's horizontal header), row n is Qt's row n - 1.
#pragma once

#include <QString>

class QTableWidget;

QString GridCell(const QTableWidget* Grid, int Col, int Row);
void SetGridCell(QTableWidget* Grid, int Col, int Row, const QString& Text);
