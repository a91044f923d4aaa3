#include "GoodsCsv.h"

#include "Cp1251.h"
#include "TextRules.h"

#include <algorithm>

namespace {

constexpr qint64 kReadChunk = 64 * 1024;
// Texts taken from a file into a message or a journal line are cut to this,
// so that a megabyte of garbage makes a short line.
constexpr qsizetype kShownText = 64;

QString Shown(QStringView Text)
{
    if (Text.size() <= kShownText)
        return Text.toString();
    return Text.left(kShownText).toString() + QStringLiteral("...");
}

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A decimal number with "." as separator: sign, digits, an optional point
// with digits after it; at least one digit.
bool IsDecimalNumber(QStringView Text, double* Value)
{
    qsizetype i = 0;
    if (i < Text.size() && (Text[i] == u'+' || Text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    for (; i < Text.size() && IsDigit(Text[i]); ++i)
        ++digits;
    if (i < Text.size() && Text[i] == u'.')
        for (++i; i < Text.size() && IsDigit(Text[i]); ++i)
            ++digits;
    if (digits == 0 || i != Text.size())
        return false;
    if (Value)
        *Value = Text.toString().toDouble();
    return true;
}

bool IsBlankChar(QChar c)
{
    return c.unicode() <= 0x20;
}

} // namespace

TCsvLineReader::TCsvLineReader(QIODevice& Device) : device_(Device) {}

bool TCsvLineReader::Fill()
{
    if (end_)
        return false;
    // Keep only the unread part, so a long file never piles up in memory.
    if (pos_ > 0) {
        buffer_.remove(0, pos_);
        scan_ -= pos_;
        pos_ = 0;
    }
    const qsizetype had = buffer_.size();
    buffer_.resize(had + kReadChunk);
    const qint64 got = device_.read(buffer_.data() + had, kReadChunk);
    buffer_.resize(had + (got > 0 ? got : 0));
    if (got < 0) {
        failed_ = true;
        error_ = device_.errorString();
    }
    if (got <= 0)
        end_ = true;
    return got > 0;
}

bool TCsvLineReader::ReadLine(QString& Line)
{
    for (;;) {
        if (failed_)
            return false;
        const qsizetype lf = buffer_.indexOf('\n', scan_);
        if (lf >= 0) {
            TakeLine(Line, lf, lf + 1);
            return true;
        }
        // Only the bytes that arrive next need to be searched.
        scan_ = buffer_.size();
        if (!Fill()) {
            if (failed_ || pos_ >= buffer_.size())
                return false;
            TakeLine(Line, buffer_.size(), buffer_.size()); // the last line, without an end
            return true;
        }
    }
}

void TCsvLineReader::TakeLine(QString& Line, qsizetype End, qsizetype Next)
{
    if (End > pos_ && buffer_.at(End - 1) == '\r')
        --End;
    Line = FromCp1251(QByteArrayView(buffer_).sliced(pos_, End - pos_));
    pos_ = Next;
    scan_ = Next;
}

QByteArray FormatCsvLine(const QStringList& Fields)
{
    QByteArray line;
    for (qsizetype i = 0; i < Fields.size(); ++i) {
        if (i > 0)
            line.append(';');
        line.append(ToCp1251(Fields.at(i)));
    }
    line.append("\r\n");
    return line;
}

QByteArray FormatGoodsCsvLine(const TGoodsRow& Row)
{
    return FormatCsvLine(QStringList(Row.begin(), Row.end()));
}

bool WriteCsvLine(QIODevice& Device, const QByteArray& Line, QString& Error)
{
    // A short write is no error yet: a full disk takes what fits and fails
    // only the next write, which then says why.
    qint64 done = 0;
    while (done < Line.size()) {
        const qint64 wrote = Device.write(Line.constData() + done, Line.size() - done);
        if (wrote <= 0) {
            Error = wrote < 0 ? Device.errorString() : QString();
            if (Error.isEmpty())
                Error = QStringLiteral("Не удалось записать файл");
            return false;
        }
        done += wrote;
    }
    return true;
}

bool CheckImportField(int Column, QString& Field, QString& Message)
{
    const qsizetype comma = Field.indexOf(u',');
    if (comma >= 0)
        Field[comma] = u'.';
    switch (Column) {
    case 3: {
        if (Field.isEmpty())
            Field = QStringLiteral("0");
        double value = 0;
        if (!IsDecimalNumber(Field, &value)) {
            Message = QStringLiteral("Номер отдела имеет неправильный тип!");
            return false;
        }
        if (value > 16) {
            Message = QStringLiteral("Номер отдела не может иметь значение больше 16!");
            return false;
        }
        return true;
    }
    case 4:
        if (Field.isEmpty())
            Field = QStringLiteral("0.00");
        if (!IsDecimalNumber(Field, nullptr)) {
            Message = QStringLiteral("Цена имеет неправильный тип!");
            return false;
        }
        return true;
    case 5:
        if (Field.isEmpty())
            Field = GoodsNo;
        if (Field != GoodsYes && Field != GoodsNo) {
            Message = QStringLiteral("Поле \"Дробное\" должно принимать значение - \"ДА\" или \"НЕТ\"");
            return false;
        }
        return true;
    case 6:
        if (Field.isEmpty())
            Field = QStringLiteral("0");
        return true;
    case 7:
        Field = QStringLiteral("0");
        return true;
    default:
        return true;
    }
}

TImportLine ParseImportLine(QStringView Line)
{
    TImportLine out;
    const qsizetype firstSemi = Line.indexOf(u';');
    // A line without ";" has no item number.
    const QStringView itemText = firstSemi < 0 ? QStringView() : Line.left(firstSemi);
    std::int64_t item = 0;
    if (TryStrToInt64(itemText, item)) {
        out.ItemText = QString::number(item);
    } else {
        // All digits but too long for a number: still a number outside the range.
        QStringView digits = itemText;
        const bool negative = !digits.isEmpty() && digits[0] == u'-';
        if (!digits.isEmpty() && (digits[0] == u'+' || digits[0] == u'-'))
            digits = digits.mid(1);
        const bool allDigits = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), IsDigit);
        if (!allDigits) {
            out.Status = TImportStatus::NotAnInteger;
            out.Message = NotAnIntegerText(Shown(itemText));
            return out;
        }
        while (digits.size() > 1 && digits[0] == u'0')
            digits = digits.mid(1);
        out.ItemText = Shown((negative ? QStringLiteral("-") : QString()) + digits.toString());
        item = -1;
    }
    if (item < 1 || item > GoodsItemCount) {
        out.Status = TImportStatus::ItemOutOfRange;
        return out;
    }
    out.Item = static_cast<int>(item);

    // rest is Line[pos, end): after each ";" it loses the blanks and control
    // characters at both ends; its end is the line's trimmed end throughout.
    qsizetype end = Line.size();
    while (end > 0 && IsBlankChar(Line[end - 1]))
        --end;
    qsizetype pos = 0;
    qsizetype semi = firstSemi;
    int column = 0;
    while (semi >= 0 && semi < end) {
        if (column > 0) {
            QString field = Line.mid(pos, semi - pos).toString();
            if (!CheckImportField(column, field, out.Message)) {
                out.Status = TImportStatus::FieldRejected;
                return out;
            }
            out.Cells.emplace_back(column, std::move(field));
        }
        pos = semi + 1;
        while (pos < end && IsBlankChar(Line[pos]))
            ++pos;
        ++column;
        // Beyond the grid's last column nothing can fail or be shown.
        if (column >= GoodsCsvColumns)
            return out;
        semi = Line.indexOf(u';', pos);
    }
    out.Cells.emplace_back(column, pos < end ? Line.mid(pos, end - pos).toString() : QString());
    return out;
}

QString ImportErrorLine(const TImportLine& Line)
{
    return QStringLiteral("Ошибка в записи № ") + Line.ItemText;
}
