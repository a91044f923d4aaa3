// The port directory on Windows, where the emulator does not run (it needs
// a pseudo-terminal): the program lists no emulator ports there.
#include "PortDirectory.h"

#include <QDir>

namespace kkm {

QString EmulatorPortDir()
{
    const QString forced = qEnvironmentVariable("KKM_EMULATOR_DIR");
    if (!forced.isEmpty())
        return forced;
    return QDir::tempPath() + QStringLiteral("/kkm-emulator");
}

QString EmulatorLockPath(const QString& linkPath)
{
    return linkPath + QStringLiteral(".lock");
}

QStringList LiveEmulatorPorts(const QString&)
{
    return {};
}

} // namespace kkm
