// The register's command set: each command is its request payload and its
// response reader over the one transaction.
#include "OmvekCP.h"
#include "PayloadFields.h"
#include "RegisterCodes.h"

using namespace kkm;

namespace {

bool WriteDataOk(const TArrayOfByte& data)
{
    return !data.empty() && data.size() <= MaxWriteData;
}

TArrayOfByte Address(std::uint8_t table, std::uint16_t record)
{
    TArrayOfByte p{table};
    AppendWord(p, record);
    return p;
}

// Success payload of at least one byte, taken whole.
auto ReadPayloadInto(TArrayOfByte& data)
{
    return [&data](Payload p) {
        if (p.empty())
            return false;
        data.assign(p.begin(), p.end());
        return true;
    };
}

auto NoPayload()
{
    return [](TArrayOfByte&) { return true; };
}

} // namespace

std::int32_t TOmvekCP::GetDeviceInfo(std::uint8_t AR, std::uint8_t AT, std::int64_t& SerialNumber,
                                     std::uint16_t& InfoWord, std::uint8_t& InfoByte,
                                     std::uint8_t& SoftVersion, TDateTime& SoftDate,
                                     TKkmText& ModelName)
{
    std::int64_t serial = 0;
    std::uint16_t word = 0;
    int infoByte = 0, version = 0;
    TDateTime date;
    TKkmText model;
    // Serial number (6), info word (2), info byte, version, date (3), then
    // the model name up to a zero byte or the end.
    const std::int32_t r = Transact(AR, AT, cmdGetDeviceInfo, NoPayload(), [&](Payload p) {
        if (p.size() < 14 || !ReadBcd(p, 0, 6, serial) || !ReadBcdByte(p, 8, infoByte)
            || !ReadBcdByte(p, 9, version) || !ReadDate(p, 10, date))
            return false;
        word = ReadWord(p, 6);
        for (std::size_t i = 13; i < p.size() && p[i] != 0; ++i)
            model.append(static_cast<char>(p[i]));
        return true;
    });
    if (r == rcOk) {
        SerialNumber = serial;
        InfoWord = word;
        InfoByte = static_cast<std::uint8_t>(infoByte);
        SoftVersion = static_cast<std::uint8_t>(version);
        SoftDate = date;
        ModelName = model;
    }
    return r;
}

std::int32_t TOmvekCP::GetDeviceState(std::uint8_t AR, std::uint8_t AT, std::uint8_t& ErrorCode,
                                      TDateTime& Date, TDateTime& Time, std::uint8_t& ModeCode,
                                      std::uint8_t& OperatorNo, std::uint8_t& SessionOpen,
                                      TCurrency& SessionTotal, TCurrency& CashInDrawer)
{
    TDateTime date, time;
    int oper = 0;
    std::uint8_t error = 0, mode = 0, session = 0;
    TCurrency total, cash;
    // Error, date (3), time (3), mode, operator, session flag, session
    // total (6), cash (6).
    const std::int32_t r = Transact(AR, AT, cmdGetDeviceState, NoPayload(), [&](Payload p) {
        if (p.size() != 22)
            return false;
        error = p[0];
        mode = p[7];
        session = p[9];
        return ReadDate(p, 1, date) && ReadTime(p, 4, time)
            && ReadBcdByte(p, 8, oper) && ReadAmount(p, 10, 6, total)
            && ReadAmount(p, 16, 6, cash);
    });
    if (r == rcOk) {
        ErrorCode = error;
        Date = date;
        Time = time;
        ModeCode = mode;
        OperatorNo = static_cast<std::uint8_t>(oper);
        SessionOpen = session;
        SessionTotal = total;
        CashInDrawer = cash;
    }
    return r;
}

std::int32_t TOmvekCP::Connect(std::uint8_t AR, std::uint8_t AT, std::uint8_t Param1,
                               std::uint8_t Param2)
{
    return TransactNoData(AR, AT, cmdConnect, [&](TArrayOfByte& p) {
        p = {Param1, Param2};
        return true;
    });
}

std::int32_t TOmvekCP::ReadTableRecord(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                       std::uint16_t Record, TArrayOfByte& Data)
{
    TArrayOfByte data;
    const std::int32_t r = Transact(AR, AT, cmdReadTableRecord, [&](TArrayOfByte& p) {
        p = Address(Table, Record);
        return true;
    }, ReadPayloadInto(data));
    if (r == rcOk)
        Data = std::move(data);
    return r;
}

std::int32_t TOmvekCP::ReadTableField(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                      std::uint16_t Record, std::uint8_t Field, TArrayOfByte& Data)
{
    TArrayOfByte data;
    const std::int32_t r = Transact(AR, AT, cmdReadTableField, [&](TArrayOfByte& p) {
        p = Address(Table, Record);
        p.push_back(Field);
        return true;
    }, ReadPayloadInto(data));
    if (r == rcOk)
        Data = std::move(data);
    return r;
}

std::int32_t TOmvekCP::WriteTableRecord(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                        std::uint16_t Record, const TArrayOfByte& Data)
{
    return TransactNoData(AR, AT, cmdWriteTableRecord, [&](TArrayOfByte& p) {
        p = Address(Table, Record);
        p.insert(p.end(), Data.begin(), Data.end());
        return WriteDataOk(Data);
    });
}

std::int32_t TOmvekCP::WriteTableField(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                       std::uint16_t Record, std::uint8_t Field,
                                       const TArrayOfByte& Data)
{
    return TransactNoData(AR, AT, cmdWriteTableField, [&](TArrayOfByte& p) {
        p = Address(Table, Record);
        p.push_back(Field);
        p.insert(p.end(), Data.begin(), Data.end());
        return WriteDataOk(Data);
    });
}

std::int32_t TOmvekCP::ReadGoodsSales(std::uint8_t AR, std::uint8_t AT, std::uint16_t Record,
                                      TCurrency& Quantity)
{
    TCurrency quantity;
    const std::int32_t r = Transact(AR, AT, cmdReadGoodsSales, [&](TArrayOfByte& p) {
        p.clear();
        AppendWord(p, Record);
        return true;
    }, [&](Payload p) { return p.size() == 4 && ReadQuantity(p, 0, 4, quantity); });
    if (r == rcOk)
        Quantity = quantity;
    return r;
}

std::int32_t TOmvekCP::WriteGoodsSales(std::uint8_t AR, std::uint8_t AT, std::uint16_t Record,
                                       TCurrency Quantity)
{
    return TransactNoData(AR, AT, cmdWriteGoodsSales, [&](TArrayOfByte& p) {
        // The field holds 8 digits of thousandths and no sign: refuse what
        // would otherwise be sent cut or wrapped.
        const std::int64_t thousandths = Quantity.ToThousandths();
        if (Quantity.Raw < 0 || thousandths > Max8Digits)
            return false;
        p.clear();
        AppendWord(p, Record);
        p.resize(6);
        return kkm::EncodeBCD(p, 2, 5, thousandths);
    });
}

std::int32_t TOmvekCP::SendLogoHeader(std::uint8_t AR, std::uint8_t AT, std::uint8_t Kind,
                                      std::uint8_t BytesPerRow, std::uint8_t Rows)
{
    return TransactNoData(AR, AT, cmdLogo, [&](TArrayOfByte& p) {
        p = {0, Kind, BytesPerRow, Rows};
        return true;
    });
}

std::int32_t TOmvekCP::SendLogoRow(std::uint8_t AR, std::uint8_t AT, std::uint8_t Row,
                                   const TArrayOfByte& Data)
{
    return TransactNoData(AR, AT, cmdLogo, [&](TArrayOfByte& p) {
        // Row 0 would read as a header.
        p = {Row};
        p.insert(p.end(), Data.begin(), Data.end());
        return Row != 0 && WriteDataOk(Data);
    });
}

std::int32_t TOmvekCP::Authorize(std::uint8_t AR, std::uint8_t AT, std::uint8_t User,
                                 std::int64_t Password)
{
    return TransactNoData(AR, AT, cmdAuthorize, [&](TArrayOfByte& p) {
        // Dropping digits would send another password than the one typed.
        if (Password < 0 || Password > Max8Digits)
            return false;
        p = {User, 0, 0, 0, 0};
        return kkm::EncodeBCD(p, 1, 4, Password);
    });
}
