#include "UntTypingHint.h"

#include <QEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace {

// A hint nobody can see need not move: the timer runs while the bar is on the screen.
class THintShownFilter : public QObject {
public:
    THintShownFilter(QStatusBar* bar, QTimer* timer) : QObject(bar), timer_(timer) {
        bar->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            timer_->start();
        else if (event->type() == QEvent::Hide)
            timer_->stop();
        return false;
    }

private:
    QTimer* timer_;
};

} // namespace

TTypingHint::TTypingHint(QStatusBar* bar, const QString& hint)
    : hint_(hint), panel_(new QLabel(bar)), timer_(new QTimer(bar)) {
    panel_->setObjectName(QStringLiteral("statHintPanel"));
    bar->addWidget(panel_, 1);
    timer_->setObjectName(QStringLiteral("tmrHint"));
    timer_->setInterval(200);
    auto* filter = new THintShownFilter(bar, timer_);
    // The owner starts the timer before its window is shown, and perhaps never shows it.
    QObject::connect(timer_, &QTimer::timeout, filter, [bar, timer = timer_] {
        if (!bar->isVisible() || bar->window()->isMinimized())
            timer->stop();
    });
}

void TTypingHint::Tick() {
    const QString current = panel_->text();
    if (current != hint_ && hint_.startsWith(current))
        panel_->setText(current + hint_.at(current.size()));
    else
        panel_->clear();
}
