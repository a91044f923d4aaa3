#include "RegisterModel.h"

#include "FrameCodec.h"
#include "Text.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kkm::emu {

namespace {

std::uint8_t BcdByte(int value)
{
    const int v = ((value % 100) + 100) % 100;
    return static_cast<std::uint8_t>(((v / 10) << 4) | (v % 10));
}

// Packed BCD with every nibble a decimal digit.
bool ReadStrictBcd(const TArrayOfByte& data, std::size_t first, std::size_t size, std::int64_t& value)
{
    std::int64_t v = 0;
    for (std::size_t i = first; i < first + size; ++i) {
        const int hi = data[i] >> 4;
        const int lo = data[i] & 0x0F;
        if (hi > 9 || lo > 9)
            return false;
        v = v * 100 + hi * 10 + lo;
    }
    value = v;
    return true;
}

void AppendBcd(TArrayOfByte& out, std::size_t size, std::uint64_t value)
{
    const std::size_t at = out.size();
    out.resize(at + size);
    PutBcd(out, at, size, value);
}

void AppendDate(TArrayOfByte& out, const Date& d)
{
    out.push_back(BcdByte(d.Day));
    out.push_back(BcdByte(d.Month));
    out.push_back(BcdByte(d.Year % 100));
}

int Word(const TArrayOfByte& p, std::size_t at)
{
    return p[at] | (p[at + 1] << 8);
}

RegisterModel::Answer Done(TArrayOfByte payload = {})
{
    return {AnswerDone, std::move(payload)};
}

RegisterModel::Answer Refuse(std::uint8_t error)
{
    return {AnswerRefused, {error}};
}

// Payload lengths a command may carry; false for an unknown code.
bool LengthRule(std::uint8_t code, const TArrayOfByte& p, bool& lengthOk)
{
    const std::size_t n = p.size();
    switch (code) {
    case cmdGetDeviceInfo:
    case cmdGetDeviceState: lengthOk = n == 0; return true;
    case cmdConnect: lengthOk = n == 2; return true;
    case cmdLogo:
        // The first byte tells the header (0) from a row (its number).
        lengthOk = n >= 1 && (p[0] == 0 ? n == 4 : n >= 2 && n <= 1 + MaxWriteData);
        return true;
    case cmdReadTableRecord: lengthOk = n == 3; return true;
    case cmdReadTableField: lengthOk = n == 4; return true;
    case cmdWriteTableRecord: lengthOk = n >= 4 && n <= 3 + MaxWriteData; return true;
    case cmdWriteTableField: lengthOk = n >= 5 && n <= 4 + MaxWriteData; return true;
    case cmdReadGoodsSales: lengthOk = n == 2; return true;
    case cmdWriteGoodsSales: lengthOk = n == 6; return true;
    case cmdAuthorize: lengthOk = n == 5; return true;
    default: return false;
    }
}

} // namespace

ClockValue LocalClock()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {{tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900}, {tm.tm_hour, tm.tm_min, tm.tm_sec}};
}

std::vector<std::size_t> RecordSizes(int table)
{
    switch (table) {
    case 1: return std::vector<std::size_t>(GoodsCount, 46);
    case 2: return {16};
    case 3: return {8};
    case 4: return std::vector<std::size_t>(9, 33);
    case 5: return std::vector<std::size_t>(8, 24);
    case 6: return std::vector<std::size_t>(4, 7);
    case 7: return std::vector<std::size_t>(16, 14);
    case 8: return {1, 3, 1};
    case 9: return std::vector<std::size_t>(UserCount, 69);
    case 10: return std::vector<std::size_t>(3, 13);
    default: return {};
    }
}

std::vector<FieldSpan> FieldLayout(int table, int record)
{
    switch (table) {
    case 1: return {{0, 32}, {32, 7}, {39, 1}, {40, 5}, {45, 1}};
    case 2: return {{0, 2}, {2, 1}, {3, 2}, {5, 1}, {6, 2}, {8, 1}, {9, 1}, {10, 6}};
    case 3: return {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 2}, {6, 2}};
    case 4: return {{0, 32}, {32, 1}};
    case 5: return {{0, 5}, {5, 16}, {21, 1}, {22, 1}, {23, 1}};
    case 6: return {{0, 5}, {5, 2}};
    case 7: return {{0, 11}, {11, 1}, {12, 1}, {13, 1}};
    case 8: {
        const auto sizes = RecordSizes(8);
        if (record < 1 || record > static_cast<int>(sizes.size()))
            return {};
        std::vector<FieldSpan> fields;
        for (std::size_t i = 0; i < sizes[static_cast<std::size_t>(record - 1)]; ++i)
            fields.push_back({i, 1});
        return fields;
    }
    case 9: return {{0, 32}, {32, 32}, {64, 3}, {67, 2}};
    case 10: return {{0, 12}, {12, 1}};
    default: return {};
    }
}

void PutText(TArrayOfByte& record, std::size_t offset, std::size_t width, std::string_view bytes)
{
    for (std::size_t i = 0; i < width; ++i)
        record.at(offset + i) = i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : 0x20;
}

void PutBcd(TArrayOfByte& record, std::size_t offset, std::size_t size, std::uint64_t value)
{
    for (std::size_t i = 0; i < size; ++i) {
        record.at(offset + size - 1 - i) = BcdByte(static_cast<int>(value % 100));
        value /= 100;
    }
}

RequestCheck CheckRequestFrame(const TArrayOfByte& wire)
{
    RequestCheck check;
    if (wire.size() < 2 || wire.front() != FrameStart || wire.back() != FrameEnd) {
        check.Problem = "missing frame markers";
        return check;
    }
    TArrayOfByte body = wire;
    switch (UnpackFrame(body)) {
    case upOk: break;
    case upUnstuffFailed: check.Problem = "bad byte stuffing"; return check;
    case upCrcMismatch: check.Problem = "CRC mismatch"; return check;
    default: check.Problem = "frame too short"; return check;
    }
    check.Body = body;
    if (body.size() < 4) {
        check.Problem = "no command code";
        return check;
    }
    if (body[0] != RegisterAddress) {
        check.Problem = "AR is " + std::to_string(body[0]) + ", not the register's 2";
        return check;
    }
    if (body[1] != PcAddress) {
        check.Problem = "AT is " + std::to_string(body[1]) + ", not the PC's 1";
        return check;
    }
    check.Ok = true;
    return check;
}

std::string DescribeRequest(const TArrayOfByte& body)
{
    if (body.size() < 4)
        return "(no header)";
    const TArrayOfByte p(body.begin() + 4, body.end());
    std::ostringstream s;
    s << "PID " << int(body[2]) << ' ';
    bool lengthOk = false;
    const bool known = LengthRule(body[3], p, lengthOk);
    auto table = [&] { s << " table " << int(p[0]) << " record " << Word(p, 1); };
    switch (body[3]) {
    case cmdGetDeviceInfo: s << "GetDeviceInfo"; break;
    case cmdGetDeviceState: s << "GetDeviceState"; break;
    case cmdConnect:
        s << "Connect";
        if (lengthOk)
            s << ' ' << int(p[0]) << ' ' << int(p[1]);
        break;
    case cmdLogo:
        if (!p.empty() && p[0] == 0) {
            s << "SendLogoHeader";
            if (lengthOk)
                s << " kind " << int(p[1]) << " bytes/row " << int(p[2]) << " rows " << int(p[3]);
        } else {
            s << "SendLogoRow";
            if (lengthOk)
                s << " row " << int(p[0]) << ", " << p.size() - 1 << " bytes";
        }
        break;
    case cmdReadTableRecord:
        s << "ReadTableRecord";
        if (lengthOk)
            table();
        break;
    case cmdReadTableField:
        s << "ReadTableField";
        if (lengthOk) {
            table();
            s << " field " << int(p[3]);
        }
        break;
    case cmdWriteTableRecord:
        s << "WriteTableRecord";
        if (lengthOk) {
            table();
            s << ": " << ToHex(TArrayOfByte(p.begin() + 3, p.end()));
        }
        break;
    case cmdWriteTableField:
        s << "WriteTableField";
        if (lengthOk) {
            table();
            s << " field " << int(p[3]) << ": " << ToHex(TArrayOfByte(p.begin() + 4, p.end()));
        }
        break;
    case cmdReadGoodsSales:
        s << "ReadGoodsSales";
        if (lengthOk)
            s << " item " << Word(p, 0);
        break;
    case cmdWriteGoodsSales:
        s << "WriteGoodsSales";
        if (lengthOk)
            s << " item " << Word(p, 0) << " quantity " << ToHex(TArrayOfByte(p.begin() + 2, p.end()));
        break;
    case cmdAuthorize:
        s << "Authorize";
        if (lengthOk)
            s << " user " << int(p[0]);
        break;
    default: s << "unknown command " << int(body[3]); break;
    }
    if (known && !lengthOk)
        s << " (payload of " << p.size() << " bytes: wrong length)";
    return s.str();
}

RegisterModel::RegisterModel() : state_(DefaultState()) {}

RegisterModel::RegisterModel(RegisterState state) : state_(std::move(state)) {}

TArrayOfByte& RegisterModel::Record(int table, int record)
{
    if (table < 1 || table > TableCount)
        throw std::out_of_range("no such table");
    auto& records = state_.Tables[static_cast<std::size_t>(table - 1)];
    if (record < 1 || record > static_cast<int>(records.size()))
        throw std::out_of_range("no such record");
    return records[static_cast<std::size_t>(record - 1)];
}

const TArrayOfByte& RegisterModel::Record(int table, int record) const
{
    return const_cast<RegisterModel*>(this)->Record(table, record);
}

TArrayOfByte RegisterModel::Field(int table, int record, int field) const
{
    const TArrayOfByte& rec = Record(table, record);
    const auto fields = FieldLayout(table, record);
    if (field < 1 || field > static_cast<int>(fields.size()))
        throw std::out_of_range("no such field");
    const FieldSpan f = fields[static_cast<std::size_t>(field - 1)];
    if (f.Offset + f.Size > rec.size())
        throw std::out_of_range("field beyond the record");
    return TArrayOfByte(rec.begin() + static_cast<std::ptrdiff_t>(f.Offset),
                        rec.begin() + static_cast<std::ptrdiff_t>(f.Offset + f.Size));
}

void RegisterModel::ResetSession()
{
    authorizedUser_ = 0;
    logoPending_ = false;
    logoRows_ = 0;
}

RegisterModel::Answer RegisterModel::Handle(std::uint8_t code, const TArrayOfByte& payload)
{
    bool lengthOk = false;
    if (!LengthRule(code, payload, lengthOk))
        return Refuse(errNotSupported);
    if (!lengthOk)
        return Refuse(errBadParams);
    switch (code) {
    case cmdGetDeviceInfo: return DeviceInfo();
    case cmdGetDeviceState: return DeviceStateAnswer();
    case cmdConnect:
        // The two parameters (the configurator sends 5 and 5) change nothing.
        ResetSession();
        return Done();
    case cmdLogo: return LogoCommand(payload);
    case cmdReadTableRecord: return ReadRecord(payload);
    case cmdReadTableField: return ReadField(payload);
    case cmdWriteTableRecord: return WriteRecord(payload);
    case cmdWriteTableField: return WriteField(payload);
    case cmdReadGoodsSales: return ReadSales(payload);
    case cmdWriteGoodsSales: return WriteSales(payload);
    case cmdAuthorize: return Authorize(payload);
    default: return Refuse(errNotSupported);
    }
}

TArrayOfByte RegisterModel::Respond(const TArrayOfByte& requestBody)
{
    if (requestBody.size() < 4)
        return {};
    const TArrayOfByte payload(requestBody.begin() + 4, requestBody.end());
    const Answer a = Handle(requestBody[3], payload);
    TArrayOfByte body{requestBody[1], requestBody[0], requestBody[2], a.Code};
    body.insert(body.end(), a.Payload.begin(), a.Payload.end());
    return body;
}

RegisterModel::Answer RegisterModel::DeviceInfo() const
{
    const Identity& id = state_.identity;
    TArrayOfByte p;
    AppendBcd(p, 6, static_cast<std::uint64_t>(id.SerialNumber < 0 ? 0 : id.SerialNumber));
    p.push_back(static_cast<std::uint8_t>(id.InfoWord & 0xFF));
    p.push_back(static_cast<std::uint8_t>(id.InfoWord >> 8));
    p.push_back(BcdByte(id.InfoByte));
    p.push_back(BcdByte(id.SoftVersion));
    AppendDate(p, id.SoftDate);
    p.insert(p.end(), id.ModelName.begin(), id.ModelName.end());
    p.push_back(0); // the name ends with a zero byte, so an empty name still fits
    return Done(std::move(p));
}

RegisterModel::Answer RegisterModel::DeviceStateAnswer() const
{
    const DeviceState& d = state_.device;
    const ClockValue clock = d.FixedClock ? *d.FixedClock : LocalClock();
    TArrayOfByte p;
    p.push_back(d.ErrorCode);
    AppendDate(p, clock.date);
    p.push_back(BcdByte(clock.time.Hour));
    p.push_back(BcdByte(clock.time.Minute));
    p.push_back(BcdByte(clock.time.Second));
    p.push_back(d.ModeCode);
    p.push_back(BcdByte(d.OperatorNo));
    p.push_back(d.SessionOpen);
    AppendBcd(p, 6, static_cast<std::uint64_t>(d.SessionTotal < 0 ? 0 : d.SessionTotal));
    AppendBcd(p, 6, static_cast<std::uint64_t>(d.CashInDrawer < 0 ? 0 : d.CashInDrawer));
    return Done(std::move(p));
}

RegisterModel::Answer RegisterModel::LogoCommand(const TArrayOfByte& p)
{
    if (authorizedUser_ == 0)
        return Refuse(errAccessDenied);
    if (p[0] == 0) {
        // A new header abandons a logo in progress. Rows of up to 100 bytes
        // are taken, the most one command carries, although the printer
        // prints 384 dots (48 bytes).
        const std::uint8_t kind = p[1], bytesPerRow = p[2], rows = p[3];
        logoPending_ = false;
        if (kind > 1 || bytesPerRow == 0 || bytesPerRow > MaxWriteData || rows == 0)
            return Refuse(errBadParams);
        logo_ = Logo{kind, bytesPerRow, rows, TArrayOfByte(std::size_t(bytesPerRow) * rows, 0)};
        logoPending_ = true;
        logoRows_ = 0;
        return Done();
    }
    const int row = p[0];
    if (!logoPending_ || row != logoRows_ + 1)
        return Refuse(errCannotDo);
    if (p.size() - 1 != logo_.BytesPerRow)
        return Refuse(errBadParams);
    std::copy(p.begin() + 1, p.end(), logo_.Dots.begin() + std::ptrdiff_t(row - 1) * logo_.BytesPerRow);
    logoRows_ = row;
    if (row == logo_.Rows) {
        state_.LastLogo = logo_;
        logoPending_ = false;
        ++logosCompleted_;
    }
    return Done();
}

RegisterModel::Answer RegisterModel::ReadRecord(const TArrayOfByte& p) const
{
    try {
        return Done(Record(p[0], Word(p, 1)));
    } catch (const std::out_of_range&) {
        return Refuse(errNoData);
    }
}

RegisterModel::Answer RegisterModel::ReadField(const TArrayOfByte& p) const
{
    try {
        return Done(Field(p[0], Word(p, 1), p[3]));
    } catch (const std::out_of_range&) {
        return Refuse(errNoData);
    }
}

RegisterModel::Answer RegisterModel::WriteRecord(const TArrayOfByte& p)
{
    if (authorizedUser_ == 0)
        return Refuse(errAccessDenied);
    TArrayOfByte* rec = nullptr;
    try {
        rec = &Record(p[0], Word(p, 1));
    } catch (const std::out_of_range&) {
        return Refuse(errNoData);
    }
    if (p.size() - 3 != rec->size())
        return Refuse(errBadParams);
    rec->assign(p.begin() + 3, p.end());
    return Done();
}

RegisterModel::Answer RegisterModel::WriteField(const TArrayOfByte& p)
{
    if (authorizedUser_ == 0)
        return Refuse(errAccessDenied);
    const int table = p[0], record = Word(p, 1), field = p[3];
    TArrayOfByte* rec = nullptr;
    try {
        rec = &Record(table, record);
    } catch (const std::out_of_range&) {
        return Refuse(errNoData);
    }
    const auto fields = FieldLayout(table, record);
    if (field < 1 || field > static_cast<int>(fields.size()))
        return Refuse(errNoData);
    const FieldSpan f = fields[static_cast<std::size_t>(field - 1)];
    if (p.size() - 4 != f.Size)
        return Refuse(errBadParams);
    std::copy(p.begin() + 4, p.end(), rec->begin() + static_cast<std::ptrdiff_t>(f.Offset));
    return Done();
}

RegisterModel::Answer RegisterModel::ReadSales(const TArrayOfByte& p) const
{
    const int item = Word(p, 0);
    if (item < 1 || item > GoodsCount)
        return Refuse(errNoData);
    const std::int64_t q = state_.Sales[static_cast<std::size_t>(item - 1)];
    TArrayOfByte out;
    AppendBcd(out, 4, static_cast<std::uint64_t>(q < 0 ? 0 : q));
    return Done(std::move(out));
}

RegisterModel::Answer RegisterModel::WriteSales(const TArrayOfByte& p)
{
    if (authorizedUser_ == 0)
        return Refuse(errAccessDenied);
    const int item = Word(p, 0);
    if (item < 1 || item > GoodsCount)
        return Refuse(errNoData);
    std::int64_t q = 0;
    if (!ReadStrictBcd(p, 2, 4, q))
        return Refuse(errBadParams);
    state_.Sales[static_cast<std::size_t>(item - 1)] = q;
    return Done();
}

RegisterModel::Answer RegisterModel::Authorize(const TArrayOfByte& p)
{
    const int user = p[0];
    if (user < 1 || user > UserCount)
        return Refuse(errNoData);
    std::int64_t password = 0;
    if (!ReadStrictBcd(p, 1, 4, password))
        return Refuse(errBadParams);
    // A failed attempt also ends an earlier authorisation: whoever stands at
    // the PC now is not known to be allowed to write.
    if (password != state_.Passwords[static_cast<std::size_t>(user - 1)]) {
        authorizedUser_ = 0;
        return Refuse(errAccessDenied);
    }
    authorizedUser_ = user;
    return Done();
}

bool RegisterModel::SaveLogoPbm(const std::string& path, std::string* error) const
{
    if (!state_.LastLogo) {
        if (error)
            *error = "no complete logo received yet";
        return false;
    }
    const Logo& logo = *state_.LastLogo;
    // P4 packs 8 dots per byte, leftmost in the high bit, 1 = black: the
    // register's own row format, so the rows go out unchanged.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P4\n" << logo.BytesPerRow * 8 << ' ' << int(logo.Rows) << '\n';
    out.write(reinterpret_cast<const char*>(logo.Dots.data()), static_cast<std::streamsize>(logo.Dots.size()));
    out.close();
    if (!out) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace kkm::emu
