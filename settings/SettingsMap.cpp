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

TTableField F(const char* Key, int Record, int Field, int Offset, int Size, const QString& Control, K Kind,
             E Encoding, QStringList Items = {}, QString EmptyDefault = {})
{
    TTableField f;
    f.Key = QString::fromLatin1(Key);
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

// An edit, typed up to Length characters.
TTableField Ed(const char* Key, int Record, int Field, int Offset, int Size, const QString& Control, E Encoding,
              int Length, QString EmptyDefault = {})
{
    TTableField f = F(Key, Record, Field, Offset, Size, Control, K::Edit, Encoding, {}, std::move(EmptyDefault));
    f.MaxLength = Length;
    return f;
}

// A list with StartIndex selected before anything is read.
TTableField Li(const char* Key, int Record, int Field, int Offset, const QString& Control, QStringList Items,
              int StartIndex)
{
    TTableField f = F(Key, Record, Field, Offset, 1, Control, K::List, E::ListIndex, std::move(Items));
    f.StartIndex = StartIndex;
    return f;
}

TTableField Cell(const char* Key, int Record, int Field, int Offset, int Size, const QString& Grid, int Column,
                E Encoding, int Length, QStringList Items = {}, QString EmptyDefault = {})
{
    TTableField f = F(Key, Record, Field, Offset, Size, Grid, K::GridCell, Encoding, std::move(Items),
                     std::move(EmptyDefault));
    f.Column = Column;
    f.MaxLength = Length;
    return f;
}

// A field of a form with the label in front of its control.
TTableField Captioned(const QString& Caption, TTableField f)
{
    f.Caption = Caption;
    return f;
}

TTableField Ranged(TTableField f, std::int64_t Min, std::int64_t Max)
{
    f.Min = Min;
    f.Max = Max;
    return f;
}

QString N(const char* Name, int n)
{
    return QString::fromLatin1(Name) + QString::number(n);
}

TRegisterTable Table(const char* Key, int Table, const char* Page, const QString& Caption, int SubPage, int Last,
                     int RecordSize, TReadKind Read, TWriteKind Write, const QString& ReadStart,
                     const QString& ReadDone)
{
    TRegisterTable t;
    t.Key = QString::fromLatin1(Key);
    t.Table = Table;
    t.Page = QString::fromLatin1(Page);
    t.Caption = Caption;
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

// The largest value of a packed BCD field of Size bytes.
constexpr std::int64_t BcdMax(int Size)
{
    std::int64_t m = 1;
    for (int i = 0; i < 2 * Size; ++i)
        m *= 10;
    return m - 1;
}

TRegisterTable Options()
{
    TRegisterTable t = Table("options", 2, "ts_KKMMainOptions", QStringLiteral("Опции ДЛФ"),
                             0, 1, 16, TReadKind::Fields, TWriteKind::Records,
                             QStringLiteral("Чтение настроек ККМ ..."), QStringLiteral("Чтение настроек ККМ Завершено."));
    t.WriteStartLine = QStringLiteral("Запись опций ККМ ...");
    t.WriteDoneLine = QStringLiteral("Запись опций ККМ завершена.");
    QStringList cashiers;
    for (int i = 0; i <= 7; ++i)
        cashiers << QString::number(i);
    t.Fields = {
        Captioned(QStringLiteral("Опции регистрации"),
                  F("registration", 1, 1, 0, 2, QStringLiteral("cb_RegOptions"), K::CheckedList, E::BitMask,
                    {QStringLiteral("Продажа по коду"), QStringLiteral("Свободная цена"),
                     QStringLiteral("Своб. цена товара"), QStringLiteral("Свободные скидки"),
                     QStringLiteral("Контрол. дробное")})),
        Captioned(QStringLiteral("Денежный ящик"),
                  Li("cash_drawer", 1, 2, 2, QStringLiteral("cb_MoneyBoxList"),
                     {QStringLiteral("Выкл."), QStringLiteral("6 В"), QStringLiteral("12 В")}, 0)),
        Captioned(QStringLiteral("Опции Z-отчета"),
                  F("z_report", 1, 3, 3, 2, QStringLiteral("cb_zOptions"), K::CheckedList, E::BitMask,
                    {QStringLiteral("Отчет по отделам"), QStringLiteral("Отч. по кассирам"),
                     QStringLiteral("Отчет по налогам"), QStringLiteral("Инкасация")})),
        Captioned(QStringLiteral("Кассир по умолчанию"),
                  Li("default_cashier", 1, 4, 5, QStringLiteral("cb_Kassir"), cashiers, 0)),
        Captioned(QStringLiteral("Длительность подсветки (сек. 0 - 999)"),
                  Ranged(Ed("backlight_seconds", 1, 5, 6, 2, QStringLiteral("ed_ScreenDelay"), E::BcdNoZeros, 3,
                            QStringLiteral("5")),
                         0, BcdMax(2))),
        Captioned(QStringLiteral("Автоматическая блокировка (сек. 0 - 60)"),
                  Ranged(Ed("auto_lock_seconds", 1, 6, 8, 1, QStringLiteral("ed_AutoLock"), E::BcdOneZero, 2,
                            QStringLiteral("0")),
                         0, BcdMax(1))),
        Captioned(QStringLiteral("Вести журнал"),
                  Li("journal", 1, 7, 9, QStringLiteral("cb_WritingJournal"), kNoYes, 0)),
        Captioned(QStringLiteral("ИНН"), Ed("inn", 1, 8, 10, 6, QStringLiteral("ed_INN"), E::Inn, 12)),
    };
    return t;
}

TRegisterTable PrintOptions()
{
    TRegisterTable t = Table("print_options", 3, "ts_KKMPrintOpt", QStringLiteral("Опции печати ДЛФ"),
                             1, 1, 8, TReadKind::Fields, TWriteKind::Records,
                             QStringLiteral("Чтение настроек печати ..."),
                             QStringLiteral("Чтение настроек печати завершено."));
    t.WriteStartLine = QStringLiteral("Запись настроек печати ...");
    t.WriteDoneLine = QStringLiteral("Запись настроек печати завершена.");
    t.Fields = {
        // One byte each; a larger number would go out as its low 8 bits.
        Captioned(QStringLiteral("Контраст печати (1 .. 4)"),
                  Ranged(Ed("contrast", 1, 1, 0, 1, QStringLiteral("ed_PoContrast"), E::DecimalByte, 1,
                            QStringLiteral("2")),
                         0, 255)),
        Captioned(QStringLiteral("Межстрочный интервал (0 .. 8)"),
                  Ranged(Ed("line_spacing", 1, 2, 1, 1, QStringLiteral("ed_PoStringInterval"), E::DecimalByte, 1,
                            QStringLiteral("2")),
                         0, 255)),
        Captioned(QStringLiteral("Экономный шрифт"),
                  Li("economy_font", 1, 3, 2, QStringLiteral("cb_PoEconFont"), kNoYes, 0)),
        Captioned(QStringLiteral("Разделители документов"),
                  Li("document_separators", 1, 4, 3, QStringLiteral("cb_PoDocSep"), kNoYes, 0)),
        Captioned(QStringLiteral("Обрамление чека"),
                  F("receipt_frame", 1, 5, 4, 2, QStringLiteral("cb_PoObraml"), K::CheckedList, E::BitMask,
                    {QStringLiteral("Изображение заголовка"), QStringLiteral("Строки  заголовка"),
                     QStringLiteral("Реквизиты кассира"), QStringLiteral("Место подписи"),
                     QStringLiteral("Изображение окончания"), QStringLiteral("Строки окончания")})),
        Captioned(QStringLiteral("Настройки чека"),
                  F("receipt_options", 1, 6, 6, 2, QStringLiteral("cb_PoCheck"), K::CheckedList, E::BitMask,
                    {QStringLiteral("Названия отделов"), QStringLiteral("Номера отделов"),
                     QStringLiteral("Названия товаров"), QStringLiteral("Коды товаров"),
                     QStringLiteral("Единичное кол-во"), QStringLiteral("Печать налогов"),
                     QStringLiteral("Выделять ИТОГ")})),
    };
    return t;
}

TRegisterTable TextLines()
{
    TRegisterTable t = Table("text_lines", 4, "ts_KKMReklama", QStringLiteral("Рекламные строки"),
                             2, 9, 33, TReadKind::Records, TWriteKind::Records,
                             QStringLiteral("Чтение рекламных строк ..."),
                             QStringLiteral("Чтение рекламных строк закончено."));
    t.WriteStartLine = QStringLiteral("Запись рекламных строк ...");
    t.WriteDoneLine = QStringLiteral("Запись рекламных строк завершена.");
    t.Rows = true;
    t.Groups = {{QStringLiteral("Начало чека"), 1, 3},
                {QStringLiteral("Заголовок чека"), 4, 4},
                {QStringLiteral("Окончание чека"), 5, 7},
                {QStringLiteral("Дисплей покупателя "), 8, 9}};
    static const char* const lines[9][2] = {
        {"ed_CheckBeginFirst", "cb_CheckBeginfirstc"},   {"ed_CheckBeginSecond", "cb_CheckBeginSecondc"},
        {"ed_CheckBeginThird", "cb_CheckBeginThirdc"},   {"ed_CheckTop", "cb_checkTopc"},
        {"ed_CheckEndFirst", "cb_CheckEndFirstc"},       {"ed_CheckEndSecond", "cb_CheckEndSecondc"},
        {"ed_CheckEndThird", "cb_CheckEndThirdc"},       {"ed_BuyDisplayFirst", "cb_BuyDisplayFirstc"},
        {"ed_BuyDisplaySecond", "cb_BuyDisplaySecondc"},
    };
    for (int n = 1; n <= 9; ++n) {
        t.Fields.push_back(Ed("text", n, 1, 0, 32, QString::fromLatin1(lines[n - 1][0]), E::Text, 32));
        t.Fields.push_back(F("attributes", n, 2, 32, 1, QString::fromLatin1(lines[n - 1][1]), K::CheckedList,
                             E::LineAttributes, kAttributes));
    }
    return t;
}

TRegisterTable Discounts()
{
    TRegisterTable t = Table("discounts", 5, "ts_KKMDiscounts", QStringLiteral("Скидки / Наценки"),
                             3, 8, 24, TReadKind::Records, TWriteKind::Never,
                             QStringLiteral("Чтение скидок / наценок ..."),
                             QStringLiteral("Чтение скидок / наценок завершено."));
    t.Rows = true;
    t.NumberedRows = true;
    t.ColumnTitles = {QStringLiteral("Величина, %"), QStringLiteral("Наименование"),
                      QStringLiteral("Вид изм. стоимости"), QStringLiteral("Тип "), QStringLiteral("Авторизация")};
    for (int n = 1; n <= 8; ++n) {
        t.Fields.push_back(Ed("value", n, 1, 0, 5, N("ed_DscValue", n), E::DiscountValue, 5));
        t.Fields.push_back(Ed("name", n, 2, 5, 16, N("ed_DscName", n), E::Text, 16));
        t.Fields.push_back(Li("kind", n, 3, 21, N("cb_DscType", n),
                              {QStringLiteral("Скидка"), QStringLiteral("Наценка")}, -1));
        t.Fields.push_back(Li("calculation", n, 4, 22, N("cb_DscSummType", n),
                              {QStringLiteral("Процентная"), QStringLiteral("Суммовая")}, -1));
        t.Fields.push_back(F("authorisation", n, 5, 23, 1, N("cb_DscAuth", n), K::CheckBox, E::Flag));
    }
    return t;
}

TRegisterTable Taxes()
{
    TRegisterTable t = Table("taxes", 6, "ts_Taxes", QStringLiteral("Налоги"),
                             4, 4, 7, TReadKind::Records, TWriteKind::Never,
                             QStringLiteral("Чтение налогов ..."), QStringLiteral("Чтение налогов завершено."));
    t.Rows = true;
    t.ColumnTitles = {QStringLiteral("Наименование"), QStringLiteral("Величина")};
    for (int n = 1; n <= 4; ++n) {
        t.Fields.push_back(Ed("name", n, 1, 0, 5, N("ed_txName", n), E::Text, 5));
        t.Fields.push_back(Ed("rate", n, 2, 5, 2, N("ed_txValue", n), E::TaxRate, 5));
    }
    return t;
}

TRegisterTable Sections()
{
    TRegisterTable t = Table("sections", 7, "ts_Sections", QStringLiteral("Опции отделов"),
                             5, 16, 14, TReadKind::Records, TWriteKind::Never,
                             QStringLiteral("Чтение таблицы отделов ..."),
                             QStringLiteral("Чтение таблицы отделов завершено"));
    t.Rows = true;
    t.Grid.Panel = QStringLiteral("pnl_sections");
    t.Grid.Titles = {QStringLiteral("Отделы"), QStringLiteral("Наименование"), QStringLiteral("Код налога"),
                     QStringLiteral("Разрядность"), QStringLiteral("Сфера применен.")};
    t.Grid.Widths = {100, 140, 90, 100, 120};
    t.Grid.RowHeight = 20;
    t.Grid.FixedColumns = 1;
    t.Grid.RowLabel = QStringLiteral("Отдел ");
    const QString grid = QStringLiteral("SectionsSettings");
    for (int n = 1; n <= 16; ++n) {
        t.Fields.push_back(Cell("name", n, 1, 0, 11, grid, 1, E::Text, 11));
        // One digit each, as the grid lets them be typed.
        t.Fields.push_back(Ranged(Cell("tax_code", n, 2, 11, 1, grid, 2, E::DecimalByte, 1), 0, 4));
        t.Fields.push_back(Ranged(Cell("digits", n, 3, 12, 1, grid, 3, E::DecimalByte, 1), 0, 9));
        TTableField sphere =
            Cell("sphere", n, 4, 13, 1, grid, 4, E::Sphere, 0, {QStringLiteral("Торговля"), QStringLiteral("Услуги")});
        sphere.Kind = K::CellList;
        sphere.Overlay = QStringLiteral("cb_Sections");
        t.Fields.push_back(std::move(sphere));
    }
    return t;
}

TRegisterTable Devices()
{
    TRegisterTable t = Table("devices", 8, "ts_Devices", QStringLiteral("Устройства"),
                             6, 3, 3, TReadKind::Records, TWriteKind::Never,
                             QStringLiteral("Чтение таблицы устройсв ..."),
                             QStringLiteral("Чтение таблицы устройсв завершено."));
    t.Groups = {{QStringLiteral("Сканер штрих-кода"), 1, 1},
                {QStringLiteral("Электронные весы"), 2, 2},
                {QStringLiteral("ПК"), 3, 3}};
    const QString speed = QStringLiteral("Скорость обмена");
    t.Fields = {
        Captioned(speed, Li("scanner_speed", 1, 1, 0, QStringLiteral("cb_BarcodeSpeed"), kSpeeds, -1)),
        Captioned(speed, Li("scales_speed", 2, 1, 0, QStringLiteral("cb_ElectronicScaleSpeed"), kSpeeds, -1)),
        Captioned(QStringLiteral("Протокол"),
                  Li("scales_protocol", 2, 2, 1, QStringLiteral("cb_ElectronicScaleProtocol"),
                     {QStringLiteral("Штрих - 5"), QStringLiteral("Масса - 1"), QStringLiteral("Масса - 2")}, -1)),
        Captioned(QStringLiteral("Интерфейс"),
                  Li("scales_interface", 2, 3, 2, QStringLiteral("cb_ElecticScalesInterface"),
                     {QStringLiteral("RS232"), QStringLiteral("Токовая петля")}, -1)),
        Captioned(speed, Li("pc_speed", 3, 1, 0, QStringLiteral("cb_PCSpeed"), kSpeeds, -1)),
    };
    return t;
}

TRegisterTable Operators()
{
    TRegisterTable t = Table("operators", 9, "ts_Operators", QStringLiteral("Операторы"),
                             7, 7, 69, TReadKind::Records, TWriteKind::Fields,
                             QStringLiteral("Чтение таблицы операторов ..."),
                             QStringLiteral("Чтение таблицы операторов завершено."));
    t.WriteStartLine = QStringLiteral("Запись таблицы операторов ...");
    t.WriteDoneLine = QStringLiteral("Запись таблицы операторов завершена.");
    t.Rows = true;
    t.Grid.Panel = QStringLiteral("pnl_operators");
    t.Grid.Titles = {QStringLiteral("Должность"), QStringLiteral("ФИО"), QStringLiteral("Права доступа")};
    t.Grid.Widths = {250, 250, 120};
    t.Grid.RowHeight = 70;
    const QString grid = QStringLiteral("Operators");
    const QStringList rights = {QStringLiteral("продажа"),  QStringLiteral("возврат"),  QStringLiteral("Скидки/наценки"),
                                QStringLiteral("Доп. оплаты"), QStringLiteral("x-отчеты"), QStringLiteral("z-отчеты"),
                                QStringLiteral("программирование")};
    for (int n = 1; n <= 7; ++n) {
        // Set and written in this order: post, full name, rights. Every
        // cell of the grid takes 32 characters.
        TTableField post = Cell("post", n, 2, 32, 32, grid, 0, E::TrimmedText, 32);
        post.WriteErrorLine = QStringLiteral("Ошибка записи должности оператора ");
        TTableField name = Cell("name", n, 1, 0, 32, grid, 1, E::Text, 32);
        name.WriteErrorLine = QStringLiteral("Ошибка записи ФИО оператора ");
        TTableField access = Cell("rights", n, 4, 67, 2, grid, 2, E::OperatorRights, 32, rights);
        access.Kind = K::CellCheckedList;
        access.Overlay = QStringLiteral("CheckListBox");
        access.WriteErrorLine = QStringLiteral("Ошибка записи прав доступа оператора ");
        t.Fields.push_back(std::move(post));
        t.Fields.push_back(std::move(name));
        t.Fields.push_back(std::move(access));
    }
    return t;
}

TRegisterTable PayTypes()
{
    TRegisterTable t = Table("pay_types", 10, "ts_PayTypes", QStringLiteral("Типы оплаты"),
                             8, 3, 13, TReadKind::Records, TWriteKind::Never,
                             QStringLiteral("Чтение типов оплаты ..."), QStringLiteral("Чтение типов оплаты завершено."));
    t.Rows = true;
    t.ColumnTitles = {QStringLiteral("Название типа оплаты"), QStringLiteral("Разрешение")};
    for (int n = 1; n <= 3; ++n) {
        t.Fields.push_back(Ed("name", n, 1, 0, 12, N("ed_PayType", n), E::Text, 12));
        t.Fields.push_back(F("enabled", n, 2, 12, 1, N("cb_PayType", n), K::CheckBox, E::Flag));
    }
    return t;
}

TRegisterTable Goods()
{
    TRegisterTable t = Table("goods", 1, "ts_Goods", QString(),
                             -1, GoodsItemCount, 46, TReadKind::Records, TWriteKind::Records,
                             QStringLiteral("Чтение списка товаров ..."),
                             QStringLiteral("Чтение списка товаров завершено."));
    t.WriteStartLine = QStringLiteral("Запись списка товаров ...");
    t.WriteDoneLine = QStringLiteral("Запись списка товаров завершена.");
    t.Rows = true;
    const QString grid = QStringLiteral("Goods");
    t.Fields = {
        // The goods grid's cells take any length; the codecs cut or refuse.
        Cell("name", 0, 1, 0, 32, grid, 1, E::Text, 0),
        Cell("barcode", 0, 2, 32, 7, grid, 2, E::GoodsBarcode, 0, {}, QStringLiteral("0000000000000")),
        Cell("section", 0, 3, 39, 1, grid, 3, E::DecimalByte, 0, {}, QStringLiteral("0")),
        Cell("price", 0, 4, 40, 5, grid, 4, E::GoodsPrice, 0, {}, QStringLiteral("0.00")),
        Cell("fractional", 0, 5, 45, 1, grid, 5, E::GoodsFractional, 0, {}, GoodsYes),
    };
    return t;
}

bool FieldOfRecord(const TTableField& Field, int Record)
{
    return Field.Record == Record || Field.Record == 0;
}

} // namespace

const std::vector<TRegisterTable>& SettingsTables()
{
    static const std::vector<TRegisterTable> tables = {Options(), PrintOptions(), TextLines(), Discounts(), Taxes(),
                                                   Sections(), Devices(), Operators(), PayTypes()};
    return tables;
}

const TRegisterTable& GoodsTable()
{
    static const TRegisterTable goods = Goods();
    return goods;
}

const TRegisterTable* FindTable(int Table)
{
    if (Table == 1)
        return &GoodsTable();
    for (const TRegisterTable& t : SettingsTables())
        if (t.Table == Table)
            return &t;
    return nullptr;
}

const TRegisterTable* FindTableByKey(QStringView Key)
{
    if (GoodsTable().Key == Key)
        return &GoodsTable();
    for (const TRegisterTable& t : SettingsTables())
        if (t.Key == Key)
            return &t;
    return nullptr;
}

const TTableField* FindFieldByKey(const TRegisterTable& Table, QStringView Key, int Record)
{
    for (const TTableField& f : Table.Fields)
        if (f.Key == Key && (Record < 0 || FieldOfRecord(f, Record)))
            return &f;
    return nullptr;
}

std::vector<const TTableField*> RecordFields(const TRegisterTable& Table, int Record)
{
    std::vector<const TTableField*> fields;
    for (const TTableField& f : Table.Fields)
        if (FieldOfRecord(f, Record))
            fields.push_back(&f);
    return fields;
}

TValueKind ValueKind(const TTableField& Field)
{
    switch (Field.Encoding) {
    case TEncoding::ListIndex:
    case TEncoding::Sphere:
        return TValueKind::Item;
    case TEncoding::BitMask:
    case TEncoding::LineAttributes:
    case TEncoding::OperatorRights:
        return TValueKind::Items;
    case TEncoding::Flag:
        return TValueKind::Flag;
    case TEncoding::DecimalByte:
    case TEncoding::BcdNoZeros:
    case TEncoding::BcdOneZero:
        return TValueKind::Number;
    case TEncoding::Text:
    case TEncoding::TrimmedText:
    case TEncoding::Inn:
    case TEncoding::DiscountValue:
    case TEncoding::TaxRate:
    case TEncoding::GoodsBarcode:
    case TEncoding::GoodsPrice:
    case TEncoding::GoodsFractional:
        break;
    }
    return TValueKind::Text;
}

int LongestText(const TTableField& Field)
{
    switch (Field.Encoding) {
    case TEncoding::DiscountValue:
        return std::max(Field.MaxLength, 3 * Field.Size); // each byte in decimal
    case TEncoding::TaxRate:
        return std::max(Field.MaxLength, 2 * Field.Size + 1); // "HH.HH"
    default:
        return Field.MaxLength > 0 ? Field.MaxLength : Field.Size;
    }
}

const TTableField* FindField(QStringView Control, int Column, int Record)
{
    auto match = [&](const TRegisterTable& t) -> const TTableField* {
        for (const TTableField& f : t.Fields)
            if (f.Control == Control && f.Column == Column && (Record < 0 || FieldOfRecord(f, Record)))
                return &f;
        return nullptr;
    };
    for (const TRegisterTable& t : SettingsTables())
        if (const TTableField* f = match(t))
            return f;
    return match(GoodsTable());
}

std::vector<TFieldValue> RecordValues(const TRegisterTable& Table, int Record)
{
    std::vector<TFieldValue> values;
    for (const TTableField& f : Table.Fields) {
        if (!FieldOfRecord(f, Record))
            continue;
        TFieldValue v;
        v.Field = &f;
        v.Row = InGrid(f.Kind) ? Record : -1;
        values.push_back(std::move(v));
    }
    return values;
}

bool DecodeRecord(const TRegisterTable& Table, int Record, TBytes Bytes, std::vector<TFieldValue>& Values,
                  QString& Error)
{
    std::vector<TFieldValue> values = RecordValues(Table, Record);
    for (TFieldValue& v : values) {
        const TTableField& f = *v.Field;
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

bool EncodeRecord(const TRegisterTable& Table, int Record, std::vector<TFieldValue>& Values, TArrayOfByte& Bytes,
                  QString& Error)
{
    TArrayOfByte record(static_cast<std::size_t>(Table.RecordSize), 0);
    for (TFieldValue& v : Values) {
        if (!v.Field || !FieldOfRecord(*v.Field, Record)) {
            Error = QStringLiteral("Поле не из записи %1 таблицы %2").arg(Record).arg(Table.Table);
            return false;
        }
        const TTableField& f = *v.Field;
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
