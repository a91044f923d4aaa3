// The port directory as the configurator reads it: only links whose lock a
// running emulator holds, and that lead somewhere, are offered.
#include "PortDirectory.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A pseudo-terminal slave to point links at.
struct Pty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    Pty() { ::grantpt(master), ::unlockpt(master); }
    ~Pty() { ::close(master); }
    QString Slave() const { return QString::fromLocal8Bit(::ptsname(master)); }
};

TEST(PortDirectoryTest, OffersLiveEmulatorPortsOnly)
{
    QTemporaryDir dir;
    Pty live, ended, other;
    ASSERT_GE(live.master, 0);
    // Named out of order: the list is sorted by number, 2 before 10.
    const QString liveLink = dir.filePath(QStringLiteral("ttyEMU10"));
    const QString liveLink2 = dir.filePath(QStringLiteral("ttyEMU2"));
    const QString endedLink = dir.filePath(QStringLiteral("ttyEMU1"));
    const QString danglingLink = dir.filePath(QStringLiteral("ttyEMU3"));
    ASSERT_TRUE(QFile::link(live.Slave(), liveLink));
    ASSERT_TRUE(QFile::link(other.Slave(), liveLink2));
    ASSERT_TRUE(QFile::link(ended.Slave(), endedLink));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/pts/no-such"), danglingLink));
    struct Lock {
        QString link;
        bool held;
    } const locks[] = {{liveLink, true}, {liveLink2, true}, {endedLink, false}, {danglingLink, true}};
    std::vector<int> fds;
    for (const Lock& l : locks) {
        const int fd = ::open(QFile::encodeName(kkm::EmulatorLockPath(l.link)).constData(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        fds.push_back(fd);
        if (l.held) {
            ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        }
    }

    EXPECT_EQ(kkm::LiveEmulatorPorts(dir.path()), QStringList({liveLink2, liveLink}));
    for (int fd : fds)
        ::close(fd);
    EXPECT_TRUE(kkm::LiveEmulatorPorts(dir.path()).isEmpty());
}

} // namespace
