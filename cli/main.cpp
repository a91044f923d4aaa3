// kkm-cli: the register's information, settings profiles, goods list and
// logo from the command line, for one register or a fleet at once.
#include "CliCommands.h"
#include "CliFleet.h"
#include "CliOptions.h"

#include <QCoreApplication>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace kkm::cli;

int main(int argc, char** argv)
{
#ifdef _WIN32
    // The program's texts are UTF-8 (its manifest's code page): the console
    // shows them as such, whatever its own code page.
    SetConsoleOutputCP(CP_UTF8);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kkm-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KKM_VERSION));

    TOptions options;
    QString error;
    if (!ParseArguments(QCoreApplication::arguments().mid(1), options, error)) {
        PrintError(QStringLiteral("kkm-cli: ") + error);
        PrintError(QStringLiteral("Справка: kkm-cli --help"));
        return ExitUsage;
    }
    switch (options.Command) {
    case TCommand::Help:
        PrintOut(HelpText().chopped(1));
        return ExitOk;
    case TCommand::Version:
        PrintOut(QStringLiteral("kkm-cli ") + QCoreApplication::applicationVersion());
        return ExitOk;
    case TCommand::Ports:
        return RunPorts(options);
    case TCommand::Info:
        return RunInfo(options);
    case TCommand::GoodsRead:
        return RunGoodsRead(options);
    case TCommand::GoodsWrite:
        return RunGoodsWrite(options);
    case TCommand::LogoUpload:
        return RunLogoUpload(options);
    case TCommand::SettingsRead:
    case TCommand::SettingsDiff:
    case TCommand::SettingsWrite:
        return RunSettings(options);
    }
    return ExitUsage;
}
