// The progress line of long transfers on stderr: items done of the range,
// the rate and the time left, rewritten in place. Shown only when stderr is
// a terminal; a pipe or a file gets nothing of it.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <vector>

namespace kkm::cli {

class TProgressLine {
public:
    // Ports: how many transfers run side by side.
    explicit TProgressLine(int Ports);
    ~TProgressLine();

    // The one line of this process, or nullptr while none is shown.
    static TProgressLine* Current();

    // Shown at all: stderr is a terminal.
    bool Enabled() const { return enabled_; }

    // Port reached Item of First..Last.
    void Update(int Port, int Item, int First, int Last);
    // Takes the line off the terminal (before other output); the next
    // update writes it again.
    void Clear();

private:
    struct TPortState {
        int Item = 0, First = 0, Last = -1;
        qint64 StartMs = -1; // when this range's first item was reported
        int StartItem = 0;
    };
    void Draw();

    bool enabled_ = false;
    bool shown_ = false;
    std::vector<TPortState> ports_;
    QElapsedTimer clock_;
    qint64 drawnMs_ = -1000;
};

// "1:05" for 65 seconds, "1:02:03" past an hour.
QString DurationText(double Seconds);

} // namespace kkm::cli
