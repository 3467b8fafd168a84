#pragma once

#include <QString>
#include <QStringList>

class QPlainTextEdit;

// The memo's text exactly as it was put there and typed. A plain-text memo keeps no-break
// spaces and line separators only in its raw text, and turns every kind of line end (LF,
// CR LF, CR, paragraph separator) into the same block break: each block remembers which one
// ended it, so a stored note comes back byte for byte.
void SetExactPlainText(QPlainTextEdit* memo, const QString& text);
QString ExactPlainText(const QPlainTextEdit* memo);

// The lines of text as the memo shows them: one for each block SetExactPlainText makes.
QStringList MemoLines(const QString& text);
