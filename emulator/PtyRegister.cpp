#include "PtyRegister.h"

#include "PortDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kkm::emu {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// How often to look whether a client has opened the slave.
constexpr milliseconds kNoClientPoll{25};
// Paced output is written in bursts at most this often.
constexpr milliseconds kPacedBurst{1};
// The request log keeps this many of the newest requests.
constexpr std::size_t kMaxLog = 100000;

constexpr std::int64_t kNsPerTenBits = 10'000'000'000LL; // 10 bits of 1 baud

// Time a run of n bytes takes on the line (start and stop bit each).
nanoseconds LineTime(std::size_t n, int baud)
{
    if (baud <= 0)
        return nanoseconds(0);
    return nanoseconds(static_cast<std::int64_t>(n) * kNsPerTenBits / baud);
}

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
    if (!OpenPty(error) || (options_.Publish && !Publish(error))) {
        ClosePty();
        ::close(wake_);
        wake_ = -1;
        return false;
    }
    tx_.clear();
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
    Unpublish();
    ::close(wake_);
    wake_ = -1;
    tx_.clear();
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
    return linkPath_;
}

void PtyRegister::SetBaud(int baud)
{
    std::lock_guard lock(mutex_);
    options_.Baud = std::max(0, baud);
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

int PtyRegister::AddFault(const Fault& fault)
{
    std::lock_guard lock(mutex_);
    const int id = nextFaultId_++;
    faults_.push_back({id, fault, received_ + static_cast<std::uint64_t>(std::max(0, fault.Nth))});
    return id;
}

bool PtyRegister::RemoveFault(int id)
{
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(faults_.begin(), faults_.end(), [id](const ActiveFault& f) { return f.Id == id; });
    if (it == faults_.end())
        return false;
    faults_.erase(it);
    return true;
}

void PtyRegister::ClearFaults()
{
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::vector<std::pair<int, Fault>> PtyRegister::Faults() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::pair<int, Fault>> out;
    for (const ActiveFault& f : faults_)
        out.emplace_back(f.Id, f.F);
    return out;
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
        Schedule(wire, Clock::now(), Placement::FirstGap);
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

bool PtyRegister::Publish(QString* error)
{
    const QString dir = QDir::cleanPath(
        QFileInfo(options_.Directory.isEmpty() ? EmulatorPortDir() : options_.Directory).absoluteFilePath());
    QDir().mkpath(QFileInfo(dir).absolutePath());
    const QByteArray dirName = QFile::encodeName(dir);
    if (::mkdir(dirName.constData(), 0700) != 0 && errno != EEXIST)
        return SetError(error, Errno(dirName.constData()));
    struct stat st {};
    if (::lstat(dirName.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return SetError(error, dir.toStdString() + ": not a directory of this user");
    if ((st.st_mode & 0077) != 0)
        ::chmod(dirName.constData(), 0700);

    for (int n = 0; n < 1000; ++n) {
        const QString link = dir + QLatin1Char('/') + options_.BaseName + QString::number(n);
        const QByteArray lockName = QFile::encodeName(EmulatorLockPath(link));
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int fd = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                return SetError(error, Errno(lockName.constData()));
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                ::close(fd);
                break; // a live emulator has this number
            }
            // The previous owner may have removed the file between our open
            // and our lock: then the lock is on a file nobody else sees.
            struct stat held {}, named {};
            if (::fstat(fd, &held) == 0 && ::stat(lockName.constData(), &named) == 0 &&
                held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
                lockFd_ = fd;
                linkPath_ = link;
                if (!RepointLink()) {
                    const std::string why = Errno("symlink");
                    Unpublish();
                    return SetError(error, why);
                }
                return true;
            }
            ::close(fd);
        }
    }
    return SetError(error, "no free port number in " + dir.toStdString());
}

bool PtyRegister::RepointLink()
{
    if (linkPath_.isEmpty())
        return true;
    // A new link renamed over the old one, so the link never goes missing.
    const QFileInfo info(linkPath_);
    const QByteArray tmp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                             QStringLiteral(".new"));
    const QByteArray target = QFile::encodeName(slavePath_);
    ::unlink(tmp.constData());
    if (::symlink(target.constData(), tmp.constData()) != 0)
        return false;
    if (::rename(tmp.constData(), QFile::encodeName(linkPath_).constData()) != 0) {
        ::unlink(tmp.constData());
        return false;
    }
    return true;
}

void PtyRegister::Unpublish()
{
    if (!linkPath_.isEmpty()) {
        ::unlink(QFile::encodeName(linkPath_).constData());
        ::unlink(QFile::encodeName(EmulatorLockPath(linkPath_)).constData());
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
    linkPath_.clear();
}

void PtyRegister::DoHangUp(std::vector<std::string>& notes)
{
    ClosePty();
    tx_.clear();
    collector_.Reset();
    current_.clear();
    QString error;
    hangUpOk_ = OpenPty(&error) && RepointLink();
    if (hangUpOk_)
        notes.push_back("hung up; the port is now " + slavePath_.toStdString());
    else
        notes.push_back("hung up; no new port: " + error.toStdString());
    ++hangUps_;
    changed_.notify_all();
}

Clock::time_point PtyRegister::Schedule(TArrayOfByte bytes, Clock::time_point earliest,
                                        Placement placement)
{
    // The queue is kept in order of due time and chunks never overlap on the
    // line. Answers queue behind everything, as the register answers one
    // request after the other; unasked bytes take the first gap between two
    // frames, so a message can go out while an answer is still being thought
    // about.
    const Clock::duration length = LineTime(bytes.size(), options_.Baud);
    Clock::time_point start = std::max(earliest, Clock::now());
    auto at = tx_.begin();
    for (; at != tx_.end(); ++at) {
        if (placement == Placement::FirstGap && at->Sent == 0 && at->OpensFrame
            && start + length < at->Due)
            break;
        start = std::max(start, at->Due + LineTime(at->Bytes.size(), at->Baud));
    }
    tx_.insert(at, {start, std::move(bytes), 0, options_.Baud, placement != Placement::Piece});
    return start + length;
}

Clock::time_point PtyRegister::Flush()
{
    while (!tx_.empty()) {
        Chunk& c = tx_.front();
        const Clock::time_point now = Clock::now();
        if (now < c.Due)
            return c.Due;
        std::size_t ready = c.Bytes.size();
        if (c.Baud > 0) {
            // A byte is there once its stop bit is through.
            const std::int64_t elapsed = std::chrono::duration_cast<nanoseconds>(now - c.Due).count();
            ready = std::min<std::size_t>(ready, static_cast<std::size_t>(elapsed * c.Baud / kNsPerTenBits));
        }
        if (ready > c.Sent) {
            const ssize_t n = ::write(master_, c.Bytes.data() + c.Sent, ready - c.Sent);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return now + kPacedBurst; // the client is not reading: try again shortly
                tx_.clear(); // nobody on the line
                break;
            }
            c.Sent += static_cast<std::size_t>(n);
            lastWrite_ = now;
        }
        if (c.Sent == c.Bytes.size()) {
            tx_.pop_front();
            continue;
        }
        if (c.Baud <= 0)
            return now + kPacedBurst;
        const Clock::time_point nextByte = c.Due + LineTime(c.Sent + 1, c.Baud);
        const Clock::time_point end = c.Due + LineTime(c.Bytes.size(), c.Baud);
        return std::min(end, std::max(nextByte, lastWrite_ + kPacedBurst));
    }
    return Clock::time_point::max();
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
                frameStarted_ = Clock::now();
                current_.assign(1, buf[i]);
                break;
            case FrameCollector::Collected: current_.push_back(buf[i]); break;
            case FrameCollector::Overflow: {
                ++received_;
                RequestRecord r;
                r.When = Clock::now();
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
    const Clock::time_point now = Clock::now();
    const std::uint64_t number = ++received_;
    RequestRecord rec;
    rec.When = now;
    rec.Wire = wire;
    const RequestCheck check = CheckRequestFrame(wire);
    rec.Body = check.Body;
    rec.Valid = check.Ok;
    rec.Problem = check.Problem;

    // Gather what the matching faults ask for.
    struct {
        bool silent = false, refuse = false, zeroError = false, hangUp = false, twice = false;
        bool badCrc = false, badPid = false, badAR = false, badAT = false;
        std::uint8_t error = errCannotDo;
        int delayMs = 0, lengthDelta = 0, pieces = 1, pauseMs = 0;
        TArrayOfByte garbage;
        std::string names;
    } plan;
    for (auto it = faults_.begin(); it != faults_.end();) {
        const Fault& f = it->F;
        const bool byPosition = f.Nth > 0;
        if (byPosition && it->Target < number) {
            it = faults_.erase(it); // its request has passed
            continue;
        }
        const bool hit = check.Ok && (!byPosition || it->Target == number) && FaultMatches(f, check.Body);
        if (!hit) {
            ++it;
            continue;
        }
        plan.names += (plan.names.empty() ? "" : ", ") + FormatFault(f);
        switch (f.Kind) {
        case FaultKind::Refuse: plan.refuse = true; plan.error = f.Error; break;
        case FaultKind::Silent: plan.silent = true; break;
        case FaultKind::Delay: plan.delayMs += f.DelayMs; break;
        case FaultKind::BadCrc: plan.badCrc = true; break;
        case FaultKind::BadPid: plan.badPid = true; break;
        case FaultKind::BadAR: plan.badAR = true; break;
        case FaultKind::BadAT: plan.badAT = true; break;
        case FaultKind::Longer: ++plan.lengthDelta; break;
        case FaultKind::Shorter: --plan.lengthDelta; break;
        case FaultKind::Garbage: plan.garbage.insert(plan.garbage.end(), f.Garbage.begin(), f.Garbage.end()); break;
        case FaultKind::Split: plan.pieces = f.Pieces; plan.pauseMs = f.PauseMs; break;
        case FaultKind::Twice: plan.twice = true; break;
        case FaultKind::ZeroError: plan.zeroError = true; break;
        case FaultKind::HangUp: plan.hangUp = true; break;
        }
        if (f.Once)
            it = faults_.erase(it);
        else
            ++it;
    }

    const bool log = options_.LogRequests;
    if (log)
        notes.push_back("<- " + ToHex(wire) + "  " + (check.Body.size() >= 4 ? DescribeRequest(check.Body) : ""));
    if (!check.Ok) {
        if (log)
            notes.push_back("   !! " + check.Problem + ": no answer");
        AppendLog(std::move(rec));
        return;
    }
    if (plan.hangUp || plan.silent) {
        rec.Problem = "no answer (fault: " + plan.names + ")";
        if (log)
            notes.push_back("   !! " + rec.Problem);
        AppendLog(std::move(rec));
        if (plan.hangUp)
            DoHangUp(notes);
        return;
    }

    const TArrayOfByte& req = check.Body;
    TArrayOfByte body;
    if (plan.refuse) {
        body = {req[1], req[0], req[2], AnswerRefused, plan.error};
    } else {
        body = model_.Respond(req);
        if (!options_.LogoPath.isEmpty() && model_.LogosCompleted() != logosSaved_) {
            logosSaved_ = model_.LogosCompleted();
            std::string why;
            if (!model_.SaveLogoPbm(options_.LogoPath.toStdString(), &why))
                notes.push_back("logo not saved: " + why);
            else
                notes.push_back("logo saved to " + options_.LogoPath.toStdString());
        }
    }
    if (body.size() == 5 && body[3] == AnswerRefused)
        rec.Problem = "refused with error " + std::to_string(body[4]);
    if (plan.zeroError)
        body = {req[1], req[0], req[2], AnswerRefused, 0};
    if (plan.badAR)
        ++body[0];
    if (plan.badAT)
        ++body[1];
    if (plan.badPid)
        ++body[2];
    for (int i = 0; i < plan.lengthDelta; ++i)
        body.push_back(0x00);
    for (int i = 0; i > plan.lengthDelta && !body.empty(); --i)
        body.pop_back();

    const std::uint16_t crc = CalcCRC(body.data(), body.size()) ^ (plan.badCrc ? 0x5A5A : 0);
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    StuffFrame(body);
    TArrayOfByte frame = plan.garbage;
    frame.insert(frame.end(), body.begin(), body.end());

    // On a paced line the request itself took its time to arrive.
    const Clock::time_point requestEnd = frameStarted_ + LineTime(wire.size(), options_.Baud);
    Clock::time_point earliest =
        std::max(now, requestEnd) + milliseconds(options_.ThinkMs) + milliseconds(plan.delayMs);
    const std::size_t pieceSize = (frame.size() + plan.pieces - 1) / plan.pieces;
    for (int copy = 0; copy < (plan.twice ? 2 : 1); ++copy) {
        for (std::size_t at = 0; at < frame.size(); at += pieceSize) {
            const std::size_t n = std::min(pieceSize, frame.size() - at);
            const Clock::time_point end =
                Schedule(TArrayOfByte(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                      frame.begin() + static_cast<std::ptrdiff_t>(at + n)),
                         earliest, at == 0 ? Placement::Last : Placement::Piece);
            earliest = end + milliseconds(plan.pauseMs);
        }
        rec.Answer.insert(rec.Answer.end(), frame.begin(), frame.end());
    }
    if (log) {
        notes.push_back("-> " + ToHex(rec.Answer) + (plan.names.empty() ? "" : "  (fault: " + plan.names + ")"));
        if (!rec.Problem.empty())
            notes.push_back("   !! " + rec.Problem);
    }
    AppendLog(std::move(rec));
}

void PtyRegister::Run()
{
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
            tx_.clear(); // nobody would hear it
            collector_.Reset();
        }
        const Clock::time_point next = Flush();
        int timeoutMs = -1;
        if (noClient) {
            timeoutMs = static_cast<int>(kNoClientPoll.count());
        } else if (next != Clock::time_point::max()) {
            const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
            timeoutMs = wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
        }
        const int master = master_;
        lock.unlock();
        Emit(notes);

        pollfd fds[2] = {{wake_, POLLIN, 0}, {master, POLLIN, 0}};
        if (timeoutMs > 0 && next != Clock::time_point::max() && !noClient) {
            // Sub-millisecond precision for the pacing.
            const auto wait = std::chrono::duration_cast<nanoseconds>(next - Clock::now()).count();
            timespec ts{static_cast<time_t>(std::max<std::int64_t>(wait, 0) / 1000000000),
                        static_cast<long>(std::max<std::int64_t>(wait, 0) % 1000000000)};
            ::ppoll(fds, 2, &ts, nullptr);
        } else {
            ::poll(fds, noClient ? 1 : 2, timeoutMs);
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wake_, &count, sizeof count);
        }
        lock.lock();
    }
}

} // namespace kkm::emu
