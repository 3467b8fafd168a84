#pragma once

#include <QList>
#include <QStringList>

// What one text has that another has not, line by line: the runs of lines of these that are
// not in other (first line, count), and how many lines of other are not in these. Lines the
// two share at their start and end are matched first; a middle too large to compare within
// a blink counts as differing as a whole.
struct TLineDiff {
    QList<QPair<int, int>> OnlyHere;
    int OnlyThere = 0;
};
TLineDiff DiffLines(const QStringList& these, const QStringList& other);
