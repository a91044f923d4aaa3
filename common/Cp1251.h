// The register's texts are single-byte Windows-1251: one character per byte
// in both directions, so fixed-width fields keep their width. The mapping
// covers all 256 bytes (0x98, which the code page leaves free, stands for
// U+0098), so any byte run survives a round trip through QString unchanged.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

// Every byte becomes exactly one character; 0 bytes included.
QString FromCp1251(QByteArrayView Bytes);

// Every character (a code point: a surrogate pair counts once) becomes
// exactly one byte. A character the code page lacks becomes '?' and clears
// *Exact.
QByteArray ToCp1251(QStringView Text, bool* Exact = nullptr);

// The same for code that keeps its texts as UTF-8 std::strings.
std::string Utf8ToCp1251(std::string_view Utf8, bool* Exact = nullptr);
// *Exact is set: every byte has a character.
std::string Cp1251ToUtf8(std::string_view Bytes, bool* Exact = nullptr);
