#include "Cp1251.h"

#include <QLoggingCategory>
#include <QStringDecoder>

#include <array>
#include <cstdint>

namespace {

Q_LOGGING_CATEGORY(lcText, "kkm.text", QtCriticalMsg)

// Both directions as tables built once from Qt's converter: a lookup per
// character, exactly one character per byte, and no converter state that
// could swallow or merge bytes.
struct TCodePage {
    std::array<char16_t, 256> Decode{};
    std::array<std::uint8_t, 0x10000> Encode{};
    std::array<bool, 0x10000> Mapped{};

    TCodePage()
    {
        QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
        if (!decoder.isValid())
            qCWarning(lcText, "Windows-1251 converter unavailable; texts pass as Latin-1");
        for (int b = 0; b < 256; ++b) {
            char16_t c = static_cast<char16_t>(b);
            if (decoder.isValid()) {
                const char byte = static_cast<char>(b);
                const QString s = decoder.decode(QByteArrayView(&byte, 1));
                // A byte without a character keeps its own value, as in Latin-1.
                if (s.size() == 1 && s.at(0) != QChar::ReplacementCharacter)
                    c = s.at(0).unicode();
            }
            Decode[static_cast<std::size_t>(b)] = c;
        }
        Encode.fill('?');
        for (int b = 0; b < 256; ++b) {
            const char16_t c = Decode[static_cast<std::size_t>(b)];
            if (!Mapped[c]) {
                Encode[c] = static_cast<std::uint8_t>(b);
                Mapped[c] = true;
            }
        }
    }
};

const TCodePage& CodePage()
{
    static const TCodePage page;
    return page;
}

} // namespace

QString FromCp1251(QByteArrayView Bytes)
{
    const TCodePage& page = CodePage();
    QString text(Bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < Bytes.size(); ++i)
        out[i] = page.Decode[static_cast<std::uint8_t>(Bytes[i])];
    return text;
}

QByteArray ToCp1251(QStringView Text, bool* Exact)
{
    const TCodePage& page = CodePage();
    QByteArray bytes;
    bytes.reserve(Text.size());
    bool exact = true;
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char16_t c = Text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < Text.size() && QChar::isLowSurrogate(Text[i + 1].unicode()))
            ++i; // one character outside the code page, one byte
        if (page.Mapped[c]) {
            bytes.append(static_cast<char>(page.Encode[c]));
        } else {
            bytes.append('?');
            exact = false;
        }
    }
    if (Exact)
        *Exact = exact;
    return bytes;
}

std::string Utf8ToCp1251(std::string_view Utf8, bool* Exact)
{
    return ToCp1251(QString::fromUtf8(Utf8.data(), static_cast<qsizetype>(Utf8.size())), Exact)
        .toStdString();
}

std::string Cp1251ToUtf8(std::string_view Bytes, bool* Exact)
{
    if (Exact)
        *Exact = true;
    return FromCp1251(QByteArrayView(Bytes.data(), static_cast<qsizetype>(Bytes.size())))
        .toStdString();
}
