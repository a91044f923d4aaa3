// The settings subcommands: profiles read from registers, compared with
// them and written to them, by the profile jobs the window uses.
#include "CliCommands.h"
#include "CliFleet.h"
#include "Profile.h"
#include "ProfileJobs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kkm::cli {

namespace {

// The -t keys, each a settings table of the profile.
bool CheckTableKeys(const QStringList& keys, QString& error)
{
    const QStringList known = ProfileTableKeys();
    for (const QString& key : keys) {
        if (!known.contains(key)) {
            error = QStringLiteral("-t %1: нет такой таблицы; есть %2").arg(key, known.join(QStringLiteral(", ")));
            return false;
        }
    }
    return true;
}

// The profile file, checked whole; with a write, also encoded whole, so a
// value the register's records cannot hold sends nothing to any register.
bool LoadProfile(const TOptions& o, bool forWrite, TProfile& profile)
{
    QString error;
    bool ok = false;
    if (o.File == QLatin1String("-"))
        ok = ProfileFromJson(ReadStdin(), profile, error);
    else
        ok = ReadProfileFile(o.File, profile, error) == TProfileFileFault::None;
    if (!ok) {
        PrintError(o.File + QStringLiteral(": ") + error);
        return false;
    }
    if (forWrite) {
        TFileJob check(o.File, false);
        if (!ProfileWriteJob(check, profile, true) || check.Failed)
            return false;
    }
    return true;
}

// A value as the comparison wrote it (JSON text) back as JSON.
QJsonValue JsonOfText(const QString& text)
{
    const QJsonDocument doc = QJsonDocument::fromJson("[" + text.toUtf8() + "]");
    return doc.isArray() && doc.array().size() == 1 ? doc.array().first() : QJsonValue(text);
}

int RunSettingsRead(const TOptions& o, const QStringList& ports)
{
    QString error;
    if (!CheckTableKeys(o.Tables, error)) {
        PrintError(error);
        return ExitUsage;
    }
    TOutputPlace place;
    if (!place.Prepare(o, QStringLiteral(".json"), error)) {
        PrintError(error);
        return ExitUsage;
    }
    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud))
            return;
        TProfile profile;
        const bool read = ProfileReadJob(job, o.Tables, profile);
        if (!profile.Serial.isEmpty())
            out.Serial = profile.Serial.toLongLong();
        if (!read || job.Failed())
            return;
        if (place.ToStdout()) {
            out.Bytes = ProfileToJson(profile);
            out.Text = QStringLiteral("таблиц %1").arg(profile.Tables.size());
            return;
        }
        const QString path = place.FileFor(out.Serial);
        QString saveError;
        if (!SaveProfileFile(path, profile, saveError)) {
            job.Fail(ExitUsage, path + QStringLiteral(": ") + saveError);
            return;
        }
        out.Text = QStringLiteral("таблиц %1 → %2").arg(profile.Tables.size()).arg(path);
    });
    WriteBytesOut(outcomes);
    return Summarise(ports, outcomes);
}

int RunSettingsDiff(const TOptions& o, const QStringList& ports)
{
    QString error;
    if (!CheckTableKeys(o.Tables, error)) {
        PrintError(error);
        return ExitUsage;
    }
    TProfile file;
    if (!LoadProfile(o, false, file))
        return ExitUsage;
    // Only what the file holds can differ from it.
    QStringList tables = o.Tables;
    if (tables.isEmpty())
        for (const auto& [key, records] : file.Tables)
            tables << key;
    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud))
            return;
        TProfile reg;
        const bool read = ProfileReadJob(job, tables, reg);
        if (!reg.Serial.isEmpty())
            out.Serial = reg.Serial.toLongLong();
        if (!read || job.Failed())
            return;
        const std::vector<TProfileDifference> differences = CompareProfiles(reg, file);
        QJsonArray json;
        for (const TProfileDifference& d : differences) {
            out.Output << ProfileDifferenceLine(d);
            json.append(QJsonObject{{QStringLiteral("table"), d.Table},
                                    {QStringLiteral("field"), d.Field},
                                    {QStringLiteral("register"), JsonOfText(d.RegisterValue)},
                                    {QStringLiteral("file"), JsonOfText(d.FileValue)}});
        }
        out.Json.insert(QStringLiteral("differences"), json);
        if (differences.empty()) {
            out.Text = QStringLiteral("совпадает с файлом");
        } else {
            out.Exit = ExitDifferent;
            out.Text = QStringLiteral("различий: %1").arg(differences.size());
        }
    });

    const bool several = ports.size() > 1;
    if (o.Json) {
        PrintOut(OutcomesJson(ports, outcomes, ExitDifferent));
    } else {
        for (std::size_t i = 0; i < outcomes.size(); ++i)
            for (const QString& line : outcomes[i].Output)
                PrintOut(several ? ports[static_cast<qsizetype>(i)] + QStringLiteral(": ") + line : line);
    }
    return Summarise(ports, outcomes);
}

int RunSettingsWrite(const TOptions& o, const QStringList& ports)
{
    std::int64_t password = 0;
    QString error;
    if (!TakePassword(o, password, error)) {
        PrintError(error);
        return ExitUsage;
    }
    TProfile profile;
    if (!LoadProfile(o, true, profile))
        return ExitUsage;
    const auto outcomes = RunFleet(ports, FleetOptions(o), [&](TCliJob& job, TPortOutcome& out) {
        if (!Connect(job, job.Port(), o.Baud) || !ReadIdentity(job, out) || !Authorise(job, o.User, password))
            return;
        if (ProfileWriteJob(job, profile, o.DryRun) && !job.Failed())
            out.Text = o.DryRun ? QStringLiteral("профиль не записан (--dry-run)") : QStringLiteral("профиль записан");
    });
    return Summarise(ports, outcomes);
}

} // namespace

int RunSettings(const TOptions& o)
{
    QStringList ports;
    if (!ResolvePorts(o, ports))
        return ExitLine;
    switch (o.Command) {
    case TCommand::SettingsRead:
        return RunSettingsRead(o, ports);
    case TCommand::SettingsDiff:
        return RunSettingsDiff(o, ports);
    case TCommand::SettingsWrite:
        return RunSettingsWrite(o, ports);
    default:
        return ExitUsage;
    }
}

} // namespace kkm::cli
