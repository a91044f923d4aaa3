#pragma once

#include "uMainForm.h"

#include <QTimer>

// Progress of a long transfer (goods, CSV lines, logo rows) in the status
// bar. The panel follows the transfer on a 50 ms timer, up to 20 times a
// second, rather than item by item: a repaint of the status bar per item
// would cost more than the exchanges of an unpaced line. The first item
// shows at once; the panel is cleared however the transfer ends.
class TProgressScope {
public:
    TProgressScope(TMainForm* Main, int First, int Last) : main_(Main), first_(First), last_(Last)
    {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Show(); });
    }
    ~TProgressScope() { main_->ClearProgress(); }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

    void Item(int Item)
    {
        item_ = Item;
        if (!timer_.isActive()) {
            Show();
            timer_.start();
        }
    }

private:
    void Show()
    {
        if (item_ != shown_)
            main_->ShowProgress(item_, first_, last_);
        shown_ = item_;
    }

    TMainForm* main_;
    int first_;
    int last_;
    int item_ = 0;
    int shown_ = 0;
    QTimer timer_;
};

