// The text rules every layer shares: trimming and the strict integer
// conversion whose failure the windows report as an error.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

// Removes every character up to and including the space (code 0..32) from
// both ends: blanks and control characters, zero bytes included.
QString TrimText(QStringView Text);

// A decimal integer with an optional sign and nothing else around it.
// Value is assigned only on success.
bool TryStrToInt64(QStringView Text, std::int64_t& Value);

// The message for a text that is not an integer.
QString NotAnIntegerText(QStringView Text);
