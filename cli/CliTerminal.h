// What kkm-cli needs of the terminal and the system's signals, with a POSIX
// and a Windows side: whether a stream is a terminal, a line read without
// echo, and Ctrl-C / SIGTERM brought into the program's event loop.
#pragma once

#include <QString>

#include <functional>

namespace kkm::cli {

bool StdinIsTerminal();
bool StderrIsTerminal();

// One line of standard input, its line end taken off; on a terminal the
// typed characters are not shown (a password). False at end of input.
bool ReadLineHidden(QString& Line);

// Ctrl-C (SIGINT, exit status 130) and SIGTERM (143). Install once the
// application object exists. While a handler is set, the first signal
// calls it in the main thread's event loop with the exit status it calls
// for; without one, or at a second signal, the program ends at once with
// that status (the terminal's echo given back first).
void InstallInterrupts();
void SetInterruptHandler(std::function<void(int ExitStatus)> Handler);
void ClearInterruptHandler();

} // namespace kkm::cli
