#include "Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kkm::emu {

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool ParseNumber(std::string_view text, std::int64_t lo, std::int64_t hi, std::int64_t& out)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

std::vector<std::string> SplitWords(std::string_view line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            word.push_back(line[++i]);
            inWord = true;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::optional<TArrayOfByte> ParseHex(std::string_view text)
{
    auto nibble = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10; };
    TArrayOfByte bytes;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        if (high < 0) {
            high = nibble(c);
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | nibble(c)));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

std::string ToHex(const TArrayOfByte& bytes, std::string_view separator)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += separator;
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 0x0F]);
    }
    return s;
}

} // namespace kkm::emu
