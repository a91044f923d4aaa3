// The register's settings tables as data: for each table of the settings
// and goods pages its records and how it is read and written, and for each
// field its bytes, the control that shows it and its encoding. Reading a
// record into control values and building a record from them both walk this
// map, the settings page builds its controls from it (items, lengths,
// ranges, which tables take input, the grids' columns), and profile files
// name tables and fields by its keys.
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
#include <cstdint>
#include <vector>

enum class TControlKind {
    Edit,            // TControlValue::Text
    List,            // Index
    CheckedList,     // Bits
    CheckBox,        // Checked
    GridCell,        // Text
    CellList,        // a grid cell with a list laid over it, one per row: Text
                     // and the list's Index
    CellCheckedList, // a grid cell with a check list laid over it: Text and
                     // the marks as Bits
};

// The control is a cell of a grid (Control names the grid).
inline bool InGrid(TControlKind Kind)
{
    return Kind == TControlKind::GridCell || Kind == TControlKind::CellList || Kind == TControlKind::CellCheckedList;
}

struct TTableField {
    QString Key;            // stable name in files: short English snake_case, unique in
                            // its record; the same in every record of a table of rows
    int Record = 0;         // record number; 0 in the goods table: every item
    int Field = 0;          // the register's field number
    int Offset = 0;         // first byte in the record
    int Size = 0;           // bytes of the field
    QString Control;        // objectName of the control, or of the grid
    int Column = -1;        // grid column for grid cells, -1 otherwise
    QString Overlay;        // cells with a list laid over them: the list's objectName
                            // before the row number
    QString Caption;        // fields of a form: the label in front of the control
    TControlKind Kind = TControlKind::Edit;
    TEncoding Encoding = TEncoding::Text;
    QString EmptyDefault;   // put into an empty or blank control before writing (null: none)
    QStringList Items;      // lists and check lists: the items, position 0 first
    QString WriteErrorLine; // field writes: the red line, followed by the record
                            // number, that comes before the error's text
    int MaxLength = 0;      // edits and text cells: characters that can be typed; 0 none
    std::int64_t Min = 0;   // numbers: the range a value is checked against;
    std::int64_t Max = -1;  // Max < Min: no range
    int StartIndex = -1;    // lists: the item selected before anything is read

    bool HasRange() const { return Max >= Min; }
};

// What a field's value is, whatever control shows it: the form it takes in
// a profile file.
enum class TValueKind {
    Text,   // a string
    Number, // an integer within Min..Max
    Item,   // one of Items (or none)
    Items,  // a set of Items, by bits
    Flag,   // a boolean
};
TValueKind ValueKind(const TTableField& Field);

// The longest text a field can show: its typing length, or what its codec
// makes of the register's bytes when that is longer (a read value is shown
// whole, see the settings page).
int LongestText(const TTableField& Field);

enum class TReadKind { Fields, Records };    // ReadTableField per field / ReadTableRecord per record

// How a table is written. Both loops go through the records FirstRecord to
// LastRecord in order and take the value of every field of a record, in the
// order of Fields:
//   Records  one fresh record of RecordSize bytes per record, built from all
//            its fields, sent with WriteTableRecord; a refusal ends the write
//            without its end line;
//   Fields   one WriteTableField per field, each refusal preceded by the
//            field's WriteErrorLine and the record number; the end line is
//            written after a refusal too.
enum class TWriteKind { Never, Records, Fields };

// A grid that shows a table: one grid row per record under a header row.
struct TGridLayout {
    QString Panel;            // objectName of the panel under the grid and its lists
    QStringList Titles;       // header row, by column
    std::vector<int> Widths;  // by column, pixels
    int RowHeight = 0;
    int FixedColumns = 0;     // columns that label the rows
    QString RowLabel;         // fixed column 0 of record n: RowLabel followed by n
};

// Records shown together under a caption, in a box of their own.
struct TRecordGroup {
    QString Caption;
    int First = 1, Last = 1;
};

// How a settings sub-page lays out its table.
enum class TPageLayout {
    Form, // one line per field: its Caption, then its control
    Rows, // one line per record: its fields' controls side by side, under
          // ColumnTitles when there are any
    Grid, // one grid row per record (see TGridLayout)
};

struct TRegisterTable {
    QString Key;           // stable name in files: short English snake_case
    int Table = 0;
    QString Page;          // objectName of the sub-page (or of the goods page)
    QString Caption;       // the sub-page's tab
    int SubPage = -1;      // index in pc_Options; -1 for the goods table
    int FirstRecord = 1;
    int LastRecord = 1;    // goods: 9999, the window reads and writes its range
    int RecordSize = 0;    // bytes of a record built for writing (the largest record
                           // for read-only tables)
    TReadKind Read = TReadKind::Records;
    TWriteKind Write = TWriteKind::Never;
    QString ReadStartLine, ReadDoneLine;   // journal
    QString WriteStartLine, WriteDoneLine; // journal; empty for tables never written
    // Every record holds the same fields (Key and all) in its own controls:
    // rows, of a grid or of a form. Otherwise each field is unique in the table.
    bool Rows = false;
    QStringList ColumnTitles; // tables of rows laid out as a form: the header by field
    bool NumberedRows = false;  // ... with the record number in front of each line
    std::vector<TRecordGroup> Groups; // forms and rows: boxes from top to bottom; none: no box
    TGridLayout Grid;           // tables shown in a grid (fields are cells); else empty
    // Ordered by record, then in the order the controls are set and written.
    std::vector<TTableField> Fields;

    int RecordCount() const { return LastRecord - FirstRecord + 1; }
    TPageLayout Layout() const
    {
        return !Grid.Titles.isEmpty() ? TPageLayout::Grid : Rows ? TPageLayout::Rows : TPageLayout::Form;
    }
};

// The table can be written to the register (and its page takes input).
inline bool TakesInput(const TRegisterTable& Table)
{
    return Table.Write != TWriteKind::Never;
}
// The end line of a write comes after a refusal too.
inline bool WriteDoneAfterRefusal(const TRegisterTable& Table)
{
    return Table.Write == TWriteKind::Fields;
}

// The nine sub-pages of the settings page, index = sub-page index of
// pc_Options (tables 2 to 10).
const std::vector<TRegisterTable>& SettingsTables();
// Table 1, the goods grid.
const TRegisterTable& GoodsTable();
// Any of the ten tables by number; nullptr for others.
const TRegisterTable* FindTable(int Table);
// Any of the ten tables by key; nullptr for others.
const TRegisterTable* FindTableByKey(QStringView Key);
// The table's field of that key, of Record (for tables of rows any record
// gives the same key); Record -1 takes the first. nullptr when none.
const TTableField* FindFieldByKey(const TRegisterTable& Table, QStringView Key, int Record = -1);
// The fields of one record, in order: for a table of rows, the row's shape.
std::vector<const TTableField*> RecordFields(const TRegisterTable& Table, int Record);
// The field shown by a control (a grid's cell: grid name and column);
// Record -1 takes the first match.
const TTableField* FindField(QStringView Control, int Column = -1, int Record = -1);

// One field of one record with its control's value.
struct TFieldValue {
    const TTableField* Field = nullptr;
    int Row = -1;          // grid cells: the grid row (record or item number); else -1
    TControlValue Value;
    bool Filled = false;   // writing put a default (or the INN's zeros) into
                           // Value.Text: the control is to show it
};

// The fields of a record in their order, values empty. For a write the
// window fills each Value from its control.
std::vector<TFieldValue> RecordValues(const TRegisterTable& Table, int Record);

// Bytes of a ReadTableField answer into the field's control value.
bool DecodeField(const TTableField& Field, TBytes Bytes, TControlValue& Value, QString& Error);

// The field's bytes (Field.Size of them) for WriteTableField or for its
// place in a record. An empty control with a default gets the default in
// Value.Text first (*Filled set); that stays even when the field then fails.
bool EncodeField(const TTableField& Field, TControlValue& Value, TArrayOfByte& Bytes, QString& Error,
                 bool* Filled = nullptr);

// A ReadTableRecord answer into the values of the record's controls, in
// the order to set them. A shorter answer than the fields need fails.
bool DecodeRecord(const TRegisterTable& Table, int Record, TBytes Bytes, std::vector<TFieldValue>& Values,
                  QString& Error);

// A fresh record of Table.RecordSize bytes, zero apart from the fields, from
// Values as RecordValues gave them and the window filled them. Fields are
// built in order; the defaults put in before a failing field stay in Values
// (Filled). Bytes is assigned only on success.
bool EncodeRecord(const TRegisterTable& Table, int Record, std::vector<TFieldValue>& Values,
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
