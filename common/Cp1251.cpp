#include "Cp1251.h"

#include <array>
#include <cstdint>

namespace {

// The upper half of the code page, 0x80 to 0xBF; 0xC0 to 0xFF are А to я in
// order. Kept here rather than asked of Qt: Qt finds the code page through
// ICU, which its Windows build lacks. 0x98, which the code page leaves
// free, stands for U+0098.
constexpr std::array<char16_t, 64> UpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// Both directions as tables built once: a lookup per character, exactly one
// character per byte, and no converter state that could swallow or merge
// bytes.
struct TCodePage {
    std::array<char16_t, 256> Decode{};
    std::array<std::uint8_t, 0x10000> Encode{};
    std::array<bool, 0x10000> Mapped{};

    TCodePage()
    {
        for (int b = 0; b < 256; ++b) {
            char16_t c = static_cast<char16_t>(b);
            if (b >= 0xC0)
                c = static_cast<char16_t>(0x0410 + (b - 0xC0));
            else if (b >= 0x80)
                c = UpperHalf[static_cast<std::size_t>(b - 0x80)];
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
