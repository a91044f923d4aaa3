#include "TextRules.h"

#include <limits>

QString TrimText(QStringView Text)
{
    qsizetype first = 0;
    qsizetype last = Text.size();
    while (first < last && Text[first].unicode() <= 0x20)
        ++first;
    while (last > first && Text[last - 1].unicode() <= 0x20)
        --last;
    return Text.mid(first, last - first).toString();
}

bool TryStrToInt64(QStringView Text, std::int64_t& Value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == u'+' || Text[i] == u'-'))
        negative = Text[i++] == u'-';
    if (i == Text.size())
        return false;
    // Accumulate the magnitude as unsigned so that the most negative value fits.
    constexpr std::uint64_t maxPositive = std::numeric_limits<std::int64_t>::max();
    const std::uint64_t limit = negative ? maxPositive + 1 : maxPositive;
    std::uint64_t magnitude = 0;
    for (; i < Text.size(); ++i) {
        const char16_t c = Text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        const unsigned digit = c - u'0';
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    Value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

QString NotAnIntegerText(QStringView Text)
{
    return QStringLiteral("'%1' не является целым числом").arg(Text);
}
