// Readers for the typed fields of register payloads: dates, times, amounts
// in hundredths and quantities in thousandths, all over packed decimal.
// Offsets count from the first payload byte (the byte after Code).
#pragma once

#include "FrameCodec.h"
#include "KkmTypes.h"

#include <span>

namespace kkm {

using Payload = std::span<const std::uint8_t>;

inline bool ReadBcd(Payload p, std::size_t first, std::size_t size, std::int64_t& value)
{
    if (first > p.size() || size > p.size() - first)
        return false;
    return DecodeBCD(p.subspan(first, size), value);
}

inline bool ReadBcdByte(Payload p, std::size_t at, int& value)
{
    std::int64_t v;
    if (!ReadBcd(p, at, 1, v))
        return false;
    value = static_cast<int>(v);
    return true;
}

// Day, month, year since 2000; a date that does not exist fails.
inline bool ReadDate(Payload p, std::size_t at, TDateTime& out)
{
    int d, m, y;
    return ReadBcdByte(p, at, d) && ReadBcdByte(p, at + 1, m) && ReadBcdByte(p, at + 2, y)
        && TDateTime::TryEncodeDate(2000 + y, m, d, out);
}

// Hour, minute, second; a time outside 00:00:00..23:59:59 fails.
inline bool ReadTime(Payload p, std::size_t at, TDateTime& out)
{
    int h, mi, s;
    return ReadBcdByte(p, at, h) && ReadBcdByte(p, at + 1, mi) && ReadBcdByte(p, at + 2, s)
        && TDateTime::TryEncodeTime(h, mi, s, 0, out);
}

inline bool ReadAmount(Payload p, std::size_t at, std::size_t size, TCurrency& out)
{
    std::int64_t v;
    if (!ReadBcd(p, at, size, v))
        return false;
    out = TCurrency::FromHundredths(v);
    return true;
}

inline bool ReadQuantity(Payload p, std::size_t at, std::size_t size, TCurrency& out)
{
    std::int64_t v;
    if (!ReadBcd(p, at, size, v))
        return false;
    out = TCurrency::FromThousandths(v);
    return true;
}

// Little-endian word; the caller has checked the length.
inline std::uint16_t ReadWord(Payload p, std::size_t at)
{
    return static_cast<std::uint16_t>(p[at] | p[at + 1] << 8);
}

inline void AppendWord(TArrayOfByte& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

} // namespace kkm
