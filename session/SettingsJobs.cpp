#include "SettingsJobs.h"

namespace kkm {

bool SettingsReadJob(TJobContext& job, const TRegisterTable& t,
                     const std::function<void(const std::vector<TFieldValue>&)>& onValues)
{
    job.Line(t.ReadStartLine, TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    const auto table = static_cast<std::uint8_t>(t.Table);
    const bool complete = [&] {
        if (t.Read == TReadKind::Fields) {
            for (const TTableField& f : t.Fields) {
                TArrayOfByte bytes;
                if (!job.Check(p.ReadTableField(RegisterAddress, PcAddress, table,
                                                static_cast<std::uint16_t>(f.Record),
                                                static_cast<std::uint8_t>(f.Field), bytes)))
                    return false;
                TFieldValue v;
                v.Field = &f;
                QString error;
                // An answer too short for its field is a failed read like
                // any other: the control keeps what it showed.
                if (!DecodeField(f, bytes, v.Value, error)) {
                    job.Line(error, TLineKind::Error);
                    return false;
                }
                if (onValues)
                    onValues({v});
            }
            return true;
        }
        for (int record = t.FirstRecord; record <= t.LastRecord; ++record) {
            TArrayOfByte bytes;
            if (!job.Check(p.ReadTableRecord(RegisterAddress, PcAddress, table,
                                             static_cast<std::uint16_t>(record), bytes)))
                return false;
            std::vector<TFieldValue> values;
            QString error;
            if (!DecodeRecord(t, record, bytes, values, error)) {
                job.Line(error, TLineKind::Error);
                return false;
            }
            if (onValues)
                onValues(values);
        }
        return true;
    }();
    // Also after an error answer, which ended the loop.
    job.Line(t.ReadDoneLine, TLineKind::Progress);
    return complete;
}

TSettingsWritePlan PlanSettingsWrite(const TRegisterTable& t,
                                     const std::function<TControlValue(const TFieldValue&, int)>& valueOf,
                                     const std::function<void(const TFieldValue&)>& onFilled)
{
    TSettingsWritePlan plan;
    plan.Table = &t;
    if (!TakesInput(t))
        return plan;
    plan.DoneAfterRefusal = WriteDoneAfterRefusal(t);
    if (t.Write == TWriteKind::Fields) {
        for (int record = t.FirstRecord; record <= t.LastRecord; ++record) {
            for (TFieldValue& v : RecordValues(t, record)) {
                v.Value = valueOf(v, record);
                TArrayOfByte bytes;
                QString error;
                bool filled = false;
                const bool built = EncodeField(*v.Field, v.Value, bytes, error, &filled);
                v.Filled = filled;
                if (filled && onFilled)
                    onFilled(v);
                if (!built) {
                    plan.BuildError = error;
                    return plan;
                }
                plan.Items.push_back({record, v.Field->Field, std::move(bytes),
                                      v.Field->WriteErrorLine + QString::number(record)});
            }
        }
        return plan;
    }
    // Whole records: one, or each of the table's records (text lines).
    for (int record = t.FirstRecord; record <= t.LastRecord; ++record) {
        std::vector<TFieldValue> values = RecordValues(t, record);
        if (values.empty()) {
            plan.BuildError = QStringLiteral("Нет строки %1").arg(record);
            return plan;
        }
        for (TFieldValue& v : values)
            v.Value = valueOf(v, record);
        TArrayOfByte bytes;
        QString error;
        const bool built = EncodeRecord(t, record, values, bytes, error);
        // The defaults are shown, also when a later field failed.
        if (onFilled)
            for (const TFieldValue& v : values)
                if (v.Filled)
                    onFilled(v);
        if (!built) {
            plan.BuildError = error;
            return plan;
        }
        plan.Items.push_back({record, 0, std::move(bytes), QString()});
    }
    return plan;
}

TWriteOutcome SettingsWriteJob(TJobContext& job, const TSettingsWritePlan& plan)
{
    const TRegisterTable& t = *plan.Table;
    job.Line(t.WriteStartLine, TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    const auto table = static_cast<std::uint8_t>(t.Table);
    for (const TSettingsWriteItem& item : plan.Items) {
        const auto record = static_cast<std::uint16_t>(item.Record);
        const std::int32_t rc =
            item.Field == 0
                ? p.WriteTableRecord(RegisterAddress, PcAddress, table, record, item.Bytes)
                : p.WriteTableField(RegisterAddress, PcAddress, table, record,
                                    static_cast<std::uint8_t>(item.Field), item.Bytes);
        if (rc != 0) {
            // The refusal's own line follows; its cause goes with the first.
            job.Failure(rc);
            if (!item.ErrorLine.isEmpty())
                job.Line(item.ErrorLine, TLineKind::Error);
            job.Check(rc);
            if (plan.DoneAfterRefusal)
                job.Line(t.WriteDoneLine, TLineKind::Progress);
            return TWriteOutcome::Refused;
        }
    }
    if (!plan.BuildError.isEmpty())
        return TWriteOutcome::NotEncoded;
    job.Line(t.WriteDoneLine, TLineKind::Progress);
    return TWriteOutcome::Written;
}

} // namespace kkm
