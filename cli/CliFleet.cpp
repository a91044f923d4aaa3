#include "CliFleet.h"

#include "CliTerminal.h"
#include "Cp1251.h"
#include "PortDirectory.h"
#include "SessionJobs.h"
#include "TextRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace kkm::cli {

void TCliJob::Line(const QString& text, TLineKind kind)
{
    if (kind == TLineKind::Error && exit_ == ExitOk) {
        // An error line with no result told before it is the register's
        // data that the codecs would not take.
        exit_ = result_ != 0 ? ExitOfResult(result_) : ExitRefused;
        error_ = text;
    }
    if (kind == TLineKind::Error)
        result_ = 0;
    inner_.Line(text, kind);
}

void TCliJob::Progress(int item, int first, int last)
{
    item_ = item;
    first_ = first;
    last_ = last;
    if (!showProgress_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (item != last && item != first && now - lastProgress_ < std::chrono::milliseconds(50))
        return;
    lastProgress_ = now;
    inner_.Progress(item, first, last);
}

void TCliJob::Fail(int exit, const QString& text)
{
    if (exit_ == ExitOk) {
        exit_ = exit;
        error_ = text;
    }
    inner_.Line(text, TLineKind::Error);
}

int ExitOfResult(std::int32_t result)
{
    if (result == rcOk)
        return ExitOk;
    // A request the component would not even build is no fault of the line.
    if (result > 0 || result == rcBuildFailed)
        return ExitRefused;
    return ExitLine;
}

bool Connect(TCliJob& job, const QString& port, std::uint32_t baud)
{
    const TConnectResult r = ConnectJob(job, port, baud);
    if (r.PortResult != 0) {
        job.Fail(ExitLine, TComPort::ResultText(r.PortResult));
        return false;
    }
    if (r.Result != 0) {
        job.Fail(ExitOfResult(r.Result), TOmvekCP::ErrorText(r.Result));
        return false;
    }
    job.Line(ConnectedLine(port, QString::number(baud)), TLineKind::Progress);
    return true;
}

bool ReadIdentity(TCliJob& job, TPortOutcome& outcome)
{
    const std::int32_t r = InfoJob(job, [&](const TDeviceInfo& info) { outcome.Serial = info.SerialNumber; }, {});
    return r == 0 && !job.Failed();
}

namespace {

QString RecordText(const TArrayOfByte& record, std::size_t first)
{
    if (first >= record.size())
        return QString();
    const std::size_t count = std::min<std::size_t>(32, record.size() - first);
    return TrimText(FromCp1251(QByteArrayView(record.data() + first, static_cast<qsizetype>(count))));
}

} // namespace

bool Authorise(TCliJob& job, const QString& user, std::int64_t password)
{
    std::int64_t number = 0;
    QString entry;
    if (TryStrToInt64(user, number)) {
        if (number < 1 || number > UserCount) {
            job.Fail(ExitUsage, QStringLiteral("Нет пользователя с номером %1 (есть 1..%2)").arg(number).arg(UserCount));
            return false;
        }
    } else {
        // Matched as the authorisation dialog lists them, or by the name
        // or the post alone.
        std::vector<TArrayOfByte> records;
        UserListJob(job, [&](const TArrayOfByte& record) { records.push_back(record); });
        if (job.Failed())
            return false;
        for (int pass = 0; pass < 3 && number == 0; ++pass) {
            for (std::size_t i = 0; i < records.size(); ++i) {
                const QString text = pass == 0   ? UserEntryText(records[i])
                                     : pass == 1 ? RecordText(records[i], 0)
                                                 : RecordText(records[i], 32);
                if (!text.isEmpty() && text.compare(user, Qt::CaseInsensitive) == 0) {
                    number = static_cast<std::int64_t>(i) + 1;
                    entry = UserEntryText(records[i]);
                    break;
                }
            }
        }
        if (number == 0) {
            job.Fail(ExitRefused, QStringLiteral("Пользователь \"%1\" не найден в ККМ").arg(user));
            return false;
        }
    }
    const std::int32_t r = AuthoriseJob(job, static_cast<std::uint8_t>(number), password);
    if (r != 0) {
        job.Fail(ExitOfResult(r), TOmvekCP::ErrorText(r));
        return false;
    }
    job.Line(AuthorisedLine(entry.isEmpty() ? QString::number(number) : entry), TLineKind::Progress);
    return true;
}

void PrintError(const QString& text)
{
    if (TProgressLine* line = TProgressLine::Current())
        line->Clear();
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

std::vector<TPortOutcome> RunFleet(const QStringList& ports, const TFleetOptions& options, const TPortTask& task)
{
    const int count = static_cast<int>(ports.size());
    const bool several = count > 1;
    TProgressLine progress(count);
    std::vector<TPortOutcome> outcomes(static_cast<std::size_t>(count));
    std::vector<bool> lost(static_cast<std::size_t>(count), false);
    std::vector<std::unique_ptr<TSession>> sessions;
    int running = count;
    const QString lostText = LineLostLine();
    // Set by Ctrl-C or SIGTERM: the jobs' failures after it are its doing
    // and not written.
    int interrupted = 0;

    for (int i = 0; i < count; ++i) {
        const QString port = ports[i];
        const QString prefix = several ? port + QStringLiteral(": ") : QString();
        auto session = std::make_unique<TSession>();
        if (options.TimeOutMs)
            session->Protokol()->setTimeOut(static_cast<std::uint32_t>(*options.TimeOutMs));
        QObject::connect(session.get(), &TSession::Line, session.get(),
                         [prefix, verbose = options.Verbose, &interrupted](const QString& text, TLineKind kind) {
                             if (interrupted == 0 && (kind == TLineKind::Error || verbose))
                                 PrintError(prefix + text);
                         });
        QObject::connect(session.get(), &TSession::Progress, session.get(),
                         [&progress, i](int item, int first, int last) { progress.Update(i, item, first, last); });
        QObject::connect(session.get(), &TSession::LineLost, session.get(),
                         [&lost, &interrupted, i, prefix, lostText] {
                             lost[static_cast<std::size_t>(i)] = true;
                             if (interrupted == 0)
                                 PrintError(prefix + lostText);
                         });
        auto outcome = std::make_shared<TPortOutcome>();
        session->Start(
            [outcome, port, &task, show = progress.Enabled()](TJobContext& context) {
                TCliJob job(context, port, show);
                try {
                    task(job, *outcome);
                } catch (const std::exception& e) {
                    job.Fail(ExitRefused, QString::fromLocal8Bit(e.what()));
                }
                if (job.Failed()) {
                    outcome->Exit = job.Exit();
                    outcome->Text = job.Error();
                }
                outcome->Item = job.Item();
                outcome->First = job.First();
                outcome->Last = job.Last();
            },
            [&, i, prefix, outcome] {
                TPortOutcome& o = outcomes[static_cast<std::size_t>(i)];
                o = std::move(*outcome);
                if (interrupted != 0) {
                    // Whatever it did, it did not finish as asked: its file
                    // (never written or discarded) and its output go.
                    o.Exit = interrupted;
                    o.Text = StoppedText(o);
                    o.Output.clear();
                    o.Bytes.clear();
                    PrintError(prefix + o.Text);
                } else if (lost[static_cast<std::size_t>(i)] && o.Exit != ExitOk) {
                    // The lost line is why whatever failed after it failed.
                    o.Exit = ExitLine;
                    o.Text = lostText;
                }
                if (--running == 0)
                    QCoreApplication::quit();
            });
        sessions.push_back(std::move(session));
    }
    // Ctrl-C ends every job at its next step and closes its port, which
    // gives the device its settings back; the jobs' ends then come as ever.
    SetInterruptHandler([&](int status) {
        interrupted = status;
        for (const auto& session : sessions)
            session->ClosePort();
    });
    // The program's own event loop, until the last port is done.
    if (running > 0)
        QCoreApplication::exec();
    ClearInterruptHandler();
    progress.Clear();
    // Closes every port and joins every worker.
    sessions.clear();
    return outcomes;
}

QString StoppedText(const TPortOutcome& o)
{
    if (o.Item <= 0)
        return QStringLiteral("прервано до начала передачи");
    return QStringLiteral("прервано на %1 из %2..%3").arg(o.Item).arg(o.First).arg(o.Last);
}

QString ResolvePort(const QString& name)
{
#ifdef _WIN32
    // COM3 and \\.\COM12 are names for the system, not files: the port's
    // Open tells whether there is such a port.
    return name;
#else
    if (name.contains(QLatin1Char('/')))
        return QFileInfo::exists(name) ? name : QString();
    for (const QString& dir : {QStringLiteral("/dev"), EmulatorPortDir()}) {
        const QString path = QDir(dir).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
#endif
}

QString OutcomesJson(const QStringList& ports, const std::vector<TPortOutcome>& outcomes, int errorAbove)
{
    QJsonArray all;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        QJsonObject object = outcomes[i].Json;
        object.insert(QStringLiteral("port"), ports[static_cast<qsizetype>(i)]);
        object.insert(QStringLiteral("exit"), outcomes[i].Exit);
        if (outcomes[i].Exit > errorAbove)
            object.insert(QStringLiteral("error"), outcomes[i].Text);
        all.append(object);
    }
    const QJsonDocument doc = ports.size() > 1 ? QJsonDocument(all) : QJsonDocument(all.first().toObject());
    return QString::fromUtf8(doc.toJson(QJsonDocument::Indented)).trimmed();
}

int Summarise(const QStringList& ports, const std::vector<TPortOutcome>& outcomes)
{
    int worst = ExitOk;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const TPortOutcome& o = outcomes[i];
        worst = std::max(worst, o.Exit);
        if (ports.size() < 2)
            continue;
        QString line = ports[static_cast<qsizetype>(i)] + QStringLiteral(": ") + QString::number(o.Exit);
        if (o.Serial >= 0 && o.Exit == ExitOk)
            line += QStringLiteral(" ККМ № ") + QString::number(o.Serial) + QStringLiteral(":");
        if (!o.Text.isEmpty())
            line += QLatin1Char(' ') + o.Text;
        PrintError(line);
    }
    return worst;
}

} // namespace kkm::cli
