// The goods list as a CSV text file: single-byte Windows-1251, one item per
// line, the grid's seven columns separated by ";", no quoting, no header.
// Export ends lines with CR LF; import takes LF or CR LF. Every byte of a
// file is read as one Windows-1251 character, whatever the file holds.
#pragma once

#include "SettingsMap.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <utility>
#include <vector>

// Reads the lines of a device opened for reading (without QIODevice::Text).
class TCsvLineReader {
public:
    explicit TCsvLineReader(QIODevice& Device);

    // The next line without its LF or CR LF. False at the end of the data
    // and when the device fails to read; Failed() tells them apart.
    bool ReadLine(QString& Line);
    bool Failed() const { return failed_; }
    QString ErrorString() const { return error_; }

private:
    bool Fill();
    void TakeLine(QString& Line, qsizetype End, qsizetype Next);

    QIODevice& device_;
    QByteArray buffer_;
    qsizetype pos_ = 0;  // first unread byte
    qsizetype scan_ = 0; // where the search for the next LF resumes
    bool end_ = false;
    bool failed_ = false;
    QString error_;
};

// One exported line: the fields joined by ";", Windows-1251, then CR LF.
QByteArray FormatCsvLine(const QStringList& Fields);
QByteArray FormatGoodsCsvLine(const TGoodsRow& Row);

// Writes the whole line or fails with the device's error text. (A buffered
// file reports a full disk at flush or close, which the caller checks.)
bool WriteCsvLine(QIODevice& Device, const QByteArray& Line, QString& Error);

// Checks and completes one imported field of a column 1 and up; Field is
// changed in place. On false, Message is the text to show in the message
// box ("Ошибка" caption) before the journal's error line.
bool CheckImportField(int Column, QString& Field, QString& Message);

enum class TImportStatus {
    Ok,             // set Cells into row Item
    NotAnInteger,   // the text before the first ";" is not an integer: report
                    // Message through the error guard, end the import
    ItemOutOfRange, // an integer outside 1..9999: journal ImportErrorLine(), end
    FieldRejected,  // set Cells (those before the rejected field), show Message
                    // in a box, then journal ImportErrorLine(), end
};

struct TImportLine {
    TImportStatus Status = TImportStatus::Ok;
    int Item = 0;       // 1..9999 for Ok and FieldRejected
    QString ItemText;   // the item number in decimal, as the error line shows it
    // (grid column 1..6, text) in the order to set them. Fields past column 6
    // change nothing and are not listed.
    std::vector<std::pair<int, QString>> Cells;
    QString Message;
};

// Parses one line of an import file (without its line end).
TImportLine ParseImportLine(QStringView Line);

// "Ошибка в записи № " followed by the item number.
QString ImportErrorLine(const TImportLine& Line);

inline constexpr int GoodsCsvColumns = 7;
