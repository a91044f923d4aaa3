// What the emulator does with one request, given the faults in force: no I/O
// and no clock, so it can be tested alone and fuzzed.
//
//   FaultList faults;
//   faults.Add(*ParseFault("refuse 5 code=14"));
//   const FaultPlan plan = faults.Take(check);   // check: CheckRequestFrame(wire)
//   if (plan.Answers()) {
//       TArrayOfByte body = plan.Refuse ? RefusalBody(check.Body, plan.Error) : model.Respond(check.Body);
//       TArrayOfByte wire = plan.Shape(check.Body, body);
//       ... send wire in plan.Pieces pieces, twice when plan.Twice ...
//   }
#pragma once

#include "Faults.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kkm::emu {

// The effects of every fault that matched one request, added up.
struct FaultPlan {
    bool Silent = false, Refuse = false, ZeroError = false, HangUp = false, Twice = false;
    bool BadCrc = false, BadPid = false, BadAR = false, BadAT = false;
    std::uint8_t Error = errCannotDo; // of Refuse
    int DelayMs = 0;
    int LengthDelta = 0; // bytes added (positive) or cut (negative) at the body's end
    int Pieces = 1;
    int PauseMs = 0; // between pieces
    TArrayOfByte Garbage;
    std::string Names; // the faults that fired, for the log; empty when none

    // Silent and hangup leave the request unanswered and not carried out;
    // refuse answers without carrying it out.
    bool Answers() const { return !Silent && !HangUp; }
    bool CarriesOut() const { return Answers() && !Refuse; }

    // The answer body (AR AT PID Code payload) reshaped and framed, with
    // the garbage in front: one copy as it goes on the line.
    TArrayOfByte Shape(const TArrayOfByte& request, TArrayOfByte body) const;
};

// The refusal the register gives to request (AR AT PID Code ...).
TArrayOfByte RefusalBody(const TArrayOfByte& request, std::uint8_t error);

// The faults in force, in the order they were added.
class FaultList {
public:
    // An nth fault counts from the next request after it is added.
    int Add(const Fault& fault);
    bool Remove(int id);
    void Clear() { faults_.clear(); }
    std::vector<std::pair<int, Fault>> List() const;
    bool Empty() const { return faults_.empty(); }

    // Counts one more request and plans its handling. A request that failed
    // the frame checks fires nothing; "once" faults that fired and nth faults
    // whose request has passed are dropped.
    FaultPlan Take(const RequestCheck& check);

private:
    struct Entry {
        int Id;
        Fault F;
        std::uint64_t Target; // request number of an nth fault
    };
    std::vector<Entry> faults_;
    std::uint64_t received_ = 0;
    int nextId_ = 1;
};

} // namespace kkm::emu
