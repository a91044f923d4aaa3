// The goods list's transfers: reading and writing a range of items with the
// register, and the CSV file's export and import. Plain code over the
// protocol component's blocking commands and the settings layer's codecs,
// run on a session's worker or on any thread with a context of its own.
// Item data comes out through callbacks, called in the job's thread; the
// rows to write or export are handed in whole, taken before the job starts.
#pragma once

#include "Session.h"

#include "GoodsCsv.h"
#include "SettingsMap.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <vector>

namespace kkm {

constexpr std::uint8_t GoodsTableNo = 1;

// Rows of the goods list for a transfer: items First..Last (none when First
// is above Last), Rows[i] being item First + i with all seven columns.
struct TGoodsRows {
    int First = 1;
    int Last = 0;
    std::vector<TGoodsRow> Rows;
    // The range could not be taken (a range text that is no number): the
    // export reports it where it takes the range, after the file is opened
    // and its start line written.
    bool RangeFailed = false;
    QString RangeError;

    const TGoodsRow& Row(int Item) const { return Rows[static_cast<std::size_t>(Item - First)]; }
};

// Reads items First..Last: each item's record (columns 1 to 5 to OnRecord),
// then its sales (to OnSales). Stop, when given, is taken back before each
// item and ends the transfer there; a failure is written in red and ends it
// (the item's record stays as read when its sales fail). The start and
// done lines are written in every case.
void GoodsReadJob(TJobContext& Job, int First, int Last, std::atomic<bool>* Stop,
                  const std::function<void(int Item, const TGoodsRow& Row)>& OnRecord,
                  const std::function<void(int Item, TCurrency Sales)>& OnSales);

// Writes Rows.First..Rows.Last, each row encoded as the transfer comes to
// it, with the item's sales zeroed after its record when ZeroSales. OnRow
// gets each row as it is sent, empty cells given their defaults (Filled
// marks them), also when a later cell fails. A row that cannot be encoded
// ends the transfer without the done line: the result is false and Error
// tells why. Stop and the error answers work as in GoodsReadJob.
bool GoodsWriteJob(TJobContext& Job, const TGoodsRows& Rows, bool ZeroSales, std::atomic<bool>* Stop,
                   const std::function<void(int Item, const TGoodsRow& Row,
                                            const std::array<bool, 7>& Filled)>& OnRow,
                   QString& Error);

// How a file transfer ended. Failed: Error is the text of the error box that
// ends it (the window shows it; no done line was written).
struct TFileJobResult {
    bool Failed = false;
    QString Error;
};

// Writes Rows.First..Rows.Last to Path as CSV lines. The file replaces an
// old one only once it is complete, so a failed export leaves it as it was,
// and so does one asked to end (no done line, no error).
TFileJobResult GoodsCsvExportJob(TJobContext& Job, const QString& Path, const TGoodsRows& Rows);

// Reads Path line by line into the goods list: OnCells gets each line's
// cells to set. A rejected field's message goes to OnRejected, which returns
// once it has been seen; the red line follows. An item number outside the
// list is written in red. Both end the import without the done line, as does
// a failure (the result's Error) and a job asked to end (no error).
TFileJobResult GoodsCsvImportJob(TJobContext& Job, const QString& Path,
                                 const std::function<void(const TImportLine& Line)>& OnCells,
                                 const std::function<void(const QString& Message)>& OnRejected);

} // namespace kkm
