#include "FaultPlan.h"

#include "Messages.h"

#include <algorithm>

namespace kkm::emu {

TArrayOfByte RefusalBody(const TArrayOfByte& request, std::uint8_t error)
{
    return {request[1], request[0], request[2], AnswerRefused, error};
}

TArrayOfByte FaultPlan::Shape(const TArrayOfByte& request, TArrayOfByte body) const
{
    if (ZeroError)
        body = RefusalBody(request, 0);
    const bool bump[] = {BadAR, BadAT, BadPid};
    for (std::size_t i = 0; i < std::min(body.size(), std::size(bump)); ++i)
        body[i] = static_cast<std::uint8_t>(body[i] + bump[i]);
    if (LengthDelta > 0)
        body.insert(body.end(), static_cast<std::size_t>(LengthDelta), 0x00);
    body.resize(body.size() - std::min(body.size(), static_cast<std::size_t>(std::max(0, -LengthDelta))));
    TArrayOfByte wire = Garbage;
    const TArrayOfByte frame = FrameBody(body, BadCrc ? 0x5A5A : 0);
    wire.insert(wire.end(), frame.begin(), frame.end());
    return wire;
}

int FaultList::Add(const Fault& fault)
{
    const int id = nextId_++;
    faults_.push_back({id, fault, received_ + static_cast<std::uint64_t>(std::max(0, fault.Nth))});
    return id;
}

bool FaultList::Remove(int id)
{
    const auto it = std::find_if(faults_.begin(), faults_.end(), [id](const Entry& e) { return e.Id == id; });
    if (it == faults_.end())
        return false;
    faults_.erase(it);
    return true;
}

std::vector<std::pair<int, Fault>> FaultList::List() const
{
    std::vector<std::pair<int, Fault>> out;
    for (const Entry& e : faults_)
        out.emplace_back(e.Id, e.F);
    return out;
}

FaultPlan FaultList::Take(const RequestCheck& check)
{
    const std::uint64_t number = ++received_;
    FaultPlan plan;
    for (auto it = faults_.begin(); it != faults_.end();) {
        const Fault& f = it->F;
        const bool byPosition = f.Nth > 0;
        if (byPosition && it->Target < number) {
            it = faults_.erase(it); // its request has passed
            continue;
        }
        if (!check.Ok || (byPosition && it->Target != number) || !FaultMatches(f, check.Body)) {
            ++it;
            continue;
        }
        plan.Names += (plan.Names.empty() ? "" : ", ") + FormatFault(f);
        switch (f.Kind) {
        case FaultKind::Refuse: plan.Refuse = true; plan.Error = f.Error; break;
        case FaultKind::Silent: plan.Silent = true; break;
        case FaultKind::Delay: plan.DelayMs += f.DelayMs; break;
        case FaultKind::BadCrc: plan.BadCrc = true; break;
        case FaultKind::BadPid: plan.BadPid = true; break;
        case FaultKind::BadAR: plan.BadAR = true; break;
        case FaultKind::BadAT: plan.BadAT = true; break;
        case FaultKind::Longer: ++plan.LengthDelta; break;
        case FaultKind::Shorter: --plan.LengthDelta; break;
        case FaultKind::Garbage: plan.Garbage.insert(plan.Garbage.end(), f.Garbage.begin(), f.Garbage.end()); break;
        case FaultKind::Split: plan.Pieces = f.Pieces; plan.PauseMs = f.PauseMs; break;
        case FaultKind::Twice: plan.Twice = true; break;
        case FaultKind::ZeroError: plan.ZeroError = true; break;
        case FaultKind::HangUp: plan.HangUp = true; break;
        }
        it = f.Once ? faults_.erase(it) : it + 1;
    }
    return plan;
}

} // namespace kkm::emu
