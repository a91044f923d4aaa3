// kkm-cli events: the register's unsolicited messages as they arrive, one
// line each, from every port at once, until Ctrl-C or a lost line. The
// component decodes them on its port's worker, through the same fourteen
// events a host program of the component would assign; the line is
// written there, when the message has just been decoded.
#include "CliCommands.h"
#include "CliFleet.h"
#include "CliTerminal.h"
#include "Cp1251.h"
#include "FrameCodec.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace kkm::cli {

namespace {

// One field of an event: its name as the component gives it, its value as
// JSON text, and as words for the plain line (no words: not shown there).
struct TEventField {
    const char* Name;
    QString Json;
    const char* Label;
    QString Text;
};

QString JsonText(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// The exact decimal of a currency value: 199.9, 1.5, 0.
QString CurrencyNumber(TCurrency value)
{
    const bool negative = value.Raw < 0;
    const std::uint64_t raw = negative ? 0 - static_cast<std::uint64_t>(value.Raw) : static_cast<std::uint64_t>(value.Raw);
    QString text = QString::number(raw / TCurrency::Scale);
    QString fraction = QStringLiteral("%1").arg(raw % TCurrency::Scale, 4, 10, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += QLatin1Char('.') + fraction;
    return negative ? QLatin1Char('-') + text : text;
}

// A sum with its two decimals, a quantity with three, as the register
// prints them.
QString CurrencyText(TCurrency value, int decimals)
{
    return QString::number(static_cast<double>(value.Raw) / TCurrency::Scale, 'f', decimals);
}

TEventField Number(const char* name, const char* label, std::int64_t value)
{
    return {name, QString::number(value), label, QString::number(value)};
}

TEventField Sum(const char* name, const char* label, TCurrency value)
{
    return {name, CurrencyNumber(value), label, CurrencyText(value, 2)};
}

TEventField Quantity(const char* name, const char* label, TCurrency value)
{
    return {name, CurrencyNumber(value), label, CurrencyText(value, 3)};
}

TEventField Date(const char* name, const char* label, TDateTime value)
{
    int y = 0, m = 0, d = 0;
    value.DecodeDate(y, m, d);
    const QString iso = QStringLiteral("%1-%2-%3").arg(y, 4, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0')).arg(d, 2, 10, QLatin1Char('0'));
    return {name, JsonText(iso), label, QString::fromStdString(value.DateString())};
}

TEventField Time(const char* name, const char* label, TDateTime value)
{
    int h = 0, m = 0, s = 0, ms = 0;
    value.DecodeTime(h, m, s, ms);
    const QString iso = QStringLiteral("%1:%2:%3").arg(h, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return {name, JsonText(iso), label, iso};
}

TEventField Text(const char* name, const char* label, const TKkmText& value)
{
    const QString text = FromCp1251(value);
    return {name, JsonText(text), label, text};
}

TEventField Flag(const char* name, const char* label, bool value)
{
    return {name, value ? QStringLiteral("true") : QStringLiteral("false"), label,
            value ? QStringLiteral("да") : QStringLiteral("нет")};
}

// Writes an event's line to standard output; called on the ports' workers.
class TEventWriter {
public:
    TEventWriter(QString Port, bool Json) : port_(std::move(Port)), json_(Json) {}

    void Write(std::uint8_t code, const char* event, const char* title, std::uint8_t ar, std::uint8_t at,
               std::uint8_t pid, const std::vector<TEventField>& fields) const
    {
        // One port's line at a time, stamped under the same lock: the lines
        // leave in the order of their times, and the C library's local-time
        // conversion is not entered by two workers at once.
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        const QDateTime now = QDateTime::currentDateTime();
        QString line;
        if (json_) {
            const QDateTime zoned = now.toOffsetFromUtc(now.offsetFromUtc());
            line = QStringLiteral("{\"port\":%1,\"time\":%2,\"code\":%3,\"event\":\"%4\",\"AR\":%5,\"AT\":%6,\"PID\":%7")
                       .arg(JsonText(port_), JsonText(zoned.toString(Qt::ISODateWithMs)))
                       .arg(code)
                       .arg(QLatin1String(event))
                       .arg(ar)
                       .arg(at)
                       .arg(pid);
            for (const TEventField& f : fields)
                line += QStringLiteral(",\"%1\":%2").arg(QLatin1String(f.Name), f.Json);
            line += QLatin1Char('}');
        } else {
            QStringList parts;
            for (const TEventField& f : fields)
                if (f.Label)
                    parts << QString::fromUtf8(f.Label) + QLatin1Char(' ') + f.Text;
            line = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QLatin1Char(' ') + port_ +
                   QLatin1Char(' ') + QString::fromUtf8(title) +
                   (parts.isEmpty() ? QString() : QStringLiteral(": ") + parts.join(QStringLiteral(", ")));
        }
        PrintOut(line);
    }

private:
    QString port_;
    bool json_;
};

// Assigns the component's fourteen events; they stay assigned while the
// port is open, between the jobs, on the port's worker.
void AssignEvents(TOmvekCP& p, const std::shared_ptr<const TEventWriter>& w)
{
    p.onSaleOnFree = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper,
                         std::uint8_t vOper, TCurrency Quant, TCurrency Price, std::uint8_t nSection,
                         std::uint8_t nOperator, std::uint32_t nDoc) {
        w->Write(0x20, "onSaleOnFree", "Продажа по свободной цене", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("vOper", "вид", vOper),
                  Quantity("Quant", "количество", Quant), Sum("Price", "цена", Price),
                  Number("nSection", "отдел", nSection), Number("nOperator", "оператор", nOperator),
                  Number("nDoc", "документ", nDoc)});
    };
    p.onSaleOnCode = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper,
                         std::uint8_t vOper, TCurrency Quant, std::int64_t wCode, std::uint8_t nOperator,
                         std::uint32_t nDoc) {
        w->Write(0x21, "onSaleOnCode", "Продажа по коду", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("vOper", "вид", vOper),
                  Quantity("Quant", "количество", Quant), Number("wCode", "код товара", wCode),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onSaleOnBarcode = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper,
                            std::uint8_t vOper, TCurrency Quant, const TKkmText& wBCode, std::uint8_t nOperator,
                            std::uint32_t nDoc) {
        w->Write(0x22, "onSaleOnBarcode", "Продажа по штрих-коду", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("vOper", "вид", vOper),
                  Quantity("Quant", "количество", Quant), Text("wBCode", "штрих-код", wBCode),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onFreeDisc = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper, std::uint8_t tDisc,
                       std::uint8_t vOper, TCurrency dSumm, std::uint8_t nOperator, std::uint32_t nDoc) {
        w->Write(0x23, "onFreeDisc", "Свободная скидка", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("tDisc", "тип скидки", tDisc),
                  Number("vOper", "вид", vOper), Sum("dSumm", "сумма", dSumm),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onDiscOnQuery = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper,
                          std::uint8_t tDisc, std::uint8_t vOper, TCurrency rSumm, std::uint8_t nOperator,
                          std::uint32_t nDoc) {
        w->Write(0x24, "onDiscOnQuery", "Скидка по запросу", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("tDisc", "тип скидки", tDisc),
                  Number("vOper", "вид", vOper), Sum("rSumm", "сумма", rSumm),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onDiscOnCode = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper, std::uint8_t tDisc,
                         std::uint8_t vOper, TCurrency rSumm, std::int64_t dCode, std::uint8_t nOperator,
                         std::uint32_t nDoc) {
        w->Write(0x25, "onDiscOnCode", "Скидка по коду", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("tDisc", "тип скидки", tDisc),
                  Number("vOper", "вид", vOper), Sum("rSumm", "сумма", rSumm), Number("dCode", "код скидки", dCode),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onDiscOnBarcode = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper,
                            std::uint8_t tDisc, std::uint8_t vOper, TCurrency rSumm, const TKkmText& dBCode,
                            std::uint8_t nOperator, std::uint32_t nDoc) {
        w->Write(0x26, "onDiscOnBarcode", "Скидка по штрих-коду", ar, at, pid,
                 {Number("tOper", "операция", tOper), Number("tDisc", "тип скидки", tDisc),
                  Number("vOper", "вид", vOper), Sum("rSumm", "сумма", rSumm),
                  Text("dBCode", "штрих-код скидки", dBCode), Number("nOperator", "оператор", nOperator),
                  Number("nDoc", "документ", nDoc)});
    };
    p.onPayReceipt = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tPay, std::uint8_t tOper,
                         std::uint8_t vOper, TCurrency rSumm, std::uint8_t nOperator, std::uint32_t nDoc) {
        w->Write(0x27, "onPayReceipt", "Оплата чека", ar, at, pid,
                 {Number("tPay", "вид оплаты", tPay), Number("tOper", "операция", tOper),
                  Number("vOper", "вид", vOper), Sum("rSumm", "сумма", rSumm),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onCloseReceipt = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper, TDateTime rDate,
                           TDateTime rTime, TCurrency rSumm, std::uint8_t nOperator, std::uint32_t nDoc) {
        w->Write(0x29, "onCloseReceipt", "Чек закрыт", ar, at, pid,
                 {Number("tOper", "операция", tOper), Date("rDate", "дата", rDate), Time("rTime", "время", rTime),
                  Sum("rSumm", "сумма", rSumm), Number("nOperator", "оператор", nOperator),
                  Number("nDoc", "документ", nDoc)});
    };
    p.onAbortReceipt = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t tOper, TDateTime rDate,
                           TDateTime rTime, std::uint8_t nOperator, std::uint32_t nDoc) {
        w->Write(0x2A, "onAbortReceipt", "Чек аннулирован", ar, at, pid,
                 {Number("tOper", "операция", tOper), Date("rDate", "дата", rDate), Time("rTime", "время", rTime),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc)});
    };
    p.onInSumm = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, TCurrency inSumm, TDateTime inDate,
                     TDateTime inTime, std::uint8_t nOperator, std::uint32_t nDoc, std::uint32_t nIn) {
        w->Write(0x2B, "onInSumm", "Внесение денег", ar, at, pid,
                 {Sum("inSumm", "сумма", inSumm), Date("inDate", "дата", inDate), Time("inTime", "время", inTime),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc),
                  Number("nIn", "внесение №", nIn)});
    };
    p.onOutSumm = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, TCurrency outSumm, TDateTime outDate,
                      TDateTime outTime, std::uint8_t nOperator, std::uint32_t nDoc, std::uint32_t nOut) {
        w->Write(0x2C, "onOutSumm", "Выплата денег", ar, at, pid,
                 {Sum("outSumm", "сумма", outSumm), Date("outDate", "дата", outDate),
                  Time("outTime", "время", outTime), Number("nOperator", "оператор", nOperator),
                  Number("nDoc", "документ", nDoc), Number("nOut", "выплата №", nOut)});
    };
    p.onCloseSession = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, TCurrency cSumm, TDateTime cDate,
                           TDateTime cTime, std::uint8_t nOperator, std::uint32_t nDoc, std::uint16_t nSession) {
        w->Write(0x2D, "onCloseSession", "Смена закрыта", ar, at, pid,
                 {Sum("cSumm", "сумма", cSumm), Date("cDate", "дата", cDate), Time("cTime", "время", cTime),
                  Number("nOperator", "оператор", nOperator), Number("nDoc", "документ", nDoc),
                  Number("nSession", "смена", nSession)});
    };
    p.onConfirmation = [w](std::uint8_t ar, std::uint8_t at, std::uint8_t pid, TCurrency rSumm, bool RClose) {
        w->Write(0x2E, "onConfirmation", "Подтверждение", ar, at, pid,
                 {Sum("rSumm", "сумма", rSumm), Flag("RClose", "чек закрыт", RClose)});
    };
}

// Why a message frame gives no event, for -v; empty when it gives one
// (unless its body does not fit its kind, which only the reader sees).
QString SkippedWhy(const QByteArray& received)
{
    TArrayOfByte frame(received.begin(), received.end());
    switch (UnpackFrame(frame)) {
    case upOk:
        break;
    case upCrcMismatch:
        return QStringLiteral("неверная контрольная сумма");
    default:
        return QStringLiteral("кадр испорчен");
    }
    static const std::uint8_t known[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,
                                         0x27, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E};
    const std::uint8_t code = frame.size() > 3 ? frame[3] : 0;
    if (std::find(std::begin(known), std::end(known), code) == std::end(known))
        return QStringLiteral("сообщение с кодом 0x%1, у которого нет события")
            .arg(QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper());
    return QString();
}

} // namespace

int RunEvents(const TOptions& o)
{
    QStringList ports;
    if (!ResolvePorts(o, ports))
        return ExitLine;
    const int count = static_cast<int>(ports.size());
    const bool several = count > 1;
    std::vector<std::unique_ptr<TSession>> sessions;
    int status = -1;
    int lost = 0;
    const auto finish = [&status](int exit) {
        if (status >= 0)
            return;
        status = exit;
        QCoreApplication::quit();
    };

    for (int i = 0; i < count; ++i) {
        const QString port = ports[i];
        const QString prefix = several ? port + QStringLiteral(": ") : QString();
        auto session = std::make_unique<TSession>();
        if (o.TimeOutMs)
            session->Protokol()->setTimeOut(static_cast<std::uint32_t>(*o.TimeOutMs));
        QObject::connect(session.get(), &TSession::Line, session.get(),
                         [prefix, verbose = o.Verbose](const QString& text, TLineKind kind) {
                             if (kind == TLineKind::Error || verbose)
                                 PrintError(prefix + text);
                         });
        QObject::connect(session.get(), &TSession::LineLost, session.get(), [&, port] {
            PrintError(port + QStringLiteral(": Связь с ККМ потеряна: порт закрыт."));
            // The others keep listening; with none left it is over.
            if (++lost == count)
                finish(ExitLine);
        });
        if (o.Verbose) {
            QObject::connect(session.get(), &TSession::Message, session.get(), [port](const QByteArray& frame) {
                const QString why = SkippedWhy(frame);
                if (!why.isEmpty())
                    PrintError(port + QStringLiteral(": без события: ") + why + QStringLiteral(": ") +
                               QString::fromLatin1(frame.toHex(' ')));
            });
        }
        auto failed = std::make_shared<int>(ExitOk);
        auto writer = std::make_shared<const TEventWriter>(port, o.Json);
        session->Start(
            [failed, writer, port, baud = o.Baud](TJobContext& context) {
                TCliJob job(context, port, false);
                if (Connect(job, port, baud))
                    AssignEvents(job.Protokol(), writer);
                *failed = job.Exit();
            },
            [failed, &finish] {
                // A port that cannot listen ends it all: the user asked for
                // every one of them.
                if (*failed != ExitOk)
                    finish(*failed);
            });
        sessions.push_back(std::move(session));
    }
    SetInterruptHandler([&](int) { finish(lost > 0 ? ExitLine : ExitOk); });
    QCoreApplication::exec();
    ClearInterruptHandler();
    // Closes every port and joins every worker.
    sessions.clear();
    return status;
}

} // namespace kkm::cli
