// A profile: the settings tables of one register as values by key, kept in
// one JSON file, so that the same settings can be compared with a register
// and written to any number of them. Tables and fields are named by the keys
// of the table map; a list's value is its item text, a checked list's the
// array of its checked items' texts, numbers are numbers, texts strings
// (without the register's padding at the end), flags booleans, and a table
// of rows an array of row objects:
//
//   { "format": "kkm-profile", "version": 1,
//     "model": "...", "serial": "...", "time": "2024-05-01T12:00:00+03:00",
//     "tables": { "options": { "inn": "770112345678", ... },
//                 "operators": [ { "post": "...", "name": "...", "rights": [...] }, ... ], ... } }
//
// The goods list and the logo are not in it: they have files of their own.
// A file is checked whole before any of it is used.
#pragma once

#include "SettingsMap.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

namespace kkm {

inline const QString ProfileFormat = QStringLiteral("kkm-profile");
constexpr int ProfileVersion = 1;

// One table's values: element i is record FirstRecord + i, its values as
// RecordValues gives them (grid cells with their Row), Value filled.
using TProfileRecords = std::vector<std::vector<TFieldValue>>;

struct TProfile {
    QString Model;  // the register it was read from
    QString Serial;
    QDateTime Time; // when it was read
    // Table key -> values, for every table read or loaded (settings tables only).
    std::map<QString, TProfileRecords> Tables;

    const TProfileRecords* Find(const QString& TableKey) const;
};

// The keys of the settings tables (2..10) in table order.
QStringList ProfileTableKeys();

// The file's form of one value, and the value back. Texts lose the padding
// at their end (and a post its blanks at both ends, as it is written).
// ProfileControlValue checks kind, items, range, length and code page; the
// Error says what is wrong with the value, without naming the field.
QJsonValue ProfileValue(const TTableField& Field, const TControlValue& Value);
bool ProfileControlValue(const TTableField& Field, const QJsonValue& Json, TControlValue& Value, QString& Error);
// A value as it reads in a journal line or on a terminal: JSON text, so that
// an empty text shows as "" and no value as null.
QString ProfileValueText(const QJsonValue& Value);

QByteArray ProfileToJson(const TProfile& Profile);

// Checks the whole file before anything is used: its format and version,
// unknown table or field keys, missing fields, values of the wrong type, a
// list text not among the items, a value out of range, a text too long or
// not in the register's code page, a wrong row count. Error names the table
// and the field ("Профиль: таблица operators, строка 3, поле rights: ...").
// Out is assigned only on success.
bool ProfileFromJson(const QByteArray& Json, TProfile& Out, QString& Error);

// Where reading a profile file failed.
enum class TProfileFileFault { None, Unreadable, Invalid };

// Reads the file at Path and checks it whole (ProfileFromJson). Unreadable:
// Error is the file's own reason; Invalid: Error names the table and field.
// Out is assigned only on success.
TProfileFileFault ReadProfileFile(const QString& Path, TProfile& Out, QString& Error);

// Writes Profile to Path whole or not at all: an older file of that name
// stays as it was when the write fails (Error: the reason).
bool SaveProfileFile(const QString& Path, const TProfile& Profile, QString& Error);

struct TProfileDifference {
    QString Table;         // table key
    QString Field;         // path: "operators[3].name" or "options.inn"
    QString Key;           // field key
    int Row = 0;           // record of a table of rows, 0 otherwise
    QString RegisterValue; // as ProfileValueText shows them
    QString FileValue;
};

// The fields whose values differ, in table and field order, over the tables
// both hold. Identity and time are not compared.
std::vector<TProfileDifference> CompareProfiles(const TProfile& Register, const TProfile& File);

// One difference as a line, the same in the window's journal and in
// kkm-cli's output: "operators[3], name: \"old\" → \"new\"", the register's
// value first.
QString ProfileDifferenceLine(const TProfileDifference& Difference);

} // namespace kkm
