#include "Faults.h"

#include <algorithm>
#include <sstream>

namespace kkm::emu {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
    const char* args; // for the help
    const char* help;
};

constexpr KindName kKinds[] = {
    {FaultKind::Refuse, "refuse", "[E]", "error-form answer with error code E (default 3); not carried out"},
    {FaultKind::Silent, "silent", "", "no answer; not carried out"},
    {FaultKind::Delay, "delay", "MS", "answer MS ms late"},
    {FaultKind::BadCrc, "badcrc", "", "corrupt the answer's CRC"},
    {FaultKind::BadPid, "badpid", "", "answer with PID + 1"},
    {FaultKind::BadAR, "badar", "", "answer with AR + 1"},
    {FaultKind::BadAT, "badat", "", "answer with AT + 1"},
    {FaultKind::Longer, "longer", "", "one byte (00) more in the answer body"},
    {FaultKind::Shorter, "shorter", "", "one byte less in the answer body"},
    {FaultKind::Garbage, "garbage", "[HEX]", "bytes before the answer frame (default 0011FE55)"},
    {FaultKind::Split, "split", "[N [MS]]", "the answer in N pieces (default 2), MS ms apart (default 20)"},
    {FaultKind::Twice, "twice", "", "the answer sent twice"},
    {FaultKind::ZeroError, "zeroerror", "", "error-form answer with error byte 0"},
    {FaultKind::HangUp, "hangup", "", "unplug the cable instead of answering"},
};

// The conditions, with what they match.
struct Condition {
    const char* key;
    int Fault::*target;
    std::int64_t lo, hi;
};

constexpr Condition kConditions[] = {
    {"code", &Fault::Code, 0, 255},     {"table", &Fault::Table, 0, 255}, {"record", &Fault::Record, 0, 65535},
    {"item", &Fault::Record, 0, 65535}, {"field", &Fault::Field, 0, 255}, {"row", &Fault::Row, 0, 255},
    {"nth", &Fault::Nth, 1, 1000000000},
};

bool SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

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
        const auto c = std::find_if(std::begin(kConditions), std::end(kConditions),
                                    [&](const Condition& n) { return key == n.key; });
        if (c != std::end(kConditions)) {
            std::int64_t v = 0;
            if (!ParseNumber(std::string_view(w).substr(eq + 1), c->lo, c->hi, v)) {
                SetError(error, "bad value in '" + words[i] + "'");
                return std::nullopt;
            }
            f.*(c->target) = static_cast<int>(v);
        } else {
            SetError(error, "unknown condition '" + words[i] + "'");
            return std::nullopt;
        }
    }

    if (kind.empty()) {
        SetError(error, "which fault?");
        return std::nullopt;
    }

    auto arg = [&](std::size_t i, std::int64_t lo, std::int64_t hi, int& out, const char* what) {
        std::int64_t v = 0;
        if (i >= args.size())
            return true;
        if (!ParseNumber(args[i], lo, hi, v))
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
    case FaultKind::Garbage: s << ' ' << ToHex(f.Garbage, ""); break;
    case FaultKind::Split: s << ' ' << f.Pieces << ' ' << f.PauseMs; break;
    default: break;
    }
    for (const Condition& c : kConditions)
        if (f.*(c.target) >= c.lo && std::string_view(c.key) != "item")
            s << ' ' << c.key << '=' << f.*(c.target);
    s << (f.Once ? " once" : " always");
    return s.str();
}

std::string FaultHelp()
{
    std::string s = "FAULTS: KIND [ARGS]";
    for (const Condition& c : kConditions)
        if (std::string_view(c.key) != "item")
            s += std::string(" [") + c.key + "=N]";
    s += " [once|always]\n";
    for (const KindName& k : kKinds) {
        std::string head = std::string(k.name) + (*k.args ? " " : "") + k.args;
        head.resize(std::max<std::size_t>(head.size() + 1, 15), ' ');
        s += "  " + head + k.help + "\n";
    }
    return s + "  A fault matches requests with the given command code, table, record (goods\n"
               "  item for codes 19, 20), field and logo row (0 = header); nth=N only the N-th\n"
               "  request from now (1 = next; implies once). Default: always, every request.\n"
               "  Examples: 'refuse 5 code=14 table=9'  'silent nth=2'  'delay 300 code=2'\n";
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
