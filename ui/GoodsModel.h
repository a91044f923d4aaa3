// The goods grid's cells: GoodsItemCount item rows of 7 text columns, kept in plain
// strings so that the grid of ten thousand rows is created at once. Grid
// numbering: row 0 is the header row (the view's header), row n is item n.
#pragma once

#include "SettingsMap.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <array>
#include <vector>

class TGoodsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int ItemCount = GoodsItemCount;
    static constexpr int ColCount = 7;

    explicit TGoodsModel(QObject* Parent = nullptr);

    // Grid numbering; row 0 reads and writes the header texts.
    QString Cell(int Col, int Row) const;
    void SetCell(int Col, int Row, const QString& Text);

    // Between these, SetCell changes cells without telling the view; the
    // end tells it once about everything.
    void BeginUpdate();
    void EndUpdate();

    int rowCount(const QModelIndex& Parent = {}) const override;
    int columnCount(const QModelIndex& Parent = {}) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    bool setData(const QModelIndex& Index, const QVariant& Value, int Role) override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;

private:
    std::vector<std::array<QString, ColCount>> cells_;
    QStringList headers_;
    int updating_ = 0;
};
