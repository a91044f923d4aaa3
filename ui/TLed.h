// A small indicator lamp of the status bar: green when on, red when off. Its
// hint is the tool tip; a double-click is passed on as a signal.
#pragma once

#include <QWidget>

class TLed : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE setActive)
    Q_PROPERTY(QString Hint READ Hint WRITE setHint)

public:
    explicit TLed(QWidget* Parent = nullptr);

    bool Active() const { return active_; }
    void setActive(bool Value);
    QString Hint() const { return toolTip(); }
    void setHint(const QString& Value) { setToolTip(Value); }

    QSize sizeHint() const override { return {20, 18}; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
    bool active_ = false;
};
