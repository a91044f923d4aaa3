#include "Control.h"

#include "Cp1251.h"
#include "PtyRegister.h"
#include "StateFile.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace kkm::emu {

namespace {

enum class ArgType { Byte, Amount, Quantity, Number, DateArg, TimeArg, Text };

struct ArgValue {
    std::int64_t number = 0;
    Date date;
    Time time;
    std::string text;
};

using Setter = void (*)(Message&, const ArgValue&);

struct ArgInfo {
    const char* name;
    ArgType type;
    Setter set;
};

struct KindInfo {
    const char* name;
    std::uint8_t code;
    Message (*make)();
    std::vector<ArgInfo> args;
};

template <class T>
void Assign(T& target, const ArgValue& v)
{
    if constexpr (std::is_same_v<T, Date>)
        target = v.date;
    else if constexpr (std::is_same_v<T, Time>)
        target = v.time;
    else if constexpr (std::is_same_v<T, std::string>)
        target = v.text;
    else
        target = static_cast<T>(v.number);
}

#define KKM_ARG(T, F, TYPE) \
    ArgInfo { #F, ArgType::TYPE, [](Message& m, const ArgValue& v) { Assign(std::get<T>(m).F, v); } }

template <class T>
Message WithClock()
{
    T m;
    const ClockValue c = LocalClock();
    if constexpr (std::is_same_v<T, CloseReceipt> || std::is_same_v<T, AbortReceipt>) {
        m.rDate = c.date;
        m.rTime = c.time;
    } else if constexpr (std::is_same_v<T, InSumm>) {
        m.inDate = c.date;
        m.inTime = c.time;
    } else if constexpr (std::is_same_v<T, OutSumm>) {
        m.outDate = c.date;
        m.outTime = c.time;
    } else if constexpr (std::is_same_v<T, CloseSession>) {
        m.cDate = c.date;
        m.cTime = c.time;
    }
    return m;
}

const std::vector<KindInfo>& Kinds()
{
    static const std::vector<KindInfo> kinds = {
        {"SaleOnFree", 0x20, &WithClock<SaleOnFree>,
         {KKM_ARG(SaleOnFree, tOper, Byte), KKM_ARG(SaleOnFree, vOper, Byte), KKM_ARG(SaleOnFree, Quant, Quantity),
          KKM_ARG(SaleOnFree, Price, Amount), KKM_ARG(SaleOnFree, nSection, Byte),
          KKM_ARG(SaleOnFree, nOperator, Byte), KKM_ARG(SaleOnFree, nDoc, Number)}},
        {"SaleOnCode", 0x21, &WithClock<SaleOnCode>,
         {KKM_ARG(SaleOnCode, tOper, Byte), KKM_ARG(SaleOnCode, vOper, Byte), KKM_ARG(SaleOnCode, Quant, Quantity),
          KKM_ARG(SaleOnCode, wCode, Number), KKM_ARG(SaleOnCode, nOperator, Byte),
          KKM_ARG(SaleOnCode, nDoc, Number)}},
        {"SaleOnBarcode", 0x22, &WithClock<SaleOnBarcode>,
         {KKM_ARG(SaleOnBarcode, tOper, Byte), KKM_ARG(SaleOnBarcode, vOper, Byte),
          KKM_ARG(SaleOnBarcode, Quant, Quantity), KKM_ARG(SaleOnBarcode, wBCode, Text),
          KKM_ARG(SaleOnBarcode, nOperator, Byte), KKM_ARG(SaleOnBarcode, nDoc, Number)}},
        {"FreeDisc", 0x23, &WithClock<FreeDisc>,
         {KKM_ARG(FreeDisc, tOper, Byte), KKM_ARG(FreeDisc, tDisc, Byte), KKM_ARG(FreeDisc, vOper, Byte),
          KKM_ARG(FreeDisc, dSumm, Amount), KKM_ARG(FreeDisc, nOperator, Byte), KKM_ARG(FreeDisc, nDoc, Number)}},
        {"DiscOnQuery", 0x24, &WithClock<DiscOnQuery>,
         {KKM_ARG(DiscOnQuery, tOper, Byte), KKM_ARG(DiscOnQuery, tDisc, Byte), KKM_ARG(DiscOnQuery, vOper, Byte),
          KKM_ARG(DiscOnQuery, rSumm, Amount), KKM_ARG(DiscOnQuery, nOperator, Byte),
          KKM_ARG(DiscOnQuery, nDoc, Number)}},
        {"DiscOnCode", 0x25, &WithClock<DiscOnCode>,
         {KKM_ARG(DiscOnCode, tOper, Byte), KKM_ARG(DiscOnCode, tDisc, Byte), KKM_ARG(DiscOnCode, vOper, Byte),
          KKM_ARG(DiscOnCode, rSumm, Amount), KKM_ARG(DiscOnCode, dCode, Number),
          KKM_ARG(DiscOnCode, nOperator, Byte), KKM_ARG(DiscOnCode, nDoc, Number)}},
        {"DiscOnBarcode", 0x26, &WithClock<DiscOnBarcode>,
         {KKM_ARG(DiscOnBarcode, tOper, Byte), KKM_ARG(DiscOnBarcode, tDisc, Byte),
          KKM_ARG(DiscOnBarcode, vOper, Byte), KKM_ARG(DiscOnBarcode, rSumm, Amount),
          KKM_ARG(DiscOnBarcode, dBCode, Text), KKM_ARG(DiscOnBarcode, nOperator, Byte),
          KKM_ARG(DiscOnBarcode, nDoc, Number)}},
        {"PayReceipt", 0x27, &WithClock<PayReceipt>,
         {KKM_ARG(PayReceipt, tPay, Byte), KKM_ARG(PayReceipt, tOper, Byte), KKM_ARG(PayReceipt, vOper, Byte),
          KKM_ARG(PayReceipt, rSumm, Amount), KKM_ARG(PayReceipt, nOperator, Byte),
          KKM_ARG(PayReceipt, nDoc, Number)}},
        {"CloseReceipt", 0x29, &WithClock<CloseReceipt>,
         {KKM_ARG(CloseReceipt, tOper, Byte), KKM_ARG(CloseReceipt, rDate, DateArg),
          KKM_ARG(CloseReceipt, rTime, TimeArg), KKM_ARG(CloseReceipt, rSumm, Amount),
          KKM_ARG(CloseReceipt, nOperator, Byte), KKM_ARG(CloseReceipt, nDoc, Number)}},
        {"AbortReceipt", 0x2A, &WithClock<AbortReceipt>,
         {KKM_ARG(AbortReceipt, tOper, Byte), KKM_ARG(AbortReceipt, rDate, DateArg),
          KKM_ARG(AbortReceipt, rTime, TimeArg), KKM_ARG(AbortReceipt, nOperator, Byte),
          KKM_ARG(AbortReceipt, nDoc, Number)}},
        {"InSumm", 0x2B, &WithClock<InSumm>,
         {KKM_ARG(InSumm, inSumm, Amount), KKM_ARG(InSumm, inDate, DateArg), KKM_ARG(InSumm, inTime, TimeArg),
          KKM_ARG(InSumm, nOperator, Byte), KKM_ARG(InSumm, nDoc, Number), KKM_ARG(InSumm, nIn, Number)}},
        {"OutSumm", 0x2C, &WithClock<OutSumm>,
         {KKM_ARG(OutSumm, outSumm, Amount), KKM_ARG(OutSumm, outDate, DateArg),
          KKM_ARG(OutSumm, outTime, TimeArg), KKM_ARG(OutSumm, nOperator, Byte), KKM_ARG(OutSumm, nDoc, Number),
          KKM_ARG(OutSumm, nOut, Number)}},
        {"CloseSession", 0x2D, &WithClock<CloseSession>,
         {KKM_ARG(CloseSession, cSumm, Amount), KKM_ARG(CloseSession, cDate, DateArg),
          KKM_ARG(CloseSession, cTime, TimeArg), KKM_ARG(CloseSession, nOperator, Byte),
          KKM_ARG(CloseSession, nDoc, Number), KKM_ARG(CloseSession, nSession, Number)}},
        {"Confirmation", 0x2E, &WithClock<Confirmation>,
         {ArgInfo{"rSumm", ArgType::Amount, [](Message& m, const ArgValue& v) {
             auto& c = std::get<Confirmation>(m);
             c.rSumm = v.number;
             c.RClose = true;
         }}}},
    };
    return kinds;
}

#undef KKM_ARG

// "123.45" with at most `decimals` digits after the point, as a count of
// 10^-decimals.
bool ParseFixed(std::string_view text, int decimals, std::int64_t& out)
{
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (static_cast<int>(frac.size()) > decimals || (whole.empty() && frac.empty()))
        return false;
    std::int64_t w = 0, f = 0;
    if (!whole.empty() && !ParseNumber(whole, 0, 9999999999999LL, w))
        return false;
    if (!frac.empty() && (!ParseNumber(frac, 0, 999, f) || frac.find_first_not_of("0123456789") != std::string_view::npos))
        return false;
    for (std::size_t i = frac.size(); i < static_cast<std::size_t>(decimals); ++i)
        f *= 10;
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    out = w * scale + f;
    return true;
}

bool ParseParts(std::string_view text, char sep, int count, int* parts)
{
    for (int i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? text.find(sep) : text.size();
        if (end == std::string_view::npos)
            return false;
        std::int64_t v = 0;
        if (!ParseNumber(text.substr(0, end), 0, 9999, v))
            return false;
        parts[i] = static_cast<int>(v);
        text.remove_prefix(std::min(text.size(), end + 1));
    }
    return true;
}

bool ParseValue(ArgType type, const std::string& text, ArgValue& v)
{
    switch (type) {
    case ArgType::Byte: return ParseNumber(text, 0, 255, v.number);
    case ArgType::Number: return ParseNumber(text, 0, 999999999999LL, v.number);
    case ArgType::Amount: return ParseFixed(text, 2, v.number);
    case ArgType::Quantity: return ParseFixed(text, 3, v.number);
    case ArgType::DateArg: {
        int p[3];
        if (!ParseParts(text, '.', 3, p))
            return false;
        v.date = {p[0], p[1], p[2] < 100 ? 2000 + p[2] : p[2]};
        return true;
    }
    case ArgType::TimeArg: {
        int p[3] = {0, 0, 0};
        if (!ParseParts(text, ':', 3, p) && !ParseParts(text, ':', 2, p))
            return false;
        v.time = {p[0], p[1], p[2]};
        return true;
    }
    case ArgType::Text:
        if (text.rfind("hex:", 0) == 0) {
            const auto bytes = ParseHex(std::string_view(text).substr(4));
            if (!bytes)
                return false;
            v.text.assign(bytes->begin(), bytes->end());
        } else {
            v.text = Utf8ToCp1251(text);
        }
        return true;
    }
    return false;
}

struct CommandHelp {
    const char* usage;
    const char* help;
};

constexpr CommandHelp kCommands[] = {
    {"fault FAULT", "add a fault (see FAULTS)"},
    {"fault clear", "remove all faults"},
    {"fault remove ID", "remove one fault"},
    {"faults", "list the faults with their ids"},
    {"msg KIND [ARGS]", "send an unsolicited message (see MESSAGES)"},
    {"msg body HEX", "send a body AR AT PID Code ...; CRC, stuffing, markers added"},
    {"msg wire HEX", "send bytes exactly as given"},
    {"hangup", "unplug the cable; the link then leads to a new port"},
    {"save [FILE]", "save the state (default: the --save-state file)"},
    {"logo FILE", "save the last complete logo as a PBM picture"},
    {"log on|off", "log every request and answer to stderr"},
    {"status", "ports, faults, authorised user"},
    {"help", "this text"},
    {"quit", "end the emulator"},
};

std::optional<ControlCommand> Fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return std::nullopt;
}

std::string Rest(std::string_view line, std::size_t words)
{
    // The line after its first `words` words.
    std::size_t at = 0;
    for (std::size_t w = 0; w < words; ++w) {
        at = line.find_first_not_of(" \t", at);
        at = line.find_first_of(" \t", at);
        if (at == std::string_view::npos)
            return {};
    }
    return std::string(line.substr(at));
}

} // namespace

std::optional<Message> ParseMessage(std::string_view text, std::optional<std::uint8_t>* pid, std::string* error)
{
    const std::vector<std::string> words = SplitWords(text);
    auto fail = [&](std::string why) -> std::optional<Message> {
        if (error)
            *error = std::move(why);
        return std::nullopt;
    };
    if (words.empty())
        return fail("which message?");
    const std::string name = Lower(words[0]);
    std::int64_t code = -1;
    ParseNumber(name, 0, 255, code);
    const KindInfo* kind = nullptr;
    for (const KindInfo& k : Kinds())
        if (name == Lower(k.name) || name == "on" + Lower(k.name) || code == k.code)
            kind = &k;
    if (!kind)
        return fail("unknown message '" + words[0] + "'");

    Message m = kind->make();
    std::size_t position = 0;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        const std::size_t eq = w.find('=');
        const ArgInfo* arg = nullptr;
        std::string value = w;
        if (eq != std::string::npos) {
            const std::string key = Lower(w.substr(0, eq));
            value = w.substr(eq + 1);
            if (key == "pid") {
                std::int64_t p = 0;
                if (!ParseNumber(value, 0, 255, p))
                    return fail("bad PID '" + value + "'");
                if (pid)
                    *pid = static_cast<std::uint8_t>(p);
                continue;
            }
            for (const ArgInfo& a : kind->args)
                if (key == Lower(a.name))
                    arg = &a;
            if (!arg)
                return fail(std::string(kind->name) + " has no argument '" + w.substr(0, eq) + "'");
        } else {
            if (position >= kind->args.size())
                return fail(std::string("too many arguments for ") + kind->name);
            arg = &kind->args[position++];
        }
        ArgValue v;
        if (!ParseValue(arg->type, value, v))
            return fail(std::string("bad value for ") + arg->name + ": '" + value + "'");
        arg->set(m, v);
    }
    return m;
}

std::optional<ControlCommand> ParseControl(std::string_view line, std::string* error)
{
    const std::vector<std::string> words = SplitWords(line);
    ControlCommand c;
    if (words.empty() || words[0][0] == '#')
        return c;
    const std::string verb = Lower(words[0]);
    const std::string arg1 = words.size() > 1 ? Lower(words[1]) : std::string();

    if (verb == "fault") {
        if (arg1 == "clear" && words.size() == 2) {
            c.kind = ControlCommand::Kind::ClearFaults;
            return c;
        }
        if (arg1 == "remove") {
            std::int64_t id = 0;
            if (words.size() != 3 || !ParseNumber(words[2], 0, 1000000000, id))
                return Fail(error, "usage: fault remove ID");
            c.kind = ControlCommand::Kind::RemoveFault;
            c.faultId = static_cast<int>(id);
            return c;
        }
        const auto f = ParseFault(Rest(line, 1), error);
        if (!f)
            return std::nullopt;
        c.kind = ControlCommand::Kind::AddFault;
        c.fault = *f;
        return c;
    }
    if (verb == "faults" && words.size() == 1) {
        c.kind = ControlCommand::Kind::ListFaults;
        return c;
    }
    if (verb == "msg") {
        if (arg1 == "body" || arg1 == "wire") {
            const auto bytes = ParseHex(Rest(line, 2));
            if (!bytes || bytes->empty())
                return Fail(error, "msg " + arg1 + " needs hex bytes");
            c.kind = arg1 == "body" ? ControlCommand::Kind::SendBody : ControlCommand::Kind::SendWire;
            c.bytes = *bytes;
            return c;
        }
        const auto m = ParseMessage(Rest(line, 1), &c.pid, error);
        if (!m)
            return std::nullopt;
        c.kind = ControlCommand::Kind::SendMessage;
        c.message = *m;
        return c;
    }
    if ((verb == "hangup" || verb == "status" || verb == "help" || verb == "quit" || verb == "exit") &&
        words.size() == 1) {
        c.kind = verb == "hangup"   ? ControlCommand::Kind::HangUp
                 : verb == "status" ? ControlCommand::Kind::Status
                 : verb == "help"   ? ControlCommand::Kind::Help
                                    : ControlCommand::Kind::Quit;
        return c;
    }
    if (verb == "save" && words.size() <= 2) {
        c.kind = ControlCommand::Kind::Save;
        c.path = words.size() == 2 ? words[1] : std::string();
        return c;
    }
    if (verb == "logo" && words.size() == 2) {
        c.kind = ControlCommand::Kind::SaveLogo;
        c.path = words[1];
        return c;
    }
    if (verb == "log" && words.size() == 2 && (arg1 == "on" || arg1 == "off")) {
        c.kind = ControlCommand::Kind::Log;
        c.on = arg1 == "on";
        return c;
    }
    return Fail(error, "unknown command '" + std::string(line) + "' (try help)");
}

std::string ControlHelp()
{
    auto line = [](std::string head, std::size_t width, const std::string& text) {
        head.resize(std::max(head.size() + 1, width), ' ');
        return "  " + head + text + "\n";
    };
    std::string s = "Control commands (stdin or the control FIFO, one per line):\n";
    for (const CommandHelp& c : kCommands)
        s += line(c.usage, 21, c.help);
    s += "\n" + FaultHelp() + "\nMESSAGES: msg KIND [ARGS], KIND an event name (with or without 'on') or code:\n";
    for (const KindInfo& k : Kinds()) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", k.code);
        std::string args = code;
        for (const ArgInfo& a : k.args)
            args += std::string(" ") + a.name;
        s += line(k.name, 14, args);
    }
    return s + "  Values in that order or as name=value; pid=N sets the PID. Amounts 123.45,\n"
               "  quantities 1.5, dates 28.02.2009 or 28.02.09, times 23:59:59 (not checked,\n"
               "  so impossible ones go out as given), texts UTF-8 (sent as Windows-1251) or\n"
               "  hex:4601 for exact bytes. Not given: 0; nSection, nOperator, nDoc, Quant 1;\n"
               "  dates and times the PC's clock; Confirmation without rSumm: the 4-byte body.\n"
               "  Examples: 'msg confirmation 123.45'  'msg SaleOnFree Quant=1.5 Price=199.90'\n";
}

std::string ExecuteControl(PtyRegister& reg, const ControlCommand& c, const std::string& defaultSavePath)
{
    using K = ControlCommand::Kind;
    switch (c.kind) {
    case K::Nothing:
    case K::Quit: return {};
    case K::AddFault: return "fault #" + std::to_string(reg.AddFault(c.fault)) + ": " + FormatFault(c.fault);
    case K::ClearFaults: reg.ClearFaults(); return "faults cleared";
    case K::RemoveFault:
        return reg.RemoveFault(c.faultId) ? "fault #" + std::to_string(c.faultId) + " removed"
                                          : "no fault #" + std::to_string(c.faultId);
    case K::ListFaults: {
        const auto faults = reg.Faults();
        if (faults.empty())
            return "no faults";
        std::string out;
        for (const auto& [id, f] : faults)
            out += (out.empty() ? "#" : "\n#") + std::to_string(id) + " " + FormatFault(f);
        return out;
    }
    case K::SendMessage:
        if (c.pid)
            reg.SendMessage(c.message, *c.pid);
        else
            reg.SendMessage(c.message);
        return std::string("sent ") + MessageName(c.message);
    case K::SendBody: reg.SendBody(c.bytes); return "sent body " + ToHex(c.bytes);
    case K::SendWire: reg.SendRaw(c.bytes); return "sent " + ToHex(c.bytes);
    case K::HangUp:
        return reg.HangUp() ? "hung up; the port is now " + reg.SlavePath().toStdString() : "hang-up failed";
    case K::Save: {
        const std::string path = c.path.empty() ? defaultSavePath : c.path;
        if (path.empty())
            return "save where? (no --save-state file given)";
        const RegisterState state = reg.WithModel([](RegisterModel& m) { return m.State(); });
        QString why;
        return SaveStateFile(state, QString::fromStdString(path), &why) ? "state saved to " + path
                                                                        : "not saved: " + why.toStdString();
    }
    case K::SaveLogo: {
        std::string why;
        const bool ok = reg.WithModel([&](RegisterModel& m) { return m.SaveLogoPbm(c.path, &why); });
        return ok ? "logo saved to " + c.path : "logo not saved: " + why;
    }
    case K::Log: reg.SetRequestLogging(c.on); return c.on ? "logging on" : "logging off";
    case K::Status: {
        std::ostringstream s;
        const QString link = reg.PublishedPath();
        s << "port: " << (link.isEmpty() ? reg.SlavePath() : link).toStdString() << "\n"
          << "pty: " << reg.SlavePath().toStdString() << "\n"
          << "requests: " << reg.RequestCount() << "\n"
          << "faults: " << reg.Faults().size() << "\n"
          << "authorised user: " << reg.WithModel([](RegisterModel& m) { return m.AuthorizedUser(); });
        return s.str();
    }
    case K::Help: return ControlHelp();
    }
    return {};
}

} // namespace kkm::emu
