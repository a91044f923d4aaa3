// The command line of kkm-cli: subcommand, ports, options and the file,
// checked for form only (nothing is opened or read here).
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace kkm::cli {

enum class TCommand {
    Help,
    Version,
    Ports,
    Info,
    Events,
    SettingsRead,
    SettingsDiff,
    SettingsWrite,
    GoodsRead,
    GoodsWrite,
    LogoUpload,
};

// Exit statuses; a fleet ends with the worst (highest) of its ports'.
enum TExit : int {
    ExitOk = 0,
    ExitDifferent = 1, // settings diff found differences
    ExitUsage = 2,     // wrong usage or bad input; nothing was touched
    ExitRefused = 3,   // the register refused a command
    ExitLine = 4,      // the port or the line failed
    ExitInterrupted = 130, // Ctrl-C; SIGTERM ends with 143
};

// The speeds the connect dialog offers.
inline const std::array<std::uint32_t, 8> Bauds{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct TOptions {
    TCommand Command = TCommand::Help;
    QStringList Ports;              // -p, in the order given
    std::uint32_t Baud = 115200;    // -b
    std::optional<int> TimeOutMs;   // --timeout; the component's own otherwise
    QString User;                   // -u: a number 1..7 or the user's text
    std::optional<QString> Password; // -w as given ("-": standard input)
    bool RangeGiven = false;        // -r
    int First = 1;
    int Last = 9999;
    QString Output;                 // -o; "-" standard output
    QStringList Tables;             // -t
    QString File;                   // the one positional argument after the subcommand; "-" standard input
    bool Json = false;
    bool DryRun = false;
    bool ZeroSales = false;
    bool Verbose = false;           // -v: the journal's progress lines on stderr
    // logo upload
    std::optional<int> Contrast;    // 0..100
    std::optional<int> ScaleH;      // percent, 10..500 in steps of 10
    std::optional<int> ScaleV;
    bool Invert = false;
    bool Halftone = false;
    bool Foot = false;
    std::optional<std::array<int, 4>> Frame; // left, top, width, height
};

// Parses the arguments after the program's name. False with Error (one
// line, no program name) on wrong usage.
bool ParseArguments(const QStringList& Arguments, TOptions& Options, QString& Error);

// The --help text.
QString HelpText();

// The command's name as the usage shows it ("goods read").
QString CommandName(TCommand Command);

// True for the commands that write to the register and so authorise.
bool Writes(TCommand Command);

} // namespace kkm::cli
