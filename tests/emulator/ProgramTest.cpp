// kkm-emulator run as a program: its options in the forms other tools
// take, and wrong ones refused with status 2 before any port is made.
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct TRun {
    int Exit = -1;
    QString Out, Err;
};

TRun RunEmulator(const QStringList& args, const QByteArray& input)
{
    QProcess process;
    process.start(QStringLiteral(KKM_EMULATOR_PATH), args);
    TRun run;
    if (!process.waitForStarted(30000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

TEST(EmulatorProgram, Options)
{
    const struct {
        QStringList args;
        int exit;
        const char* out; // part of stdout
        const char* err; // part of stderr
    } cases[] = {
        {{"--bogus"}, 2, "", "bogus"},
        {{"--baud"}, 2, "", "--baud"},
        {{"--baud=fast"}, 2, "", "bad number for --baud: fast"},
        {{"--think", "-1"}, 2, "", "bad number for --think: -1"},
        {{"stray"}, 2, "", "unexpected argument stray"},
        {{"--log=yes"}, 2, "", "--log"},
        {{"--version"}, 0, "kkm-emulator ", ""},
        {{"-h"}, 0, "--fault FAULT", ""},
        // Values attached or apart, a repeated --fault: both faults there.
        {{"--no-publish", "--baud=9600", "--think", "0", "--fault=silent nth=1", "--fault", "badpid code=2"}, 0,
         "#2 badpid code=2", ""},
    };
    for (const auto& c : cases) {
        const TRun r = RunEmulator(c.args, "faults\nquit\n");
        const std::string shown = c.args.join(' ').toStdString() + "\nstdout:\n" + r.Out.toStdString() +
                                  "\nstderr:\n" + r.Err.toStdString();
        EXPECT_EQ(r.Exit, c.exit) << shown;
        EXPECT_TRUE(r.Out.contains(QString::fromUtf8(c.out))) << shown;
        EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.err))) << shown;
        if (c.exit != 0) {
            EXPECT_FALSE(r.Out.contains(QStringLiteral("port:"))) << shown;
        }
    }
}
