// kkm-cli's command line fed arbitrary arguments (the input split at zero
// bytes): it is either refused with a one-line reason, or taken as a
// command whose every rule holds.
#include "CliOptions.h"
#include "FuzzSupport.h"

#include <algorithm>

using namespace kkm::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList args;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QByteArray& arg : bytes.split('\0'))
        args << QString::fromUtf8(arg);
    if (size == 0)
        args.clear();
    TOptions options;
    QString error;
    if (!ParseArguments(args, options, error)) {
        FUZZ_CHECK(!error.isEmpty());
        FUZZ_CHECK(!error.contains(QLatin1Char('\n')) || args.join(QString()).contains(QLatin1Char('\n')));
        return 0;
    }
    const TCommand c = options.Command;
    if (c == TCommand::Help || c == TCommand::Version)
        return 0;
    FUZZ_CHECK(c == TCommand::Ports || !options.Ports.isEmpty());
    FUZZ_CHECK(options.Ports.removeDuplicates() == 0);
    FUZZ_CHECK(options.Tables.removeDuplicates() == 0);
    FUZZ_CHECK(std::find(Bauds.begin(), Bauds.end(), options.Baud) != Bauds.end());
    FUZZ_CHECK(options.First >= 1 && options.First <= options.Last && options.Last <= 9999);
    FUZZ_CHECK(!Writes(c) || !options.User.isEmpty());
    if (c == TCommand::GoodsRead || c == TCommand::SettingsRead) {
        FUZZ_CHECK(!options.Output.isEmpty());
        FUZZ_CHECK(options.Ports.size() == 1 || options.Output != QLatin1String("-"));
    }
    const bool takesFile = c == TCommand::SettingsDiff || c == TCommand::SettingsWrite ||
                           c == TCommand::GoodsWrite || c == TCommand::LogoUpload;
    if (!takesFile)
        FUZZ_CHECK(options.File.isEmpty());
    FUZZ_CHECK(!(options.File == QLatin1String("-") && options.Password == QStringLiteral("-")));
    if (options.Contrast)
        FUZZ_CHECK(*options.Contrast >= 0 && *options.Contrast <= 100);
    return 0;
}
