#pragma once

#include <QList>
#include <QStringList>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

// The rows of a report-style list, each row's column texts; column 0 is the row's key.
using TRows = QList<QStringList>;

// The one adapter between a store and a list view: empties view, then fills it with what read
// returns (column 0 the row's caption, the other columns its sub-items); when read throws,
// the view stays empty. Stores hand out TRows, so they can be tested without a view.
void FillListView(QTreeWidget* view, const std::function<TRows()>& read);
// The same with the rows' items made already (off the interface thread); view takes them.
void FillListView(QTreeWidget* view, const QList<QTreeWidgetItem*>& items);
QList<QTreeWidgetItem*> ListItems(const TRows& rows);
// Brings view in line with rows in place when the rows kept their order (changed texts,
// rows gone, new rows at the end): the selection, current row and scroll position stay.
// Otherwise fills it as FillListView does.
void RefreshListView(QTreeWidget* view, const TRows& rows);
