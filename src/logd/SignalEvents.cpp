#include "logd/SignalEvents.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t handledSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void TSignalEvents::Block()
{
    const sigset_t set = handledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TSignalEvents::TSignalEvents(QObject* parent) : QObject(parent)
{
    const sigset_t set = handledSignals();
    FFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (FFd < 0)
        return;
    FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSignalEvents::readSignals);
}

TSignalEvents::~TSignalEvents()
{
    if (FFd >= 0)
        ::close(FFd);
}

void TSignalEvents::readSignals()
{
    signalfd_siginfo info{};
    for (;;) {
        const ssize_t n = ::read(FFd, &info, sizeof info);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != static_cast<ssize_t>(sizeof info))
            return;
        if (info.ssi_signo == SIGHUP)
            emit hangUp();
        else
            emit terminate(static_cast<int>(info.ssi_signo));
    }
}
