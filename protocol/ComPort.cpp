// What the serial link says and sorts the same way on every system.
#include "ComPort.h"
#include "PortName.h"

#include <algorithm>

QStringList TComPort::SortByPortNumber(QStringList names)
{
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return kkm::SplitPortName(a).number < kkm::SplitPortName(b).number;
    });
    return names;
}

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
    case prAccessDenied:
        return QStringLiteral("Нет доступа к порту. Пользователь должен входить в группу "
                              "dialout (или иметь права на устройство).");
    default: return QStringLiteral("Неизвестная ошибка.");
    }
}
