// The jobs of connecting, the information refresh and authorising: plain
// code over the protocol component's blocking commands, run on a session's
// worker or on any thread with a context of its own. Data comes out through
// callbacks, called in the job's thread as each piece is read.
#pragma once

#include "Session.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace kkm {

struct TConnectResult {
    int PortResult = 0;       // TComPort result of the opening; non-zero: not opened
    std::int32_t Result = 0;  // the connect command's result, when opened
    bool Ok() const { return PortResult == 0 && Result == 0; }
};

// Opens Port at Baud and greets the register. An open port is closed first
// (OnOldPortClosed is told at once), and the opening waits one time-out
// after the last close, so that a register still sending finishes; a job
// asked to end meanwhile opens nothing (-1). A failed greeting leaves the
// port open; the next attempt closes it.
TConnectResult ConnectJob(TJobContext& Job, const QString& Port, std::uint32_t Baud,
                          const std::function<void()>& OnOldPortClosed = {});

struct TDeviceInfo {
    std::int64_t SerialNumber = 0;
    std::uint16_t InfoWord = 0;
    std::uint8_t InfoByte = 0;
    std::uint8_t SoftVersion = 0;
    TDateTime SoftDate;
    TKkmText ModelName;
};

struct TDeviceState {
    std::uint8_t ErrorCode = 0;
    TDateTime Date;
    TDateTime Time;
    std::uint8_t ModeCode = 0;
    std::uint8_t OperatorNo = 0;
    std::uint8_t SessionOpen = 0;
    TCurrency SessionTotal;
    TCurrency CashInDrawer;
};

// The identity, then the state, with the journal's start and end lines; a
// failure is written in red and ends it. Returns the first failure, or 0.
std::int32_t InfoJob(TJobContext& Job, const std::function<void(const TDeviceInfo&)>& OnInfo,
                     const std::function<void(const TDeviceState&)>& OnState);

// The register's users: records 1..7 of table 9 (name, then post), up to
// the first failure, which is written in red; the start and end lines are
// written in every case.
constexpr std::uint8_t UserTable = 9;
constexpr std::uint16_t UserCount = 7;
void UserListJob(TJobContext& Job, const std::function<void(const TArrayOfByte& Record)>& OnUser);

// How a user is offered for choice: the post, two spaces, the name (each a
// 32-byte Windows-1251 text of the record), trimmed.
QString UserEntryText(const TArrayOfByte& Record);

// The journal's lines of the connection's changes, as the window and
// kkm-cli write them: a connection on Port at Speed, an authorisation as
// User (as offered for choice), a line lost under the open port, and the
// three modes they lead to.
QString ConnectedLine(const QString& Port, const QString& Speed);
QString AuthorisedLine(const QString& User);
QString LineLostLine();
QString ReadOnlyModeLine();
QString ReadWriteModeLine();
QString OfflineModeLine();

// Authorisation as User (1..7) with Password; the result, not written.
std::int32_t AuthoriseJob(TJobContext& Job, std::uint8_t User, std::int64_t Password);

} // namespace kkm
