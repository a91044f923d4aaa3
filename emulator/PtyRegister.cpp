#include "PtyRegister.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace kkm::emu {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often to look whether a client has opened the slave.
constexpr milliseconds kNoClientPoll{25};
// The write that ends a chunk is waited for this long by spinning, not by a
// timer.
constexpr std::chrono::microseconds kSpin{100};
// The request log keeps this many of the newest requests.
constexpr std::size_t kMaxLog = 100000;

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool SetError(QString* error, const std::string& text)
{
    if (error)
        *error = QString::fromStdString(text);
    return false;
}

} // namespace

PtyRegister::PtyRegister() = default;

PtyRegister::PtyRegister(RegisterModel model) : model_(std::move(model)) {}

PtyRegister::~PtyRegister()
{
    Stop();
}

bool PtyRegister::Start(const Options& options, QString* error)
{
    std::lock_guard lock(mutex_);
    if (running_)
        return SetError(error, "already running");
    options_ = options;
    stop_ = false;
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0)
        return SetError(error, Errno("eventfd"));
    std::string why;
    if (!OpenPty(error) ||
        (options_.Publish &&
         !link_.Publish(options_.Directory.isEmpty() ? EmulatorPortDir() : options_.Directory, options_.BaseName,
                        slavePath_, &why) &&
         !SetError(error, why))) {
        ClosePty();
        ::close(wake_);
        wake_ = -1;
        return false;
    }
    line_.Clear();
    line_.SetBaud(options_.Baud);
    collector_.Reset();
    running_ = true;
    thread_ = std::thread(&PtyRegister::Run, this);
    return true;
}

void PtyRegister::Stop()
{
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return;
        stop_ = true;
        Wake();
    }
    thread_.join();
    std::lock_guard lock(mutex_);
    ClosePty();
    link_.Unpublish();
    ::close(wake_);
    wake_ = -1;
    line_.Clear();
    running_ = false;
    changed_.notify_all();
}

bool PtyRegister::Running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

QString PtyRegister::SlavePath() const
{
    std::lock_guard lock(mutex_);
    return slavePath_;
}

QString PtyRegister::PublishedPath() const
{
    std::lock_guard lock(mutex_);
    return link_.Path();
}

void PtyRegister::SetBaud(int baud)
{
    std::lock_guard lock(mutex_);
    options_.Baud = std::max(0, baud);
    line_.SetBaud(options_.Baud);
}

void PtyRegister::SetThinkTime(int ms)
{
    std::lock_guard lock(mutex_);
    options_.ThinkMs = std::max(0, ms);
}

void PtyRegister::SetRequestLogging(bool on)
{
    std::lock_guard lock(mutex_);
    options_.LogRequests = on;
}

std::vector<RequestRecord> PtyRegister::Requests() const
{
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

std::size_t PtyRegister::RequestCount() const
{
    std::lock_guard lock(mutex_);
    return logCount_;
}

void PtyRegister::ClearRequests()
{
    std::lock_guard lock(mutex_);
    log_.clear();
    logCount_ = 0;
}

bool PtyRegister::WaitForRequests(std::size_t n, milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return logCount_ >= n; });
}

std::uint64_t PtyRegister::ClientCloses() const
{
    std::lock_guard lock(mutex_);
    return clientCloses_;
}

bool PtyRegister::WaitForClientCloses(std::uint64_t n, milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return clientCloses_ >= n; });
}

bool PtyRegister::WaitLineIdle(milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return line_.Empty(); });
}

int PtyRegister::AddFault(const Fault& fault)
{
    std::lock_guard lock(mutex_);
    return faults_.Add(fault);
}

bool PtyRegister::RemoveFault(int id)
{
    std::lock_guard lock(mutex_);
    return faults_.Remove(id);
}

void PtyRegister::ClearFaults()
{
    std::lock_guard lock(mutex_);
    faults_.Clear();
}

std::vector<std::pair<int, Fault>> PtyRegister::Faults() const
{
    std::lock_guard lock(mutex_);
    return faults_.List();
}

void PtyRegister::SendMessage(const Message& message)
{
    std::uint8_t pid = 0;
    {
        std::lock_guard lock(mutex_);
        pid = messagePid_++;
    }
    SendMessage(message, pid);
}

void PtyRegister::SendMessage(const Message& message, std::uint8_t pid)
{
    SendBody(BuildMessageBody(message, pid));
}

void PtyRegister::SendBody(const TArrayOfByte& body)
{
    SendRaw(FrameBody(body));
}

void PtyRegister::SendRaw(const TArrayOfByte& wire)
{
    std::vector<std::string> notes;
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return;
        if (options_.LogRequests)
            notes.push_back("-> " + ToHex(wire) + "  (sent unasked)");
        line_.Schedule(wire, line_.Now(), LineScheduler::Placement::FirstGap);
        Wake();
    }
    Emit(notes);
}

bool PtyRegister::HangUp()
{
    std::unique_lock lock(mutex_);
    if (!running_)
        return false;
    const std::uint64_t target = hangUps_ + 1;
    hangUpRequested_ = true;
    Wake();
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return hangUps_ >= target || !running_; }))
        return false;
    return running_ && hangUpOk_;
}

// Called with the lock held, as Stop() may close the descriptor.
void PtyRegister::Wake()
{
    const std::uint64_t one = 1;
    if (wake_ >= 0)
        [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
}

bool PtyRegister::OpenPty(QString* error)
{
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0)
        return SetError(error, Errno("posix_openpt"));
    char name[128] = {};
    if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
        const std::string why = Errno("pty setup");
        ::close(m);
        return SetError(error, why);
    }
    // The slave keeps its settings while the master lives, so a client that
    // does not set the line up itself still gets a raw 8-bit line.
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        const std::string why = Errno("open pty slave");
        ::close(m);
        return SetError(error, why);
    }
    termios t{};
    ::tcgetattr(s, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(s, TCSANOW, &t);
    ::close(s);
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    master_ = m;
    slavePath_ = QString::fromLocal8Bit(name);
    return true;
}

void PtyRegister::ClosePty()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyRegister::DoHangUp(std::vector<std::string>& notes)
{
    ClosePty();
    line_.Clear();
    collector_.Reset();
    current_.clear();
    QString error;
    hangUpOk_ = OpenPty(&error) && link_.Repoint(slavePath_);
    if (hangUpOk_)
        notes.push_back("hung up; the port is now " + slavePath_.toStdString());
    else
        notes.push_back("hung up; no new port: " + error.toStdString());
    ++hangUps_;
    clientOn_ = false; // the cut was ours
    changed_.notify_all();
}

void PtyRegister::Emit(std::vector<std::string>& notes)
{
    std::function<void(const std::string&)> sink;
    if (!notes.empty()) {
        std::lock_guard lock(mutex_);
        sink = options_.LogSink;
    }
    for (const std::string& line : notes) {
        if (sink) {
            sink(line);
        } else {
            std::fputs((line + '\n').c_str(), stderr);
        }
    }
    notes.clear();
}

void PtyRegister::AppendLog(RequestRecord record)
{
    log_.push_back(std::move(record));
    if (log_.size() > kMaxLog)
        log_.pop_front();
    ++logCount_;
    changed_.notify_all();
}

bool PtyRegister::ReadMaster(std::vector<std::string>& notes)
{
    std::uint8_t buf[4096];
    const std::uint64_t line = hangUps_;
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n < 0 && errno == EIO)
            return false; // the client has gone
        if (n <= 0)
            return true; // all read
        for (ssize_t i = 0; i < n; ++i) {
            switch (collector_.Push(buf[i])) {
            case FrameCollector::Started:
            case FrameCollector::Restarted:
                frameStarted_ = line_.Now();
                quietAtFrameStart_ = line_.Empty() ? outputDone_ : std::nullopt;
                current_.assign(1, buf[i]);
                break;
            case FrameCollector::Collected: current_.push_back(buf[i]); break;
            case FrameCollector::Overflow: {
                faults_.Take(RequestCheck{}); // counts for nth faults, fires none
                RequestRecord r;
                r.When = line_.Now();
                r.Wire = std::move(current_);
                r.Problem = "frame longer than 255 bytes";
                if (options_.LogRequests)
                    notes.push_back("<- " + ToHex(r.Wire) + " ...  !! " + r.Problem);
                AppendLog(std::move(r));
                current_.clear();
                break;
            }
            case FrameCollector::Complete:
                current_.clear();
                OnFrame(collector_.FrameCopy(), notes);
                if (hangUps_ != line)
                    return true; // the rest came over the line that is gone
                break;
            case FrameCollector::Ignored: break;
            }
        }
    }
}

void PtyRegister::OnFrame(const TArrayOfByte& wire, std::vector<std::string>& notes)
{
    const Clock::time_point now = line_.Now();
    RequestRecord rec;
    rec.When = now;
    rec.Started = frameStarted_;
    rec.LineQuietSince = quietAtFrameStart_;
    rec.Wire = wire;
    const RequestCheck check = CheckRequestFrame(wire);
    rec.Body = check.Body;
    rec.Valid = check.Ok;
    rec.Problem = check.Problem;
    const FaultPlan plan = faults_.Take(check);

    const bool log = options_.LogRequests;
    if (log)
        notes.push_back("<- " + ToHex(wire) + "  " + (check.Body.size() >= 4 ? DescribeRequest(check.Body) : ""));
    if (!check.Ok || !plan.Answers()) {
        if (check.Ok)
            rec.Problem = "no answer (fault: " + plan.Names + ")";
        if (log)
            notes.push_back("   !! " + rec.Problem + (check.Ok ? "" : ": no answer"));
        AppendLog(std::move(rec));
        if (plan.HangUp)
            DoHangUp(notes);
        return;
    }

    const TArrayOfByte& req = check.Body;
    const TArrayOfByte body = plan.Refuse ? RefusalBody(req, plan.Error) : model_.Respond(req);
    if (plan.CarriesOut() && !options_.LogoPath.isEmpty() && model_.LogosCompleted() != logosSaved_) {
        logosSaved_ = model_.LogosCompleted();
        std::string why;
        notes.push_back(model_.SaveLogoPbm(options_.LogoPath.toStdString(), &why)
                            ? "logo saved to " + options_.LogoPath.toStdString()
                            : "logo not saved: " + why);
    }
    if (body.size() == 5 && body[3] == AnswerRefused)
        rec.Problem = "refused with error " + std::to_string(body[4]);
    const TArrayOfByte frame = plan.Shape(req, body);

    // On a paced line the request itself took its time to arrive.
    const Clock::time_point requestEnd = frameStarted_ + LineScheduler::LineTime(wire.size(), options_.Baud);
    Clock::time_point earliest =
        std::max(now, requestEnd) + milliseconds(options_.ThinkMs) + milliseconds(plan.DelayMs);
    const std::size_t pieceSize = (frame.size() + plan.Pieces - 1) / plan.Pieces;
    for (int copy = 0; copy < (plan.Twice ? 2 : 1); ++copy) {
        for (std::size_t at = 0; at < frame.size(); at += pieceSize) {
            const std::size_t n = std::min(pieceSize, frame.size() - at);
            const auto first = frame.begin() + static_cast<std::ptrdiff_t>(at);
            earliest = line_.Schedule(TArrayOfByte(first, first + static_cast<std::ptrdiff_t>(n)), earliest,
                                      at == 0 ? LineScheduler::Placement::Last : LineScheduler::Placement::Piece) +
                       milliseconds(plan.PauseMs);
        }
        rec.Answer.insert(rec.Answer.end(), frame.begin(), frame.end());
    }
    if (log) {
        notes.push_back("-> " + ToHex(rec.Answer) + (plan.Names.empty() ? "" : "  (fault: " + plan.Names + ")"));
        if (!rec.Problem.empty())
            notes.push_back("   !! " + rec.Problem);
    }
    AppendLog(std::move(rec));
}

void PtyRegister::Run()
{
    // The pacing sleeps until each byte is due; the kernel's default 50 us
    // of timer slack would make every answer late by that much.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<std::string> notes;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (hangUpRequested_) {
            hangUpRequested_ = false;
            DoHangUp(notes);
        }
        // With no client on the slave the master reports a hang-up at once;
        // then only look again now and then.
        pollfd probe{master_, POLLIN, 0};
        ::poll(&probe, 1, 0);
        bool noClient = (probe.revents & (POLLHUP | POLLERR)) != 0 && (probe.revents & POLLIN) == 0;
        if ((probe.revents & POLLIN) && !ReadMaster(notes))
            noClient = true;
        if (noClient) {
            line_.Clear(); // nobody would hear it
            collector_.Reset();
            if (clientOn_) {
                clientOn_ = false;
                ++clientCloses_;
                notes.push_back("the client closed the line");
                changed_.notify_all();
            }
        } else {
            clientOn_ = true;
        }
        const bool hadOutput = !line_.Empty();
        const LineScheduler::Next next = line_.Flush([this](const std::uint8_t* data, std::size_t size) {
            const ssize_t n = ::write(master_, data, size);
            if (n >= 0)
                return static_cast<std::ptrdiff_t>(n);
            return errno == EAGAIN || errno == EINTR ? LineScheduler::kBusy : LineScheduler::kGone;
        });
        if (hadOutput && line_.Empty()) {
            outputDone_ = Clock::now();
            changed_.notify_all();
        }
        if (!line_.Empty())
            outputDone_.reset();
        const int master = master_;
        lock.unlock();
        Emit(notes);

        // A timer wakes the thread tens of microseconds late (more on a busy
        // or virtual machine). That only shifts a byte within the frame, but
        // a client times the frame by its last byte: the last stretch before
        // the write that ends a chunk is spun rather than slept.
        const bool spin = !noClient && next.EndsChunk;
        timespec ts{};
        timespec* timeout = nullptr; // none: until woken
        if (noClient || next.At != Clock::time_point::max()) {
            const Clock::time_point now = Clock::now();
            const Clock::time_point wake = noClient ? now + kNoClientPoll : spin ? next.At - kSpin : next.At;
            const std::int64_t ns = std::max<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count());
            ts = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
            timeout = &ts;
        }
        pollfd fds[2] = {{wake_, POLLIN, 0}, {master, POLLIN, 0}};
        if (::ppoll(fds, noClient ? 1 : 2, timeout, nullptr) == 0 && spin) {
            while (Clock::now() < next.At) {
            }
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wake_, &count, sizeof count);
        }
        lock.lock();
    }
}

} // namespace kkm::emu
