// A horizontal slider with a filled selection bar along its groove, from
// SelStart up to SelEnd, drawn under the thumb. The owner moves the bar;
// the slider itself never does.
#pragma once

#include <QSlider>

class TTrackBar : public QSlider {
    Q_OBJECT

public:
    explicit TTrackBar(QWidget* Parent = nullptr);

    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void setSelStart(int Value);
    void setSelEnd(int Value);

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    int selStart_ = 0;
    int selEnd_ = 0;
};
