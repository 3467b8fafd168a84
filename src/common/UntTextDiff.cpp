#include "UntTextDiff.h"

#include <QHash>
#include <dtl/dtl.hpp>
#include <vector>

namespace {

// The comparison's work grows with both lengths times the shorter one; past this it would
// hold up the window for longer than a user waits for a preview.
constexpr double MaxWork = 2e8;

int IdOf(QHash<QString, int>& ids, const QString& line) {
    auto it = ids.constFind(line);
    if (it == ids.constEnd())
        it = ids.insert(line, int(ids.size()));
    return it.value();
}

void AddRun(TLineDiff& diff, int line) {
    if (!diff.OnlyHere.isEmpty()) {
        QPair<int, int>& last = diff.OnlyHere.last();
        if (last.first + last.second == line) {
            ++last.second;
            return;
        }
    }
    diff.OnlyHere.append({line, 1});
}

} // namespace

TLineDiff DiffLines(const QStringList& these, const QStringList& other) {
    TLineDiff diff;
    const int n = int(these.size());
    const int m = int(other.size());
    int head = 0;
    while (head < n && head < m && these.at(head) == other.at(head))
        ++head;
    int tail = 0;
    while (tail < n - head && tail < m - head && these.at(n - 1 - tail) == other.at(m - 1 - tail))
        ++tail;
    const int a = n - head - tail;
    const int b = m - head - tail;
    if (a == 0 || b == 0 || double(a + b) * std::min(a, b) > MaxWork) {
        if (a > 0)
            diff.OnlyHere.append({head, a});
        diff.OnlyThere = b;
        return diff;
    }
    // Lines compare as numbers: equal lines get the same one.
    QHash<QString, int> ids;
    std::vector<int> left;
    std::vector<int> right;
    left.reserve(size_t(a));
    right.reserve(size_t(b));
    for (int i = head; i < head + a; ++i)
        left.push_back(IdOf(ids, these.at(i)));
    for (int i = head; i < head + b; ++i)
        right.push_back(IdOf(ids, other.at(i)));
    dtl::Diff<int, std::vector<int>> lines(left, right);
    lines.onHuge();
    lines.compose();
    for (const auto& element : lines.getSes().getSequence()) {
        if (element.second.type == dtl::SES_DELETE)
            AddRun(diff, head + int(element.second.beforeIdx) - 1);
        else if (element.second.type == dtl::SES_ADD)
            ++diff.OnlyThere;
    }
    return diff;
}
