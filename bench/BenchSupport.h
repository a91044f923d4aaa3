// What the line benchmarks share: a range of items from the command line,
// a quiet emulator on a pseudo-terminal, and the machine's load for the
// report (figures from a loaded machine are read differently).
#pragma once

#include "PtyRegister.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace kkm::bench {

struct TRange {
    int First = 1;
    int Last = 9999;
    QString Text() const { return QStringLiteral("%1..%2").arg(First).arg(Last); }
};

// "first..last", or Fallback for anything else.
inline TRange ParseRange(const char* Text, TRange Fallback)
{
    const QStringList parts = QString::fromLatin1(Text).split(QStringLiteral(".."));
    if (parts.size() != 2)
        return Fallback;
    return {parts[0].toInt(), parts[1].toInt()};
}

// An emulator paced at Baud (0: unpaced) that logs nothing; the program ends
// when it cannot start.
inline std::unique_ptr<emu::PtyRegister> StartRegister(int Baud, std::int64_t Serial = 0)
{
    auto reg = std::make_unique<emu::PtyRegister>();
    emu::PtyOptions options;
    options.Publish = false;
    options.Baud = Baud;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg->Start(options, &error)) {
        std::fprintf(stderr, "emulator: %s\n", qPrintable(error));
        std::exit(1);
    }
    if (Serial != 0)
        reg->WithModel([Serial](emu::RegisterModel& m) { m.State().identity.SerialNumber = Serial; });
    return reg;
}

inline QString LoadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2) : QStringLiteral("?");
}

} // namespace kkm::bench
