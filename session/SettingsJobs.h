// Reading and writing one settings table by the table map: plain code over
// the blocking commands, usable from a window or from a tool.
#pragma once

#include "Session.h"
#include "SettingsMap.h"

#include <functional>
#include <vector>

namespace kkm {

// Reads the table's fields one by one or its records whole, as the map
// says, between its start and end lines. Each field or record read is
// decoded and handed to OnValues; a refusal or an answer that does not
// decode is written in red and ends the reading (the end line follows).
// Returns true when everything was read.
bool SettingsReadJob(TJobContext& Job, const TRegisterTable& Table,
                     const std::function<void(const std::vector<TFieldValue>&)>& OnValues);

// What a table's write sends, encoded beforehand from the values to write.
struct TSettingsWriteItem {
    int Record = 0;
    int Field = 0;       // 0: the whole record
    TArrayOfByte Bytes;
    QString ErrorLine;   // written in red before the refusal's text, if any
};

struct TSettingsWritePlan {
    const TRegisterTable* Table = nullptr;
    std::vector<TSettingsWriteItem> Items;
    // The end line is written after a refusal too (field-wise tables).
    bool DoneAfterRefusal = false;
    // The value that could not be encoded, after the items before it: once
    // those are sent, the write ends without its end line.
    QString BuildError;
};

// Encodes the table's values in the order they are sent, asking ValueOf for
// the value of each field of each record. Values the encoding filled
// with a default are handed to OnFilled, to be shown. Stops at the first
// value that cannot be encoded (BuildError).
TSettingsWritePlan PlanSettingsWrite(
    const TRegisterTable& Table, const std::function<TControlValue(const TFieldValue&, int Record)>& ValueOf,
    const std::function<void(const TFieldValue&)>& OnFilled);

enum class TWriteOutcome {
    Written,    // every item, and the end line
    Refused,    // the register refused an item (written in red), or the line failed
    NotEncoded, // the items before Plan.BuildError went out; nothing after
};

// Sends the plan between the table's start and end lines.
TWriteOutcome SettingsWriteJob(TJobContext& Job, const TSettingsWritePlan& Plan);

} // namespace kkm
