// Stands in for the settings subcommands in builds without profiles.
#include "CliCommands.h"
#include "CliFleet.h"

namespace kkm::cli {

int RunSettings(const TOptions&)
{
    PrintError(QStringLiteral("kkm-cli: команды settings в этой сборке нет (KKM_CLI_SETTINGS=OFF)"));
    return ExitUsage;
}

} // namespace kkm::cli
