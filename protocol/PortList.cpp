// The port list on Linux: the real serial devices that sysfs describes.
#include "ComPort.h"
#include "PortName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

struct Device {
    kkm::PortName name; // kind (ttyS, ttyUSB, ttyACM) and number
    QString path;
};

// Legacy 8250 slots exist whether or not a UART sits behind them; the serial
// core reports those as type 0 (unknown).
bool IsEmptyLegacySlot(const QString& ttyDir, const QString& driver)
{
    if (driver != QLatin1String("serial8250"))
        return false;
    QFile type(ttyDir + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() == "0";
}

} // namespace

QStringList TComPort::SerialDevices(const QString& root)
{
    std::vector<Device> devices;
    const QStringList names = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString ttyDir = root + QLatin1Char('/') + name;
        const QFileInfo driver(ttyDir + QStringLiteral("/device/driver"));
        if (!driver.exists()) // virtual terminals, ptys and the like
            continue;
        if (IsEmptyLegacySlot(ttyDir, QFileInfo(driver.canonicalFilePath()).fileName()))
            continue;
        devices.push_back({kkm::SplitPortName(name), QStringLiteral("/dev/") + name});
    }
    std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
        return a.name.kind != b.name.kind ? a.name.kind < b.name.kind
                                          : a.name.number < b.name.number;
    });
    QStringList list;
    for (const Device& d : devices)
        list << d.path;
    return list;
}

bool TComPort::GetPortList(QStringList& list)
{
    list = SerialDevices(QStringLiteral("/sys/class/tty"));
    return true;
}
