#include "UntListRows.h"

#include <QHash>
#include <QSignalBlocker>
#include <QTreeWidget>

QList<QTreeWidgetItem*> ListItems(const TRows& rows) {
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const QStringList& row : rows)
        items << new QTreeWidgetItem(row);
    return items;
}

void FillListView(QTreeWidget* view, const std::function<TRows()>& read) {
    view->clear();
    FillListView(view, ListItems(read()));
}

void FillListView(QTreeWidget* view, const QList<QTreeWidgetItem*>& items) {
    view->clear();
    view->setUpdatesEnabled(false);
    view->addTopLevelItems(items);
    view->setUpdatesEnabled(true);
}

void RefreshListView(QTreeWidget* view, const TRows& rows) {
    // Which items stay with which row; removing an item costs a pass of the list's listeners,
    // so many removals are left to a fill.
    QList<QTreeWidgetItem*> gone;
    QList<std::pair<QTreeWidgetItem*, int>> kept;
    int next = 0;
    const int count = view->topLevelItemCount();
    // Mostly every row is where it was.
    while (next < count && next < rows.size() &&
           view->topLevelItem(next)->text(0) == rows.at(next).value(0) &&
           view->topLevelItem(next)->columnCount() <= rows.at(next).size()) {
        kept.append({view->topLevelItem(next), next});
        ++next;
    }
    QHash<QString, int> rowOf;
    if (next < count) {
        rowOf.reserve(rows.size());
        for (int r = 0; r < rows.size(); ++r)
            rowOf.insert(rows.at(r).value(0), r);
        if (rowOf.size() != rows.size())
            return FillListView(view, ListItems(rows));
    }
    for (int i = next; i < count; ++i) {
        QTreeWidgetItem* item = view->topLevelItem(i);
        const int row = rowOf.value(item->text(0), -1);
        if (row < 0) {
            gone << item;
        } else if (row == next && item->columnCount() <= rows.at(row).size()) {
            kept.append({item, row});
            ++next;
        } else {
            return FillListView(view, ListItems(rows)); // the order changed
        }
    }
    if (gone.size() > 3)
        return FillListView(view, ListItems(rows));

    // Changed texts go in quietly but the last, which is announced: each announcement has
    // the list's listeners (the column fitting) look at every row again.
    QTreeWidgetItem* last = nullptr;
    QString lastText;
    int lastColumn = 0;
    {
        const QSignalBlocker quiet(view->model());
        for (const auto& [item, row] : std::as_const(kept)) {
            const QStringList& texts = rows.at(row);
            for (int c = 0; c < texts.size(); ++c) {
                if (item->text(c) == texts.at(c))
                    continue;
                if (last)
                    last->setText(lastColumn, lastText);
                last = item;
                lastColumn = c;
                lastText = texts.at(c);
            }
        }
    }
    if (last) {
        last->setText(lastColumn, lastText);
        view->viewport()->update();
    }
    qDeleteAll(gone);
    QList<QTreeWidgetItem*> added;
    for (int r = next; r < rows.size(); ++r)
        added << new QTreeWidgetItem(rows.at(r));
    view->addTopLevelItems(added);
}
