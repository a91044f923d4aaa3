#include "Faults.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

namespace kkm::emu {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Refuse, "refuse"},   {FaultKind::Silent, "silent"},   {FaultKind::Delay, "delay"},
    {FaultKind::BadCrc, "badcrc"},   {FaultKind::BadPid, "badpid"},   {FaultKind::BadAR, "badar"},
    {FaultKind::BadAT, "badat"},     {FaultKind::Longer, "longer"},   {FaultKind::Shorter, "shorter"},
    {FaultKind::Garbage, "garbage"}, {FaultKind::Split, "split"},     {FaultKind::Twice, "twice"},
    {FaultKind::ZeroError, "zeroerror"}, {FaultKind::HangUp, "hangup"},
};

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Decimal, or hexadecimal with 0x.
bool ParseInt(std::string_view text, long long lo, long long hi, long long& out)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

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
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits.push_back(c);
    }
    if (digits.size() % 2)
        return std::nullopt;
    TArrayOfByte bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const TArrayOfByte& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s.push_back(' ');
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 0x0F]);
    }
    return s;
}

std::optional<Fault> ParseFault(std::string_view text, std::string* error)
{
    const std::vector<std::string> words = SplitWords(text);
    if (words.empty()) {
        SetError(error, "empty fault");
        return std::nullopt;
    }
    Fault f;
    // The kind is the first word that is not a condition; its values follow it.
    std::string kind;
    std::vector<std::string> args;
    bool onceGiven = false, alwaysGiven = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string w = Lower(words[i]);
        const std::size_t eq = w.find('=');
        if (w == "once") {
            onceGiven = true;
            continue;
        }
        if (w == "always") {
            alwaysGiven = true;
            continue;
        }
        if (eq == std::string::npos) {
            if (!kind.empty()) {
                args.push_back(words[i]);
                continue;
            }
            kind = w;
            const auto k = std::find_if(std::begin(kKinds), std::end(kKinds),
                                        [&](const KindName& n) { return kind == n.name; });
            if (k == std::end(kKinds)) {
                SetError(error, "unknown fault kind '" + words[i] + "'");
                return std::nullopt;
            }
            f.Kind = k->kind;
            continue;
        }
        const std::string key = w.substr(0, eq);
        long long v = 0;
        struct Match {
            const char* key;
            int* target;
            long long lo, hi;
        } matches[] = {
            {"code", &f.Code, 0, 255},     {"table", &f.Table, 0, 255}, {"record", &f.Record, 0, 65535},
            {"item", &f.Record, 0, 65535}, {"field", &f.Field, 0, 255}, {"row", &f.Row, 0, 255},
            {"nth", &f.Nth, 1, 1000000000},
        };
        bool known = false;
        for (const Match& m : matches) {
            if (key != m.key)
                continue;
            known = true;
            if (!ParseInt(std::string_view(w).substr(eq + 1), m.lo, m.hi, v)) {
                SetError(error, "bad value in '" + words[i] + "'");
                return std::nullopt;
            }
            *m.target = static_cast<int>(v);
        }
        if (!known) {
            SetError(error, "unknown condition '" + words[i] + "'");
            return std::nullopt;
        }
    }

    if (kind.empty()) {
        SetError(error, "which fault?");
        return std::nullopt;
    }

    auto arg = [&](std::size_t i, long long lo, long long hi, int& out, const char* what) {
        long long v = 0;
        if (i >= args.size())
            return true;
        if (!ParseInt(args[i], lo, hi, v))
            return SetError(error, std::string("bad ") + what + " '" + args[i] + "'");
        out = static_cast<int>(v);
        return true;
    };
    std::size_t maxArgs = 0;
    switch (f.Kind) {
    case FaultKind::Refuse: {
        int e = f.Error;
        if (!arg(0, 0, 255, e, "error code"))
            return std::nullopt;
        f.Error = static_cast<std::uint8_t>(e);
        maxArgs = 1;
        break;
    }
    case FaultKind::Delay:
        if (args.empty()) {
            SetError(error, "delay needs milliseconds");
            return std::nullopt;
        }
        if (!arg(0, 0, 3600000, f.DelayMs, "delay"))
            return std::nullopt;
        maxArgs = 1;
        break;
    case FaultKind::Garbage:
        if (!args.empty()) {
            std::string all;
            for (const auto& a : args)
                all += a;
            const auto bytes = ParseHex(all);
            if (!bytes || bytes->empty()) {
                SetError(error, "garbage needs hex bytes");
                return std::nullopt;
            }
            f.Garbage = *bytes;
            args.clear();
        }
        break;
    case FaultKind::Split:
        if (!arg(0, 2, 255, f.Pieces, "number of pieces") || !arg(1, 0, 3600000, f.PauseMs, "pause"))
            return std::nullopt;
        maxArgs = 2;
        break;
    default: break;
    }
    if (args.size() > maxArgs) {
        SetError(error, "too many values for " + kind);
        return std::nullopt;
    }
    f.Once = onceGiven || (f.Nth > 0 && !alwaysGiven);
    return f;
}

std::string FormatFault(const Fault& f)
{
    std::ostringstream s;
    for (const KindName& n : kKinds)
        if (n.kind == f.Kind)
            s << n.name;
    switch (f.Kind) {
    case FaultKind::Refuse: s << ' ' << int(f.Error); break;
    case FaultKind::Delay: s << ' ' << f.DelayMs; break;
    case FaultKind::Garbage: {
        std::string hex = ToHex(f.Garbage);
        hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
        s << ' ' << hex;
        break;
    }
    case FaultKind::Split: s << ' ' << f.Pieces << ' ' << f.PauseMs; break;
    default: break;
    }
    const std::pair<const char*, int> conds[] = {
        {"code", f.Code}, {"table", f.Table}, {"record", f.Record}, {"field", f.Field}, {"row", f.Row}};
    for (const auto& [name, value] : conds)
        if (value >= 0)
            s << ' ' << name << '=' << value;
    if (f.Nth > 0)
        s << " nth=" << f.Nth;
    s << (f.Once ? " once" : " always");
    return s.str();
}

bool FaultMatches(const Fault& f, const TArrayOfByte& body)
{
    if (body.size() < 4)
        return false;
    const int code = body[3];
    const TArrayOfByte p(body.begin() + 4, body.end());
    if (f.Code >= 0 && f.Code != code)
        return false;

    int table = -1, record = -1, field = -1, row = -1;
    switch (code) {
    case cmdReadTableRecord:
    case cmdWriteTableRecord:
    case cmdReadTableField:
    case cmdWriteTableField:
        if (p.size() >= 3) {
            table = p[0];
            record = p[1] | (p[2] << 8);
        }
        if ((code == cmdReadTableField || code == cmdWriteTableField) && p.size() >= 4)
            field = p[3];
        break;
    case cmdReadGoodsSales:
    case cmdWriteGoodsSales:
        if (p.size() >= 2)
            record = p[0] | (p[1] << 8);
        break;
    case cmdLogo:
        if (!p.empty())
            row = p[0];
        break;
    default: break;
    }
    return (f.Table < 0 || f.Table == table) && (f.Record < 0 || f.Record == record) &&
           (f.Field < 0 || f.Field == field) && (f.Row < 0 || f.Row == row);
}

} // namespace kkm::emu
