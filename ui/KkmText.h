// Text helpers of the windows: the register's Windows-1251 byte texts, the
// trimming rule used throughout (spaces and control characters, zero bytes
// included) and the strict number conversions whose failure is an error of
// the running handler.
#pragma once

#include "KkmTypes.h"
#include "TextRules.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// One character per byte, Windows-1251, nothing trimmed (Cp1251.h).
QString KkmTextToString(const QByteArray& Bytes);
QString KkmTextToString(const TArrayOfByte& Bytes, std::size_t First, std::size_t Count);

// The text as Windows-1251 bytes, one per character; characters the code
// page lacks become '?'.
QByteArray StringToKkmText(const QString& Text);

// A decimal integer with an optional sign and nothing else around it;
// anything else raises EKkmError.
std::int64_t StrToInt64(const QString& Text);
int StrToInt(const QString& Text);
