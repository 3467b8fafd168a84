#include "UntTypingHint.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

TTypingHint::TTypingHint(QStatusBar* bar, const QString& hint)
    : hint_(hint), panel_(new QLabel(bar)), timer_(new QTimer(bar)) {
    panel_->setObjectName(QStringLiteral("statHintPanel"));
    bar->addWidget(panel_, 1);
    timer_->setObjectName(QStringLiteral("tmrHint"));
    timer_->setInterval(200);
}

void TTypingHint::Tick() {
    const QString current = panel_->text();
    if (current != hint_ && hint_.startsWith(current))
        panel_->setText(current + hint_.at(current.size()));
    else
        panel_->clear();
}
