// Text helpers of the emulator's options, control commands, state file and
// request log.
#pragma once

#include "KkmTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kkm::emu {

std::string Lower(std::string_view text);

// Decimal, or hexadecimal with 0x, within lo..hi.
bool ParseNumber(std::string_view text, std::int64_t lo, std::int64_t hi, std::int64_t& out);

// Whitespace-separated words; double quotes keep spaces inside a word and a
// backslash keeps the next character.
std::vector<std::string> SplitWords(std::string_view line);

// Hex digits, spaces, commas or colons allowed between bytes: "FD 02 01",
// "FD0201".
std::optional<TArrayOfByte> ParseHex(std::string_view text);
// Upper-case digits, bytes separated by `separator`: "FD 02 01".
std::string ToHex(const TArrayOfByte& bytes, std::string_view separator = " ");

} // namespace kkm::emu
