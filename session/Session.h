// The register's work, run as jobs on one worker thread. The worker owns
// the protocol component, and with it the serial port; a job is plain code
// over the component's blocking commands. What a job reports (journal
// lines, progress, results) reaches the session's own thread through a
// hand-over queue, in the order reported and in batches, so a window only
// shows it. The same
// jobs run without a session on any thread through another TJobContext.
#pragma once

#include "OmvekCP.h"
#include "Wakeup.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QEventLoop;

namespace kkm {

// What a journal line is about: it decides the colour a window gives it.
enum class TLineKind { Progress, Error, Mode };

// Every command goes to the register (2) from the PC (1).
constexpr std::uint8_t RegisterAddress = 2;
constexpr std::uint8_t PcAddress = 1;

// What a job sees while it runs.
class TJobContext {
public:
    virtual ~TJobContext() = default;
    virtual TOmvekCP& Protokol() = 0;
    virtual void Line(const QString& Text, TLineKind Kind) = 0;
    virtual void Progress(int Item, int First, int Last) = 0;
    // Runs Fn where the reports go, after everything reported before it.
    virtual void Post(std::function<void()> Fn) = 0;
    // The job was asked to end (the window closes, the line is given up):
    // checked between items; the component's commands fail meanwhile.
    virtual bool Cancelled() const = 0;

    // A protocol result written as a red line; true when it is 0.
    bool Check(std::int32_t Result)
    {
        if (Result == 0)
            return true;
        Line(TOmvekCP::ErrorText(Result), TLineKind::Error);
        return false;
    }
};

class TSession : public QObject {
    Q_OBJECT

public:
    using Job = std::function<void(TJobContext&)>;

    explicit TSession(QObject* Parent = nullptr);
    // Ends the running job, closes the port and joins the worker; nothing
    // reported after that is delivered.
    ~TSession() override;

    // Lives on the worker. Other threads may read PID, TimeOut, State and
    // Port.Opened and set TimeOut; everything else belongs to jobs.
    TOmvekCP* Protokol() const { return protokol_; }

    // A job was started and its Done has not run yet.
    bool Busy() const { return busy_; }

    // Runs Body on the worker and then Done here, after all Body reported.
    // Refused (false, nothing runs) while another job is busy.
    bool Start(Job Body, std::function<void()> Done = {});

    // Ends the running job at its next step (its waiting command returns -1
    // at once, and so does every later one), then closes the port. Returns
    // once the port is closed; the job's last reports arrive afterwards.
    void ClosePort();

signals:
    void Line(const QString& Text, kkm::TLineKind Kind);
    void Progress(int Item, int First, int Last);
    // The line went away under the open port, which is closed by now.
    void LineLost();
    // An unsolicited message of the register, as received (markers
    // included); its decoded events stay on the component, on the worker.
    void Message(const QByteArray& Frame);
    // Busy() changed.
    void BusyChanged(bool Busy);

private:
    class Context;
    // Functions handed between the threads: a mutex-guarded list and a
    // wake-up of the receiving thread's event loop. No Qt event crosses the
    // threads, so the hand-over is seen by ThreadSanitizer, which cannot see
    // inside Qt's own event queue.
    struct THandOver {
        // In the receiving thread, before anything is pushed. After a
        // batch has run, the next waits at least Pause: a transfer reports
        // every item, and a window woken for each would take the CPU its
        // worker and the line need.
        void Listen(std::chrono::milliseconds Pause = std::chrono::milliseconds(0));
        void Stop();
        void Push(std::function<void()> Fn);
        void RunDue();

        TWakeup Wakeup;
        std::mutex Mutex;
        std::deque<std::function<void()>> Due;
        std::chrono::milliseconds Pause{0};
    };
    void Post(std::function<void()> Fn);
    void RunOnWorker(std::function<void()> Fn, bool Wait);

    THandOver toWindow_;
    THandOver toWorker_;
    std::thread thread_;
    QEventLoop* loop_ = nullptr; // the worker's, while it runs
    TOmvekCP* protokol_ = nullptr;
    bool busy_ = false;
};

} // namespace kkm

Q_DECLARE_METATYPE(kkm::TLineKind)
