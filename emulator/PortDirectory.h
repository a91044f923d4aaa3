// Where running register emulators publish their pseudo-terminal ports, so
// that the configurator's port list can offer them: one symlink per port (to
// its /dev/pts/N) and beside it "<name>.lock", which the emulator keeps
// locked (flock) for as long as it runs. A link whose lock can be taken
// belongs to an emulator that has ended.
//
// Both sides live here: the emulator publishes (PublishedPort), the
// configurator lists (LiveEmulatorPorts). Built as its own small library, so
// the windows can link it without the emulator.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace kkm {

// $KKM_EMULATOR_DIR, else $XDG_RUNTIME_DIR/kkm-emulator, else
// /tmp/kkm-emulator-<uid>.
QString EmulatorPortDir();

QString EmulatorLockPath(const QString& linkPath);

// Paths of the links in dir whose emulator is still running, sorted by the
// number at the end of their names.
QStringList LiveEmulatorPorts(const QString& dir);

// One published port. Publish creates dir (mode 0700) if needed, takes the
// first <baseName><N> whose lock it can hold and points that link at the
// pty; Repoint moves the link to a new pty without it ever going missing;
// Unpublish (and the destructor) removes link and lock.
class PublishedPort {
public:
    PublishedPort() = default;
    ~PublishedPort() { Unpublish(); }
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

    bool Publish(const QString& dir, const QString& baseName, const QString& ptyPath, std::string* error);
    bool Repoint(const QString& ptyPath);
    void Unpublish();
    // The link, empty when not published.
    const QString& Path() const { return link_; }

private:
    int lockFd_ = -1;
    QString link_;
};

} // namespace kkm
