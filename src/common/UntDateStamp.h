#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QDate;
class QKeyEvent;
class QTime;
class QWidget;

// Dates and times as the user's system writes them: its short date, and its long time
// (without a time-zone name, which a clock line or a stamp in a note does not want).
QString ShortDateText(const QDate& day);
QString LongTimeText(const QTime& time);

// Ctrl+D: today in the user's short date format.
QString DateStampText();
// Ctrl+T: short date, a space and the long time; the date alone at exactly midnight.
QString DateTimeStampText();

// The stamp a key press asks for: Ctrl (whatever else is held) with D or T. Empty when the
// key is not a stamp key.
QString StampForKey(const QKeyEvent* event);

// Puts text at the caret of a line edit or a plain-text memo, replacing the selection, as
// typing would. False for any other kind of widget.
bool InsertAtCaret(QWidget* field, const QString& text);

// Inserts the stamp the key asks for into field; false when it is not a stamp key.
bool InsertDateStamp(QWidget* field, const QKeyEvent* event);

// Hands the key presses of a line edit or memo to its key-down handler (which returns true
// when it used the key), and keeps the stamp keys away from the window's shortcuts.
class TDateStampKeys : public QObject {
public:
    using KeyDown = std::function<bool(QKeyEvent*)>;
    TDateStampKeys(QObject* parent, KeyDown keyDown)
        : QObject(parent), keyDown_(std::move(keyDown)) {}
    // Installs one filter, owned by field, on field.
    static void Install(QWidget* field, KeyDown keyDown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    KeyDown keyDown_;
};
