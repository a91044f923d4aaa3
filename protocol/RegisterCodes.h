// The register's command codes, its own error codes and the limits of the
// command payloads, shared by the PC side and the register side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kkm {

enum CommandCode : std::uint8_t {
    cmdGetDeviceInfo = 1,
    cmdGetDeviceState = 2,
    cmdConnect = 6,
    cmdLogo = 7, // header and rows; the first payload byte tells them apart
    cmdReadTableRecord = 12,
    cmdReadTableField = 13,
    cmdWriteTableRecord = 14,
    cmdWriteTableField = 15,
    cmdReadGoodsSales = 19,
    cmdWriteGoodsSales = 20,
    cmdAuthorize = 30,
};

// Codes a register refuses with (the byte after Code 0xFF).
enum ErrorCode : std::uint8_t {
    errNoData = 1,
    errNotSupported = 2,
    errCannotDo = 3,
    errBadParams = 4,
    errAccessDenied = 5,
};

// Longest data part of a table write or a logo row.
constexpr std::size_t MaxWriteData = 100;
// Sales quantities (thousandths) and passwords travel as 8 BCD digits.
constexpr std::int64_t Max8Digits = 99999999;

} // namespace kkm
