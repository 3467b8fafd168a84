#include "UntListRows.h"

#include <QTreeWidget>

void FillListView(QTreeWidget* view, const std::function<TRows()>& read) {
    view->clear();
    const TRows rows = read();
    view->setUpdatesEnabled(false);
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const QStringList& row : rows)
        items << new QTreeWidgetItem(row);
    view->addTopLevelItems(items);
    view->setUpdatesEnabled(true);
}
