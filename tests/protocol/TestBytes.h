// Byte arrays written out in tests.
#pragma once

#include "KkmTypes.h"

#include <initializer_list>

inline TArrayOfByte Bytes(std::initializer_list<int> values)
{
    TArrayOfByte out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}
