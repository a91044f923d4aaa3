#include "CliTerminal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace kkm::cli {

namespace {

std::function<void(int)>& Handler()
{
    static std::function<void(int)> handler;
    return handler;
}

// Set while a handler waits for the signal in the event loop.
std::atomic<bool> deferred{false};
std::atomic<int> signalsSeen{0};

void RunHandler(int status)
{
    if (auto& handler = Handler())
        handler(status);
}

#ifdef Q_OS_WIN

HANDLE consoleIn = INVALID_HANDLE_VALUE;
std::atomic<bool> echoOff{false};
DWORD savedMode = 0;

void RestoreEcho()
{
    if (echoOff.exchange(false))
        SetConsoleMode(consoleIn, savedMode);
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    const int status = event == CTRL_C_EVENT ? 130 : 143;
    if (signalsSeen.fetch_add(1) > 0 || !deferred) {
        RestoreEcho();
        ExitProcess(static_cast<UINT>(status));
    }
    // This runs on a thread of its own: the handler runs in the main one.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [status] { RunHandler(status); }, Qt::QueuedConnection);
    return TRUE;
}

#else

int wakeFds[2] = {-1, -1};
// The terminal as it was before the echo went off, for the signal handler
// (tcsetattr may be called there).
std::atomic<bool> echoOff{false};
termios savedTerminal{};

void RestoreEcho()
{
    if (echoOff.exchange(false))
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
}

extern "C" void OnSignal(int signal)
{
    const int status = 128 + signal;
    if (signalsSeen.fetch_add(1) > 0 || !deferred) {
        RestoreEcho();
        ::_exit(status);
    }
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
}

#endif

} // namespace

bool StdinIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdin)) != 0;
#else
    return ::isatty(STDIN_FILENO) == 1;
#endif
}

bool StderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

bool ReadLineHidden(QString& line)
{
    const bool terminal = StdinIsTerminal();
    if (terminal) {
#ifdef Q_OS_WIN
        consoleIn = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        if (GetConsoleMode(consoleIn, &mode)) {
            savedMode = mode;
            echoOff = true;
            SetConsoleMode(consoleIn, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        }
#else
        termios t{};
        if (::tcgetattr(STDIN_FILENO, &t) == 0) {
            savedTerminal = t;
            echoOff = true;
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
        }
#endif
        std::fputs("Пароль: ", stderr);
        std::fflush(stderr);
    }
    std::string text;
    const bool got = static_cast<bool>(std::getline(std::cin, text)) || !text.empty();
    if (terminal) {
        RestoreEcho();
        // The Enter that was not shown.
        std::fputs("\n", stderr);
        std::fflush(stderr);
    }
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    line = QString::fromLocal8Bit(text);
    return got;
}

void InstallInterrupts()
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0)
        return;
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte = 0;
        if (::read(wakeFds[0], &byte, 1) == 1)
            RunHandler(128 + byte);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

void SetInterruptHandler(std::function<void(int)> handler)
{
    Handler() = std::move(handler);
    deferred = true;
}

void ClearInterruptHandler()
{
    deferred = false;
    Handler() = nullptr;
}

} // namespace kkm::cli
