// A job context that runs a job on the test's own thread: what the job
// reports is kept in order, and Post runs at once.
#pragma once

#include "Session.h"

#include <QString>
#include <QStringList>

class TJobRecorder : public kkm::TJobContext {
public:
    explicit TJobRecorder(TOmvekCP& Protokol) : protokol_(Protokol) {}

    TOmvekCP& Protokol() override { return protokol_; }
    void Line(const QString& Text, kkm::TLineKind Kind) override
    {
        Lines << (Kind == kkm::TLineKind::Error ? QStringLiteral("! ") : QString()) + Text;
    }
    void Progress(int Item, int, int) override { LastItem = Item; }
    void Post(std::function<void()> Fn) override { Fn(); }
    bool Cancelled() const override { return protokol_.Interrupted(); }

    // Journal lines in the order written; errors carry a leading "! ".
    QStringList Lines;
    int LastItem = 0;

private:
    TOmvekCP& protokol_;
};
