#include "OmvekCP.h"

#include <QLoggingCategory>

using Clock = std::chrono::steady_clock;

// Why a transaction ended early; off unless turned on, e.g.
// QT_LOGGING_RULES="kkm.protocol=true".
Q_LOGGING_CATEGORY(lcProtocol, "kkm.protocol", QtFatalMsg)

TOmvekCP::TOmvekCP(QObject* owner) : QObject(owner)
{
    Port.OnData = [this](const TArrayOfByte& data, std::int32_t count, std::uint32_t errors) {
        PortDataReceived(data, count, errors);
    };
    Port.OnLineLost = [this] {
        qCWarning(lcProtocol) << "line lost on" << Port.Name;
        if (OnLineLost)
            OnLineLost();
    };
}

TOmvekCP::~TOmvekCP()
{
    Port.OnData = nullptr;
    Port.OnLineLost = nullptr;
    Port.Close();
}

QString TOmvekCP::Version() const
{
    return QStringLiteral("OmvekCP ver.2.1 may.09");
}

std::uint8_t TOmvekCP::NextPID()
{
    return pid_++;
}

std::uint8_t TOmvekCP::LastPID() const
{
    return static_cast<std::uint8_t>(pid_ - 1);
}

void TOmvekCP::ErrorText(std::int32_t code, QString& text)
{
    text = ErrorText(code);
}

QString TOmvekCP::ErrorText(std::int32_t code)
{
    switch (code) {
    case 5: return QStringLiteral("Доступ запрещён");
    case 4: return QStringLiteral("Переданы некорректные параметры.");
    case 3: return QStringLiteral("Невозможно выполнить данную команду.");
    case 2: return QStringLiteral("Команда не поддерживается данным устройством.");
    case 1: return QStringLiteral("Запрошенные данные отсутствуют.");
    case 0: return QStringLiteral("Ошибок нет.");
    case -1: return QStringLiteral("Порт не открыт.");
    case -2: return QStringLiteral("Ошибка формирования пакета-команды.");
    case -3: return QStringLiteral("Истёк тайм-аут ожидания ответа.");
    case -4: return QStringLiteral("Ошибка разбора пакета-ответа.");
    case -5: return QStringLiteral("Сообщение не прошло обратный байтстаффинг.");
    case -6: return QStringLiteral("Принятое и посчитанное CRC не совпадают.");
    case -7: return QStringLiteral("Передатчик занят.");
    case -8: return QStringLiteral("Неизвестная ошибка.");
    case -9: return QStringLiteral("Сообщение не соответствует протоколу.");
    case -10: return QStringLiteral("Несовпадение PID.");
    case -11: return QStringLiteral("Сообщение пришло от иного устройства.");
    case -12: return QStringLiteral("Сообщение пришло иному приёмнику.");
    case -13: return QStringLiteral("Превышена длина сообщения.");
    case -14: return QStringLiteral("Ошибка формирования пакета-ответа.");
    default: return QStringLiteral("Незарегистрированная ошибка.");
    }
}

void TOmvekCP::PortDataReceived(const TArrayOfByte& data, std::int32_t count, std::uint32_t)
{
    const std::size_t n = std::min<std::size_t>(count < 0 ? 0 : count, data.size());
    if (n > 0)
        lastRx_ = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        if (collector_.Push(data[i]) != kkm::FrameCollector::Complete)
            continue;
        const kkm::FrameKind kind = kkm::ClassifyFrame(collector_.Frame(), collector_.FrameSize());
        if (kind == kkm::fkMessage && state_ == tsIdle) {
            rxFrame_ = collector_.FrameCopy();
            rMsg_ = rxFrame_;
            if (OnMessage)
                OnMessage(rxFrame_);
            DispatchMessage(rxFrame_);
        } else if (kind == kkm::fkResponse && state_ == tsWaiting) {
            rxFrame_ = collector_.FrameCopy();
            rMsg_ = rxFrame_;
            state_ = tsAnswered;
        }
    }
}

bool TOmvekCP::WaitTimedOut(Clock::time_point start) const
{
    const auto now = Clock::now();
    const auto limit = std::chrono::milliseconds(timeOut_);
    if (now - start < limit)
        return false;
    // A frame still arriving byte by byte on a slow line is not cut off while
    // its bytes keep coming, up to the time a longest frame needs on the line.
    // Moments this thread was not running count neither as silence nor
    // towards that bound.
    if (!collector_.InFrame() || now - lastRx_ >= limit)
        return true;
    const auto frameTime = std::chrono::duration<double>(Port.ByteTime() * kkm::MaxWireFrame);
    return now - start - stalled_ >= limit + std::chrono::duration_cast<Clock::duration>(frameTime);
}

void TOmvekCP::Interrupt()
{
    interrupted_ = true;
    Port.Wake();
}

void TOmvekCP::TakeUpChunk(std::chrono::microseconds limit)
{
    if (Port.WaitForData(limit))
        Port.ReadPending();
}

bool TOmvekCP::WaitState(std::uint8_t wanted)
{
    using namespace std::chrono;
    const auto start = Clock::now();
    stalled_ = {};
    // A pass takes a slice and a little more; a much longer one means this
    // thread was not scheduled, and the line cannot be blamed for that time.
    auto lastPass = start;
    auto pass = [&](Clock::duration slice) {
        const auto now = Clock::now();
        if (const auto gap = now - lastPass - slice; gap > milliseconds(50)) {
            stalled_ += gap;
            lastRx_ = std::min(now, lastRx_ + gap);
        }
        lastPass = now;
    };
    // At least TimeOut div 10 + 1 passes of a millisecond, even where the
    // system's sleeps are coarser: a time-out of 0 still gives the answer a
    // moment. Each pass ends early when bytes arrive, which the wait then
    // reads itself.
    for (std::uint32_t i = 0; i <= timeOut_ / 10; ++i) {
        if (state_ == wanted)
            return true;
        if (!LinkUp())
            return false;
        TakeUpChunk(milliseconds(1));
        pass(milliseconds(1));
    }
    for (;;) {
        if (state_ == wanted)
            return true;
        if (!LinkUp())
            return false;
        if (WaitTimedOut(start))
            return false;
        // Slices short enough to notice a frame's silence in time; any
        // chunk or an interruption cuts them short.
        constexpr auto slice = milliseconds(5);
        TakeUpChunk(slice);
        pass(slice);
    }
}

bool TOmvekCP::WaitSent(std::size_t bytes)
{
    using namespace std::chrono;
    // As long as the line needs for the bytes, and a second more for a
    // stalled device; after that the answer's wait decides.
    const auto limit = seconds(1)
        + duration_cast<Clock::duration>(duration<double>(Port.ByteTime() * bytes));
    const auto start = Clock::now();
    while (Port.OutputQueued() > 0) {
        if (Clock::now() - start >= limit) {
            qCWarning(lcProtocol) << "request not sent in time," << Port.OutputQueued()
                                  << "bytes still queued";
            return true;
        }
        // An answer may start before an adapter reports its buffer empty.
        TakeUpChunk(milliseconds(1));
        if (!LinkUp())
            return false;
    }
    return true;
}

std::int32_t TOmvekCP::Transact(std::uint8_t AR, std::uint8_t AT, std::uint8_t Code,
                                const PayloadBuilder& build, const ResponseReader& read)
{
    if (state_ != tsIdle)
        return rcBusy;
    if (!LinkUp())
        return rcPortClosed;
    // Taken in one step: a command from another thread finds it busy.
    std::uint8_t idle = tsIdle;
    if (!state_.compare_exchange_strong(idle, tsBusy))
        return rcBusy;
    try {
        const std::uint8_t pid = NextPID();
        TArrayOfByte frame;
        if (!build(frame) || !kkm::BuildFrame(AR, AT, pid, Code, frame)) {
            state_ = tsIdle;
            return rcBuildFailed;
        }
        tMsg_ = frame;
        if (const int written = Port.Write(frame); written != prOk) // ends as a time-out
            qCWarning(lcProtocol) << "request not written:" << TComPort::ResultText(written);
        state_ = tsWaiting;
        // The answer's wait starts once the request has left the line, which
        // at 1200 baud is most of a second.
        if (!WaitSent(frame.size()) || !WaitState(tsAnswered)) {
            state_ = tsIdle;
            return LinkUp() ? rcTimeout : rcPortClosed;
        }
        state_ = tsBusy;
        TArrayOfByte body = rxFrame_;
        rxFrame_.clear();
        if (const kkm::UnpackResult r = kkm::UnpackFrame(body); r != kkm::upOk) {
            state_ = tsIdle;
            return -static_cast<std::int32_t>(r);
        }
        kkm::FrameView answer;
        if (!kkm::ViewFrame(body, answer)) { // no room for a header: nothing to read
            state_ = tsIdle;
            return rcBadResponse;
        }
        std::int32_t result;
        if (answer.IsRefusal() && answer.Payload.size() == 1) {
            // A refusal must carry a code; a zero would pass for success
            // although nothing was read.
            if (answer.Payload[0] == 0) {
                state_ = tsIdle;
                return rcBadResponse;
            }
            result = answer.Payload[0];
        } else {
            if (!read(answer.Payload)) {
                state_ = tsIdle;
                return rcBadResponse;
            }
            result = answer.Code;
        }
        state_ = tsIdle;
        if (answer.Receiver != AT)
            return rcOtherReceiver;
        if (answer.Sender != AR)
            return rcOtherSender;
        if (answer.PID != LastPID())
            return rcPidMismatch;
        return result;
    } catch (...) {
        state_ = tsIdle;
        return rcException;
    }
}

std::int32_t TOmvekCP::TransactNoData(std::uint8_t AR, std::uint8_t AT, std::uint8_t Code,
                                      const PayloadBuilder& build)
{
    return Transact(AR, AT, Code, build,
                    [](std::span<const std::uint8_t> payload) { return payload.empty(); });
}
