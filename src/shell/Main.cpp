#include "Main.h"

#include "ui_Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>

TFormMain::TFormMain(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::TFormMain>()) {
    ui_->setupUi(this);
    resize(800, 520);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TFormMain::~TFormMain() = default;

void TFormMain::FormCreate() {}

void TFormMain::FormShow() {}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFormMain::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::quit();
}
