#include "KkmText.h"

#include "Cp1251.h"
#include "ErrorGuard.h"

#include <algorithm>
#include <limits>

QString KkmTextToString(const QByteArray& Bytes)
{
    return FromCp1251(Bytes);
}

QString KkmTextToString(const TArrayOfByte& Bytes, std::size_t First, std::size_t Count)
{
    if (First >= Bytes.size())
        return QString();
    Count = std::min(Count, Bytes.size() - First);
    return FromCp1251(QByteArrayView(Bytes.data() + First, static_cast<qsizetype>(Count)));
}

QByteArray StringToKkmText(const QString& Text)
{
    return ToCp1251(Text);
}

std::int64_t StrToInt64(const QString& Text)
{
    std::int64_t value = 0;
    if (!TryStrToInt64(Text, value))
        throw EKkmError(NotAnIntegerText(Text));
    return value;
}

int StrToInt(const QString& Text)
{
    const std::int64_t value = StrToInt64(Text);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw EKkmError(NotAnIntegerText(Text));
    return static_cast<int>(value);
}
