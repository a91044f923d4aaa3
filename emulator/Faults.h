// Faults the emulator can inject into its answers, and their text form, used
// by the --fault option and the "fault" control command:
//
//   KIND [ARGS] [code=N] [table=N] [record=N] [field=N] [row=N] [nth=N] [once|always]
//
//   refuse [E]        answer with the error form, error code E (default 3);
//                     the command is not carried out
//   silent            no answer; the command is not carried out
//   delay MS          answer MS milliseconds late
//   badcrc            corrupt the answer's CRC
//   badpid            answer with PID + 1
//   badar | badat     answer with AR + 1 or AT + 1
//   longer | shorter  one byte more (0x00) or less in the answer body
//   garbage [HEX]     bytes before the answer frame (default 00 11 FE 55)
//   split [N [MS]]    the answer in N pieces (default 2) with MS ms
//                     between them (default 20)
//   twice             the answer sent twice
//   zeroerror         the error form with error byte 0 instead of the answer
//   hangup            unplug the cable instead of answering
//
// A fault matches the requests whose command code, table, record (or goods
// item), field and logo row (0 = the header) equal those given; with none
// given it matches every request. nth=N matches only the N-th request
// received from the moment the fault is added (1 = the next one) and implies
// once. A "once" fault is removed after it has fired. Several faults can
// match one request; their effects add up (refuse and silent win).
#pragma once

#include "KkmTypes.h"
#include "RegisterModel.h"

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

// Whitespace-separated words; double quotes keep spaces inside a word and a
// backslash keeps the next character.
std::vector<std::string> SplitWords(std::string_view line);
// Hex digits, spaces allowed between bytes: "FD 02 01", "FD0201".
std::optional<TArrayOfByte> ParseHex(std::string_view text);
std::string ToHex(const TArrayOfByte& bytes);

} // namespace kkm::emu
