#include "SettingsCodecs.h"

#include "Cp1251.h"
#include "SettingsMap.h"
#include "TextRules.h"

#include <algorithm>

bool PackBCD(int First, int Last, TArrayOfByte& Buffer, std::int64_t Value)
{
    if (First < 0 || First > Last || Last >= static_cast<int>(Buffer.size()) || Last - First > 6)
        return false;
    // A negative value has no packed form; storing nothing keeps the field
    // as it was rather than putting nibbles above 9 into it.
    if (Value < 0 || Value > 99'999'999'999'999)
        return false;
    std::int64_t pairs[7];
    std::int64_t rest = Value;
    for (int k = 0; k < 6; ++k) {
        pairs[k] = rest % 100;
        rest /= 100;
    }
    pairs[6] = rest;
    for (int i = First; i <= Last; ++i) {
        const std::int64_t pair = pairs[Last - i];
        Buffer[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(pair / 10 * 16 + pair % 10);
    }
    return true;
}

QString HexDigits(TBytes Bytes)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(Bytes.size() * 2));
    for (std::uint8_t b : Bytes) {
        text.append(QChar(digits[b >> 4]));
        text.append(QChar(digits[b & 0x0F]));
    }
    return text;
}

namespace {

QString RemoveLeadingZeros(QString Text, qsizetype Keep)
{
    qsizetype n = 0;
    while (n < Text.size() - Keep && Text.at(n) == u'0')
        ++n;
    return Text.mid(n);
}

// One leading "0" off, the way the short BCD fields are shown.
QString RemoveOneZero(QString Text)
{
    if (Text.size() > 1 && Text.at(0) == u'0')
        Text.remove(0, 1);
    return Text;
}

bool IsBlank(const QString& Text)
{
    return TrimText(Text).isEmpty();
}

std::int64_t PowerOf10(int Digits)
{
    std::int64_t p = 1;
    for (int i = 0; i < Digits; ++i)
        p *= 10;
    return p;
}

bool ParseInteger(const QString& Text, std::int64_t& Value, QString& Error)
{
    if (TryStrToInt64(Text, Value))
        return true;
    Error = NotAnIntegerText(Text);
    return false;
}

// The packed form of Value over the whole field. A value whose digits would
// not all fit (or a negative one) is refused: sending zeros or a cut number
// instead would change the register's setting behind the user's back.
bool PackField(const QString& Shown, std::int64_t Value, TArrayOfByte& Bytes, QString& Error)
{
    const int size = static_cast<int>(Bytes.size());
    const std::int64_t limit = PowerOf10(2 * size);
    if (Value < 0 || Value >= limit) {
        Error = QStringLiteral("'%1' вне допустимого диапазона 0..%2").arg(Shown).arg(limit - 1);
        return false;
    }
    return PackBCD(0, size - 1, Bytes, Value);
}

QString DecodeText(TBytes Bytes)
{
    QString text = FromCp1251(QByteArrayView(Bytes.data(), static_cast<qsizetype>(Bytes.size())));
    // The register pads with spaces; a zero byte is shown as one too, so
    // that edits and exported lines never carry control characters.
    text.replace(QChar(u'\0'), QChar(u' '));
    return text;
}

void EncodeText(const QString& Text, TArrayOfByte& Bytes)
{
    const QByteArray bytes = ToCp1251(Text);
    for (std::size_t i = 0; i < Bytes.size(); ++i)
        Bytes[i] = i < static_cast<std::size_t>(bytes.size()) ? static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(i)])
                                                              : std::uint8_t{0x20};
}

std::uint32_t ItemMask(const TTableField& Field)
{
    const auto n = std::min<qsizetype>(Field.Items.size(), 8);
    return (1u << n) - 1u;
}

// The bytes a decoder looks at: the two-byte masks and the rights keep
// their value in the first byte.
int BytesRead(const TTableField& Field)
{
    switch (Field.Encoding) {
    case TEncoding::BitMask:
    case TEncoding::OperatorRights:
        return 1;
    default:
        return Field.Size;
    }
}

bool ShortAnswer(const TTableField& Field, std::size_t Have, int Need, QString& Error)
{
    if (Have >= static_cast<std::size_t>(Need))
        return false;
    Error = QStringLiteral("Ответ ККМ для %1 короче ожидаемого: %2 байт вместо %3")
                .arg(Field.Control)
                .arg(Have)
                .arg(Need);
    return true;
}

} // namespace

QString GoodsPriceText(TBytes Bytes)
{
    if (Bytes.size() < 5)
        return QString();
    QString text = HexDigits(Bytes.first(4)) + u'.' + HexDigits(Bytes.subspan(4, 1));
    text = RemoveLeadingZeros(text, 0);
    if (text.startsWith(u'.'))
        text.prepend(u'0');
    return text;
}

bool NormaliseGoodsPrice(const QString& Cell, std::int64_t& Hundredths, QString& Error)
{
    QString text = IsBlank(Cell) ? QStringLiteral("0.00") : Cell;
    if (text == QStringLiteral("."))
        text = QStringLiteral("0.00");
    const qsizetype point = text.indexOf(u'.');
    if (point < 0) {
        text += QStringLiteral(".00");
    } else if (point == text.size() - 1) {
        text += QStringLiteral("00");
    } else if (point == text.size() - 2) {
        text += u'0';
    } else if (point < text.size() - 3) {
        // Taking the digits as hundredths would multiply the price.
        Error = QStringLiteral("'%1': в цене больше двух знаков после точки").arg(Cell);
        return false;
    }
    text.remove(u'.');
    std::int64_t value = 0;
    if (!TryStrToInt64(text, value)) {
        Error = NotAnIntegerText(text);
        return false;
    }
    Hundredths = value;
    return true;
}

QString GoodsSalesText(TCurrency Quantity)
{
    return QString::fromStdString(Quantity.ToShortString());
}

bool DecodeField(const TTableField& Field, TBytes Bytes, TControlValue& Value, QString& Error)
{
    if (ShortAnswer(Field, Bytes.size(), BytesRead(Field), Error))
        return false;
    const TBytes bytes = Bytes.first(static_cast<std::size_t>(BytesRead(Field)));
    TControlValue v;
    switch (Field.Encoding) {
    case TEncoding::Text:
    case TEncoding::TrimmedText:
        v.Text = DecodeText(bytes);
        break;
    case TEncoding::ListIndex:
        v.Index = bytes[0] < Field.Items.size() ? bytes[0] : -1;
        break;
    case TEncoding::BitMask:
        v.Bits = bytes[0] & ItemMask(Field);
        break;
    case TEncoding::Flag:
        v.Checked = bytes[0] != 0;
        break;
    case TEncoding::DecimalByte:
        v.Text = QString::number(bytes[0]);
        break;
    case TEncoding::BcdNoZeros:
        v.Text = RemoveLeadingZeros(HexDigits(bytes), 1);
        break;
    case TEncoding::BcdOneZero:
        v.Text = RemoveOneZero(HexDigits(bytes));
        break;
    case TEncoding::Inn:
        v.Text = HexDigits(bytes);
        if (v.Text.startsWith(QStringLiteral("FF")))
            v.Text.clear();
        break;
    case TEncoding::DiscountValue:
        for (std::uint8_t b : bytes)
            v.Text += QString::number(b);
        break;
    case TEncoding::TaxRate:
        v.Text = RemoveOneZero(HexDigits(bytes.first(1)) + u'.' + HexDigits(bytes.subspan(1, 1)));
        break;
    case TEncoding::Sphere:
        v.Index = bytes[0] == 1 ? 1 : 0;
        v.Text = QString::number(v.Index);
        break;
    case TEncoding::LineAttributes:
        v.Bits = bytes[0] >= 1 && bytes[0] <= 7 ? bytes[0] : 0;
        break;
    case TEncoding::GoodsBarcode:
        v.Text = HexDigits(bytes).mid(1);
        break;
    case TEncoding::GoodsPrice:
        v.Text = GoodsPriceText(bytes);
        break;
    case TEncoding::GoodsFractional:
        v.Text = bytes[0] == 1 ? GoodsYes : GoodsNo;
        break;
    case TEncoding::OperatorRights:
        v.Text = QString::number(bytes[0]);
        v.Bits = bytes[0] & 0x7Fu;
        break;
    }
    Value = std::move(v);
    return true;
}

bool EncodeField(const TTableField& Field, TControlValue& Value, TArrayOfByte& Bytes, QString& Error,
                 bool* Filled)
{
    if (Filled)
        *Filled = false;
    if (!Field.EmptyDefault.isNull() && IsBlank(Value.Text)
        && (Field.Kind == TControlKind::Edit || InGrid(Field.Kind))) {
        Value.Text = Field.EmptyDefault;
        if (Filled)
            *Filled = true;
    }
    TArrayOfByte bytes(static_cast<std::size_t>(Field.Size), 0);
    std::int64_t number = 0;
    switch (Field.Encoding) {
    case TEncoding::Text:
        EncodeText(Value.Text, bytes);
        break;
    case TEncoding::TrimmedText:
        EncodeText(TrimText(Value.Text), bytes);
        break;
    case TEncoding::ListIndex:
        bytes[0] = Value.Index >= 0 && Value.Index < Field.Items.size() ? static_cast<std::uint8_t>(Value.Index)
                                                                        : std::uint8_t{255};
        break;
    case TEncoding::BitMask:
        bytes[0] = static_cast<std::uint8_t>(Value.Bits & ItemMask(Field));
        break;
    case TEncoding::Flag:
        bytes[0] = Value.Checked ? 1 : 0;
        break;
    case TEncoding::DecimalByte:
        if (!ParseInteger(Value.Text, number, Error))
            return false;
        bytes[0] = static_cast<std::uint8_t>(number & 0xFF);
        break;
    case TEncoding::BcdNoZeros:
    case TEncoding::BcdOneZero:
    case TEncoding::GoodsBarcode:
        if (!ParseInteger(Value.Text, number, Error) || !PackField(Value.Text, number, bytes, Error))
            return false;
        break;
    case TEncoding::Inn: {
        const int digits = 2 * Field.Size;
        if (Value.Text.size() < digits) {
            Value.Text = QString(digits - Value.Text.size(), u'0') + Value.Text;
            if (Filled)
                *Filled = true;
        }
        if (!ParseInteger(Value.Text, number, Error) || !PackField(Value.Text, number, bytes, Error))
            return false;
        break;
    }
    case TEncoding::Sphere:
        bytes[0] = Value.Index == 1 ? 1 : 0;
        break;
    case TEncoding::LineAttributes:
        PackBCD(0, 0, bytes, Value.Bits & 7u);
        break;
    case TEncoding::GoodsPrice:
        if (!NormaliseGoodsPrice(Value.Text, number, Error) || !PackField(Value.Text, number, bytes, Error))
            return false;
        break;
    case TEncoding::GoodsFractional:
        PackBCD(0, 0, bytes, Value.Text == GoodsYes ? 1 : 0);
        break;
    case TEncoding::OperatorRights:
        if (!ParseInteger(Value.Text, number, Error))
            return false;
        bytes[0] = static_cast<std::uint8_t>(number & 0xFF);
        break;
    case TEncoding::DiscountValue:
    case TEncoding::TaxRate:
        // Shown only: the text does not say how many digits each byte had.
        Error = QStringLiteral("Поле %1 не записывается в ККМ").arg(Field.Control);
        return false;
    }
    Bytes = std::move(bytes);
    return true;
}
