// The wake-up on Linux: an eventfd, heard through a socket notifier.
#include "Wakeup.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

namespace kkm {

struct TWakeup::TImpl {
    int Fd = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
};

TWakeup::TWakeup() : impl_(std::make_unique<TImpl>())
{
    impl_->Fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->Fd < 0)
        qFatal("kkm-session: no eventfd: %s", std::strerror(errno));
}

TWakeup::~TWakeup()
{
    Stop();
    ::close(impl_->Fd);
}

void TWakeup::Raise()
{
    const std::uint64_t one = 1;
    while (::write(impl_->Fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TWakeup::Lower()
{
    std::uint64_t count;
    while (::read(impl_->Fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

void TWakeup::Listen(std::function<void()> fn)
{
    impl_->Notifier = std::make_unique<QSocketNotifier>(impl_->Fd, QSocketNotifier::Read);
    QObject::connect(impl_->Notifier.get(), &QSocketNotifier::activated, impl_->Notifier.get(),
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
