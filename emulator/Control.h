// Control commands of the running emulator, one per line, read from its
// standard input and from its control FIFO: faults, unsolicited messages,
// hang-up, saving the state or the logo, logging. ControlHelp() gives the
// grammar, made from the tables the parser uses (`kkm-emulator --help`).
//
//   msg confirmation              4-byte body
//   msg confirmation 123.45       10-byte body with the sum
//   msg SaleOnFree Quant=1.5 Price=199.90 nDoc=17
//   fault refuse 5 code=14 table=9
#pragma once

#include "Faults.h"
#include "Messages.h"

#include <optional>
#include <string>
#include <string_view>

namespace kkm::emu {

class PtyRegister;

struct ControlCommand {
    enum class Kind {
        Nothing, // blank line or comment
        AddFault,
        ClearFaults,
        RemoveFault,
        ListFaults,
        SendMessage,
        SendBody,
        SendWire,
        HangUp,
        Save,
        SaveLogo,
        Log,
        Status,
        Help,
        Quit,
    };
    Kind kind = Kind::Nothing;
    Fault fault;                     // AddFault
    int faultId = 0;                 // RemoveFault
    Message message;                 // SendMessage
    std::optional<std::uint8_t> pid; // SendMessage: the PID when given
    TArrayOfByte bytes;              // SendBody, SendWire
    std::string path;                // Save (may be empty), SaveLogo
    bool on = false;                 // Log
};

std::optional<ControlCommand> ParseControl(std::string_view line, std::string* error = nullptr);
// Just the message part: "confirmation 123.45".
std::optional<Message> ParseMessage(std::string_view text, std::optional<std::uint8_t>* pid = nullptr,
                                    std::string* error = nullptr);

std::string ControlHelp();

// Carries out a command and returns what to tell the user. Quit is left to
// the caller. Save without a file uses defaultSavePath.
std::string ExecuteControl(PtyRegister& reg, const ControlCommand& command, const std::string& defaultSavePath);

} // namespace kkm::emu
