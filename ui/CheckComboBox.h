// A drop-down list whose items each carry a check mark. Clicking an item in
// the open list flips its mark and keeps the list open; the closed box shows
// the checked items. Its context menu checks or clears every item. The marks
// read and write as a bit mask: bit i is item i.
#pragma once

#include <QComboBox>

#include <cstdint>

class QAction;
class QStandardItemModel;

class TCheckComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit TCheckComboBox(QWidget* Parent = nullptr);

    void SetItems(const QStringList& Items);

    bool Checked(int Index) const;
    // Sets one mark; no signal when nothing changes.
    void SetChecked(int Index, bool On);
    // Clears every mark, then checks the item of each set bit; bits without
    // an item are ignored.
    void SetMask(std::uint32_t Mask);
    // Sum of 2^i over the checked items.
    std::uint32_t Mask() const;
    void CheckAll();
    void UncheckAll();

    // The texts of the checked items, joined by ", ".
    QString CheckedText() const;

    // The two context commands; they act on the box whoever triggers them.
    QAction* act_CheckAll = nullptr;
    QAction* act_UncheckAll = nullptr;

signals:
    // A mark was changed, by the user or by code.
    void CheckedChanged();

protected:
    void paintEvent(QPaintEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QStandardItemModel* model_ = nullptr;
    int silent_ = 0; // inside SetMask: one signal at the end
};
