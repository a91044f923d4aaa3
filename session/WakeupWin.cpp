// The wake-up on Windows: a manual-reset event object, heard through
// QWinEventNotifier, which signals for as long as the event is set.
#include "Wakeup.h"

#include <QWinEventNotifier>
#include <QtGlobal>

#include <windows.h>

namespace kkm {

struct TWakeup::TImpl {
    HANDLE Event = nullptr;
    std::unique_ptr<QWinEventNotifier> Notifier;
};

TWakeup::TWakeup() : impl_(std::make_unique<TImpl>())
{
    impl_->Event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!impl_->Event)
        qFatal("kkm-session: no event object: error %lu", ::GetLastError());
}

TWakeup::~TWakeup()
{
    Stop();
    ::CloseHandle(impl_->Event);
}

void TWakeup::Raise()
{
    ::SetEvent(impl_->Event);
}

void TWakeup::Lower()
{
    ::ResetEvent(impl_->Event);
}

void TWakeup::Listen(std::function<void()> fn)
{
    impl_->Notifier = std::make_unique<QWinEventNotifier>(impl_->Event);
    QObject::connect(impl_->Notifier.get(), &QWinEventNotifier::activated, impl_->Notifier.get(),
                     [fn = std::move(fn)] { fn(); });
}

void TWakeup::Stop()
{
    impl_->Notifier.reset();
}

void TWakeup::SetEnabled(bool on)
{
    if (impl_->Notifier)
        impl_->Notifier->setEnabled(on);
}

QObject* TWakeup::Listener() const
{
    return impl_->Notifier.get();
}

} // namespace kkm
