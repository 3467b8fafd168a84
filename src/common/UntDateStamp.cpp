#include "UntDateStamp.h"

#include "UntClock.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>

QString ShortDateText(const QDate& day) {
    return QLocale::system().toString(day, QLocale::ShortFormat);
}

QString LongTimeText(const QTime& time) {
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return QLocale::system().toString(time, format.trimmed());
}

QString DateStampText() {
    return ShortDateText(Clock::Today());
}

QString DateTimeStampText() {
    const QDateTime now = Clock::Now();
    QString text = ShortDateText(now.date());
    if (now.time().msecsSinceStartOfDay() != 0)
        text += QLatin1Char(' ') + LongTimeText(now.time());
    return text;
}

QString StampForKey(const QKeyEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier))
        return QString();
    if (event->key() == Qt::Key_D)
        return DateStampText();
    if (event->key() == Qt::Key_T)
        return DateTimeStampText();
    return QString();
}

bool InsertAtCaret(QWidget* field, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        edit->insert(text);
        return true;
    }
    if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
        memo->insertPlainText(text);
        return true;
    }
    return false;
}

bool InsertDateStamp(QWidget* field, const QKeyEvent* event) {
    const QString stamp = StampForKey(event);
    return !stamp.isEmpty() && InsertAtCaret(field, stamp);
}

void TDateStampKeys::Install(QWidget* field, KeyDown keyDown) {
    field->installEventFilter(new TDateStampKeys(field, std::move(keyDown)));
}

bool TDateStampKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // Claim the stamp keys before any shortcut of the window can take them.
    if (event->type() == QEvent::ShortcutOverride && !StampForKey(key).isEmpty()) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress && keyDown_ && keyDown_(key))
        return true;
    return QObject::eventFilter(watched, event);
}
