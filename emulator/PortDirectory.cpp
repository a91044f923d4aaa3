#include "PortDirectory.h"

#include "PortName.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

bool Fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

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

bool PublishedPort::Publish(const QString& where, const QString& baseName, const QString& ptyPath,
                            std::string* error)
{
    Unpublish();
    const QString dir = QDir::cleanPath(QFileInfo(where).absoluteFilePath());
    QDir().mkpath(QFileInfo(dir).absolutePath());
    const QByteArray dirName = QFile::encodeName(dir);
    if (::mkdir(dirName.constData(), 0700) != 0 && errno != EEXIST)
        return Fail(error, Errno(dirName.constData()));
    struct stat st {};
    if (::lstat(dirName.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return Fail(error, dir.toStdString() + ": not a directory of this user");
    if ((st.st_mode & 0077) != 0)
        ::chmod(dirName.constData(), 0700);

    for (int n = 0; n < 1000; ++n) {
        const QString link = dir + QLatin1Char('/') + baseName + QString::number(n);
        const QByteArray lockName = QFile::encodeName(EmulatorLockPath(link));
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int fd = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                return Fail(error, Errno(lockName.constData()));
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
                link_ = link;
                if (!Repoint(ptyPath)) {
                    const std::string why = Errno("symlink");
                    Unpublish();
                    return Fail(error, why);
                }
                return true;
            }
            ::close(fd);
        }
    }
    return Fail(error, "no free port number in " + dir.toStdString());
}

bool PublishedPort::Repoint(const QString& ptyPath)
{
    if (link_.isEmpty())
        return true;
    // A new link renamed over the old one, so the link never goes missing.
    const QFileInfo info(link_);
    const QByteArray tmp =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".new"));
    const QByteArray target = QFile::encodeName(ptyPath);
    ::unlink(tmp.constData());
    if (::symlink(target.constData(), tmp.constData()) != 0)
        return false;
    if (::rename(tmp.constData(), QFile::encodeName(link_).constData()) != 0) {
        ::unlink(tmp.constData());
        return false;
    }
    return true;
}

void PublishedPort::Unpublish()
{
    if (!link_.isEmpty()) {
        ::unlink(QFile::encodeName(link_).constData());
        ::unlink(QFile::encodeName(EmulatorLockPath(link_)).constData());
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
    link_.clear();
}

} // namespace kkm
