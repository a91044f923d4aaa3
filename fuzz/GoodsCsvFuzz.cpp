// The goods CSV reader fed arbitrary bytes: lines split as the import
// splits them, each parsed into an item's cells. A line taken whole
// exports to a line the import takes back.
#include "FuzzSupport.h"
#include "GoodsCsv.h"

#include <QBuffer>

#include <algorithm>

namespace {

// The row exported as a line and that line imported into an empty row.
TGoodsRow RoundTrip(const TGoodsRow& row, int item)
{
    QByteArray line = FormatGoodsCsvLine(row);
    FUZZ_CHECK(line.endsWith("\r\n"));
    line.chop(2);
    QBuffer buffer(&line);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    TCsvLineReader reader(buffer);
    QString text;
    FUZZ_CHECK(reader.ReadLine(text));
    const TImportLine parsed = ParseImportLine(text);
    FUZZ_CHECK(parsed.Status == TImportStatus::Ok && parsed.Item == item);
    TGoodsRow back;
    back[0] = QString::number(item);
    for (const auto& [column, value] : parsed.Cells)
        back[static_cast<std::size_t>(column)] = value;
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    TCsvLineReader reader(buffer);
    QString line;
    int lines = 0;
    while (reader.ReadLine(line)) {
        ++lines;
        FUZZ_CHECK(!line.contains(QLatin1Char('\n')));
        TImportLine parsed = ParseImportLine(line);
        if (parsed.Status == TImportStatus::NotAnInteger || parsed.Status == TImportStatus::ItemOutOfRange) {
            FUZZ_CHECK(parsed.Cells.empty());
            continue;
        }
        FUZZ_CHECK(parsed.Item >= 1 && parsed.Item <= GoodsItemCount);
        if (parsed.Status != TImportStatus::Ok)
            continue;
        TGoodsRow row;
        row[0] = QString::number(parsed.Item);
        for (const auto& [column, value] : parsed.Cells) {
            FUZZ_CHECK(column >= 1 && column < GoodsCsvColumns);
            row[static_cast<std::size_t>(column)] = value;
        }
        // The line's last field is stored unchecked, as the window's import
        // does; only a row whose every cell would pass goes round.
        auto& [lastColumn, lastValue] = parsed.Cells.back();
        QString message;
        if (!CheckImportField(lastColumn, row[static_cast<std::size_t>(lastColumn)], message))
            continue;
        // Exported and imported again, a row gets its empty cells' defaults
        // once; from then on the export's line is one the import takes
        // back unchanged.
        const TGoodsRow once = RoundTrip(row, parsed.Item);
        // Each import turns a field's first "," into "." (names too, as the
        // window's import does): a field with several changes at each turn.
        if (std::any_of(once.begin(), once.end(), [](const QString& cell) { return cell.contains(u','); }))
            continue;
        const TGoodsRow twice = RoundTrip(once, parsed.Item);
        FUZZ_CHECK(FormatGoodsCsvLine(twice) == FormatGoodsCsvLine(once));
    }
    FUZZ_CHECK(!reader.Failed());
    FUZZ_CHECK(lines <= bytes.size() + 1);
    return 0;
}
