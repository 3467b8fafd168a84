#include "UntMemoText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <iterator>

namespace {

// What ends a block, by its user state; a block made by typing Enter has state -1 (LF).
// The two frame marks also break blocks when plain text goes in.
const QString LineEnds[] = {QStringLiteral("\r\n"), QStringLiteral("\r"),
                            QString(QChar::ParagraphSeparator), QString(QChar(0xFDD0)),
                            QString(QChar(0xFDD1))};

QString LineEndOf(int state) {
    return state >= 0 && state < int(std::size(LineEnds)) ? LineEnds[state] : QStringLiteral("\n");
}

// The line end starting at i, its state and length; length 0 when none starts there.
int LineEndAt(const QString& text, int i, int& state) {
    state = -1;
    const char16_t c = text.at(i).unicode();
    if (c == u'\n')
        return 1;
    // Most characters end nothing: a megabyte note is set in a blink.
    if (c != u'\r' && c != QChar::ParagraphSeparator && c != 0xFDD0 && c != 0xFDD1)
        return 0;
    for (int s = 0; s < int(std::size(LineEnds)); ++s)
        if (QStringView(text).mid(i).startsWith(LineEnds[s])) {
            state = s;
            return int(LineEnds[s].size());
        }
    return 0;
}

} // namespace

void SetExactPlainText(QPlainTextEdit* memo, const QString& text) {
    memo->setPlainText(text);
    QTextBlock block = memo->document()->begin();
    for (int i = 0; i < text.size() && block.isValid();) {
        int state = -1;
        const int length = LineEndAt(text, i, state);
        if (length == 0) {
            ++i;
            continue;
        }
        if (state != block.userState())
            block.setUserState(state);
        block = block.next();
        i += length;
    }
}

QString ExactPlainText(const QPlainTextEdit* memo) {
    QString text;
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        text += block.text();
        if (block.next().isValid())
            text += LineEndOf(block.userState());
    }
    return text;
}

QStringList MemoLines(const QString& text) {
    QStringList lines;
    int start = 0;
    for (int i = 0; i < text.size();) {
        int state = -1;
        const int length = LineEndAt(text, i, state);
        if (length == 0) {
            ++i;
            continue;
        }
        lines << text.mid(start, i - start);
        i += length;
        start = i;
    }
    lines << text.mid(start);
    return lines;
}
