#include "UntEndSignals.h"

#include "common/UntHandler.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler may only write: the pipe carries the signal to the event loop.
int pipeEnds[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

constexpr int EndSignals[] = {SIGTERM, SIGHUP};

} // namespace

TEndSignals::TEndSignals(std::function<void()> onEnd) : onEnd_(std::move(onEnd)) {
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without the pipe the signals keep their default action
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        RunHandler(this, onEnd_);
    });
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : EndSignals)
        sigaction(signal, &action, nullptr);
}

TEndSignals::~TEndSignals() {
    if (!notifier_)
        return;
    for (int signal : EndSignals)
        std::signal(signal, SIG_DFL);
}

#else

TEndSignals::TEndSignals(std::function<void()> onEnd) : onEnd_(std::move(onEnd)) {}
TEndSignals::~TEndSignals() = default;

#endif
