// The emulator's request handling fed arbitrary input: either a byte stream
// of requests (collected, checked, planned against a few faults, answered
// by the register model and shaped), or a line of control text. The model's
// answers keep the register's rules; fault texts format back to themselves.
#include "Control.h"
#include "FaultPlan.h"
#include "FuzzSupport.h"
#include "RegisterModel.h"

#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

using namespace kkm::emu;

namespace {

const char* const kFaults[] = {
    "refuse 5 code=14", "silent nth=2", "delay 10 code=2", "badcrc once", "badpid", "badar", "badat",
    "longer", "shorter", "garbage 00FE", "split 3 0", "twice", "zeroerror", "hangup nth=3",
};

// What the requests of one input change, put back afterwards: copying the
// whole register for every input would cost most of the time.
class Undo {
public:
    explicit Undo(RegisterModel& model) : model_(model), logo_(model.State().LastLogo) {}
    ~Undo()
    {
        for (auto it = records_.rbegin(); it != records_.rend(); ++it)
            model_.Record(it->table, it->record) = it->bytes;
        for (auto it = sales_.rbegin(); it != sales_.rend(); ++it)
            model_.SetSales(it->first, it->second);
        model_.State().LastLogo = logo_;
        model_.ResetSession();
    }
    // Before the model handles request body req.
    void Note(const TArrayOfByte& req)
    {
        const TArrayOfByte p(req.begin() + 4, req.end());
        if ((req[3] == kkm::cmdWriteTableRecord || req[3] == kkm::cmdWriteTableField) && p.size() >= 3) {
            const int table = p[0], record = p[1] | p[2] << 8;
            try {
                records_.push_back({table, record, model_.Record(table, record)});
            } catch (const std::out_of_range&) {
            }
        } else if (req[3] == kkm::cmdWriteGoodsSales && p.size() >= 2) {
            const int item = p[0] | p[1] << 8;
            if (item >= 1 && item <= GoodsCount)
                sales_.emplace_back(item, model_.Sales(item));
        }
    }

private:
    struct Record {
        int table, record;
        TArrayOfByte bytes;
    };
    RegisterModel& model_;
    std::optional<Logo> logo_;
    std::vector<Record> records_;
    std::vector<std::pair<int, std::int64_t>> sales_;
};

void Requests(fuzz::Input& in)
{
    static RegisterModel model(DefaultState());
    Undo undo(model);

    FaultList faults;
    for (std::uint8_t mask = in.Byte(), i = 0; i < 8; ++i)
        if (mask & (1u << i))
            faults.Add(*ParseFault(kFaults[(in.Byte() + i) % std::size(kFaults)]));

    // Requests framed here half the time, so that most pass the frame checks.
    const bool frame = in.Byte() & 1;
    kkm::FrameCollector collector;
    TArrayOfByte stream = in.Rest();
    if (frame) {
        TArrayOfByte body{RegisterAddress, PcAddress};
        body.insert(body.end(), stream.begin(), stream.end());
        stream = fuzz::Frame(body);
    }
    for (std::uint8_t b : stream) {
        if (collector.Push(b) != kkm::FrameCollector::Complete)
            continue;
        const RequestCheck check = CheckRequestFrame(collector.FrameCopy());
        const FaultPlan plan = faults.Take(check);
        if (!check.Ok) {
            FUZZ_CHECK(!check.Problem.empty());
            continue;
        }
        const TArrayOfByte& req = check.Body;
        FUZZ_CHECK(req.size() >= 4 && req[0] == RegisterAddress && req[1] == PcAddress);
        DescribeRequest(req);
        if (!plan.Answers())
            continue;
        undo.Note(req);
        const TArrayOfByte body = plan.Refuse ? RefusalBody(req, plan.Error) : model.Respond(req);
        // The answer: addresses swapped, PID kept, done or refused with a
        // known error, and short enough for one frame.
        FUZZ_CHECK(body.size() >= 4 && body[0] == req[1] && body[1] == req[0] && body[2] == req[2]);
        FUZZ_CHECK(body[3] == AnswerDone || body[3] == AnswerRefused);
        if (body[3] == AnswerRefused && !plan.Refuse)
            FUZZ_CHECK(body.size() == 5 && body[4] >= kkm::errNoData && body[4] <= kkm::errAccessDenied);
        const TArrayOfByte answer = FrameBody(body);
        FUZZ_CHECK(answer.size() <= kkm::MaxWireFrame);
        TArrayOfByte unpacked = answer;
        FUZZ_CHECK(kkm::UnpackFrame(unpacked) == fuzz::kUnpackOk && unpacked == body);
        const TArrayOfByte shaped = plan.Shape(req, body);
        FUZZ_CHECK(shaped.size() >= plan.Garbage.size() + 4);
    }
}

void Text(fuzz::Input& in)
{
    const TArrayOfByte bytes = in.Rest();
    const std::string line(bytes.begin(), bytes.end());
    std::string error;
    if (const auto fault = ParseFault(line, &error)) {
        const std::string text = FormatFault(*fault);
        FUZZ_CHECK(ParseFault(text) == fault);
    } else {
        FUZZ_CHECK(!error.empty());
    }
    error.clear();
    if (const auto command = ParseControl(line, &error)) {
        if (command->kind == ControlCommand::Kind::SendMessage) {
            const TArrayOfByte body = BuildMessageBody(command->message, command->pid.value_or(0));
            FUZZ_CHECK(body.size() >= 4 && body[3] == MessageCode(command->message));
        }
    } else {
        FUZZ_CHECK(!error.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    if (in.Byte() & 1)
        Text(in);
    else
        Requests(in);
    return 0;
}
