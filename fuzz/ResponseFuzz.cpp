// Every command of the component against an arbitrary answer: the answer is
// put on a pseudo-terminal line before the command runs, so it goes through
// the real port and transaction. Checks that the result is a known code and
// that outputs are assigned only on success.
#include "FuzzSupport.h"
#include "OmvekCP.h"

#include <QCoreApplication>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Line {
    int master = -1;
    TOmvekCP cp;

    Line()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        FUZZ_CHECK(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        cp.setTimeOut(2000); // only an incomplete frame waits it out
        FUZZ_CHECK(cp.Port.Open(QString::fromLocal8Bit(::ptsname(master)), 115200) == 0);
    }
    void Drain()
    {
        std::uint8_t buf[512];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0 && !(n < 0 && errno == EINTR))
                break;
        }
    }
};

// The whole answer into the master, as a register puts it on the line.
// libFuzzer's timer signal can interrupt the write; that is no finding.
bool WriteAll(int fd, const TArrayOfByte& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR)
            return false;
    }
    return true;
}

bool KnownResult(std::int32_t r)
{
    return (r >= rcOtherReceiver && r <= rcOk && r != rcBuildFailed && r != rcBusy && r != rcException) ||
           (r >= 1 && r <= 255);
}

// Runs one command; the outputs keep their sentinels unless it returns 0.
std::int32_t Run(TOmvekCP& cp, std::uint8_t which)
{
    const TArrayOfByte sentinel{0xAB};
    std::int32_t r = 0;
    switch (which % 13) {
    case 0: {
        std::int64_t serial = -1;
        std::uint16_t word = 0xBEEF;
        std::uint8_t infoByte = 0xAB, version = 0xAB;
        TDateTime date{-1};
        TKkmText name("sentinel");
        r = cp.GetDeviceInfo(2, 1, serial, word, infoByte, version, date, name);
        if (r != 0)
            FUZZ_CHECK(serial == -1 && word == 0xBEEF && infoByte == 0xAB && version == 0xAB && date.Value == -1 &&
                       name == "sentinel");
        else
            FUZZ_CHECK(serial >= 0 && date.DateString().size() == 10);
        break;
    }
    case 1: {
        std::uint8_t error = 0xAB, mode = 0xAB, op = 0xAB, open = 0xAB;
        TDateTime date{-1}, time{-1};
        TCurrency total = TCurrency::FromRaw(-1), cash = TCurrency::FromRaw(-1);
        r = cp.GetDeviceState(2, 1, error, date, time, mode, op, open, total, cash);
        if (r != 0)
            FUZZ_CHECK(error == 0xAB && mode == 0xAB && op == 0xAB && open == 0xAB && date.Value == -1 &&
                       time.Value == -1 && total.Raw == -1 && cash.Raw == -1);
        else
            FUZZ_CHECK(total.Raw >= 0 && cash.Raw >= 0 && time.Value >= 0 && time.Value < 1 &&
                       date.DateString().size() == 10 && time.TimeString().size() == 8);
        break;
    }
    case 2: r = cp.Connect(2, 1, 5, 5); break;
    case 3: {
        TArrayOfByte data = sentinel;
        r = cp.ReadTableRecord(2, 1, 9, 1, data);
        FUZZ_CHECK(r == 0 || data == sentinel);
        break;
    }
    case 4: {
        TArrayOfByte data = sentinel;
        r = cp.ReadTableField(2, 1, 2, 1, 3, data);
        FUZZ_CHECK(r == 0 || data == sentinel);
        break;
    }
    case 5: r = cp.WriteTableRecord(2, 1, 3, 1, TArrayOfByte(8, 0x30)); break;
    case 6: r = cp.WriteTableField(2, 1, 3, 1, 2, {0x01}); break;
    case 7: {
        TCurrency q = TCurrency::FromRaw(-1);
        r = cp.ReadGoodsSales(2, 1, 7, q);
        FUZZ_CHECK(r == 0 ? q.Raw >= 0 : q.Raw == -1);
        break;
    }
    case 8: r = cp.WriteGoodsSales(2, 1, 7, TCurrency::FromThousandths(1500)); break;
    case 9: r = cp.SendLogoHeader(2, 1, 0, 2, 2); break;
    case 10: r = cp.SendLogoRow(2, 1, 1, {0x80, 0x40}); break;
    case 11: r = cp.Authorize(2, 1, 1, 1); break;
    default: r = cp.Connect(2, 1, 0, 0); break;
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "response_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Line line;

    // Which command, whether the answer keeps the request's addresses and
    // PID (so the readers' own checks decide), whether its CRC is spoiled,
    // then the answer body from its Code byte on.
    fuzz::Input in(data, size);
    const std::uint8_t which = in.Byte(), flags = in.Byte();
    TArrayOfByte body;
    if (flags & 1) {
        body = {1, 2, static_cast<std::uint8_t>(line.cp.PID() + 1)};
    } else {
        body = in.Take(3);
    }
    const TArrayOfByte rest = in.Rest();
    body.insert(body.end(), rest.begin(), rest.end());
    const TArrayOfByte wire = fuzz::Frame(body, flags & 2 ? 0x1111 : 0);
    // Only a whole response can end the wait before the time-out.
    if (wire.size() > kkm::MaxWireFrame || kkm::ClassifyFrame(wire) != fuzz::kResponse)
        return -1;

    FUZZ_CHECK(WriteAll(line.master, wire));
    const std::int32_t r = Run(line.cp, which);
    line.Drain(); // the request
    FUZZ_CHECK(KnownResult(r));
    FUZZ_CHECK(r != rcTimeout);
    FUZZ_CHECK(line.cp.RMsg() == wire);
    if (flags & 2)
        FUZZ_CHECK(r == rcCrcMismatch);
    return 0;
}
