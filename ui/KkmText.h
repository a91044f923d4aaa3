// Text helpers of the windows: the register's Windows-1251 byte texts, the
// trimming rule used throughout (spaces and control characters, zero bytes
// included) and the strict number conversions whose failure is an error of
// the running handler.
#pragma once

#include "KkmTypes.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// Removes every character up to and including the space (code 0..32) from
// both ends.
QString TrimText(const QString& Text);

// One character per byte, Windows-1251, nothing trimmed.
QString KkmTextToString(const QByteArray& Bytes);
QString KkmTextToString(const TArrayOfByte& Bytes, std::size_t First, std::size_t Count);

// The text as Windows-1251 bytes; characters the code page lacks become '?'.
QByteArray StringToKkmText(const QString& Text);

// A decimal integer with an optional sign and nothing else around it;
// anything else raises EKkmError.
std::int64_t StrToInt64(const QString& Text);
int StrToInt(const QString& Text);
