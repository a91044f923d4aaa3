#include "CliCommands.h"

#include "CliFleet.h"
#include "CliTerminal.h"
#include "Cp1251.h"
#include "GoodsJobs.h"
#include "LogoJobs.h"
#include "LogoUpload.h"
#include "PortDirectory.h"
#include "SessionJobs.h"
#include "SettingsCodecs.h"
#include "TextRules.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <string>

namespace kkm::cli {

TFleetOptions FleetOptions(const TOptions& o)
{
    TFleetOptions f;
    f.Baud = o.Baud;
    f.TimeOutMs = o.TimeOutMs;
    f.Verbose = o.Verbose;
    return f;
}

void TFileJob::Line(const QString& text, TLineKind kind)
{
    if (kind == TLineKind::Error)
        Failed = true;
    if (kind == TLineKind::Error || verbose_)
        PrintError(file_ + QStringLiteral(": ") + text);
}

void PrintOut(const QString& text)
{
    if (TProgressLine* line = TProgressLine::Current())
        line->Clear();
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool ResolvePorts(const TOptions& o, QStringList& paths)
{
    paths.clear();
    for (const QString& name : o.Ports) {
        const QString path = ResolvePort(name);
        if (path.isEmpty()) {
            PrintError(name + QStringLiteral(": ") + TComPort::ResultText(prNoSuchPort));
            return false;
        }
        if (paths.contains(path)) {
            PrintError(name + QStringLiteral(": порт указан дважды"));
            return false;
        }
        paths << path;
    }
    return true;
}

bool TakePassword(const TOptions& o, std::int64_t& password, QString& error)
{
    QString text;
    if (o.Password && *o.Password == QLatin1String("-")) {
        if (!ReadLineHidden(text)) {
            error = QStringLiteral("пароль не прочитан из стандартного ввода");
            return false;
        }
    } else if (o.Password) {
        text = *o.Password;
    } else if (qEnvironmentVariableIsSet("KKM_PASSWORD")) {
        text = qEnvironmentVariable("KKM_PASSWORD");
    } else {
        error = QStringLiteral("не указан пароль: -w ПАРОЛЬ, -w - (из стандартного ввода) или KKM_PASSWORD");
        return false;
    }
    text = TrimText(text);
    if (text.isEmpty()) {
        error = QStringLiteral("Поле пароль не должно быть пустое!");
        return false;
    }
    const bool digits = std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!digits || text.size() > 6) {
        error = QStringLiteral("пароль: только цифры, не больше 6");
        return false;
    }
    password = text.toLongLong();
    return true;
}

bool TOutputPlace::Prepare(const TOptions& o, const QString& suffix, QString& error)
{
    suffix_ = suffix;
    if (o.Output == QLatin1String("-"))
        return true;
    const QFileInfo out(o.Output);
    if (o.Ports.size() > 1 || out.isDir()) {
        if (out.exists() && !out.isDir()) {
            error = o.Output + QStringLiteral(": с несколькими портами -o называет папку, а это файл");
            return false;
        }
        if (!QDir().mkpath(o.Output)) {
            error = o.Output + QStringLiteral(": папку не удалось создать");
            return false;
        }
        folder_ = o.Output;
        return true;
    }
    if (!out.absoluteDir().exists()) {
        error = o.Output + QStringLiteral(": нет папки ") + out.absolutePath();
        return false;
    }
    file_ = o.Output;
    return true;
}

QString TOutputPlace::FileFor(std::int64_t serial)
{
    if (folder_.isEmpty())
        return file_;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const QString base = serial >= 0 ? QString::number(serial) : QStringLiteral("kkm");
    QString name = base + suffix_;
    // Two registers with one serial number keep both files.
    for (int n = 2; taken_.contains(name); ++n)
        name = base + QStringLiteral("-") + QString::number(n) + suffix_;
    taken_ << name;
    return QDir(folder_).filePath(name);
}

QByteArray ReadStdin()
{
    QFile in;
    return in.open(stdin, QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

void WriteBytesOut(const std::vector<TPortOutcome>& outcomes)
{
    for (const TPortOutcome& outcome : outcomes) {
        if (outcome.Bytes.isEmpty())
            continue;
        if (TProgressLine* line = TProgressLine::Current())
            line->Clear();
        std::fwrite(outcome.Bytes.constData(), 1, static_cast<std::size_t>(outcome.Bytes.size()), stdout);
        std::fflush(stdout);
    }
}

// ---------------------------------------------------------------- ports

int RunPorts(const TOptions& o)
{
    QStringList ports;
    TComPort::GetPortList(ports);
    ports << LiveEmulatorPorts(EmulatorPortDir());
    if (o.Json) {
        PrintOut(QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(ports)).toJson(QJsonDocument::Compact)));
        return ExitOk;
    }
    for (const QString& port : ports)
        PrintOut(port);
    return ExitOk;
}

// ---------------------------------------------------------------- info

int RunInfo(const TOptions& o)
{
    QStringList ports;
    if (!ResolvePorts(o, ports))
        return ExitLine;
    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud))
            return;
        TDeviceInfo info;
        TDeviceState state;
        InfoJob(job, [&](const TDeviceInfo& i) { info = i; }, [&](const TDeviceState& s) { state = s; });
        if (job.Failed())
            return;
        out.Serial = info.SerialNumber;
        const QString model = TrimText(FromCp1251(info.ModelName));
        const QString softDate = QString::fromStdString(info.SoftDate.DateString());
        const QString date = QString::fromStdString(state.Date.DateString());
        const QString time = QString::fromStdString(state.Time.TimeString());
        const QString total = QString::fromStdString(state.SessionTotal.ToShortString());
        const QString cash = QString::fromStdString(state.CashInDrawer.ToShortString());
        // The information page's captions and values.
        out.Output = QStringList{
            QStringLiteral("Название модели ККМ: ") + model,
            QStringLiteral("Заводской номер ККМ: ") + QString::number(info.SerialNumber),
            QStringLiteral("Версия и дата СП: ") + QString::number(info.SoftVersion) + QStringLiteral("  [") +
                softDate + QStringLiteral("]"),
            QStringLiteral("Дата и время в ККМ: ") + date + QStringLiteral("  ") + time,
            QStringLiteral("Код ошибки устройства: ") + QString::number(state.ErrorCode),
            QStringLiteral("Текущий оператор и код режима: ") + QString::number(state.OperatorNo) +
                QStringLiteral(" , ") + QString::number(state.ModeCode),
            QStringLiteral("Состояние смены: ") +
                (state.SessionOpen != 0 ? QStringLiteral("Смена открыта") : QStringLiteral("Смена закрыта")),
            QStringLiteral("Сумма сменного итога: ") + total,
            QStringLiteral("Сумма наличности в ККМ: ") + cash,
        };
        out.Json = QJsonObject{
            {QStringLiteral("model"), model},
            {QStringLiteral("serial_number"), static_cast<qint64>(info.SerialNumber)},
            {QStringLiteral("soft_version"), info.SoftVersion},
            {QStringLiteral("soft_date"), softDate},
            {QStringLiteral("date"), date},
            {QStringLiteral("time"), time},
            {QStringLiteral("error_code"), state.ErrorCode},
            {QStringLiteral("operator"), state.OperatorNo},
            {QStringLiteral("mode"), state.ModeCode},
            {QStringLiteral("session_open"), state.SessionOpen != 0},
            {QStringLiteral("session_total"), total},
            {QStringLiteral("cash"), cash},
        };
        out.Text = QStringLiteral("прочитано");
    });

    const bool several = ports.size() > 1;
    if (o.Json) {
        PrintOut(OutcomesJson(ports, outcomes, ExitOk));
    } else {
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            if (outcomes[i].Output.isEmpty())
                continue;
            if (several)
                PrintOut(ports[static_cast<qsizetype>(i)] + QLatin1Char(':'));
            for (const QString& line : outcomes[i].Output)
                PrintOut(several ? QStringLiteral("  ") + line : line);
        }
    }
    return Summarise(ports, outcomes);
}

// ---------------------------------------------------------------- goods

int RunGoodsRead(const TOptions& o)
{
    QStringList ports;
    if (!ResolvePorts(o, ports))
        return ExitLine;
    TOutputPlace place;
    QString error;
    if (!place.Prepare(o, QStringLiteral(".csv"), error)) {
        PrintError(error);
        return ExitUsage;
    }
    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud) || !ReadIdentity(job, out))
            return;
        TGoodsRows rows;
        rows.First = o.First;
        rows.Last = o.Last;
        rows.Rows.resize(static_cast<std::size_t>(o.Last - o.First + 1));
        for (int item = o.First; item <= o.Last; ++item)
            rows.Rows[static_cast<std::size_t>(item - o.First)][0] = QString::number(item);
        const auto cell = [&](int item, int column) -> QString& {
            return rows.Rows[static_cast<std::size_t>(item - o.First)][static_cast<std::size_t>(column)];
        };
        GoodsReadJob(
            job, o.First, o.Last, nullptr,
            [&](int item, const TGoodsRow& row) {
                for (int c = 1; c <= 5; ++c)
                    cell(item, c) = row[static_cast<std::size_t>(c)];
            },
            [&](int item, TCurrency sales) { cell(item, 6) = GoodsSalesText(sales); });
        // A list read only in part is no list to keep.
        if (job.Failed())
            return;
        if (place.ToStdout()) {
            for (const TGoodsRow& row : rows.Rows)
                out.Bytes += FormatGoodsCsvLine(row);
            out.Text = QStringLiteral("товары %1..%2").arg(o.First).arg(o.Last);
            return;
        }
        const QString path = place.FileFor(out.Serial);
        job.ShowProgress(false);
        const TFileJobResult written = GoodsCsvExportJob(job, path, rows);
        if (written.Failed) {
            job.Fail(ExitUsage, path + QStringLiteral(": ") + written.Error);
            return;
        }
        out.Text = QStringLiteral("товары %1..%2 → %3").arg(o.First).arg(o.Last).arg(path);
    });
    WriteBytesOut(outcomes);
    return Summarise(ports, outcomes);
}

namespace {

// The goods file as the range's rows, as the window's grid holds them after
// an import into empty rows; false when the file has any fault.
bool LoadGoodsFile(const TOptions& o, TGoodsRows& rows)
{
    // Standard input is read whole into a file of its own first: the
    // import reads a file, and the writes start only once all is checked.
    const QString name = o.File == QLatin1String("-") ? StdinName : o.File;
    QTemporaryFile input;
    QString path = o.File;
    if (o.File == QLatin1String("-")) {
        QFile in;
        if (!input.open() || !in.open(stdin, QIODevice::ReadOnly) || input.write(in.readAll()) < 0 ||
            !input.flush()) {
            PrintError(name + QStringLiteral(": ") + input.errorString());
            return false;
        }
        path = input.fileName();
    }
    TFileJob job(name, o.Verbose);
    std::map<int, TGoodsRow> items;
    const TFileJobResult read = GoodsCsvImportJob(
        job, path,
        [&](const TImportLine& line) {
            TGoodsRow& row = items[line.Item];
            for (const auto& [column, value] : line.Cells)
                row[static_cast<std::size_t>(column)] = value;
        },
        [&](const QString& message) { PrintError(name + QStringLiteral(": ") + message); });
    if (read.Failed) {
        PrintError(name + QStringLiteral(": ") + read.Error);
        return false;
    }
    if (job.Failed)
        return false;
    if (items.empty() && !o.RangeGiven) {
        PrintError(name + QStringLiteral(": в файле нет товаров"));
        return false;
    }
    rows.First = o.RangeGiven ? o.First : items.begin()->first;
    rows.Last = o.RangeGiven ? o.Last : items.rbegin()->first;
    for (const auto& [item, row] : items) {
        if (item < rows.First || item > rows.Last) {
            PrintError(name + QStringLiteral(": Ошибка в записи № %1: товар вне интервала %2..%3")
                                    .arg(item)
                                    .arg(rows.First)
                                    .arg(rows.Last));
            return false;
        }
    }
    rows.Rows.assign(static_cast<std::size_t>(rows.Last - rows.First + 1), TGoodsRow{});
    for (int item = rows.First; item <= rows.Last; ++item) {
        TGoodsRow& row = rows.Rows[static_cast<std::size_t>(item - rows.First)];
        if (const auto found = items.find(item); found != items.end())
            row = found->second;
        row[0] = QString::number(item);
        // Every row must encode before any is sent.
        TGoodsRow copy = row;
        TArrayOfByte bytes;
        QString error;
        if (!EncodeGoodsRecord(copy, bytes, error)) {
            PrintError(name + QStringLiteral(": Ошибка в записи № %1: %2").arg(item).arg(error));
            return false;
        }
    }
    return true;
}

} // namespace

int RunGoodsWrite(const TOptions& o)
{
    QStringList ports;
    if (!ResolvePorts(o, ports))
        return ExitLine;
    std::int64_t password = 0;
    QString error;
    if (!TakePassword(o, password, error)) {
        PrintError(error);
        return ExitUsage;
    }
    TGoodsRows rows;
    if (!LoadGoodsFile(o, rows))
        return ExitUsage;
    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud) || !ReadIdentity(job, out) || !Authorise(job, o.User, password))
            return;
        const QString range = QStringLiteral("%1..%2").arg(rows.First).arg(rows.Last);
        if (o.DryRun) {
            out.Text = QStringLiteral("товары %1 не записаны (--dry-run)").arg(range);
            return;
        }
        QString encodeError;
        if (!GoodsWriteJob(job, rows, o.ZeroSales, nullptr, {}, encodeError)) {
            job.Fail(ExitUsage, encodeError);
            return;
        }
        if (!job.Failed())
            out.Text = QStringLiteral("товары %1 записаны").arg(range) +
                       (o.ZeroSales ? QStringLiteral(", продажи обнулены") : QString());
    });
    return Summarise(ports, outcomes);
}

// ---------------------------------------------------------------- logo

int RunLogoUpload(const TOptions& o)
{
    QStringList ports;
    if (!ResolvePorts(o, ports))
        return ExitLine;
    std::int64_t password = 0;
    QString error;
    if (!TakePassword(o, password, error)) {
        PrintError(error);
        return ExitUsage;
    }
    TSourcePicture picture;
    if (LoadLogoPicture(o.File, picture, error) != TLogoLoad::Ok) {
        PrintError(o.File + QStringLiteral(": ") + error);
        return ExitUsage;
    }
    // As the page stands after the load, then the user's changes; one scale
    // given sets both, as with "Сохранять пропорции" ticked.
    TLogoSettings settings = LoadedLogoSettings(picture);
    if (o.Contrast)
        settings.Fill.Contrast = *o.Contrast;
    if (o.ScaleH || o.ScaleV) {
        settings.Fill.ScaleH = (o.ScaleH ? *o.ScaleH : *o.ScaleV) / 10;
        settings.Fill.ScaleV = (o.ScaleV ? *o.ScaleV : *o.ScaleH) / 10;
    }
    settings.Fill.Invert = o.Invert;
    settings.Fill.Dither = o.Halftone;
    settings.Foot = o.Foot;
    if (o.Frame) {
        const auto [left, top, width, height] = *o.Frame;
        settings.Left = left;
        settings.Top = top;
        settings.Width = width;
        settings.Height = height;
    }
    error = CheckLogoFrame(settings.Left, settings.Top, settings.Width, settings.Height);
    if (!error.isEmpty()) {
        PrintError(QStringLiteral("--frame: ") + error);
        return ExitUsage;
    }
    TCopyRect frame;
    const QImage preview = RenderLogoPreview(picture, settings, frame);
    TLogoUpload upload;
    if (!PackLogoUpload(preview, frame, settings.Foot, upload, error)) {
        PrintError(error);
        return ExitUsage;
    }

    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud) || !ReadIdentity(job, out) || !Authorise(job, o.User, password))
            return;
        const QString what = QStringLiteral("изображение %1 x %2 %3")
                                 .arg(settings.Width)
                                 .arg(settings.Height)
                                 .arg(settings.Foot ? QStringLiteral("в окончании чека")
                                                    : QStringLiteral("в заголовке чека"));
        if (o.DryRun) {
            out.Text = what + QStringLiteral(" не записано (--dry-run)");
            return;
        }
        if (LogoUploadJob(job, upload.Kind, upload.BytesPerRow, upload.Rows))
            out.Text = what + QStringLiteral(" записано");
    });
    return Summarise(ports, outcomes);
}

} // namespace kkm::cli
