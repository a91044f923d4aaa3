#include "SessionJobs.h"

#include "Cp1251.h"
#include "TextRules.h"

#include <algorithm>

namespace kkm {

TConnectResult ConnectJob(TJobContext& job, const QString& port, std::uint32_t baud,
                          const std::function<void()>& onOldPortClosed)
{
    TOmvekCP& p = job.Protokol();
    TConnectResult result;
    auto closedAt = job.PortClosedAt();
    if (p.Port.Opened) {
        p.Port.Close();
        closedAt = std::chrono::steady_clock::now();
        if (onOldPortClosed)
            onOldPortClosed();
    }
    // The pause is the program's own custom; nothing depends on it (the
    // closed port has nothing left to read).
    if (closedAt != std::chrono::steady_clock::time_point{} &&
        !job.PauseUntil(closedAt + std::chrono::milliseconds(p.TimeOut()))) {
        result.Result = rcPortClosed;
        return result;
    }
    result.PortResult = p.Port.Open(port, baud);
    if (result.PortResult != 0)
        return result;
    result.Result = p.Connect(RegisterAddress, PcAddress, 5, 5);
    return result;
}

std::int32_t InfoJob(TJobContext& job, const std::function<void(const TDeviceInfo&)>& onInfo,
                     const std::function<void(const TDeviceState&)>& onState)
{
    job.Line(QStringLiteral("Чтение информации об устройстве..."), TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    TDeviceInfo info;
    std::int32_t r = p.GetDeviceInfo(RegisterAddress, PcAddress, info.SerialNumber, info.InfoWord,
                                     info.InfoByte, info.SoftVersion, info.SoftDate, info.ModelName);
    if (!job.Check(r))
        return r;
    if (onInfo)
        onInfo(info);
    TDeviceState state;
    r = p.GetDeviceState(RegisterAddress, PcAddress, state.ErrorCode, state.Date, state.Time,
                         state.ModeCode, state.OperatorNo, state.SessionOpen, state.SessionTotal,
                         state.CashInDrawer);
    if (!job.Check(r))
        return r;
    if (onState)
        onState(state);
    job.Line(QStringLiteral("Чтение информации об устройстве завершено."), TLineKind::Progress);
    return 0;
}

void UserListJob(TJobContext& job, const std::function<void(const TArrayOfByte&)>& onUser)
{
    job.Line(QStringLiteral("Чтение списка пользователей из ККМ ..."), TLineKind::Progress);
    for (std::uint16_t user = 1; user <= UserCount; ++user) {
        TArrayOfByte record;
        if (!job.Check(job.Protokol().ReadTableRecord(RegisterAddress, PcAddress, UserTable, user,
                                                      record)))
            break;
        if (onUser)
            onUser(record);
    }
    job.Line(QStringLiteral("Чтение списка пользователей из ККМ завершено."), TLineKind::Progress);
}

namespace {

QString RecordText(const TArrayOfByte& record, std::size_t first, std::size_t count)
{
    if (first >= record.size())
        return QString();
    count = std::min(count, record.size() - first);
    return FromCp1251(QByteArrayView(record.data() + first, static_cast<qsizetype>(count)));
}

} // namespace

QString UserEntryText(const TArrayOfByte& record)
{
    const QString name = RecordText(record, 0, 32);
    const QString post = RecordText(record, 32, 32);
    return TrimText(TrimText(post) + QStringLiteral("  ") + name);
}

QString ConnectedLine(const QString& port, const QString& speed)
{
    return QStringLiteral("Подключение успешно. Порт [") + port + QStringLiteral("] Скорость [") + speed +
           QStringLiteral("]");
}

QString AuthorisedLine(const QString& user)
{
    return QStringLiteral("Авторизация прошла успешно. Пользователь [") + user + QStringLiteral("]");
}

QString LineLostLine()
{
    return QStringLiteral("Связь с ККМ потеряна: порт закрыт.");
}

QString ReadOnlyModeLine()
{
    return QStringLiteral("Программа работает в режиме \"Только чтение\"");
}

QString ReadWriteModeLine()
{
    return QStringLiteral("Программа работает в режиме \"Чтение / Запись\"");
}

QString OfflineModeLine()
{
    return QStringLiteral("Касса отключена. Программа работает в режиме \"Автономная работа\"");
}

std::int32_t AuthoriseJob(TJobContext& job, std::uint8_t user, std::int64_t password)
{
    return job.Protokol().Authorize(RegisterAddress, PcAddress, user, password);
}

} // namespace kkm
