#include "GoodsJobs.h"

#include <QFile>
#include <QSaveFile>

namespace kkm {

namespace {

// Taken back before each item: a stop asked for while no transfer ran ends
// the next one before its first item.
bool StopTaken(std::atomic<bool>* stop)
{
    return stop && stop->exchange(false);
}

const QString ExportStart = QStringLiteral("Выполняется экспорт данных...");
const QString ExportDone = QStringLiteral("Экспорт данных завершен!");
const QString ImportStart = QStringLiteral("Выполняется импорт данных...");
const QString ImportDone = QStringLiteral("Импорт данных завершен.");

// Export writes its lines in chunks of about this size.
constexpr qsizetype kExportChunk = 64 * 1024;

TFileJobResult Failure(const QString& error)
{
    return {true, error};
}

} // namespace

void GoodsReadJob(TJobContext& job, int first, int last, std::atomic<bool>* stop,
                  const std::function<void(int, const TGoodsRow&)>& onRecord,
                  const std::function<void(int, TCurrency)>& onSales)
{
    const TRegisterTable& t = GoodsTable();
    job.Line(t.ReadStartLine, TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    for (int item = first; item <= last; ++item) {
        if (StopTaken(stop))
            break;
        job.Progress(item, first, last);
        const auto record = static_cast<std::uint16_t>(item);
        TArrayOfByte bytes;
        if (!job.Check(p.ReadTableRecord(RegisterAddress, PcAddress, GoodsTableNo, record, bytes)))
            break;
        TGoodsRow row;
        QString error;
        if (!DecodeGoodsRecord(bytes, row, error)) {
            job.Line(error, TLineKind::Error);
            break;
        }
        if (onRecord)
            onRecord(item, row);
        TCurrency sales;
        if (!job.Check(p.ReadGoodsSales(RegisterAddress, PcAddress, record, sales)))
            break;
        if (onSales)
            onSales(item, sales);
    }
    // Also after a stop or an error answer.
    job.Line(t.ReadDoneLine, TLineKind::Progress);
}

bool GoodsWriteJob(TJobContext& job, const TGoodsRows& rows, bool zeroSales, std::atomic<bool>* stop,
                   const std::function<void(int, const TGoodsRow&, const std::array<bool, 7>&)>& onRow,
                   QString& error)
{
    const TRegisterTable& t = GoodsTable();
    job.Line(t.WriteStartLine, TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    for (int item = rows.First; item <= rows.Last; ++item) {
        if (StopTaken(stop))
            break;
        job.Progress(item, rows.First, rows.Last);
        TGoodsRow row = rows.Row(item);
        std::array<bool, 7> filled{};
        TArrayOfByte bytes;
        const bool built = EncodeGoodsRecord(row, bytes, error, &filled);
        // What is sent is shown: the defaults of empty cells stay, also when
        // a later cell of the row failed.
        if (onRow)
            onRow(item, row, filled);
        // The items before it are written; this one and the rest are not.
        if (!built)
            return false;
        const auto record = static_cast<std::uint16_t>(item);
        if (!job.Check(p.WriteTableRecord(RegisterAddress, PcAddress, GoodsTableNo, record, bytes)))
            break;
        if (zeroSales && !job.Check(p.WriteGoodsSales(RegisterAddress, PcAddress, record, TCurrency{})))
            break;
    }
    job.Line(t.WriteDoneLine, TLineKind::Progress);
    return true;
}

TFileJobResult GoodsCsvExportJob(TJobContext& job, const QString& path, const TGoodsRows& rows)
{
    // The lines are gathered into chunks here rather than in the file's own
    // buffer, whose write errors come back without their cause.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failure(file.errorString());
    job.Line(ExportStart, TLineKind::Progress);
    if (rows.RangeFailed)
        return Failure(rows.RangeError);

    QByteArray chunk;
    QString error;
    for (int item = rows.First; item <= rows.Last; ++item) {
        // Asked to end (the window closes): the old file stays.
        if (job.Cancelled())
            return {};
        chunk += FormatGoodsCsvLine(rows.Row(item));
        if (chunk.size() >= kExportChunk || item == rows.Last) {
            if (!WriteCsvLine(file, chunk, error))
                return Failure(error);
            chunk.clear();
        }
        job.Progress(item, rows.First, rows.Last);
    }
    // Not committed, the new file goes and the old one stays.
    if (!file.commit())
        return Failure(file.errorString());
    job.Line(ExportDone, TLineKind::Progress);
    return {};
}

TFileJobResult GoodsCsvImportJob(TJobContext& job, const QString& path,
                                 const std::function<void(const TImportLine&)>& onCells,
                                 const std::function<void(const QString&)>& onRejected)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure(file.errorString());
    job.Line(ImportStart, TLineKind::Progress);

    TCsvLineReader reader(file);
    QString text;
    while (reader.ReadLine(text)) {
        // Asked to end (the window closes): the lines read so far stay.
        if (job.Cancelled())
            return {};
        const TImportLine line = ParseImportLine(text);
        if (line.Status == TImportStatus::NotAnInteger)
            return Failure(line.Message);
        // The list has no such item.
        if (line.Status == TImportStatus::ItemOutOfRange) {
            job.Line(ImportErrorLine(line), TLineKind::Error);
            return {};
        }
        if (onCells)
            onCells(line);
        if (line.Status == TImportStatus::FieldRejected) {
            if (onRejected)
                onRejected(line.Message);
            job.Line(ImportErrorLine(line), TLineKind::Error);
            return {};
        }
        job.Progress(line.Item, 1, GoodsItemCount);
    }
    if (reader.Failed())
        return Failure(reader.ErrorString());
    job.Line(ImportDone, TLineKind::Progress);
    return {};
}

} // namespace kkm
