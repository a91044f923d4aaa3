#include "StateFile.h"

#include "Cp1251.h"
#include "Text.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>


namespace kkm::emu {

namespace {

struct LoadError {
    QString text;
};

[[noreturn]] void Fail(const QString& text)
{
    throw LoadError{text};
}

QString HexString(const TArrayOfByte& bytes)
{
    return QString::fromStdString(ToHex(bytes, ""));
}

TArrayOfByte FromHex(const QString& text, const QString& what)
{
    const auto bytes = ParseHex(text.toStdString());
    if (!bytes) {
        const bool odd = ParseHex(text.toStdString() + "0").has_value();
        Fail(what + (odd ? QStringLiteral(": odd number of hex digits") : QStringLiteral(": not a hex string")));
    }
    return *bytes;
}

QString DateText(const Date& d)
{
    return QStringLiteral("%1.%2.%3")
        .arg(d.Day, 2, 10, QLatin1Char('0'))
        .arg(d.Month, 2, 10, QLatin1Char('0'))
        .arg(d.Year, 4, 10, QLatin1Char('0'));
}

Date ParseDate(const QString& text, const QString& what)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    bool ok[3] = {false, false, false};
    if (parts.size() == 3) {
        const Date d{parts[0].toInt(&ok[0]), parts[1].toInt(&ok[1]), parts[2].toInt(&ok[2])};
        if (ok[0] && ok[1] && ok[2])
            return d;
    }
    Fail(what + QStringLiteral(": expected dd.MM.yyyy"));
}

std::int64_t Integer(const QJsonValue& v, std::int64_t lo, std::int64_t hi, const QString& what)
{
    if (!v.isDouble())
        Fail(what + QStringLiteral(": expected a number"));
    const double d = v.toDouble();
    const std::int64_t i = v.toInteger();
    if (static_cast<double>(i) != d || i < lo || i > hi)
        Fail(what + QStringLiteral(": expected a whole number from %1 to %2").arg(lo).arg(hi));
    return i;
}

template <class T>
void ReadInt(const QJsonObject& o, const char* key, T& out, std::int64_t lo, std::int64_t hi)
{
    const QString k = QString::fromLatin1(key);
    if (o.contains(k))
        out = static_cast<T>(Integer(o.value(k), lo, hi, k));
}

QJsonObject Object(const QJsonValue& v, const QString& what)
{
    if (!v.isObject())
        Fail(what + QStringLiteral(": expected an object"));
    return v.toObject();
}

int Key(const QString& key, int lo, int hi, const QString& what)
{
    bool ok = false;
    const int n = key.toInt(&ok);
    if (!ok || n < lo || n > hi)
        Fail(what + QStringLiteral(": no such number ") + key);
    return n;
}

void Apply(const QJsonObject& json, RegisterState& s)
{
    if (json.contains(QStringLiteral("identity"))) {
        const QJsonObject o = Object(json.value(QStringLiteral("identity")), QStringLiteral("identity"));
        Identity& id = s.identity;
        ReadInt(o, "serialNumber", id.SerialNumber, 0, 999999999999LL);
        ReadInt(o, "infoWord", id.InfoWord, 0, 0xFFFF);
        ReadInt(o, "infoByte", id.InfoByte, 0, 99);
        ReadInt(o, "softVersion", id.SoftVersion, 0, 99);
        if (o.contains(QStringLiteral("softDate")))
            id.SoftDate = ParseDate(o.value(QStringLiteral("softDate")).toString(), QStringLiteral("softDate"));
        if (o.contains(QStringLiteral("modelNameHex"))) {
            const TArrayOfByte b = FromHex(o.value(QStringLiteral("modelNameHex")).toString(), QStringLiteral("modelNameHex"));
            id.ModelName.assign(b.begin(), b.end());
        } else if (o.contains(QStringLiteral("modelName"))) {
            id.ModelName = Utf8ToCp1251(o.value(QStringLiteral("modelName")).toString().toStdString());
        }
    }
    if (json.contains(QStringLiteral("state"))) {
        const QJsonObject o = Object(json.value(QStringLiteral("state")), QStringLiteral("state"));
        DeviceState& d = s.device;
        ReadInt(o, "errorCode", d.ErrorCode, 0, 255);
        ReadInt(o, "modeCode", d.ModeCode, 0, 255);
        ReadInt(o, "operatorNo", d.OperatorNo, 0, 99);
        ReadInt(o, "sessionOpen", d.SessionOpen, 0, 255);
        ReadInt(o, "sessionTotal", d.SessionTotal, 0, 999999999999LL);
        ReadInt(o, "cashInDrawer", d.CashInDrawer, 0, 999999999999LL);
        if (o.contains(QStringLiteral("clock"))) {
            const QString text = o.value(QStringLiteral("clock")).toString().trimmed();
            if (text == QStringLiteral("local") || text.isEmpty()) {
                d.FixedClock.reset();
            } else {
                const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const QStringList hms = parts.size() == 2 ? parts[1].split(QLatin1Char(':')) : QStringList();
                if (hms.size() != 3)
                    Fail(QStringLiteral("clock: expected \"local\" or dd.MM.yyyy HH:mm:ss"));
                ClockValue c;
                c.date = ParseDate(parts[0], QStringLiteral("clock"));
                c.time = {hms[0].toInt(), hms[1].toInt(), hms[2].toInt()};
                d.FixedClock = c;
            }
        }
    }
    if (json.contains(QStringLiteral("tables"))) {
        const QJsonObject tables = Object(json.value(QStringLiteral("tables")), QStringLiteral("tables"));
        for (auto t = tables.begin(); t != tables.end(); ++t) {
            const int table = Key(t.key(), 1, TableCount, QStringLiteral("tables"));
            auto& records = s.Tables[static_cast<std::size_t>(table - 1)];
            const QJsonObject recs = Object(t.value(), QStringLiteral("table ") + t.key());
            for (auto r = recs.begin(); r != recs.end(); ++r) {
                const QString what = QStringLiteral("table %1 record %2").arg(table).arg(r.key());
                const int record = Key(r.key(), 1, static_cast<int>(records.size()), what);
                TArrayOfByte bytes = FromHex(r.value().toString(), what);
                auto& target = records[static_cast<std::size_t>(record - 1)];
                if (bytes.size() != target.size())
                    Fail(what + QStringLiteral(": %1 bytes, the record has %2").arg(bytes.size()).arg(target.size()));
                target = std::move(bytes);
            }
        }
    }
    if (json.contains(QStringLiteral("sales"))) {
        const QJsonObject o = Object(json.value(QStringLiteral("sales")), QStringLiteral("sales"));
        for (auto i = o.begin(); i != o.end(); ++i) {
            const int item = Key(i.key(), 1, GoodsCount, QStringLiteral("sales"));
            s.Sales[static_cast<std::size_t>(item - 1)] =
                Integer(i.value(), 0, MaxSales, QStringLiteral("sales ") + i.key());
        }
    }
    if (json.contains(QStringLiteral("passwords"))) {
        const QJsonObject o = Object(json.value(QStringLiteral("passwords")), QStringLiteral("passwords"));
        for (auto i = o.begin(); i != o.end(); ++i) {
            const int user = Key(i.key(), 1, UserCount, QStringLiteral("passwords"));
            s.Passwords[static_cast<std::size_t>(user - 1)] = static_cast<std::uint32_t>(
                Integer(i.value(), 0, 99999999, QStringLiteral("password ") + i.key()));
        }
    }
    if (json.contains(QStringLiteral("logo"))) {
        const QJsonValue v = json.value(QStringLiteral("logo"));
        if (v.isNull()) {
            s.LastLogo.reset();
        } else {
            const QJsonObject o = Object(v, QStringLiteral("logo"));
            Logo logo;
            ReadInt(o, "kind", logo.Kind, 0, 1);
            ReadInt(o, "bytesPerRow", logo.BytesPerRow, 1, static_cast<std::int64_t>(MaxWriteData));
            ReadInt(o, "rows", logo.Rows, 1, 255);
            logo.Dots = FromHex(o.value(QStringLiteral("dots")).toString(), QStringLiteral("logo dots"));
            if (logo.Dots.size() != std::size_t(logo.BytesPerRow) * logo.Rows)
                Fail(QStringLiteral("logo: dots do not match bytesPerRow x rows"));
            s.LastLogo = logo;
        }
    }
}

} // namespace

QJsonObject StateToJson(const RegisterState& s)
{
    const RegisterState base = DefaultState();
    QJsonObject json;

    QJsonObject id;
    id.insert(QStringLiteral("serialNumber"), static_cast<qint64>(s.identity.SerialNumber));
    id.insert(QStringLiteral("infoWord"), s.identity.InfoWord);
    id.insert(QStringLiteral("infoByte"), s.identity.InfoByte);
    id.insert(QStringLiteral("softVersion"), s.identity.SoftVersion);
    id.insert(QStringLiteral("softDate"), DateText(s.identity.SoftDate));
    bool exact = false;
    const std::string name = Cp1251ToUtf8(s.identity.ModelName, &exact);
    if (exact && name.find('\0') == std::string::npos)
        id.insert(QStringLiteral("modelName"), QString::fromStdString(name));
    else
        id.insert(QStringLiteral("modelNameHex"),
                  HexString(TArrayOfByte(s.identity.ModelName.begin(), s.identity.ModelName.end())));
    json.insert(QStringLiteral("identity"), id);

    QJsonObject st;
    const DeviceState& d = s.device;
    st.insert(QStringLiteral("errorCode"), d.ErrorCode);
    if (d.FixedClock) {
        const ClockValue& c = *d.FixedClock;
        st.insert(QStringLiteral("clock"), DateText(c.date) + QStringLiteral(" %1:%2:%3")
                                                .arg(c.time.Hour, 2, 10, QLatin1Char('0'))
                                                .arg(c.time.Minute, 2, 10, QLatin1Char('0'))
                                                .arg(c.time.Second, 2, 10, QLatin1Char('0')));
    } else {
        st.insert(QStringLiteral("clock"), QStringLiteral("local"));
    }
    st.insert(QStringLiteral("modeCode"), d.ModeCode);
    st.insert(QStringLiteral("operatorNo"), d.OperatorNo);
    st.insert(QStringLiteral("sessionOpen"), d.SessionOpen);
    st.insert(QStringLiteral("sessionTotal"), static_cast<qint64>(d.SessionTotal));
    st.insert(QStringLiteral("cashInDrawer"), static_cast<qint64>(d.CashInDrawer));
    json.insert(QStringLiteral("state"), st);

    QJsonObject tables;
    for (int t = 0; t < TableCount; ++t) {
        QJsonObject recs;
        const auto& records = s.Tables[static_cast<std::size_t>(t)];
        const auto& defaults = base.Tables[static_cast<std::size_t>(t)];
        for (std::size_t r = 0; r < records.size(); ++r)
            if (r >= defaults.size() || records[r] != defaults[r])
                recs.insert(QString::number(r + 1), HexString(records[r]));
        if (!recs.isEmpty())
            tables.insert(QString::number(t + 1), recs);
    }
    json.insert(QStringLiteral("tables"), tables);

    QJsonObject sales;
    for (std::size_t i = 0; i < s.Sales.size(); ++i)
        if (s.Sales[i] != base.Sales[i])
            sales.insert(QString::number(i + 1), static_cast<qint64>(s.Sales[i]));
    json.insert(QStringLiteral("sales"), sales);

    QJsonObject passwords;
    for (std::size_t u = 0; u < s.Passwords.size(); ++u)
        passwords.insert(QString::number(u + 1), static_cast<qint64>(s.Passwords[u]));
    json.insert(QStringLiteral("passwords"), passwords);

    if (s.LastLogo) {
        QJsonObject logo;
        logo.insert(QStringLiteral("kind"), s.LastLogo->Kind);
        logo.insert(QStringLiteral("bytesPerRow"), s.LastLogo->BytesPerRow);
        logo.insert(QStringLiteral("rows"), s.LastLogo->Rows);
        logo.insert(QStringLiteral("dots"), HexString(s.LastLogo->Dots));
        json.insert(QStringLiteral("logo"), logo);
    } else {
        json.insert(QStringLiteral("logo"), QJsonValue::Null);
    }
    return json;
}

bool StateFromJson(const QJsonObject& json, RegisterState& state, QString* error)
{
    RegisterState copy = state;
    try {
        Apply(json, copy);
    } catch (const LoadError& e) {
        if (error)
            *error = e.text;
        return false;
    }
    state = std::move(copy);
    return true;
}

bool SaveStateFile(const RegisterState& state, const QString& path, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(QJsonDocument(StateToJson(state)).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool LoadStateFile(const QString& path, RegisterState& state, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = path + QStringLiteral(": ") +
                     (parse.error != QJsonParseError::NoError ? parse.errorString()
                                                              : QStringLiteral("expected a JSON object"));
        return false;
    }
    QString why;
    if (!StateFromJson(doc.object(), state, &why)) {
        if (error)
            *error = path + QStringLiteral(": ") + why;
        return false;
    }
    return true;
}

} // namespace kkm::emu
