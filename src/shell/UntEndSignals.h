#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// SIGTERM and SIGHUP (the session ending, a service manager, a package upgrade) reach onEnd on
// the event loop, instead of killing the program with its data file's log still beside it.
// While alive; the default actions return with it.
class TEndSignals : public QObject {
public:
    explicit TEndSignals(std::function<void()> onEnd);
    ~TEndSignals() override;
    TEndSignals(const TEndSignals&) = delete;
    TEndSignals& operator=(const TEndSignals&) = delete;

private:
    std::function<void()> onEnd_;
    QSocketNotifier* notifier_ = nullptr;
};
