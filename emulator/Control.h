// Control commands of the running emulator, one per line, read from its
// standard input and from its control FIFO:
//
//   fault FAULT            add a fault (syntax in Faults.h)
//   fault clear            remove all faults
//   fault remove ID        remove one fault
//   faults                 list the faults with their ids
//   msg KIND [ARGS]        send an unsolicited message
//   msg body HEX           send a body (AR AT PID Code ...) with CRC,
//                          stuffing and markers added
//   msg wire HEX           send bytes exactly as given
//   hangup                 unplug the cable; the link then leads to a new port
//   save [FILE]            save the state (default: the --save-state file)
//   logo FILE              save the last complete logo as a PBM picture
//   log on|off             log every request and answer to stderr
//   status                 ports, faults, the authorised user
//   help                   this list
//   quit                   end the emulator
//
// Message kinds are the event names, with or without "on", or the message
// code: SaleOnFree (0x20), SaleOnCode, SaleOnBarcode, FreeDisc,
// DiscOnQuery, DiscOnCode, DiscOnBarcode, PayReceipt, CloseReceipt (0x29),
// AbortReceipt, InSumm, OutSumm, CloseSession, Confirmation (0x2E).
// Arguments are the event's arguments after AR, AT, PID, in its order or
// as name=value (pid=N sets the PID): amounts 123.45, quantities 1.5,
// dates 28.02.2009 or 28.02.09, times 23:59:59 (neither is checked, so
// impossible ones can be sent), texts as UTF-8 (sent as Windows-1251) or
// hex:3436... for exact bytes. Arguments not given are 0; section, operator
// and document numbers and quantities 1; dates and times the PC's clock.
//   msg confirmation              4-byte body
//   msg confirmation 123.45       10-byte body with the sum
//   msg SaleOnFree Quant=1.5 Price=199.90 nDoc=17
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
