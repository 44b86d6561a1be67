#include "app/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace varnello {

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void TerminationSignals::block() {
    const sigset_t set = terminationSet();
    if (const int result = pthread_sigmask(SIG_BLOCK, &set, nullptr); result != 0) {
        throw std::system_error(result, std::generic_category(), "pthread_sigmask");
    }
}

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    const sigset_t set = terminationSet();
    descriptor_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor_ < 0) {
        throw std::system_error(errno, std::generic_category(), "signalfd");
    }
    notifier_ = std::make_unique<QSocketNotifier>(descriptor_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readPending(); });
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    ::close(descriptor_);
}

void TerminationSignals::readPending() {
    signalfd_siginfo info{};
    while (::read(descriptor_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        onSignal_(static_cast<int>(info.ssi_signo));
    }
}

} // namespace varnello
