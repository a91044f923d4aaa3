#include "ProfileJobs.h"

#include "Cp1251.h"
#include "SessionJobs.h"
#include "SettingsJobs.h"
#include "TextRules.h"

#include <memory>

namespace kkm {

namespace {

const QString kReadStart = QStringLiteral("Чтение профиля ККМ ...");
const QString kReadDone = QStringLiteral("Чтение профиля ККМ завершено.");
const QString kWriteStart = QStringLiteral("Запись профиля в ККМ ...");
const QString kWriteDone = QStringLiteral("Запись профиля в ККМ завершена.");

// Records as the profile keeps them, empty values, for the reads to fill.
TProfileRecords EmptyRecords(const TRegisterTable& t)
{
    TProfileRecords records;
    for (int record = t.FirstRecord; record <= t.LastRecord; ++record)
        records.push_back(RecordValues(t, record));
    return records;
}

void Store(TProfileRecords& records, const TRegisterTable& t, const TFieldValue& read)
{
    const std::size_t index = static_cast<std::size_t>(read.Field->Record - t.FirstRecord);
    if (index >= records.size())
        return;
    for (TFieldValue& v : records[index])
        if (v.Field == read.Field)
            v.Value = read.Value;
}

} // namespace

bool ProfileReadJob(TJobContext& job, const QStringList& tableKeys, TProfile& out)
{
    std::vector<const TRegisterTable*> tables;
    for (const QString& key : tableKeys.isEmpty() ? ProfileTableKeys() : tableKeys) {
        const TRegisterTable* t = FindTableByKey(key);
        if (!t || t->SubPage < 0) {
            job.Line(QStringLiteral("Неизвестная таблица настроек %1").arg(key), TLineKind::Error);
            return false;
        }
        tables.push_back(t);
    }
    job.Line(kReadStart, TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    TDeviceInfo info;
    if (!job.Check(p.GetDeviceInfo(RegisterAddress, PcAddress, info.SerialNumber, info.InfoWord, info.InfoByte,
                                   info.SoftVersion, info.SoftDate, info.ModelName)))
        return false;
    out.Model = TrimText(FromCp1251(info.ModelName));
    out.Serial = QString::number(info.SerialNumber);
    out.Time = QDateTime::currentDateTime();
    out.Tables.clear();
    for (const TRegisterTable* t : tables) {
        if (job.Cancelled())
            return false;
        TProfileRecords records = EmptyRecords(*t);
        const bool complete = SettingsReadJob(job, *t, [&](const std::vector<TFieldValue>& values) {
            for (const TFieldValue& v : values)
                Store(records, *t, v);
        });
        if (!complete)
            return false;
        out.Tables[t->Key] = std::move(records);
    }
    job.Line(kReadDone, TLineKind::Progress);
    return true;
}

bool ProfileWriteJob(TJobContext& job, const TProfile& profile, bool dryRun)
{
    std::vector<TSettingsWritePlan> plans;
    for (const TRegisterTable& t : SettingsTables()) {
        const TProfileRecords* records = profile.Find(t.Key);
        if (!records || !TakesInput(t))
            continue;
        TSettingsWritePlan plan = PlanSettingsWrite(
            t,
            [&](const TFieldValue& v, int record) {
                const std::size_t index = static_cast<std::size_t>(record - t.FirstRecord);
                if (index < records->size())
                    for (const TFieldValue& w : (*records)[index])
                        if (w.Field == v.Field)
                            return w.Value;
                return TControlValue{};
            },
            {});
        if (!plan.BuildError.isEmpty()) {
            job.Line(QStringLiteral("Профиль: таблица %1: %2").arg(t.Key, plan.BuildError), TLineKind::Error);
            return false;
        }
        plans.push_back(std::move(plan));
    }
    if (dryRun) {
        for (const TSettingsWritePlan& plan : plans) {
            const TRegisterTable& t = *plan.Table;
            job.Line(QStringLiteral("Без записи: таблица %1 (%2), %3: %4")
                         .arg(t.Key)
                         .arg(t.Table)
                         .arg(t.Write == TWriteKind::Fields ? QStringLiteral("полей") : QStringLiteral("записей"))
                         .arg(plan.Items.size()),
                     TLineKind::Progress);
        }
        return true;
    }
    job.Line(kWriteStart, TLineKind::Progress);
    for (const TSettingsWritePlan& plan : plans) {
        if (job.Cancelled())
            return false;
        if (SettingsWriteJob(job, plan) != TWriteOutcome::Written)
            return false;
    }
    job.Line(kWriteDone, TLineKind::Progress);
    return true;
}

} // namespace kkm
