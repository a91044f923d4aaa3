#include "Profile.h"

#include "Cp1251.h"
#include "TextRules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>

#include <cmath>

namespace kkm {

namespace {

const QString kFormat = QStringLiteral("format");
const QString kVersion = QStringLiteral("version");
const QString kModel = QStringLiteral("model");
const QString kSerial = QStringLiteral("serial");
const QString kTime = QStringLiteral("time");
const QString kTables = QStringLiteral("tables");

// The register pads its texts with spaces; writing pads them again.
QString WithoutPadding(const QString& Text)
{
    qsizetype n = Text.size();
    while (n > 0 && Text.at(n - 1) == u' ')
        --n;
    return Text.left(n);
}

bool SettingsTable(const TRegisterTable* Table)
{
    return Table && Table->SubPage >= 0;
}

QString FieldPlace(const TRegisterTable& Table, int Row, const QString& Key)
{
    QString place = QStringLiteral("Профиль: таблица %1").arg(Table.Key);
    if (Row > 0)
        place += QStringLiteral(", строка %1").arg(Row);
    if (!Key.isEmpty())
        place += QStringLiteral(", поле %1").arg(Key);
    return place;
}

QString JsonTypeName(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("логическое значение");
    case QJsonValue::Double:
        return QStringLiteral("число");
    case QJsonValue::String:
        return QStringLiteral("текст");
    case QJsonValue::Array:
        return QStringLiteral("массив");
    case QJsonValue::Object:
        return QStringLiteral("объект");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("нет значения");
}

QString Expected(const QString& What, const QJsonValue& Got)
{
    if (Got.isUndefined())
        return QStringLiteral("нет значения");
    return QStringLiteral("ожидается %1, а не %2").arg(What, JsonTypeName(Got));
}

QString ItemsText(const QStringList& Items)
{
    return QStringLiteral("\"") + Items.join(QStringLiteral("\", \"")) + QStringLiteral("\"");
}

// The values of one record from its object; every field must be there and
// nothing else.
bool RecordFromObject(const TRegisterTable& Table, int Record, int Row, const QJsonObject& Object,
                      std::vector<TFieldValue>& Values, QString& Error)
{
    std::vector<TFieldValue> values = RecordValues(Table, Record);
    for (TFieldValue& v : values) {
        const TTableField& f = *v.Field;
        const QJsonValue json = Object.value(f.Key);
        if (json.isUndefined()) {
            Error = FieldPlace(Table, Row, f.Key) + QStringLiteral(": нет значения");
            return false;
        }
        QString error;
        if (!ProfileControlValue(f, json, v.Value, error)) {
            Error = FieldPlace(Table, Row, f.Key) + QStringLiteral(": ") + error;
            return false;
        }
    }
    for (auto it = Object.begin(); it != Object.end(); ++it) {
        if (!FindFieldByKey(Table, it.key(), Record)) {
            Error = FieldPlace(Table, Row, it.key()) + QStringLiteral(": неизвестное поле");
            return false;
        }
    }
    Values = std::move(values);
    return true;
}

bool TableFromJson(const TRegisterTable& Table, const QJsonValue& Json, TProfileRecords& Records, QString& Error)
{
    TProfileRecords records;
    if (Table.Rows) {
        if (!Json.isArray()) {
            Error = FieldPlace(Table, 0, {}) + QStringLiteral(": ") + Expected(QStringLiteral("массив строк"), Json);
            return false;
        }
        const QJsonArray rows = Json.toArray();
        if (rows.size() != Table.RecordCount()) {
            Error = FieldPlace(Table, 0, {})
                    + QStringLiteral(": строк %1, а должно быть %2").arg(rows.size()).arg(Table.RecordCount());
            return false;
        }
        for (int record = Table.FirstRecord; record <= Table.LastRecord; ++record) {
            const int row = record - Table.FirstRecord + 1;
            const QJsonValue item = rows.at(row - 1);
            if (!item.isObject()) {
                Error = FieldPlace(Table, row, {}) + QStringLiteral(": ") + Expected(QStringLiteral("объект"), item);
                return false;
            }
            std::vector<TFieldValue> values;
            if (!RecordFromObject(Table, record, row, item.toObject(), values, Error))
                return false;
            records.push_back(std::move(values));
        }
    } else {
        if (!Json.isObject()) {
            Error = FieldPlace(Table, 0, {}) + QStringLiteral(": ") + Expected(QStringLiteral("объект"), Json);
            return false;
        }
        // One object holds the fields of every record; each key is unique
        // in the table.
        const QJsonObject object = Json.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!FindFieldByKey(Table, it.key())) {
                Error = FieldPlace(Table, 0, it.key()) + QStringLiteral(": неизвестное поле");
                return false;
            }
        }
        for (int record = Table.FirstRecord; record <= Table.LastRecord; ++record) {
            QJsonObject own;
            for (const TTableField* f : RecordFields(Table, record))
                if (object.contains(f->Key))
                    own.insert(f->Key, object.value(f->Key));
            std::vector<TFieldValue> values;
            if (!RecordFromObject(Table, record, 0, own, values, Error))
                return false;
            records.push_back(std::move(values));
        }
    }
    Records = std::move(records);
    return true;
}

QJsonObject RecordObject(const std::vector<TFieldValue>& Values)
{
    QJsonObject object;
    for (const TFieldValue& v : Values)
        object.insert(v.Field->Key, ProfileValue(*v.Field, v.Value));
    return object;
}

QJsonValue TableJson(const TRegisterTable& Table, const TProfileRecords& Records)
{
    if (Table.Rows) {
        QJsonArray rows;
        for (const std::vector<TFieldValue>& values : Records)
            rows.append(RecordObject(values));
        return rows;
    }
    QJsonObject object;
    for (const std::vector<TFieldValue>& values : Records)
        for (const TFieldValue& v : values)
            object.insert(v.Field->Key, ProfileValue(*v.Field, v.Value));
    return object;
}

} // namespace

const TProfileRecords* TProfile::Find(const QString& key) const
{
    const auto it = Tables.find(key);
    return it == Tables.end() ? nullptr : &it->second;
}

QStringList ProfileTableKeys()
{
    QStringList keys;
    for (const TRegisterTable& t : SettingsTables())
        keys << t.Key;
    return keys;
}

QJsonValue ProfileValue(const TTableField& f, const TControlValue& v)
{
    switch (ValueKind(f)) {
    case TValueKind::Text:
        if (f.Encoding == TEncoding::TrimmedText)
            return TrimText(v.Text);
        return f.Encoding == TEncoding::Text ? WithoutPadding(v.Text) : v.Text;
    case TValueKind::Number: {
        std::int64_t n = 0;
        // A read number is always digits; anything else is kept as it is,
        // for the check of the file to name.
        if (TryStrToInt64(TrimText(v.Text), n))
            return static_cast<double>(n);
        return v.Text;
    }
    case TValueKind::Item:
        if (v.Index >= 0 && v.Index < f.Items.size())
            return f.Items.at(v.Index);
        return QJsonValue(QJsonValue::Null);
    case TValueKind::Items: {
        QJsonArray items;
        for (qsizetype i = 0; i < f.Items.size() && i < 32; ++i)
            if (v.Bits & (1u << i))
                items.append(f.Items.at(i));
        return items;
    }
    case TValueKind::Flag:
        return v.Checked;
    }
    return QJsonValue(QJsonValue::Null);
}

bool ProfileControlValue(const TTableField& f, const QJsonValue& json, TControlValue& value, QString& error)
{
    TControlValue v;
    switch (ValueKind(f)) {
    case TValueKind::Text: {
        if (!json.isString()) {
            error = Expected(QStringLiteral("текст"), json);
            return false;
        }
        v.Text = json.toString();
        bool exact = true;
        const qsizetype length = ToCp1251(v.Text, &exact).size();
        if (!exact) {
            error = QStringLiteral("в тексте \"%1\" есть знаки вне кодировки ККМ (Windows-1251)").arg(v.Text);
            return false;
        }
        if (length > LongestText(f)) {
            error = QStringLiteral("текст \"%1\" длиннее %2 знаков").arg(v.Text).arg(LongestText(f));
            return false;
        }
        if (f.Encoding == TEncoding::Inn) {
            for (QChar c : v.Text) {
                if (c < u'0' || c > u'9') {
                    error = QStringLiteral("\"%1\": в ИНН только цифры").arg(v.Text);
                    return false;
                }
            }
        }
        break;
    }
    case TValueKind::Number: {
        if (!json.isDouble()) {
            error = Expected(QStringLiteral("число"), json);
            return false;
        }
        const double d = json.toDouble();
        if (std::floor(d) != d || std::fabs(d) > 9.0e15) {
            error = QStringLiteral("%1 не целое число").arg(d);
            return false;
        }
        const auto n = static_cast<std::int64_t>(d);
        if (f.HasRange() && (n < f.Min || n > f.Max)) {
            error = QStringLiteral("%1 вне допустимого диапазона %2..%3").arg(n).arg(f.Min).arg(f.Max);
            return false;
        }
        v.Text = QString::number(n);
        break;
    }
    case TValueKind::Item: {
        // null: no item selected, as a list the register's byte has no
        // item for.
        if (json.isNull()) {
            v.Index = -1;
        } else if (!json.isString()) {
            error = Expected(QStringLiteral("пункт списка"), json);
            return false;
        } else {
            v.Index = static_cast<int>(f.Items.indexOf(json.toString()));
            if (v.Index < 0) {
                error = QStringLiteral("\"%1\" нет в списке %2").arg(json.toString(), ItemsText(f.Items));
                return false;
            }
        }
        if (f.Encoding == TEncoding::Sphere) {
            // The sections' cell and list hold the same.
            v.Index = v.Index == 1 ? 1 : 0;
            v.Text = QString::number(v.Index);
        }
        break;
    }
    case TValueKind::Items: {
        if (!json.isArray()) {
            error = Expected(QStringLiteral("массив пунктов списка"), json);
            return false;
        }
        for (const QJsonValue item : json.toArray()) {
            const qsizetype i = item.isString() ? f.Items.indexOf(item.toString()) : -1;
            if (i < 0 || i >= 32) {
                error = item.isString()
                            ? QStringLiteral("\"%1\" нет в списке %2").arg(item.toString(), ItemsText(f.Items))
                            : Expected(QStringLiteral("пункт списка"), item);
                return false;
            }
            v.Bits |= 1u << i;
        }
        // The rights cell shows the mask it sends.
        if (f.Encoding == TEncoding::OperatorRights)
            v.Text = QString::number(v.Bits);
        break;
    }
    case TValueKind::Flag:
        if (!json.isBool()) {
            error = Expected(QStringLiteral("true или false"), json);
            return false;
        }
        v.Checked = json.toBool();
        break;
    }
    value = std::move(v);
    return true;
}

QString ProfileValueText(const QJsonValue& value)
{
    // A document holds only arrays and objects: the value is put in one and
    // the brackets are taken off again.
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

QByteArray ProfileToJson(const TProfile& profile)
{
    QJsonObject root;
    root.insert(kFormat, ProfileFormat);
    root.insert(kVersion, ProfileVersion);
    root.insert(kModel, profile.Model);
    root.insert(kSerial, profile.Serial);
    // With the offset from UTC, so that the file says when, wherever read.
    const QDateTime time = profile.Time.toOffsetFromUtc(profile.Time.offsetFromUtc());
    root.insert(kTime, profile.Time.isValid() ? time.toString(Qt::ISODate) : QString());
    QJsonObject tables;
    for (const TRegisterTable& t : SettingsTables())
        if (const TProfileRecords* records = profile.Find(t.Key))
            tables.insert(t.Key, TableJson(t, *records));
    root.insert(kTables, tables);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool ProfileFromJson(const QByteArray& json, TProfile& out, QString& error)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError) {
        error = QStringLiteral("Профиль: файл не в формате JSON: %1 (знак %2)")
                    .arg(parse.errorString())
                    .arg(parse.offset);
        return false;
    }
    if (!doc.isObject()) {
        error = QStringLiteral("Профиль: файл не в формате профиля ККМ");
        return false;
    }
    const QJsonObject root = doc.object();
    if (root.value(kFormat).toString() != ProfileFormat) {
        error = QStringLiteral("Профиль: файл не в формате профиля ККМ (format не \"%1\")").arg(ProfileFormat);
        return false;
    }
    const QJsonValue version = root.value(kVersion);
    if (!version.isDouble() || version.toDouble() != ProfileVersion) {
        error = QStringLiteral("Профиль: версия %1 не поддерживается, нужна %2")
                    .arg(ProfileValueText(version))
                    .arg(ProfileVersion);
        return false;
    }
    const QStringList known = {kFormat, kVersion, kModel, kSerial, kTime, kTables};
    for (const QString& key : root.keys()) {
        if (!known.contains(key)) {
            error = QStringLiteral("Профиль: неизвестный ключ %1").arg(key);
            return false;
        }
    }
    TProfile profile;
    for (const auto& [key, member] : {std::pair{kModel, &profile.Model}, std::pair{kSerial, &profile.Serial}}) {
        const QJsonValue v = root.value(key);
        if (!v.isUndefined() && !v.isString()) {
            error = QStringLiteral("Профиль: %1: ").arg(key) + Expected(QStringLiteral("текст"), v);
            return false;
        }
        *member = v.toString();
    }
    const QJsonValue time = root.value(kTime);
    if (!time.isUndefined() && !time.isString()) {
        error = QStringLiteral("Профиль: time: ") + Expected(QStringLiteral("текст"), time);
        return false;
    }
    if (!time.toString().isEmpty()) {
        profile.Time = QDateTime::fromString(time.toString(), Qt::ISODate);
        if (!profile.Time.isValid()) {
            error = QStringLiteral("Профиль: time: \"%1\" не дата и время ISO 8601").arg(time.toString());
            return false;
        }
    }
    const QJsonValue tables = root.value(kTables);
    if (!tables.isObject()) {
        error = QStringLiteral("Профиль: tables: ") + Expected(QStringLiteral("объект"), tables);
        return false;
    }
    const QJsonObject tableObject = tables.toObject();
    for (auto it = tableObject.begin(); it != tableObject.end(); ++it) {
        const TRegisterTable* t = FindTableByKey(it.key());
        if (!SettingsTable(t)) {
            error = t ? QStringLiteral("Профиль: таблица %1 не входит в профиль").arg(it.key())
                      : QStringLiteral("Профиль: неизвестная таблица %1").arg(it.key());
            return false;
        }
    }
    // In table order, so that the first error named is the first in the table map.
    for (const TRegisterTable& t : SettingsTables()) {
        if (!tableObject.contains(t.Key))
            continue;
        TProfileRecords records;
        if (!TableFromJson(t, tableObject.value(t.Key), records, error))
            return false;
        profile.Tables.emplace(t.Key, std::move(records));
    }
    out = std::move(profile);
    return true;
}

std::vector<TProfileDifference> CompareProfiles(const TProfile& reg, const TProfile& file)
{
    std::vector<TProfileDifference> differences;
    for (const TRegisterTable& t : SettingsTables()) {
        const TProfileRecords* a = reg.Find(t.Key);
        const TProfileRecords* b = file.Find(t.Key);
        if (!a || !b)
            continue;
        for (std::size_t r = 0; r < std::min(a->size(), b->size()); ++r) {
            const std::vector<TFieldValue>& left = (*a)[r];
            const std::vector<TFieldValue>& right = (*b)[r];
            for (const TFieldValue& v : left) {
                const TTableField& f = *v.Field;
                const QJsonValue mine = ProfileValue(f, v.Value);
                QJsonValue theirs(QJsonValue::Undefined);
                for (const TFieldValue& w : right)
                    if (w.Field == v.Field)
                        theirs = ProfileValue(f, w.Value);
                if (mine == theirs)
                    continue;
                TProfileDifference d;
                d.Table = t.Key;
                d.Key = f.Key;
                d.Row = t.Rows ? f.Record : 0;
                d.Field = t.Rows ? QStringLiteral("%1[%2].%3").arg(t.Key).arg(d.Row).arg(f.Key)
                                 : QStringLiteral("%1.%2").arg(t.Key, f.Key);
                d.RegisterValue = ProfileValueText(mine);
                d.FileValue = ProfileValueText(theirs);
                differences.push_back(std::move(d));
            }
        }
    }
    return differences;
}

QString ProfileDifferenceLine(const TProfileDifference& d)
{
    const QString table = d.Row > 0 ? QStringLiteral("%1[%2]").arg(d.Table).arg(d.Row) : d.Table;
    return QStringLiteral("%1, %2: %3 → %4").arg(table, d.Key, d.RegisterValue, d.FileValue);
}

TProfileFileFault ReadProfileFile(const QString& path, TProfile& out, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return TProfileFileFault::Unreadable;
    }
    return ProfileFromJson(file.readAll(), out, error) ? TProfileFileFault::None : TProfileFileFault::Invalid;
}

bool SaveProfileFile(const QString& path, const TProfile& profile, QString& error)
{
    const QByteArray json = ProfileToJson(profile);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace kkm
