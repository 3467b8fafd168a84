#include "ShowAlam.h"

#include "UntDesktopNotify.h"
#include "UntWindowHints.h"
#include "common/UntHandler.h"
#include "common/UntMenu.h"
#include "common/UntPublic.h"
#include "settings/UntConfig.h"
#include "ui_ShowAlam.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSoundEffect>
#include <QTimer>
#include <QVariantAnimation>
#include <QWindow>

namespace {

QPointer<QObject> alertTarget;
QList<QPointer<TFormShowAlam>> alerts;
int chimes = 0;

void PlayChime() {
    // One shared effect: alerts that fall due together chime once, not in a clash.
    static QSoundEffect* effect = [] {
        auto* e = new QSoundEffect(qApp);
        e->setSource(QUrl(QStringLiteral("qrc:/sounds/chime.wav")));
        return e;
    }();
    ++chimes;
    effect->play();
}

// A window whose transient parent is the modal dialog is not blocked by it.
void LiftAbove(TFormShowAlam* alert, QWidget* modal) {
    QWindow* window = alert->windowHandle();
    QWindow* parent = modal ? modal->windowHandle() : nullptr;
    if (window && window->transientParent() != parent)
        window->setTransientParent(parent);
}

} // namespace

void SetAlertTarget(QObject* target) {
    alertTarget = target;
}

int ChimesStarted() {
    return chimes;
}

QList<TFormShowAlam*> OpenAlerts() {
    QList<TFormShowAlam*> open;
    for (const auto& a : alerts)
        if (a && a->isVisible())
            open << a.data();
    return open;
}

void DismissAllAlerts() {
    for (TFormShowAlam* alert : OpenAlerts())
        alert->Dismiss();
}

void ForgetOpenAlerts() {
    for (TFormShowAlam* alert : OpenAlerts())
        alert->AlamID.clear();
}

QPoint AlertPosition(const QRect& area, const QSize& outer) {
    return {area.x() + area.width() - outer.width() - 2,
            area.y() + area.height() - outer.height() - 27};
}

void LiftAlertsAboveModalDialog() {
    QWidget* modal = QApplication::activeModalWidget();
    for (TFormShowAlam* alert : OpenAlerts())
        LiftAbove(alert, modal);
}

TFormShowAlam::TFormShowAlam()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::TFormShowAlam>()) {
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(292, 198);

    QFont memoFont = ui_->mmo1->font();
    memoFont.setPixelSize(17);
    ui_->mmo1->setFont(memoFont);
    QPalette palette = ui_->mmo1->palette();
    palette.setColor(QPalette::Text, QColor(255, 0, 0));
    palette.setColor(QPalette::Base, QColor(240, 240, 240));
    ui_->mmo1->setPalette(palette);
    ui_->mmo1->setFrameShape(QFrame::NoFrame);
    QTextOption centred(Qt::AlignHCenter);
    centred.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    ui_->mmo1->document()->setDefaultTextOption(centred);

    pm1_ = MakeMenu(this, "pm1",
                    {{"N31", QStringLiteral("3分钟后再提醒"), [this] { SnoozeClick(0); }},
                     {"N51", QStringLiteral("5分钟后再提醒"), [this] { SnoozeClick(1); }},
                     {"N101", QStringLiteral("10分钟后再提醒"), [this] { SnoozeClick(2); }},
                     {"N301", QStringLiteral("30分钟后再提醒"), [this] { SnoozeClick(3); }},
                     {"N11", QStringLiteral("1小时后再提醒"), [this] { SnoozeClick(4); }}});

    connect(ui_->btnOkSave, &QPushButton::clicked, this,
            Handler(this, [this] { btnOkSaveClick(); }));
    connect(ui_->btnOkDel, &QPushButton::clicked, this, Handler(this, [this] { btnOkDelClick(); }));
    connect(ui_->btnCon, &QPushButton::clicked, this, Handler(this, [this] { btnConClick(); }));
    alerts << this;
}

TFormShowAlam::~TFormShowAlam() {
    alerts.removeIf([this](const QPointer<TFormShowAlam>& a) { return !a || a == this; });
}

TFormShowAlam* ShowAlert(const QString& id, const QString& text, bool repeating) {
    auto* alert = new TFormShowAlam;
    alert->AlamID = id;
    alert->IsRepeating = repeating;
    alert->ui()->mmo1->setPlainText(text);
    if (repeating)
        alert->ui()->btnOkSave->setText(QStringLiteral("看到了"));
    alert->ui()->btnOkDel->setVisible(!repeating);
    alert->ui()->btnCon->setVisible(!repeating);

    const QScreen* screen = QGuiApplication::primaryScreen();
    // Placed once before its native window exists: some window managers (weston's for
    // XWayland) take a window's place only from its creation.
    if (screen)
        alert->move(AlertPosition(screen->availableGeometry(), alert->size()));
    alert->winId(); // the native window exists before it is placed and shown
    AllowOnlyMoving(alert);
    if (screen) // and again with its frame, which the others go by
        alert->move(AlertPosition(screen->availableGeometry(), alert->frameGeometry().size()));
    LiftAbove(alert, QApplication::activeModalWidget());
    alert->show();
    alert->raise();
    LogScriptedWindow(alert->windowTitle(), text);
    if (ConfigData && ConfigData->bNotify)
        alert->NotifyDesktop();
    return alert;
}

void TFormShowAlam::NotifyDesktop() {
    // The alert may be covered, on another workspace or behind the lock screen; the
    // desktop's notification reaches the user there and stays in its list when missed.
    QList<TDesktopNotification::TAction> actions{
        {QStringLiteral("default"), QString()}, {QStringLiteral("seen"), QStringLiteral("看到了")}};
    if (!IsRepeating)
        actions.append({QStringLiteral("snooze"), QStringLiteral("再次提醒…")});
    notification_ =
        new TDesktopNotification(this, QStringLiteral("提醒"), ui_->mmo1->toPlainText(), actions);
    connect(notification_, &TDesktopNotification::Invoked, this, [this](const QString& key) {
        RunHandler(this, [&] {
            if (finished_)
                return;
            if (key == QLatin1String("seen"))
                btnOkSaveClick();
            else
                BringToFront(key == QLatin1String("snooze"));
        });
    });
}

void TFormShowAlam::BringToFront(bool snoozeMenu) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (snoozeMenu && ui_->btnCon->isVisible())
        pm1_->popup(ui_->btnCon->mapToGlobal(QPoint(0, ui_->btnCon->height())));
}

void TFormShowAlam::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised, an alert would be gone with nothing to bring it back: a window manager that
    // ignores the hints gets it back at once.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
            raise();
        });
}

void TFormShowAlam::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    AllowOnlyMoving(this);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFormShowAlam::FormShow() {
    ui_->btnOkSave->setFocus();
    // Roll in from the bottom over 200 ms, then chime without waiting.
    auto* roll = new QVariantAnimation(this);
    roll->setDuration(200);
    roll->setStartValue(0);
    roll->setEndValue(height());
    connect(roll, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        const int shown = v.toInt();
        setMask(QRegion(0, height() - shown, width(), qMax(shown, 1)));
    });
    connect(roll, &QVariantAnimation::finished, this, [this] {
        clearMask();
        PlayChime();
    });
    setMask(QRegion(0, height() - 1, width(), 1));
    roll->start(QAbstractAnimation::DeleteWhenStopped);
}

void TFormShowAlam::Post(AlamEventType type, int delay) {
    if (alertTarget && !AlamID.isEmpty())
        QCoreApplication::postEvent(alertTarget, new TAlamEvent(type, AlamID.toInt(), delay));
}

void TFormShowAlam::btnOkSaveClick() {
    if (!IsRepeating)
        Post(WM_ALAMSEEN);
    finished_ = true;
    close();
}

void TFormShowAlam::btnOkDelClick() {
    if (!IsRepeating)
        Post(WM_ALAMDELETE);
    finished_ = true;
    close();
}

void TFormShowAlam::btnConClick() {
    pm1_->popup(QCursor::pos());
}

void TFormShowAlam::SnoozeClick(int delay) {
    Post(WM_ALAMSNOOZE, delay);
    finished_ = true;
    close();
}

void TFormShowAlam::Dismiss() {
    finished_ = true;
    close();
}

void TFormShowAlam::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        return;
    case Qt::Key_Escape:
        // The cancel button of a one-off reminder is "看到了并删除"; a repeating one has none.
        if (!IsRepeating)
            ui_->btnOkDel->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TFormShowAlam::closeEvent(QCloseEvent* event) {
    // Only its own buttons end an alert: it has no close box to lose a reminder by.
    if (finished_) {
        if (notification_)
            notification_->Withdraw();
        event->accept();
    } else
        event->ignore();
}
