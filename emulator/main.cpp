// kkm-emulator: a register on a pseudo-terminal, for trying the configurator
// without hardware and for testing it.
#include "Control.h"
#include "PtyRegister.h"
#include "StateFile.h"

#include <QCommandLineParser>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kkm;
using namespace kkm::emu;

namespace {

const char* const kUsage =
    "Usage: kkm-emulator [OPTIONS]\n"
    "\n"
    "Emulates the fiscal register (KKM) on a pseudo-terminal. The port is published\n"
    "where the configurator's port list looks, as ttyEMU<N> (the first free N), a\n"
    "link to the pseudo-terminal. Prints the port on standard output:\n"
    "  port: <the link to open>\n"
    "  pty: /dev/pts/<M>\n"
    "  control: <link>.ctl    (the control FIFO)\n"
    "\n"
    "Options:\n"
    "  --state FILE       load the register's state (JSON) at start; keys left out\n"
    "                     keep the defaults\n"
    "  --save-state FILE  save the state to FILE when the emulator ends (and on 'save')\n"
    "  --baud N           pace the answers as a line of N baud would (10 bits a byte);\n"
    "                     0, the default: answer at once\n"
    "  --think MS         extra time before each answer, in milliseconds (default 0)\n"
    "  --log              log every request and answer to standard error\n"
    "  --port-dir DIR     publish the port in DIR (default: $KKM_EMULATOR_DIR, else\n"
    "                     $XDG_RUNTIME_DIR/kkm-emulator, else /tmp/kkm-emulator-<uid>)\n"
    "  --no-publish       do not publish; open the /dev/pts path printed instead\n"
    "  --control FIFO     read control commands from FIFO (default: <link>.ctl when\n"
    "                     published, none otherwise)\n"
    "  --logo FILE        write each logo received to FILE as a PBM picture\n"
    "  --fault FAULT      inject a fault from the start (repeatable; syntax below)\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "\n"
    "Users (table 9) and their passwords in the default state:\n"
    "  1 Администратор 1, 2 Старший кассир 2, 3..6 Кассир 3..6, 7 Техник ЦТО 7\n"
    "  (user N's password is N). Writes (tables, sales, logo) need Authorize first;\n"
    "  Connect ends the authorisation.\n"
    "\n"
    "Error codes it answers with: 1 no such table/record/field/item/user, 2 unknown\n"
    "command, 3 logo row without header or out of order, 4 bad length or value,\n"
    "5 write without authorisation or wrong password.\n"
    "\n"
    "Commands are read one per line from standard input and from the control FIFO,\n"
    "for example: echo 'fault silent nth=1' > $dir/ttyEMU0.ctl\n"
    "\n";

struct Args {
    QString state, saveState, portDir, control, logo;
    int baud = 0, think = 0;
    bool log = false, publish = true;
    std::vector<std::string> faults;
};

bool ParseArgs(int argc, char** argv, Args& a, std::string& error, bool& help, bool& version)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption state(QStringLiteral("state"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption saveState(QStringLiteral("save-state"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption portDir(QStringLiteral("port-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption control(QStringLiteral("control"), QString(), QStringLiteral("FIFO"));
    const QCommandLineOption logo(QStringLiteral("logo"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption baud(QStringLiteral("baud"), QString(), QStringLiteral("N"));
    const QCommandLineOption think(QStringLiteral("think"), QString(), QStringLiteral("MS"));
    const QCommandLineOption fault(QStringLiteral("fault"), QString(), QStringLiteral("FAULT"));
    const QCommandLineOption log(QStringLiteral("log"));
    const QCommandLineOption noPublish(QStringLiteral("no-publish"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({state, saveState, portDir, control, logo, baud, think, fault, log, noPublish, helpOption,
                       versionOption});
    if (!parser.parse(arguments)) {
        error = parser.errorText().toStdString() + " (try --help)";
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = "unexpected argument " + parser.positionalArguments().front().toStdString() + " (try --help)";
        return false;
    }
    help = parser.isSet(helpOption);
    version = parser.isSet(versionOption);
    // One value each, except the faults; the last given counts.
    const auto last = [&](const QCommandLineOption& option) { return parser.values(option).value(parser.values(option).size() - 1); };
    const auto number = [&](const QCommandLineOption& option, int& out) {
        if (!parser.isSet(option))
            return true;
        const QString v = last(option);
        bool ok = false;
        const long long n = v.toLongLong(&ok);
        if (!ok || n < 0 || n > 10000000) {
            error = "bad number for --" + option.names().front().toStdString() + ": " + v.toStdString();
            return false;
        }
        out = static_cast<int>(n);
        return true;
    };
    a.state = last(state);
    a.saveState = last(saveState);
    a.portDir = last(portDir);
    a.control = last(control);
    a.logo = last(logo);
    a.log = parser.isSet(log);
    a.publish = !parser.isSet(noPublish);
    for (const QString& text : parser.values(fault))
        a.faults.push_back(text.toStdString());
    return number(baud, a.baud) && number(think, a.think);
}

// Splits what a descriptor delivers into lines.
struct LineReader {
    int fd = -1;
    std::string pending;

    // false at end of input
    bool Read(std::vector<std::string>& lines)
    {
        char buf[1024];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(std::move(line));
            pending.erase(0, nl + 1);
        }
        return true;
    }
};

} // namespace

int main(int argc, char** argv)
{
    Args args;
    std::string error;
    bool help = false;
    bool version = false;
    if (!ParseArgs(argc, argv, args, error, help, version)) {
        std::cerr << "kkm-emulator: " << error << "\n";
        return 2;
    }
    if (help) {
        std::cout << kUsage << ControlHelp();
        return 0;
    }
    if (version) {
        std::cout << "kkm-emulator " KKM_VERSION "\n";
        return 0;
    }

    // Signals arrive through a descriptor, in the main loop, so that the
    // port, its link and lock and the FIFO are always cleaned up. A SIGHUP
    // that was ignored on start (nohup) stays ignored.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    struct sigaction hup {};
    if (::sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN)
        sigaddset(&handled, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &handled, nullptr); // before any thread starts
    std::signal(SIGPIPE, SIG_IGN);
    const int sigFd = ::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);

    RegisterState state = DefaultState();
    if (!args.state.isEmpty()) {
        QString why;
        if (!LoadStateFile(args.state, state, &why)) {
            std::cerr << "kkm-emulator: " << why.toStdString() << "\n";
            return 1;
        }
    }

    PtyRegister reg{RegisterModel(state)};
    for (const std::string& text : args.faults) {
        const auto f = ParseFault(text, &error);
        if (!f) {
            std::cerr << "kkm-emulator: --fault " << text << ": " << error << "\n";
            return 2;
        }
        reg.AddFault(*f);
    }

    PtyRegister::Options options;
    options.Publish = args.publish;
    options.Directory = args.portDir;
    options.Baud = args.baud;
    options.ThinkMs = args.think;
    options.LogRequests = args.log;
    options.LogoPath = args.logo;
    QString why;
    if (!reg.Start(options, &why)) {
        std::cerr << "kkm-emulator: " << why.toStdString() << "\n";
        return 1;
    }

    QString control = args.control;
    if (control.isEmpty() && !reg.PublishedPath().isEmpty())
        control = reg.PublishedPath() + QStringLiteral(".ctl");
    LineReader fifo;
    const QByteArray controlName = QFile::encodeName(control);
    if (!control.isEmpty()) {
        ::unlink(controlName.constData());
        // Opened for writing too, so that it never reports end of input when
        // a writer such as echo closes it.
        if (::mkfifo(controlName.constData(), 0600) != 0 ||
            (fifo.fd = ::open(controlName.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0) {
            std::cerr << "kkm-emulator: control FIFO " << control.toStdString() << ": " << std::strerror(errno)
                      << "\n";
            control.clear();
        }
    }

    const QString link = reg.PublishedPath();
    std::cout << "port: " << (link.isEmpty() ? reg.SlavePath() : link).toStdString() << "\n"
              << "pty: " << reg.SlavePath().toStdString() << "\n";
    if (!control.isEmpty())
        std::cout << "control: " << control.toStdString() << "\n";
    std::cout.flush();

    LineReader input{STDIN_FILENO, {}};
    bool stdinOpen = true;
    const bool interactive = ::isatty(STDIN_FILENO);
    bool quit = false;
    const std::string savePath = args.saveState.toStdString();
    while (!quit) {
        pollfd fds[3] = {{sigFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}, {fifo.fd, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        std::vector<std::string> lines;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            if (!input.Read(lines)) {
                // End of input ends an interactive session; a background one
                // (stdin from /dev/null) goes on with the FIFO.
                stdinOpen = false;
                if (interactive)
                    quit = true;
            }
        }
        if (fds[2].revents & POLLIN)
            fifo.Read(lines);
        for (const std::string& line : lines) {
            const auto command = ParseControl(line, &error);
            if (!command) {
                std::cout << "error: " << error << std::endl;
                continue;
            }
            if (command->kind == ControlCommand::Kind::Quit) {
                quit = true;
                break;
            }
            const std::string reply = ExecuteControl(reg, *command, savePath);
            if (!reply.empty())
                std::cout << reply << std::endl;
        }
    }

    reg.Stop();
    if (!control.isEmpty()) {
        ::close(fifo.fd);
        ::unlink(controlName.constData());
    }
    if (!args.saveState.isEmpty()) {
        const RegisterState final = reg.WithModel([](RegisterModel& m) { return m.State(); });
        if (!SaveStateFile(final, args.saveState, &why)) {
            std::cerr << "kkm-emulator: state not saved: " << why.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}
