#include "UntSqlText.h"

QString QuoteSql(const QString& value) {
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return quoted;
}

QString FormatSql(const QString& pattern, std::initializer_list<QString> values) {
    QString result;
    result.reserve(pattern.size());
    auto next = values.begin();
    int from = 0;
    for (;;) {
        const int at = pattern.indexOf(QStringLiteral("%s"), from);
        if (at < 0 || next == values.end())
            break;
        result += QStringView(pattern).mid(from, at - from);
        result += QuoteSql(*next++);
        from = at + 2;
    }
    result += QStringView(pattern).mid(from);
    return result;
}

QStringList SplitBatch(const QString& batch) {
    QStringList pieces;
    bool inQuote = false;
    int start = 0;
    const int n = batch.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = batch.at(i);
        if (c == QLatin1Char('\'')) {
            inQuote = !inQuote; // a doubled quote toggles twice and stays inside
        } else if (!inQuote && c == QLatin1Char('@') &&
                   QStringView(batch).mid(i, BatchSeparator.size()) == BatchSeparator) {
            pieces << batch.mid(start, i - start);
            i += BatchSeparator.size() - 1;
            start = i + 1;
        }
    }
    pieces << batch.mid(start);
    return pieces;
}

QString TrimBlank(const QString& text) {
    auto blank = [](QChar c) {
        return c.unicode() <= 0x20 || c.category() == QChar::Other_Control;
    };
    int begin = 0;
    int end = text.size();
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}
