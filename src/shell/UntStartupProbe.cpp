#include "UntStartupProbe.h"

#include "Main.h"
#include "notepad/NotepadPage.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

double SecondsSince(qint64 startNs) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(qint64(now.tv_sec) * 1000000000 + now.tv_nsec - startNs) / 1e9;
}

// The processor time the process has used: on a busy machine, closer to what an idle one
// would take than the elapsed time.
double ProcessorSeconds() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

class TStartupProbe : public QObject {
public:
    explicit TStartupProbe(qint64 startNs) : QObject(qApp), startNs_(startNs) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || !watched->isWidgetType())
            return false;
        auto* main = qobject_cast<TFormMain*>(static_cast<QWidget*>(watched)->window());
        if (!main)
            return false;
        qApp->removeEventFilter(this);
        // The rest of this paint runs first: the window is on screen when the timer fires.
        QTimer::singleShot(0, this, [this, main] {
            std::printf("paint %.4f cpu %.4f\n", SecondsSince(startNs_), ProcessorSeconds());
            std::fflush(stdout);
            auto* notepad = main->findChild<TNotepadPage*>();
            if (!notepad || !notepad->NoteLoading())
                return Report();
            connect(notepad, &TNotepadPage::NoteShown, this, [this] { Report(); });
        });
        return false;
    }

private:
    void Report() {
        std::printf("note %.4f cpu %.4f\n", SecondsSince(startNs_), ProcessorSeconds());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    }

    qint64 startNs_;
};

} // namespace

void InstallStartupProbeFromEnvironment() {
    bool ok = false;
    const qint64 startNs = qEnvironmentVariable("QUILLET_TEST_STARTUP").toLongLong(&ok);
    if (ok)
        new TStartupProbe(startNs);
}
