#include "CliProgress.h"

#include "CliTerminal.h"

#include <algorithm>
#include <cstdio>

namespace kkm::cli {

namespace {

TProgressLine* current = nullptr;

// Repainted at most this often, and at each range's end.
constexpr qint64 kRepaintMs = 100;

} // namespace

TProgressLine::TProgressLine(int ports)
    : enabled_(StderrIsTerminal()), ports_(static_cast<std::size_t>(std::max(ports, 1)))
{
    clock_.start();
    current = this;
}

TProgressLine::~TProgressLine()
{
    Clear();
    if (current == this)
        current = nullptr;
}

TProgressLine* TProgressLine::Current()
{
    return current;
}

void TProgressLine::Update(int port, int item, int first, int last)
{
    if (!enabled_ || port < 0 || port >= static_cast<int>(ports_.size()))
        return;
    TPortState& s = ports_[static_cast<std::size_t>(port)];
    const qint64 now = clock_.elapsed();
    // A new range (or a new transfer over the same one) starts the rate anew.
    if (first != s.First || last != s.Last || item < s.Item) {
        s.First = first;
        s.Last = last;
        s.StartMs = now;
        s.StartItem = item;
    }
    s.Item = item;
    if (now - drawnMs_ < kRepaintMs && item != last)
        return;
    drawnMs_ = now;
    Draw();
}

void TProgressLine::Draw()
{
    const double nowS = static_cast<double>(clock_.elapsed()) / 1000.0;
    long long done = 0, total = 0;
    double rate = 0, left = 0;
    int active = 0;
    for (const TPortState& s : ports_) {
        if (s.Last < s.First)
            continue;
        ++active;
        done += s.Item - s.First + 1;
        total += s.Last - s.First + 1;
        const double seconds = nowS - static_cast<double>(s.StartMs) / 1000.0;
        // A finished range adds nothing to the rate of those still going.
        if (seconds > 0.2 && s.Item > s.StartItem && s.Item < s.Last) {
            const double r = (s.Item - s.StartItem) / seconds;
            rate += r;
            left = std::max(left, (s.Last - s.Item) / r);
        }
    }
    if (active == 0)
        return;
    QString text;
    if (ports_.size() == 1) {
        const TPortState& s = ports_.front();
        text = QStringLiteral("%1 / %2..%3").arg(s.Item).arg(s.First).arg(s.Last);
    } else {
        text = QStringLiteral("%1 / %2 (портов: %3)").arg(done).arg(total).arg(active);
    }
    if (rate > 0)
        text += QStringLiteral("   %1/с   осталось %2").arg(rate, 0, 'f', 1).arg(DurationText(left));
    const QByteArray bytes = ("\r\033[K" + text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
    shown_ = true;
}

void TProgressLine::Clear()
{
    if (!shown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

QString DurationText(double seconds)
{
    const long long s = static_cast<long long>(seconds + 0.5);
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace kkm::cli
