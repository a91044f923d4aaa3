// Running one task on every named port at once: each port has a session of
// its own (its own worker thread, component and serial port), so that
// registers go at their own pace and one that fails stops nothing else.
// What the jobs report comes back to the main thread in order and is
// printed there.
#pragma once

#include "CliOptions.h"
#include "CliProgress.h"
#include "Session.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace kkm::cli {

// How one port's task ended.
struct TPortOutcome {
    int Exit = ExitOk;
    QString Text;          // the summary after the status: what was done, or the error
    std::int64_t Serial = -1; // the register's serial number, once read
    QStringList Output;    // lines for standard output, printed in port order
    QByteArray Bytes;      // a file's bytes for standard output (one port's read to "-o -")
    QJsonObject Json;      // the port's part of --json output
    // How far the transfer came: the last item reported of First..Last
    // (Item 0: none yet).
    int Item = 0, First = 0, Last = 0;
};

// The context a task's jobs run in: the session's, with the failures kept
// so that the task knows how it ended. Lives on the port's worker.
class TCliJob final : public TJobContext {
public:
    // Progress goes on only when ShowProgress, and then at most every
    // 50 ms: each report wakes the main thread, which only repaints a line.
    TCliJob(TJobContext& Inner, QString Port, bool ShowProgress)
        : inner_(Inner), port_(std::move(Port)), showProgress_(ShowProgress)
    {
    }

    TOmvekCP& Protokol() override { return inner_.Protokol(); }
    void Line(const QString& Text, TLineKind Kind) override;
    void Progress(int Item, int First, int Last) override;
    // Off for steps too quick to watch (writing a file), whose progress
    // would only take the place of the transfer's on the line.
    void ShowProgress(bool Show) { showProgress_ = Show; }
    void Post(std::function<void()> Fn) override { inner_.Post(std::move(Fn)); }
    bool Cancelled() const override { return inner_.Cancelled(); }
    void Failure(std::int32_t Result) override { result_ = Result; }

    const QString& Port() const { return port_; }
    // The last item reported, whether shown or not.
    int Item() const { return item_; }
    int First() const { return first_; }
    int Last() const { return last_; }
    // The first failure, and the exit status it gives; ExitOk while none.
    bool Failed() const { return exit_ != ExitOk; }
    int Exit() const { return exit_; }
    const QString& Error() const { return error_; }
    // Records a failure the jobs do not write themselves and writes it.
    void Fail(int Exit, const QString& Text);

private:
    TJobContext& inner_;
    QString port_;
    int exit_ = ExitOk;
    QString error_;
    std::int32_t result_ = 0; // the result told before the next error line
    int item_ = 0, first_ = 0, last_ = 0;
    bool showProgress_ = true;
    std::chrono::steady_clock::time_point lastProgress_{};
};

// The exit status of a protocol result: the register's refusals 3, the
// line's and the port's failures 4.
int ExitOfResult(std::int32_t Result);

// Opens Port at Baud and greets the register the way the connect dialog
// does; false with the failure recorded.
bool Connect(TCliJob& Job, const QString& Port, std::uint32_t Baud);
// The register's serial number (the information job, as after connecting
// in the window); false with the failure recorded.
bool ReadIdentity(TCliJob& Job, TPortOutcome& Outcome);
// Authorises as User (a number 1..7, or matched against the user list) with
// Password; false with the failure recorded.
bool Authorise(TCliJob& Job, const QString& User, std::int64_t Password);

using TPortTask = std::function<void(TCliJob& Job, TPortOutcome& Outcome)>;

struct TFleetOptions {
    std::uint32_t Baud = 115200;
    std::optional<int> TimeOutMs;
    bool Verbose = false;
};

// Runs Task on every port at once and returns the outcomes in port order,
// once every task has ended. Error lines go to stderr as they come (with
// the port in front when there are several), progress lines with Verbose.
// Ctrl-C or SIGTERM meanwhile ends every task at its next step and closes
// every port; each outcome then has the signal's exit status and says
// where its transfer stopped, also on stderr.
std::vector<TPortOutcome> RunFleet(const QStringList& Ports, const TFleetOptions& Options, const TPortTask& Task);

// Where an interrupted transfer stopped, for the line on stderr.
QString StoppedText(const TPortOutcome& Outcome);

// The port as the user named it, made a path: a bare name is looked for in
// /dev, then among the emulators' ports. Empty when there is no such port.
QString ResolvePort(const QString& Name);

// The outcomes as JSON text for --json: one object, or with several ports an
// array of them, each with its port, exit status and, when the status is
// above ErrorAbove, the error.
QString OutcomesJson(const QStringList& Ports, const std::vector<TPortOutcome>& Outcomes, int ErrorAbove);

// Prints the summary lines (several ports only) and returns the worst exit.
int Summarise(const QStringList& Ports, const std::vector<TPortOutcome>& Outcomes);

// Writes a line to stderr, clearing the progress line first.
void PrintError(const QString& Text);

} // namespace kkm::cli
