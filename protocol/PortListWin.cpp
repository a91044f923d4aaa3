// The port list on Windows: the serial ports the system has mapped under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, by port number.
#include "ComPort.h"

#include <QLoggingCategory>

#include <iterator>

#include <windows.h>

Q_DECLARE_LOGGING_CATEGORY(lcSerial)

bool TComPort::GetPortList(QStringList& list)
{
    list.clear();
    HKEY key = nullptr;
    // Read access is all a list needs, and all a user without
    // administrator rights gets.
    const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                           KEY_QUERY_VALUE, &key);
    if (opened != ERROR_SUCCESS) {
        // No serial port at all: the key only exists once one is mapped.
        qCInfo(lcSerial) << "no serial port list in the registry, error" << opened;
        return true;
    }
    QStringList names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameSize = static_cast<DWORD>(std::size(valueName));
        wchar_t data[256];
        DWORD dataSize = sizeof data - sizeof(wchar_t); // room for an ending the data may lack
        DWORD type = 0;
        const LSTATUS r = ::RegEnumValueW(key, index, valueName, &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS) {
            qCWarning(lcSerial) << "serial port list: value" << index << "error" << r;
            continue;
        }
        if (type != REG_SZ)
            continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        const QString port = QString::fromWCharArray(data).trimmed();
        if (!port.isEmpty())
            names << port;
    }
    ::RegCloseKey(key);
    list = SortByPortNumber(names);
    return true;
}
