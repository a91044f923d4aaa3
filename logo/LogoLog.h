// Diagnostics of the logo library, off by default (enable with
// QT_LOGGING_RULES="kkm.logo.debug=true").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLogo)
