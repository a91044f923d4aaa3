// Pictures of the navigation buttons (32 x 32) and the speed-bar buttons
// (16 x 16), drawn in code so that the program ships no image files.
#pragma once

#include <QIcon>

namespace NavIcons {

QIcon Information();
QIcon Options();
QIcon Goods();
QIcon Picture();

QIcon ReadTable();
QIcon WriteTable();
QIcon Import();
QIcon Export();
QIcon Stop();

} // namespace NavIcons
