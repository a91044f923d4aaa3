#include "PortDirectory.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kkm {

QString EmulatorPortDir()
{
    const QByteArray forced = qgetenv("KKM_EMULATOR_DIR");
    if (!forced.isEmpty())
        return QString::fromLocal8Bit(forced);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(QString::fromLocal8Bit(runtime)).isDir())
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/kkm-emulator");
    return QStringLiteral("/tmp/kkm-emulator-%1").arg(::getuid());
}

QString EmulatorLockPath(const QString& linkPath)
{
    return linkPath + QStringLiteral(".lock");
}

namespace {

// The emulator holds an exclusive lock; if a shared one can be had, it ended.
bool EmulatorAlive(const QString& linkPath)
{
    const QByteArray lock = QFile::encodeName(EmulatorLockPath(linkPath));
    const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace

PortName SplitPortName(const QString& name)
{
    qsizetype i = name.size();
    while (i > 0 && name[i - 1].isDigit())
        --i;
    return {name.left(i), i < name.size() ? name.mid(i).toInt() : -1};
}

QStringList LiveEmulatorPorts(const QString& dir)
{
    QStringList ports;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!entry.isSymLink() || !QFileInfo::exists(entry.absoluteFilePath()))
            continue;
        if (EmulatorAlive(entry.absoluteFilePath()))
            ports << entry.absoluteFilePath();
    }
    std::stable_sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) {
        return SplitPortName(a).number < SplitPortName(b).number;
    });
    return ports;
}

} // namespace kkm
