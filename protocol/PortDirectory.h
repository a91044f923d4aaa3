// Where running register emulators publish their pseudo-terminal ports, so
// that the port list can offer them: one symlink per port (to its
// /dev/pts/N) and beside it "<name>.lock", which the emulator keeps locked
// (flock) for as long as it runs. A link whose lock can be taken belongs to
// an emulator that has ended.
#pragma once

#include <QString>
#include <QStringList>

namespace kkm {

// A port name split into its kind and the number at its end: "ttyUSB10"
// gives "ttyUSB" and 10, "/dev/pts/3" gives "/dev/pts/" and 3; no number
// gives -1.
struct PortName {
    QString kind;
    int number;
};
PortName SplitPortName(const QString& name);

// $KKM_EMULATOR_DIR, else $XDG_RUNTIME_DIR/kkm-emulator, else
// /tmp/kkm-emulator-<uid>.
QString EmulatorPortDir();

QString EmulatorLockPath(const QString& linkPath);

// Paths of the links in dir whose emulator is still running, sorted by the
// number at the end of their names.
QStringList LiveEmulatorPorts(const QString& dir);

} // namespace kkm
