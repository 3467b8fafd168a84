#include "UntTypingHint.h"

#include <QLabel>
#include <QStatusBar>

TTypingHint::TTypingHint(QStatusBar* bar, const QString& hint)
    : hint_(hint), panel_(new QLabel(bar)) {
    panel_->setObjectName(QStringLiteral("statHintPanel"));
    bar->addWidget(panel_, 1);
    timer_.setInterval(200);
}

void TTypingHint::Tick() {
    const QString current = panel_->text();
    if (current != hint_ && hint_.startsWith(current))
        panel_->setText(current + hint_.at(current.size()));
    else
        panel_->clear();
}
