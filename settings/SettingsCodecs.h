// How the register's settings bytes become the values of the window's
// controls and back: one codec per encoding, pure functions over bytes.
// A control's value is carried in TControlValue whatever its kind; the
// field's description (SettingsMap.h) says which member counts.
#pragma once

#include "KkmTypes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>

using TBytes = std::span<const std::uint8_t>;

struct TControlValue {
    QString Text;           // edits and grid cells
    int Index = -1;         // lists: position of the selected item, -1 for none
    std::uint32_t Bits = 0; // checked lists: bit i set = item i checked
    bool Checked = false;   // check boxes

    bool operator==(const TControlValue&) const = default;
};

enum class TEncoding {
    Text,           // Windows-1251, one byte a character; cut and padded with spaces
    TrimmedText,    // the same, written without blanks at either end (operator's post)
    ListIndex,      // the selected item's position; 255 for none
    BitMask,        // first byte: bit i = item i; further bytes written as 0
    Flag,           // non-zero = checked
    DecimalByte,    // the byte in decimal; written as the integer's low 8 bits
    BcdNoZeros,     // packed BCD shown without leading zeros, one digit kept
    BcdOneZero,     // packed BCD shown with one leading "0" removed
    Inn,            // 12 BCD digits; "FF..." shows empty; zero-filled to 12 on writing
    DiscountValue,  // each byte in decimal, joined (read only)
    TaxRate,        // "HH.HH" of the two bytes less one leading "0" (read only)
    Sphere,         // 1 = cell "1" and list item 1, anything else "0" and item 0
    LineAttributes, // values 1..7 check the three items, others none
    GoodsBarcode,   // 7 BCD bytes shown as the last 13 of their 14 digits
    GoodsPrice,     // 5 BCD bytes of hundredths shown as the price text
    GoodsFractional,// 1 = "ДА", anything else "НЕТ"
    OperatorRights, // the byte in decimal in the cell, its bits 0..6 in the check list;
                    // written as 2 bytes: the integer's low 8 bits and 0
};

// Stores Value as packed BCD in Buffer[First..Last], the last pair of
// digits in Buffer[Last]; digits that do not fit are dropped. Fails, storing
// nothing, for an empty or reversed range, a range past the buffer or of
// more than 7 bytes, a negative value or one above 99 999 999 999 999.
bool PackBCD(int First, int Last, TArrayOfByte& Buffer, std::int64_t Value);

// Two upper-case hexadecimal digits per byte, in order.
QString HexDigits(TBytes Bytes);

// Price text of the 5 price bytes: "1234.56", "0.05", "0.00".
QString GoodsPriceText(TBytes Bytes);

// The price cell as hundredths: empty or blank and "." are 0; no point
// means whole units; one or two digits after the point are hundredths.
// Fails for more than two digits after the point and for what is not a
// number; Hundredths is assigned only on success.
bool NormaliseGoodsPrice(const QString& Cell, std::int64_t& Hundredths, QString& Error);

// Sales quantity in its shortest decimal form: 3, 1.5, 0.125.
QString GoodsSalesText(TCurrency Quantity);
