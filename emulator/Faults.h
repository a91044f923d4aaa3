// Faults the emulator can inject into its answers, and their text form, used
// by the --fault option and the "fault" control command:
//
//   KIND [ARGS] [code=N] [table=N] [record=N] [field=N] [row=N] [nth=N] [once|always]
//
// FaultHelp() describes the kinds (`kkm-emulator --help` prints it). A fault
// matches the requests whose command code, table, record (or goods item),
// field and logo row (0 = the header) equal those given; with none given it
// matches every request. nth=N matches only the N-th request received from
// the moment the fault is added (1 = the next one) and implies once. A "once"
// fault is removed after it has fired. Several faults can match one request;
// their effects add up (refuse and silent win). FaultPlan.h applies them.
#pragma once

#include "KkmTypes.h"
#include "RegisterModel.h"
#include "Text.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kkm::emu {

enum class FaultKind {
    Refuse,
    Silent,
    Delay,
    BadCrc,
    BadPid,
    BadAR,
    BadAT,
    Longer,
    Shorter,
    Garbage,
    Split,
    Twice,
    ZeroError,
    HangUp,
};

struct Fault {
    FaultKind Kind = FaultKind::Silent;
    // What it matches; -1 matches anything.
    int Code = -1;
    int Table = -1;
    int Record = -1;
    int Field = -1;
    int Row = -1;
    int Nth = 0; // 0: not by position
    bool Once = false;
    // Parameters of the kinds that take them.
    std::uint8_t Error = errCannotDo;
    int DelayMs = 0;
    TArrayOfByte Garbage{0x00, 0x11, 0xFE, 0x55};
    int Pieces = 2;
    int PauseMs = 20;

    bool operator==(const Fault&) const = default;
};

std::optional<Fault> ParseFault(std::string_view text, std::string* error = nullptr);
std::string FormatFault(const Fault& fault);

// Whether the request body (AR AT PID Code payload) has what the fault asks
// for; Nth is left to the caller, who counts the requests.
bool FaultMatches(const Fault& fault, const TArrayOfByte& body);

// The grammar and one line per kind, for the help text.
std::string FaultHelp();

} // namespace kkm::emu
