// Profile files: what a profile's JSON holds, that it loads back as it was
// written, every way a file is refused (naming table and field), and the
// field-by-field comparison.
#include "Profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

using namespace kkm;

namespace {

// A profile of every settings table whose values differ from record to
// record and use every kind of value, as a register could hold them.
TProfile SampleProfile()
{
    TProfile p;
    p.Model = QStringLiteral("ОМВЕК-100Ф");
    p.Serial = QStringLiteral("123456789012");
    p.Time = QDateTime(QDate(2024, 5, 1), QTime(12, 30, 15), QTimeZone(3 * 3600));
    for (const TRegisterTable& t : SettingsTables()) {
        TProfileRecords records;
        for (int r = t.FirstRecord; r <= t.LastRecord; ++r) {
            std::vector<TFieldValue> values = RecordValues(t, r);
            for (TFieldValue& v : values) {
                const TTableField& f = *v.Field;
                TControlValue& c = v.Value;
                switch (ValueKind(f)) {
                case TValueKind::Text:
                    // Padded as the register sends it; a leading blank stays.
                    c.Text = f.Encoding == TEncoding::Inn ? QStringLiteral("770112345678")
                             : f.Encoding == TEncoding::TaxRate ? QStringLiteral("18.00")
                                                                : QStringLiteral(" Т%1").arg(r);
                    if (f.Encoding == TEncoding::Text)
                        c.Text = c.Text.leftJustified(f.Size, u' ');
                    break;
                case TValueKind::Number:
                    c.Text = QString::number(f.Max - r % (f.Max - f.Min + 1));
                    break;
                case TValueKind::Item:
                    c.Index = r % static_cast<int>(f.Items.size());
                    c.Text = f.Encoding == TEncoding::Sphere ? QString::number(c.Index) : QString();
                    break;
                case TValueKind::Items:
                    c.Bits = (1u << (r % f.Items.size())) | 1u;
                    c.Text = f.Encoding == TEncoding::OperatorRights ? QString::number(c.Bits) : QString();
                    break;
                case TValueKind::Flag:
                    c.Checked = r % 2 == 1;
                    break;
                }
            }
            records.push_back(std::move(values));
        }
        p.Tables[t.Key] = std::move(records);
    }
    // A list whose byte had no item.
    p.Tables[QStringLiteral("devices")][1][0].Value.Index = -1;
    return p;
}

QJsonObject Root(const TProfile& p)
{
    return QJsonDocument::fromJson(ProfileToJson(p)).object();
}

TEST(Profile, JsonHoldsValuesByKey)
{
    const QJsonObject root = Root(SampleProfile());
    EXPECT_EQ(root.value("format").toString(), QStringLiteral("kkm-profile"));
    EXPECT_EQ(root.value("version").toInt(), 1);
    EXPECT_EQ(root.value("model").toString(), QStringLiteral("ОМВЕК-100Ф"));
    EXPECT_EQ(root.value("serial").toString(), QStringLiteral("123456789012"));
    EXPECT_EQ(root.value("time").toString(), QStringLiteral("2024-05-01T12:30:15+03:00"));
    const QJsonObject tables = root.value("tables").toObject();
    EXPECT_EQ(tables.keys(), (QStringList{"devices", "discounts", "operators", "options", "pay_types",
                                          "print_options", "sections", "taxes", "text_lines"}));

    const QJsonObject options = tables.value("options").toObject();
    EXPECT_EQ(options.value("inn"), QJsonValue("770112345678"));
    EXPECT_EQ(options.value("backlight_seconds"), QJsonValue(9998));
    EXPECT_EQ(options.value("cash_drawer"), QJsonValue("6 В"));
    EXPECT_EQ(options.value("registration"), (QJsonArray{"Продажа по коду", "Свободная цена"}));

    // Tables of records with different fields are one object; -1 is null.
    const QJsonObject devices = tables.value("devices").toObject();
    EXPECT_EQ(devices.keys(),
              (QStringList{"pc_speed", "scales_interface", "scales_protocol", "scales_speed", "scanner_speed"}));
    EXPECT_EQ(devices.value("scales_speed"), QJsonValue(QJsonValue::Null));
    EXPECT_EQ(devices.value("pc_speed"), QJsonValue("4800"));

    // Tables of rows are arrays; texts lose the padding at their end only,
    // a post (written trimmed) at both ends.
    const QJsonArray operators = tables.value("operators").toArray();
    ASSERT_EQ(operators.size(), 7);
    const QJsonObject third = operators.at(2).toObject();
    EXPECT_EQ(third.value("name"), QJsonValue(" Т3"));
    EXPECT_EQ(third.value("post"), QJsonValue("Т3"));
    EXPECT_EQ(third.value("rights"), (QJsonArray{"продажа", "Доп. оплаты"}));
    const QJsonArray sections = tables.value("sections").toArray();
    ASSERT_EQ(sections.size(), 16);
    EXPECT_EQ(sections.at(0).toObject().value("sphere"), QJsonValue("Услуги"));
    EXPECT_EQ(sections.at(0).toObject().value("tax_code"), QJsonValue(3));
    EXPECT_EQ(tables.value("pay_types").toArray().at(0).toObject().value("enabled"), QJsonValue(true));
    EXPECT_EQ(tables.value("taxes").toArray().at(3).toObject().value("rate"), QJsonValue("18.00"));
}

TEST(Profile, LoadsBackAsWritten)
{
    const TProfile sample = SampleProfile();
    const QByteArray json = ProfileToJson(sample);
    TProfile loaded;
    QString error;
    ASSERT_TRUE(ProfileFromJson(json, loaded, error)) << error.toStdString();
    EXPECT_EQ(ProfileToJson(loaded), json);
    EXPECT_EQ(loaded.Model, sample.Model);
    EXPECT_EQ(loaded.Serial, sample.Serial);
    EXPECT_EQ(loaded.Time, sample.Time);
    EXPECT_TRUE(CompareProfiles(sample, loaded).empty());

    // Loaded values are what the controls and the writes take: the grids'
    // rows, the rights cell's number with its marks, the sphere's cell.
    const TProfileRecords& operators = *loaded.Find(QStringLiteral("operators"));
    const TFieldValue& rights = operators[2][2];
    EXPECT_EQ(rights.Field->Key, QStringLiteral("rights"));
    EXPECT_EQ(rights.Row, 3);
    EXPECT_EQ(rights.Value.Bits, 9u);
    EXPECT_EQ(rights.Value.Text, QStringLiteral("9"));
    const TFieldValue& sphere = loaded.Find(QStringLiteral("sections"))->at(0)[3];
    EXPECT_EQ(sphere.Value.Index, 1);
    EXPECT_EQ(sphere.Value.Text, QStringLiteral("1"));

    // A profile of some tables only.
    TProfile part;
    part.Tables[QStringLiteral("text_lines")] = sample.Tables.at(QStringLiteral("text_lines"));
    ASSERT_TRUE(ProfileFromJson(ProfileToJson(part), loaded, error)) << error.toStdString();
    EXPECT_EQ(loaded.Tables.size(), 1u);
    EXPECT_FALSE(loaded.Time.isValid());
}

// Each case changes one thing in a good file; the file is refused with a
// message naming the place, and the profile given is left alone.
TEST(Profile, RefusedFilesNameTableAndField)
{
    using TEdit = std::function<void(QJsonObject& root, QJsonObject& tables)>;
    auto setField = [](const char* table, int row, const char* key, QJsonValue value) -> TEdit {
        return [=](QJsonObject&, QJsonObject& tables) {
            QJsonValue t = tables.value(table);
            if (row == 0) {
                QJsonObject o = t.toObject();
                o.insert(key, value);
                t = o;
            } else {
                QJsonArray rows = t.toArray();
                QJsonObject o = rows.at(row - 1).toObject();
                o.insert(key, value);
                rows.replace(row - 1, o);
                t = rows;
            }
            tables.insert(table, t);
        };
    };
    struct Case {
        const char* what;
        TEdit edit;
        const char* message; // the start of the error
    };
    const Case cases[] = {
        {"unknown table", [](QJsonObject&, QJsonObject& t) { t.insert("colours", QJsonObject()); },
         "Профиль: неизвестная таблица colours"},
        {"goods are not in a profile", [](QJsonObject&, QJsonObject& t) { t.insert("goods", QJsonArray()); },
         "Профиль: таблица goods не входит в профиль"},
        {"unknown field", setField("options", 0, "colour", "red"),
         "Профиль: таблица options, поле colour: неизвестное поле"},
        {"unknown field of a row", setField("operators", 4, "password", 4),
         "Профиль: таблица operators, строка 4, поле password: неизвестное поле"},
        {"missing field",
         [](QJsonObject&, QJsonObject& t) {
             QJsonObject o = t.value("options").toObject();
             o.remove("inn");
             t.insert("options", o);
         },
         "Профиль: таблица options, поле inn: нет значения"},
        {"number as text", setField("print_options", 0, "contrast", "2"),
         "Профиль: таблица print_options, поле contrast: ожидается число, а не текст"},
        {"number not whole", setField("print_options", 0, "contrast", 2.5),
         "Профиль: таблица print_options, поле contrast: 2.5 не целое число"},
        {"byte out of range", setField("print_options", 0, "line_spacing", 256),
         "Профиль: таблица print_options, поле line_spacing: 256 вне допустимого диапазона 0..255"},
        {"BCD out of range", setField("options", 0, "backlight_seconds", 10000),
         "Профиль: таблица options, поле backlight_seconds: 10000 вне допустимого диапазона 0..9999"},
        {"negative", setField("options", 0, "auto_lock_seconds", -1),
         "Профиль: таблица options, поле auto_lock_seconds: -1 вне допустимого диапазона 0..99"},
        {"grid's own range", setField("sections", 16, "tax_code", 5),
         "Профиль: таблица sections, строка 16, поле tax_code: 5 вне допустимого диапазона 0..4"},
        {"list text not an item", setField("options", 0, "cash_drawer", "24 В"),
         "Профиль: таблица options, поле cash_drawer: \"24 В\" нет в списке \"Выкл.\", \"6 В\", \"12 В\""},
        {"list as a number", setField("devices", 0, "pc_speed", 9600),
         "Профиль: таблица devices, поле pc_speed: ожидается пункт списка, а не число"},
        {"checked item not an item", setField("operators", 2, "rights", QJsonArray{"продажа", "кофе"}),
         "Профиль: таблица operators, строка 2, поле rights: \"кофе\" нет в списке"},
        {"checked list not an array", setField("text_lines", 1, "attributes", "По ширине"),
         "Профиль: таблица text_lines, строка 1, поле attributes: ожидается массив пунктов списка, а не текст"},
        {"text too long", setField("text_lines", 9, "text", QString(33, u'Ж')),
         "Профиль: таблица text_lines, строка 9, поле text: текст"},
        {"text outside the code page", setField("operators", 1, "name", QStringLiteral("日本")),
         "Профиль: таблица operators, строка 1, поле name: в тексте \"日本\" есть знаки вне кодировки ККМ"},
        {"INN of letters", setField("options", 0, "inn", "77AB"),
         "Профиль: таблица options, поле inn: \"77AB\": в ИНН только цифры"},
        {"INN too long", setField("options", 0, "inn", "1234567890123"),
         "Профиль: таблица options, поле inn: текст \"1234567890123\" длиннее 12 знаков"},
        {"flag as a number", setField("pay_types", 3, "enabled", 1),
         "Профиль: таблица pay_types, строка 3, поле enabled: ожидается true или false, а не число"},
        {"row missing",
         [](QJsonObject&, QJsonObject& t) {
             QJsonArray rows = t.value("operators").toArray();
             rows.removeLast();
             t.insert("operators", rows);
         },
         "Профиль: таблица operators: строк 6, а должно быть 7"},
        {"row too many",
         [](QJsonObject&, QJsonObject& t) {
             QJsonArray rows = t.value("pay_types").toArray();
             rows.append(rows.at(0));
             t.insert("pay_types", rows);
         },
         "Профиль: таблица pay_types: строк 4, а должно быть 3"},
        {"rows as an object", [](QJsonObject&, QJsonObject& t) { t.insert("sections", QJsonObject()); },
         "Профиль: таблица sections: ожидается массив строк, а не объект"},
        {"row not an object",
         [](QJsonObject&, QJsonObject& t) {
             QJsonArray rows = t.value("taxes").toArray();
             rows.replace(1, "НДС");
             t.insert("taxes", rows);
         },
         "Профиль: таблица taxes, строка 2: ожидается объект, а не текст"},
        {"single record as rows", [](QJsonObject&, QJsonObject& t) { t.insert("options", QJsonArray()); },
         "Профиль: таблица options: ожидается объект, а не массив"},
        {"other format", [](QJsonObject& r, QJsonObject&) { r.insert("format", "kkm-goods"); },
         "Профиль: файл не в формате профиля ККМ"},
        {"newer version", [](QJsonObject& r, QJsonObject&) { r.insert("version", 2); },
         "Профиль: версия 2 не поддерживается, нужна 1"},
        {"unknown key", [](QJsonObject& r, QJsonObject&) { r.insert("goods", QJsonArray()); },
         "Профиль: неизвестный ключ goods"},
        {"bad time", [](QJsonObject& r, QJsonObject&) { r.insert("time", "вчера"); },
         "Профиль: time: \"вчера\" не дата и время"},
        {"serial as a number", [](QJsonObject& r, QJsonObject&) { r.insert("serial", 12); },
         "Профиль: serial: ожидается текст, а не число"},
        {"no tables", [](QJsonObject& r, QJsonObject&) { r.remove("tables"); },
         "Профиль: tables: нет значения"},
    };
    const QJsonObject good = Root(SampleProfile());
    for (const Case& c : cases) {
        QJsonObject root = good;
        QJsonObject tables = root.value("tables").toObject();
        c.edit(root, tables);
        if (root.contains("tables"))
            root.insert("tables", tables);
        TProfile out;
        out.Model = QStringLiteral("untouched");
        QString error;
        EXPECT_FALSE(ProfileFromJson(QJsonDocument(root).toJson(), out, error)) << c.what;
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.message)))
            << c.what << ": " << error.toStdString();
        EXPECT_EQ(out.Model, QStringLiteral("untouched")) << c.what;
        EXPECT_TRUE(out.Tables.empty()) << c.what;
    }

    TProfile out;
    QString error;
    EXPECT_FALSE(ProfileFromJson("{\"format\": \"kkm-profile\",", out, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Профиль: файл не в формате JSON: "))) << error.toStdString();
    EXPECT_FALSE(ProfileFromJson("[1, 2]", out, error));
    EXPECT_EQ(error, QStringLiteral("Профиль: файл не в формате профиля ККМ"));
}

TEST(Profile, ComparisonListsTheDifferingFields)
{
    const TProfile reg = SampleProfile();
    TProfile file = reg;
    file.Model = QStringLiteral("другая");
    file.Serial = QStringLiteral("1");
    file.Time = QDateTime();
    file.Tables[QStringLiteral("options")][0][7].Value.Text = QStringLiteral("000000000001"); // inn
    file.Tables[QStringLiteral("operators")][2][1].Value.Text = QStringLiteral("Петров");   // name
    file.Tables[QStringLiteral("operators")][2][2].Value.Bits = 0;                          // rights
    file.Tables[QStringLiteral("devices")][2][0].Value.Index = 8;                           // pc_speed
    // Padding and a post's blanks are no difference: the same bytes are written.
    file.Tables[QStringLiteral("operators")][4][0].Value.Text = QStringLiteral("  Т5   ");
    file.Tables[QStringLiteral("text_lines")][0][0].Value.Text = QStringLiteral(" Т1");
    // Tables one side lacks are not compared.
    file.Tables.erase(QStringLiteral("taxes"));

    const std::vector<TProfileDifference> d = CompareProfiles(reg, file);
    ASSERT_EQ(d.size(), 4u);
    auto line = [](const TProfileDifference& x) {
        return (x.Field + QStringLiteral(": ") + x.RegisterValue + QStringLiteral(" → ") + x.FileValue).toStdString();
    };
    EXPECT_EQ(line(d[0]), "options.inn: \"770112345678\" → \"000000000001\"");
    EXPECT_EQ(line(d[1]), "devices.pc_speed: \"4800\" → \"115200\"");
    EXPECT_EQ(line(d[2]), "operators[3].name: \" Т3\" → \"Петров\"");
    EXPECT_EQ(line(d[3]), "operators[3].rights: [\"продажа\",\"Доп. оплаты\"] → []");
    EXPECT_EQ(d[2].Table, QStringLiteral("operators"));
    EXPECT_EQ(d[2].Key, QStringLiteral("name"));
    EXPECT_EQ(d[2].Row, 3);
    EXPECT_EQ(d[0].Row, 0);
}

} // namespace
