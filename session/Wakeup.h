// A wake-up one thread raises and another thread's event loop hears, without
// a Qt event crossing the threads: an eventfd and a socket notifier on
// Linux (WakeupLinux.cpp), an event object and QWinEventNotifier on Windows
// (WakeupWin.cpp). It stays raised until lowered, so raising it twice
// before the listener runs wakes it once.
#pragma once

#include <functional>
#include <memory>

class QObject;

namespace kkm {

class TWakeup {
public:
    // Ends the program when the system gives no such channel: a session
    // that could never hand anything over must not look alive.
    TWakeup();
    ~TWakeup();
    TWakeup(const TWakeup&) = delete;
    TWakeup& operator=(const TWakeup&) = delete;

    // From any thread.
    void Raise();
    // In the listening thread, before it looks at what is due.
    void Lower();

    // In the listening thread: Fn runs from its event loop while raised.
    void Listen(std::function<void()> Fn);
    // In the listening thread; the destructor does it too.
    void Stop();
    // While off, a raise waits until it is on again.
    void SetEnabled(bool On);
    // Lives in the listening thread while it listens (a context for its
    // timers); null otherwise.
    QObject* Listener() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

} // namespace kkm
