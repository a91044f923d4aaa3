// The register's settings tables as data: for each table of the settings
// and goods pages its records and how it is read and written, and for each
// field its bytes, the control that shows it and its encoding. Reading a
// record into control values and building a record from them both walk this
// map. It describes the record layouts only: the settings page still builds
// its controls with their own item lists and lengths (ui/uSettingsPage.cpp),
// so a changed list or length is changed in both places.
//
// Controls are named by their objectName. A grid cell is the grid's name
// (Control) and a column (Column >= 0); its row is the record number (the
// item number for goods), given with each value as TFieldValue::Row.
#pragma once

#include "SettingsCodecs.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <vector>

enum class TControlKind {
    Edit,        // TControlValue::Text
    List,        // Index
    CheckedList, // Bits
    CheckBox,    // Checked
    GridCell,    // Text; the sections' column 4 also Index (the row's list),
                 // the operators' column 2 also Bits (the row's rights list)
};

struct TFieldSpec {
    int Record = 0;         // record number; 0 in the goods table: every item
    int Field = 0;          // the register's field number
    int Offset = 0;         // first byte in the record
    int Size = 0;           // bytes of the field
    QString Control;        // objectName of the control, or of the grid
    int Column = -1;        // grid column for grid cells, -1 otherwise
    TControlKind Kind = TControlKind::Edit;
    TEncoding Encoding = TEncoding::Text;
    QString EmptyDefault;   // put into an empty or blank control before writing (null: none)
    QStringList Items;      // lists and check lists: the items, position 0 first
    QString WriteErrorLine; // field writes: the red line, followed by the record
                            // number, that comes before the error's text
};

enum class TReadKind { Fields, Records };    // ReadTableField per field / ReadTableRecord per record
enum class TWriteKind { Never, Records, Fields }; // WriteTableRecord per record / WriteTableField per field

struct TTableSpec {
    int Table = 0;
    QString Page;          // objectName of the sub-page (or of the goods page)
    int SubPage = -1;      // index in pc_Options; -1 for the goods table
    int FirstRecord = 1;
    int LastRecord = 1;    // goods: 9999, the window reads and writes its range
    int RecordSize = 0;    // bytes of a record built for writing (the largest record
                           // for read-only tables)
    TReadKind Read = TReadKind::Records;
    TWriteKind Write = TWriteKind::Never;
    QString ReadStartLine, ReadDoneLine;   // journal
    QString WriteStartLine, WriteDoneLine; // journal; empty for tables never written
    // Ordered by record, then in the order the controls are set and written.
    std::vector<TFieldSpec> Fields;
};

// The nine sub-pages of the settings page, index = sub-page index of
// pc_Options (tables 2 to 10).
const std::vector<TTableSpec>& SettingsTables();
// Table 1, the goods grid.
const TTableSpec& GoodsTable();
// Any of the ten tables by number; nullptr for others.
const TTableSpec* FindTable(int Table);
// The field shown by a control (a grid's cell: grid name and column);
// Record -1 takes the first match.
const TFieldSpec* FindField(QStringView Control, int Column = -1, int Record = -1);

// One field of one record with its control's value.
struct TFieldValue {
    const TFieldSpec* Field = nullptr;
    int Row = -1;          // grid cells: the grid row (record or item number); else -1
    TControlValue Value;
    bool Filled = false;   // writing put a default (or the INN's zeros) into
                           // Value.Text: the control is to show it
};

// The fields of a record in their order, values empty. For a write the
// window fills each Value from its control.
std::vector<TFieldValue> RecordValues(const TTableSpec& Table, int Record);

// Bytes of a ReadTableField answer into the field's control value.
bool DecodeField(const TFieldSpec& Field, TBytes Bytes, TControlValue& Value, QString& Error);

// The field's bytes (Field.Size of them) for WriteTableField or for its
// place in a record. An empty control with a default gets the default in
// Value.Text first (*Filled set); that stays even when the field then fails.
bool EncodeField(const TFieldSpec& Field, TControlValue& Value, TArrayOfByte& Bytes, QString& Error,
                 bool* Filled = nullptr);

// A ReadTableRecord answer into the values of the record's controls, in
// the order to set them. A shorter answer than the fields need fails.
bool DecodeRecord(const TTableSpec& Table, int Record, TBytes Bytes, std::vector<TFieldValue>& Values,
                  QString& Error);

// A fresh record of Table.RecordSize bytes, zero apart from the fields, from
// Values as RecordValues gave them and the window filled them. Fields are
// built in order; the defaults put in before a failing field stay in Values
// (Filled). Bytes is assigned only on success.
bool EncodeRecord(const TTableSpec& Table, int Record, std::vector<TFieldValue>& Values,
                  TArrayOfByte& Bytes, QString& Error);

// The goods grid's row texts by column: 0 item number, 1 name, 2 barcode,
// 3 section, 4 price, 5 fractional, 6 sales.
using TGoodsRow = std::array<QString, 7>;

constexpr int GoodsItemCount = 9999;
inline const QString GoodsYes = QStringLiteral("ДА");
inline const QString GoodsNo = QStringLiteral("НЕТ");

// Columns 1 to 5 from a goods record; the others are left alone.
bool DecodeGoodsRecord(TBytes Bytes, TGoodsRow& Row, QString& Error);
// The 46-byte goods record from columns 1 to 5; empty or blank cells get
// their defaults in Row first (Filled[column] set), as EncodeRecord does.
bool EncodeGoodsRecord(TGoodsRow& Row, TArrayOfByte& Bytes, QString& Error,
                       std::array<bool, 7>* Filled = nullptr);
