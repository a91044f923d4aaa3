// A port name split into its kind and the number at its end, for sorting
// port lists and for the port's number.
#pragma once

#include <QString>

namespace kkm {

// "ttyUSB10" gives "ttyUSB" and 10, "/dev/pts/3" gives "/dev/pts/" and 3; no
// number gives -1.
struct PortName {
    QString kind;
    int number;
};

inline PortName SplitPortName(const QString& name)
{
    qsizetype i = name.size();
    while (i > 0 && name[i - 1].isDigit())
        --i;
    return {name.left(i), i < name.size() ? name.mid(i).toInt() : -1};
}

} // namespace kkm
