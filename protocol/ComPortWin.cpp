// The serial port of the Windows build until it has a Win32 one: no port is
// listed and every Open fails as a missing port would, so the program and
// its tests build, start and tell the user plainly that nothing opened.
#include "ComPort.h"
#include "PortName.h"

#include <QSocketNotifier>

#include <algorithm>
#include <thread>

TComPort::TComPort() = default;

TComPort::~TComPort()
{
    Close();
}

int TComPort::Open(const QString& name, std::uint32_t)
{
    if (Opened)
        return prAlreadyOpen;
    PortNumber = static_cast<std::uint8_t>(std::max(0, kkm::SplitPortName(name).number));
    return prNoSuchPort;
}

void TComPort::Close()
{
    Opened = false;
    lineLost_ = false;
}

int TComPort::Write(const TArrayOfByte& frame)
{
    if (!Opened)
        return prNotOpen;
    return frame.empty() ? prEmptyFrame : prNotOpen;
}

int TComPort::OutputQueued() const
{
    return 0;
}

TComPort::TSerialFlagsIo TComPort::DriverSerialFlags()
{
    return {};
}

bool TComPort::GetPortList(QStringList& list)
{
    list.clear();
    return true;
}

QStringList TComPort::SerialDevices(const QString&)
{
    return {};
}

// Nothing ever arrives: the whole wait passes.
bool TComPort::WaitForHandover(std::chrono::microseconds limit) const
{
    std::this_thread::sleep_for(limit);
    return false;
}

void TComPort::DeliverPending() {}

void TComPort::Wake() {}

void TComPort::ResultText(int code, QString& text)
{
    text = ResultText(code);
}

QString TComPort::ResultText(int code)
{
    switch (code) {
    case prOk: return QStringLiteral("Порт открыт успешно.");
    case prAlreadyOpen: return QStringLiteral("Cоединение уже установленно.");
    case prNoSuchPort: return QStringLiteral("Попытка открыть несуществующий порт.");
    case prBusy: return QStringLiteral("Порт занят другой программой.");
    case prGetSettings: return QStringLiteral("Ошибка получения страндартных настроек.");
    case prApplySettings: return QStringLiteral("Ошибка применеия настроек.");
    case prNotOpen: return QStringLiteral("Соединение не установленно.");
    case prNoMemory: return QStringLiteral("Ошибка выделения памяти");
    case prEmptyFrame: return QStringLiteral("Ошибка выполнения команды.");
    case prThreadFailed: return QStringLiteral("Ошибка создания читающего потока.");
    case prAccessDenied: return QStringLiteral("Нет доступа к порту.");
    default: return QStringLiteral("Неизвестная ошибка.");
    }
}
