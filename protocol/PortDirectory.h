// Where running register emulators publish their pseudo-terminal ports, so
// that the port list can offer them: one symlink per port (to its
// /dev/pts/N) and beside it "<name>.lock", which the emulator keeps locked
// (flock) for as long as it runs. A link whose lock can be taken belongs to
// an emulator that has ended.
#pragma once

#include <QString>
#include <QStringList>

namespace kkm {

// $KKM_EMULATOR_DIR, else $XDG_RUNTIME_DIR/kkm-emulator, else
// /tmp/kkm-emulator-<uid>.
QString EmulatorPortDir();

QString EmulatorLockPath(const QString& linkPath);

// Paths of the links in dir whose emulator is still running, sorted by the
// number at the end of their names.
QStringList LiveEmulatorPorts(const QString& dir);

} // namespace kkm
