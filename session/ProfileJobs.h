// Reading a register's settings into a profile and writing a profile to a
// register: the settings read and write jobs over every table, plain code
// usable from the window and from a tool.
#pragma once

#include "Profile.h"
#include "Session.h"

#include <QStringList>

namespace kkm {

// Reads the model and serial number, then the given tables (all settings
// tables when empty) with SettingsReadJob, between the profile's start and
// end lines. Returns false, with the reason in red, for an unknown table
// key or the first failed read; Out then holds what was read before it.
bool ProfileReadJob(TJobContext& Job, const QStringList& TableKeys, TProfile& Out);

// Writes every table of the profile that takes input, in table order, with
// PlanSettingsWrite and SettingsWriteJob. All tables are encoded before the
// first is sent, so a value that cannot be encoded sends nothing. With
// DryRun nothing is sent: one line per table says what would be written.
// Returns false on the first refused table, the tables after it unsent.
bool ProfileWriteJob(TJobContext& Job, const TProfile& Profile, bool DryRun);

} // namespace kkm
