#include "Cp1251.h"

#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace kkm::emu {

std::string ToCp1251(std::string_view utf8, bool* exact)
{
    QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
    const QByteArray bytes =
        encoder.encode(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    if (exact)
        *exact = encoder.isValid() && !encoder.hasError();
    return bytes.toStdString();
}

std::string FromCp1251(std::string_view bytes, bool* exact)
{
    QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
    const QString text =
        decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (exact)
        *exact = decoder.isValid() && !decoder.hasError();
    return text.toStdString();
}

} // namespace kkm::emu
