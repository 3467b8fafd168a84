#include "UntForeignText.h"

#include <QStringDecoder>

QString DecodeForeignText(QByteArray bytes, bool* replaced) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (replaced)
        *replaced = false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb("GB18030");
    if (gb.isValid()) {
        const QString other = gb(bytes);
        if (!gb.hasError())
            return other;
    }
    if (replaced)
        *replaced = true;
    return text;
}
