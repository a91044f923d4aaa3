#include "KkmText.h"

#include "ErrorGuard.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <limits>

namespace {

constexpr const char* kRegisterCodePage = "windows-1251";

} // namespace

QString TrimText(const QString& Text)
{
    qsizetype first = 0;
    qsizetype last = Text.size();
    while (first < last && Text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && Text.at(last - 1).unicode() <= 0x20)
        --last;
    return Text.mid(first, last - first);
}

QString KkmTextToString(const QByteArray& Bytes)
{
    // Qt's decoder for this code page comes from ICU; a build without it
    // would still show Latin text and digits correctly.
    QStringDecoder decoder(kRegisterCodePage);
    if (!decoder.isValid())
        return QString::fromLatin1(Bytes);
    return decoder.decode(Bytes);
}

QString KkmTextToString(const TArrayOfByte& Bytes, std::size_t First, std::size_t Count)
{
    if (First >= Bytes.size())
        return QString();
    Count = std::min(Count, Bytes.size() - First);
    return KkmTextToString(QByteArray(reinterpret_cast<const char*>(Bytes.data() + First),
                                      static_cast<qsizetype>(Count)));
}

QByteArray StringToKkmText(const QString& Text)
{
    QStringEncoder encoder(kRegisterCodePage);
    if (!encoder.isValid())
        return Text.toLatin1();
    // ICU puts the substitute character 0x1A for whatever the code page
    // lacks, one byte per character, so fixed-width fields keep their width.
    QByteArray bytes = encoder.encode(Text);
    bytes.replace('\x1a', '?');
    return bytes;
}

std::int64_t StrToInt64(const QString& Text)
{
    bool ok = false;
    qsizetype i = 0;
    if (!Text.isEmpty() && (Text.at(0) == u'+' || Text.at(0) == u'-'))
        i = 1;
    const bool digitsOnly = Text.size() > i
        && std::all_of(Text.begin() + i, Text.end(),
                       [](QChar c) { return c >= u'0' && c <= u'9'; });
    const qlonglong value = digitsOnly ? Text.toLongLong(&ok, 10) : 0;
    if (!ok)
        throw EKkmError(QStringLiteral("'%1' не является целым числом").arg(Text));
    return value;
}

int StrToInt(const QString& Text)
{
    const std::int64_t value = StrToInt64(Text);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw EKkmError(QStringLiteral("'%1' не является целым числом").arg(Text));
    return static_cast<int>(value);
}
