#include "SettingsMap.h"

#include <algorithm>

namespace {

using K = TControlKind;
using E = TEncoding;

const QStringList kNoYes = {QStringLiteral("НЕТ"), QStringLiteral("ДА")};
const QStringList kSpeeds = {QStringLiteral("Отключено"), QStringLiteral("1200"), QStringLiteral("2400"),
                             QStringLiteral("4800"),      QStringLiteral("9600"), QStringLiteral("19200"),
                             QStringLiteral("38400"),     QStringLiteral("57600"), QStringLiteral("115200")};
const QStringList kAttributes = {QStringLiteral("По ширине"), QStringLiteral("По высоте"),
                                 QStringLiteral("Утолщенный")};

TFieldSpec F(int Record, int Field, int Offset, int Size, const QString& Control, K Kind, E Encoding,
             QStringList Items = {}, QString EmptyDefault = {})
{
    TFieldSpec f;
    f.Record = Record;
    f.Field = Field;
    f.Offset = Offset;
    f.Size = Size;
    f.Control = Control;
    f.Kind = Kind;
    f.Encoding = Encoding;
    f.Items = std::move(Items);
    f.EmptyDefault = std::move(EmptyDefault);
    return f;
}

TFieldSpec Cell(int Record, int Field, int Offset, int Size, const QString& Grid, int Column, E Encoding,
                QStringList Items = {}, QString EmptyDefault = {})
{
    TFieldSpec f = F(Record, Field, Offset, Size, Grid, K::GridCell, Encoding, std::move(Items),
                     std::move(EmptyDefault));
    f.Column = Column;
    return f;
}

QString N(const char* Name, int n)
{
    return QString::fromLatin1(Name) + QString::number(n);
}

TTableSpec Table(int Table, const char* Page, int SubPage, int Last, int RecordSize, TReadKind Read,
                 TWriteKind Write, const QString& ReadStart, const QString& ReadDone)
{
    TTableSpec t;
    t.Table = Table;
    t.Page = QString::fromLatin1(Page);
    t.SubPage = SubPage;
    t.FirstRecord = 1;
    t.LastRecord = Last;
    t.RecordSize = RecordSize;
    t.Read = Read;
    t.Write = Write;
    t.ReadStartLine = ReadStart;
    t.ReadDoneLine = ReadDone;
    return t;
}

TTableSpec Options()
{
    TTableSpec t = Table(2, "ts_KKMMainOptions", 0, 1, 16, TReadKind::Fields, TWriteKind::Records,
                         QStringLiteral("Чтение настроек ККМ ..."), QStringLiteral("Чтение настроек ККМ Завершено."));
    t.WriteStartLine = QStringLiteral("Запись опций ККМ ...");
    t.WriteDoneLine = QStringLiteral("Запись опций ККМ завершена.");
    t.Fields = {
        F(1, 1, 0, 2, QStringLiteral("cb_RegOptions"), K::CheckedList, E::BitMask,
          {QStringLiteral("Продажа по коду"), QStringLiteral("Свободная цена"), QStringLiteral("Своб. цена товара"),
           QStringLiteral("Свободные скидки"), QStringLiteral("Контрол. дробное")}),
        F(1, 2, 2, 1, QStringLiteral("cb_MoneyBoxList"), K::List, E::ListIndex,
          {QStringLiteral("Выкл."), QStringLiteral("6 В"), QStringLiteral("12 В")}),
        F(1, 3, 3, 2, QStringLiteral("cb_zOptions"), K::CheckedList, E::BitMask,
          {QStringLiteral("Отчет по отделам"), QStringLiteral("Отч. по кассирам"), QStringLiteral("Отчет по налогам"),
           QStringLiteral("Инкасация")}),
        F(1, 4, 5, 1, QStringLiteral("cb_Kassir"), K::List, E::ListIndex,
          {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
           QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7")}),
        F(1, 5, 6, 2, QStringLiteral("ed_ScreenDelay"), K::Edit, E::BcdNoZeros, {}, QStringLiteral("5")),
        F(1, 6, 8, 1, QStringLiteral("ed_AutoLock"), K::Edit, E::BcdOneZero, {}, QStringLiteral("0")),
        F(1, 7, 9, 1, QStringLiteral("cb_WritingJournal"), K::List, E::ListIndex, kNoYes),
        F(1, 8, 10, 6, QStringLiteral("ed_INN"), K::Edit, E::Inn),
    };
    return t;
}

TTableSpec PrintOptions()
{
    TTableSpec t = Table(3, "ts_KKMPrintOpt", 1, 1, 8, TReadKind::Fields, TWriteKind::Records,
                         QStringLiteral("Чтение настроек печати ..."),
                         QStringLiteral("Чтение настроек печати завершено."));
    t.WriteStartLine = QStringLiteral("Запись настроек печати ...");
    t.WriteDoneLine = QStringLiteral("Запись настроек печати завершена.");
    t.Fields = {
        F(1, 1, 0, 1, QStringLiteral("ed_PoContrast"), K::Edit, E::DecimalByte, {}, QStringLiteral("2")),
        F(1, 2, 1, 1, QStringLiteral("ed_PoStringInterval"), K::Edit, E::DecimalByte, {}, QStringLiteral("2")),
        F(1, 3, 2, 1, QStringLiteral("cb_PoEconFont"), K::List, E::ListIndex, kNoYes),
        F(1, 4, 3, 1, QStringLiteral("cb_PoDocSep"), K::List, E::ListIndex, kNoYes),
        F(1, 5, 4, 2, QStringLiteral("cb_PoObraml"), K::CheckedList, E::BitMask,
          {QStringLiteral("Изображение заголовка"), QStringLiteral("Строки  заголовка"),
           QStringLiteral("Реквизиты кассира"), QStringLiteral("Место подписи"),
           QStringLiteral("Изображение окончания"), QStringLiteral("Строки окончания")}),
        F(1, 6, 6, 2, QStringLiteral("cb_PoCheck"), K::CheckedList, E::BitMask,
          {QStringLiteral("Названия отделов"), QStringLiteral("Номера отделов"), QStringLiteral("Названия товаров"),
           QStringLiteral("Коды товаров"), QStringLiteral("Единичное кол-во"), QStringLiteral("Печать налогов"),
           QStringLiteral("Выделять ИТОГ")}),
    };
    return t;
}

TTableSpec TextLines()
{
    TTableSpec t = Table(4, "ts_KKMReklama", 2, 9, 33, TReadKind::Records, TWriteKind::Records,
                         QStringLiteral("Чтение рекламных строк ..."),
                         QStringLiteral("Чтение рекламных строк закончено."));
    t.WriteStartLine = QStringLiteral("Запись рекламных строк ...");
    t.WriteDoneLine = QStringLiteral("Запись рекламных строк завершена.");
    static const char* const lines[9][2] = {
        {"ed_CheckBeginFirst", "cb_CheckBeginfirstc"},   {"ed_CheckBeginSecond", "cb_CheckBeginSecondc"},
        {"ed_CheckBeginThird", "cb_CheckBeginThirdc"},   {"ed_CheckTop", "cb_checkTopc"},
        {"ed_CheckEndFirst", "cb_CheckEndFirstc"},       {"ed_CheckEndSecond", "cb_CheckEndSecondc"},
        {"ed_CheckEndThird", "cb_CheckEndThirdc"},       {"ed_BuyDisplayFirst", "cb_BuyDisplayFirstc"},
        {"ed_BuyDisplaySecond", "cb_BuyDisplaySecondc"},
    };
    for (int n = 1; n <= 9; ++n) {
        t.Fields.push_back(F(n, 1, 0, 32, QString::fromLatin1(lines[n - 1][0]), K::Edit, E::Text));
        t.Fields.push_back(
            F(n, 2, 32, 1, QString::fromLatin1(lines[n - 1][1]), K::CheckedList, E::LineAttributes, kAttributes));
    }
    return t;
}

TTableSpec Discounts()
{
    TTableSpec t = Table(5, "ts_KKMDiscounts", 3, 8, 24, TReadKind::Records, TWriteKind::Never,
                         QStringLiteral("Чтение скидок / наценок ..."),
                         QStringLiteral("Чтение скидок / наценок завершено."));
    for (int n = 1; n <= 8; ++n) {
        t.Fields.push_back(F(n, 1, 0, 5, N("ed_DscValue", n), K::Edit, E::DiscountValue));
        t.Fields.push_back(F(n, 2, 5, 16, N("ed_DscName", n), K::Edit, E::Text));
        t.Fields.push_back(F(n, 3, 21, 1, N("cb_DscType", n), K::List, E::ListIndex,
                             {QStringLiteral("Скидка"), QStringLiteral("Наценка")}));
        t.Fields.push_back(F(n, 4, 22, 1, N("cb_DscSummType", n), K::List, E::ListIndex,
                             {QStringLiteral("Процентная"), QStringLiteral("Суммовая")}));
        t.Fields.push_back(F(n, 5, 23, 1, N("cb_DscAuth", n), K::CheckBox, E::Flag));
    }
    return t;
}

TTableSpec Taxes()
{
    TTableSpec t = Table(6, "ts_Taxes", 4, 4, 7, TReadKind::Records, TWriteKind::Never,
                         QStringLiteral("Чтение налогов ..."), QStringLiteral("Чтение налогов завершено."));
    for (int n = 1; n <= 4; ++n) {
        t.Fields.push_back(F(n, 1, 0, 5, N("ed_txName", n), K::Edit, E::Text));
        t.Fields.push_back(F(n, 2, 5, 2, N("ed_txValue", n), K::Edit, E::TaxRate));
    }
    return t;
}

TTableSpec Sections()
{
    TTableSpec t = Table(7, "ts_Sections", 5, 16, 14, TReadKind::Records, TWriteKind::Never,
                         QStringLiteral("Чтение таблицы отделов ..."),
                         QStringLiteral("Чтение таблицы отделов завершено"));
    const QString grid = QStringLiteral("SectionsSettings");
    for (int n = 1; n <= 16; ++n) {
        t.Fields.push_back(Cell(n, 1, 0, 11, grid, 1, E::Text));
        t.Fields.push_back(Cell(n, 2, 11, 1, grid, 2, E::DecimalByte));
        t.Fields.push_back(Cell(n, 3, 12, 1, grid, 3, E::DecimalByte));
        t.Fields.push_back(Cell(n, 4, 13, 1, grid, 4, E::Sphere, {QStringLiteral("Торговля"), QStringLiteral("Услуги")}));
    }
    return t;
}

TTableSpec Devices()
{
    TTableSpec t = Table(8, "ts_Devices", 6, 3, 3, TReadKind::Records, TWriteKind::Never,
                         QStringLiteral("Чтение таблицы устройсв ..."),
                         QStringLiteral("Чтение таблицы устройсв завершено."));
    t.Fields = {
        F(1, 1, 0, 1, QStringLiteral("cb_BarcodeSpeed"), K::List, E::ListIndex, kSpeeds),
        F(2, 1, 0, 1, QStringLiteral("cb_ElectronicScaleSpeed"), K::List, E::ListIndex, kSpeeds),
        F(2, 2, 1, 1, QStringLiteral("cb_ElectronicScaleProtocol"), K::List, E::ListIndex,
          {QStringLiteral("Штрих - 5"), QStringLiteral("Масса - 1"), QStringLiteral("Масса - 2")}),
        F(2, 3, 2, 1, QStringLiteral("cb_ElecticScalesInterface"), K::List, E::ListIndex,
          {QStringLiteral("RS232"), QStringLiteral("Токовая петля")}),
        F(3, 1, 0, 1, QStringLiteral("cb_PCSpeed"), K::List, E::ListIndex, kSpeeds),
    };
    return t;
}

TTableSpec Operators()
{
    TTableSpec t = Table(9, "ts_Operators", 7, 7, 69, TReadKind::Records, TWriteKind::Fields,
                         QStringLiteral("Чтение таблицы операторов ..."),
                         QStringLiteral("Чтение таблицы операторов завершено."));
    t.WriteStartLine = QStringLiteral("Запись таблицы операторов ...");
    t.WriteDoneLine = QStringLiteral("Запись таблицы операторов завершена.");
    const QString grid = QStringLiteral("Operators");
    const QStringList rights = {QStringLiteral("продажа"),  QStringLiteral("возврат"),  QStringLiteral("Скидки/наценки"),
                                QStringLiteral("Доп. оплаты"), QStringLiteral("x-отчеты"), QStringLiteral("z-отчеты"),
                                QStringLiteral("программирование")};
    for (int n = 1; n <= 7; ++n) {
        // Set and written in this order: post, full name, rights.
        TFieldSpec post = Cell(n, 2, 32, 32, grid, 0, E::TrimmedText);
        post.WriteErrorLine = QStringLiteral("Ошибка записи должности оператора ");
        TFieldSpec name = Cell(n, 1, 0, 32, grid, 1, E::Text);
        name.WriteErrorLine = QStringLiteral("Ошибка записи ФИО оператора ");
        TFieldSpec access = Cell(n, 4, 67, 2, grid, 2, E::OperatorRights, rights);
        access.WriteErrorLine = QStringLiteral("Ошибка записи прав доступа оператора ");
        t.Fields.push_back(std::move(post));
        t.Fields.push_back(std::move(name));
        t.Fields.push_back(std::move(access));
    }
    return t;
}

TTableSpec PayTypes()
{
    TTableSpec t = Table(10, "ts_PayTypes", 8, 3, 13, TReadKind::Records, TWriteKind::Never,
                         QStringLiteral("Чтение типов оплаты ..."), QStringLiteral("Чтение типов оплаты завершено."));
    for (int n = 1; n <= 3; ++n) {
        t.Fields.push_back(F(n, 1, 0, 12, N("ed_PayType", n), K::Edit, E::Text));
        t.Fields.push_back(F(n, 2, 12, 1, N("cb_PayType", n), K::CheckBox, E::Flag));
    }
    return t;
}

TTableSpec Goods()
{
    TTableSpec t = Table(1, "ts_Goods", -1, GoodsItemCount, 46, TReadKind::Records, TWriteKind::Records,
                         QStringLiteral("Чтение списка товаров ..."),
                         QStringLiteral("Чтение списка товаров завершено."));
    t.WriteStartLine = QStringLiteral("Запись списка товаров ...");
    t.WriteDoneLine = QStringLiteral("Запись списка товаров завершена.");
    const QString grid = QStringLiteral("Goods");
    t.Fields = {
        Cell(0, 1, 0, 32, grid, 1, E::Text),
        Cell(0, 2, 32, 7, grid, 2, E::GoodsBarcode, {}, QStringLiteral("0000000000000")),
        Cell(0, 3, 39, 1, grid, 3, E::DecimalByte, {}, QStringLiteral("0")),
        Cell(0, 4, 40, 5, grid, 4, E::GoodsPrice, {}, QStringLiteral("0.00")),
        Cell(0, 5, 45, 1, grid, 5, E::GoodsFractional, {}, GoodsYes),
    };
    return t;
}

bool FieldOfRecord(const TFieldSpec& Field, int Record)
{
    return Field.Record == Record || Field.Record == 0;
}

} // namespace

const std::vector<TTableSpec>& SettingsTables()
{
    static const std::vector<TTableSpec> tables = {Options(), PrintOptions(), TextLines(), Discounts(), Taxes(),
                                                   Sections(), Devices(), Operators(), PayTypes()};
    return tables;
}

const TTableSpec& GoodsTable()
{
    static const TTableSpec goods = Goods();
    return goods;
}

const TTableSpec* FindTable(int Table)
{
    if (Table == 1)
        return &GoodsTable();
    for (const TTableSpec& t : SettingsTables())
        if (t.Table == Table)
            return &t;
    return nullptr;
}

const TFieldSpec* FindField(QStringView Control, int Column, int Record)
{
    auto match = [&](const TTableSpec& t) -> const TFieldSpec* {
        for (const TFieldSpec& f : t.Fields)
            if (f.Control == Control && f.Column == Column && (Record < 0 || FieldOfRecord(f, Record)))
                return &f;
        return nullptr;
    };
    for (const TTableSpec& t : SettingsTables())
        if (const TFieldSpec* f = match(t))
            return f;
    return match(GoodsTable());
}

std::vector<TFieldValue> RecordValues(const TTableSpec& Table, int Record)
{
    std::vector<TFieldValue> values;
    for (const TFieldSpec& f : Table.Fields) {
        if (!FieldOfRecord(f, Record))
            continue;
        TFieldValue v;
        v.Field = &f;
        v.Row = f.Kind == TControlKind::GridCell ? Record : -1;
        values.push_back(std::move(v));
    }
    return values;
}

bool DecodeRecord(const TTableSpec& Table, int Record, TBytes Bytes, std::vector<TFieldValue>& Values,
                  QString& Error)
{
    std::vector<TFieldValue> values = RecordValues(Table, Record);
    for (TFieldValue& v : values) {
        const TFieldSpec& f = *v.Field;
        const std::size_t offset = static_cast<std::size_t>(f.Offset);
        const TBytes field = offset <= Bytes.size() ? Bytes.subspan(offset) : TBytes();
        if (!DecodeField(f, field.first(std::min(field.size(), static_cast<std::size_t>(f.Size))), v.Value, Error)) {
            if (field.size() < static_cast<std::size_t>(f.Size))
                Error = QStringLiteral("Ответ ККМ короче записи %1 таблицы %2: %3 байт")
                            .arg(Record)
                            .arg(Table.Table)
                            .arg(Bytes.size());
            return false;
        }
    }
    Values = std::move(values);
    return true;
}

bool EncodeRecord(const TTableSpec& Table, int Record, std::vector<TFieldValue>& Values, TArrayOfByte& Bytes,
                  QString& Error)
{
    TArrayOfByte record(static_cast<std::size_t>(Table.RecordSize), 0);
    for (TFieldValue& v : Values) {
        if (!v.Field || !FieldOfRecord(*v.Field, Record)) {
            Error = QStringLiteral("Поле не из записи %1 таблицы %2").arg(Record).arg(Table.Table);
            return false;
        }
        const TFieldSpec& f = *v.Field;
        TArrayOfByte field;
        bool filled = false;
        const bool ok = EncodeField(f, v.Value, field, Error, &filled);
        v.Filled = v.Filled || filled;
        if (!ok)
            return false;
        if (f.Offset + f.Size > Table.RecordSize) {
            Error = QStringLiteral("Поле %1 за концом записи таблицы %2").arg(f.Control).arg(Table.Table);
            return false;
        }
        std::copy(field.begin(), field.end(), record.begin() + f.Offset);
    }
    Bytes = std::move(record);
    return true;
}

bool DecodeGoodsRecord(TBytes Bytes, TGoodsRow& Row, QString& Error)
{
    std::vector<TFieldValue> values;
    if (!DecodeRecord(GoodsTable(), 1, Bytes, values, Error))
        return false;
    for (const TFieldValue& v : values)
        Row[static_cast<std::size_t>(v.Field->Column)] = v.Value.Text;
    return true;
}

bool EncodeGoodsRecord(TGoodsRow& Row, TArrayOfByte& Bytes, QString& Error, std::array<bool, 7>* Filled)
{
    std::vector<TFieldValue> values = RecordValues(GoodsTable(), 1);
    for (TFieldValue& v : values)
        v.Value.Text = Row[static_cast<std::size_t>(v.Field->Column)];
    const bool ok = EncodeRecord(GoodsTable(), 1, values, Bytes, Error);
    if (Filled)
        Filled->fill(false);
    for (const TFieldValue& v : values) {
        if (!v.Filled)
            continue;
        Row[static_cast<std::size_t>(v.Field->Column)] = v.Value.Text;
        if (Filled)
            (*Filled)[static_cast<std::size_t>(v.Field->Column)] = true;
    }
    return ok;
}
