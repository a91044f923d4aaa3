// Readers for the typed fields of register payloads: dates, times, amounts
// in hundredths and quantities in thousandths, all over packed decimal.
#pragma once

#include "FrameCodec.h"
#include "KkmTypes.h"

namespace kkm {

inline bool ReadBcd(const TArrayOfByte& body, std::size_t first, std::size_t size,
                    std::int64_t& value)
{
    if (size == 0 || first + size > body.size() || first + size - 1 > 0xFF)
        return false;
    return DecodeBCD(body, static_cast<std::uint8_t>(first),
                     static_cast<std::uint8_t>(first + size - 1), value);
}

inline bool ReadBcdByte(const TArrayOfByte& body, std::size_t at, int& value)
{
    std::int64_t v;
    if (!ReadBcd(body, at, 1, v))
        return false;
    value = static_cast<int>(v);
    return true;
}

// Day, month, year since 2000; a date that does not exist fails.
inline bool ReadDate(const TArrayOfByte& body, std::size_t at, TDateTime& out)
{
    int d, m, y;
    return ReadBcdByte(body, at, d) && ReadBcdByte(body, at + 1, m)
        && ReadBcdByte(body, at + 2, y) && TDateTime::TryEncodeDate(2000 + y, m, d, out);
}

// Hour, minute, second; a time outside 00:00:00..23:59:59 fails.
inline bool ReadTime(const TArrayOfByte& body, std::size_t at, TDateTime& out)
{
    int h, mi, s;
    return ReadBcdByte(body, at, h) && ReadBcdByte(body, at + 1, mi)
        && ReadBcdByte(body, at + 2, s) && TDateTime::TryEncodeTime(h, mi, s, 0, out);
}

inline bool ReadAmount(const TArrayOfByte& body, std::size_t at, std::size_t size, TCurrency& out)
{
    std::int64_t v;
    if (!ReadBcd(body, at, size, v))
        return false;
    out = TCurrency::FromHundredths(v);
    return true;
}

inline bool ReadQuantity(const TArrayOfByte& body, std::size_t at, std::size_t size,
                         TCurrency& out)
{
    std::int64_t v;
    if (!ReadBcd(body, at, size, v))
        return false;
    out = TCurrency::FromThousandths(v);
    return true;
}

inline std::uint16_t ReadWord(const TArrayOfByte& body, std::size_t at)
{
    return static_cast<std::uint16_t>(body[at] | body[at + 1] << 8);
}

inline void AppendWord(TArrayOfByte& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

} // namespace kkm
