// The register's state as a JSON file, so that tests and users can start
// from a known register:
//
// {
//   "identity": { "serialNumber": 110000123456, "infoWord": 258, "infoByte": 1,
//                 "softVersion": 21, "softDate": "15.05.2009",
//                 "modelName": "ОМВЕК-100Ф" },      // or "modelNameHex": "CECC..."
//   "state": { "errorCode": 0, "clock": "local",    // or "31.12.2009 23:59:59"
//              "modeCode": 1, "operatorNo": 1, "sessionOpen": 1,
//              "sessionTotal": 1234567, "cashInDrawer": 563050 },  // hundredths
//   "tables": { "9": { "1": "<record bytes as hex>" }, ... },
//   "sales": { "3": 15250, ... },                   // thousandths per item
//   "passwords": { "1": 1, ..., "7": 7 },
//   "logo": { "kind": 0, "bytesPerRow": 2, "rows": 2, "dots": "8040 0000" }  // or null
// }
//
// The fixed clock and the dates are taken as written, without calendar
// checks, so that a register reporting an impossible date can be set up.
// Every key may be left out: what is missing keeps its value in the state
// the file is loaded over (normally DefaultState()). Saving writes the
// records and sales that differ from DefaultState(), so a file stays small
// and loads back to the same state.
#pragma once

#include "RegisterModel.h"

#include <QJsonObject>
#include <QString>

namespace kkm::emu {

QJsonObject StateToJson(const RegisterState& state);
// Applies `json` over `state`; on failure `state` is unchanged.
bool StateFromJson(const QJsonObject& json, RegisterState& state, QString* error = nullptr);

bool SaveStateFile(const RegisterState& state, const QString& path, QString* error = nullptr);
bool LoadStateFile(const QString& path, RegisterState& state, QString* error = nullptr);

} // namespace kkm::emu
