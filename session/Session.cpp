#include "Session.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <future>

// Job starts, ends and refusals; off unless turned on, e.g.
// QT_LOGGING_RULES="kkm.session=true".
Q_LOGGING_CATEGORY(lcSession, "kkm.session", QtFatalMsg)

namespace kkm {

class TSession::Context final : public TJobContext {
public:
    explicit Context(TSession* Session) : s_(Session) {}
    TOmvekCP& Protokol() override { return *s_->protokol_; }
    void Line(const QString& text, TLineKind kind) override
    {
        s_->Post([s = s_, text, kind] { emit s->Line(text, kind); });
    }
    void Progress(int item, int first, int last) override
    {
        s_->Post([s = s_, item, first, last] { emit s->Progress(item, first, last); });
    }
    void Post(std::function<void()> fn) override { s_->Post(std::move(fn)); }
    bool Cancelled() const override { return s_->protokol_->Interrupted(); }

private:
    TSession* s_;
};

void TSession::THandOver::Listen(std::chrono::milliseconds pause)
{
    Pause = pause;
    Wakeup.Listen([this] { RunDue(); });
}

void TSession::THandOver::Stop()
{
    Wakeup.Stop();
}

void TSession::THandOver::Push(std::function<void()> fn)
{
    {
        std::lock_guard lock(Mutex);
        const bool wasEmpty = Due.empty();
        Due.push_back(std::move(fn));
        // A non-empty list is drained by the wake-up already on its way.
        if (!wasEmpty)
            return;
    }
    Wakeup.Raise();
}

void TSession::THandOver::RunDue()
{
    Wakeup.Lower();
    bool ran = false;
    for (;;) {
        std::function<void()> fn;
        bool more;
        {
            std::lock_guard lock(Mutex);
            if (Due.empty()) {
                if (ran && Pause.count() > 0 && Wakeup.Listener()) {
                    Wakeup.SetEnabled(false);
                    QTimer::singleShot(Pause, Wakeup.Listener(), [this] {
                        Wakeup.SetEnabled(true);
                        RunDue();
                    });
                }
                return;
            }
            fn = std::move(Due.front());
            Due.pop_front();
            more = !Due.empty();
        }
        ran = true;
        // A modal dialog opened by Fn runs its own loop: the rest goes on
        // there, in order, as posted events would.
        if (more)
            Wakeup.Raise();
        fn();
    }
}

TSession::TSession(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<kkm::TLineKind>();
    toWindow_.Listen(std::chrono::milliseconds(16));
    // A plain thread with an event loop of its own: its start and its end
    // are seen by every tool, unlike a QThread's.
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    thread_ = std::thread([this, &ready] {
        QEventLoop loop;
        loop_ = &loop;
        toWorker_.Listen();
        ready.set_value();
        loop.exec();
        toWorker_.Stop();
        loop_ = nullptr;
    });
    started.wait();
    // The component and its port live on the worker: its commands wait on
    // the port there, and between commands its event loop reads the port.
    RunOnWorker([this] {
        protokol_ = new TOmvekCP;
        protokol_->setObjectName(QStringLiteral("Protokol"));
        protokol_->OnMessage = [this](const TArrayOfByte& frame) {
            const QByteArray bytes(reinterpret_cast<const char*>(frame.data()),
                                   static_cast<qsizetype>(frame.size()));
            Post([this, bytes] { emit Message(bytes); });
        };
        protokol_->OnLineLost = [this] {
            protokol_->Port.Close();
            Post([this] { emit LineLost(); });
        };
    }, true);
}

TSession::~TSession()
{
    ClosePort();
    RunOnWorker([this] {
        delete protokol_;
        protokol_ = nullptr;
        loop_->quit();
    }, true);
    thread_.join();
    toWindow_.Stop();
}

void TSession::Post(std::function<void()> fn)
{
    toWindow_.Push(std::move(fn));
}

void TSession::RunOnWorker(std::function<void()> fn, bool wait)
{
    if (!wait) {
        toWorker_.Push(std::move(fn));
        return;
    }
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    toWorker_.Push([&fn, &done] {
        fn();
        done.set_value();
    });
    finished.wait();
}

bool TSession::Start(Job body, std::function<void()> done)
{
    if (busy_) {
        qCDebug(lcSession) << "job refused: another one runs";
        return false;
    }
    busy_ = true;
    emit BusyChanged(true);
    RunOnWorker([this, body = std::move(body), done = std::move(done)]() mutable {
        Context context(this);
        try {
            body(context);
        } catch (const std::exception& e) {
            qCWarning(lcSession) << "job ended on an exception:" << e.what();
        } catch (...) {
            qCWarning(lcSession) << "job ended on an exception";
        }
        Post([this, done = std::move(done)] {
            busy_ = false;
            if (done)
                done();
            emit BusyChanged(false);
        });
    }, false);
    return true;
}

void TSession::ClosePort()
{
    // The interruption reaches a job that is in the middle of a command;
    // the closing itself waits its turn behind the job.
    protokol_->Interrupt();
    RunOnWorker([this] {
        protokol_->Port.Close();
        protokol_->ClearInterrupt();
    }, true);
}

} // namespace kkm
