#pragma once

#include <QList>
#include <QStyledItemDelegate>
#include <functional>

class QTreeWidget;

// Draws a report-style list as the program's lists look: grid lines around the cells, the
// text alignment of each column, and an optional hook that adjusts a row's look (its text
// colour) each time the row is drawn.
class TReportDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using CustomDraw = std::function<void(const QModelIndex&, QStyleOptionViewItem*)>;

    TReportDelegate(QObject* parent, QList<Qt::Alignment> alignments, CustomDraw customDraw = {});

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // Public so the look of a row can be read without painting it.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QList<Qt::Alignment> alignments_;
    CustomDraw customDraw_;
};

struct TReportColumn {
    int width;
    Qt::Alignment alignment;
};

// Sets up a report-style list: column widths that grow to the widest text whenever the rows
// change (0 and 1 stay, for key columns), header and cell alignments, grid lines, and an
// optional per-row drawing hook.
void SetupReportView(QTreeWidget* view, const QList<TReportColumn>& columns,
                     TReportDelegate::CustomDraw customDraw = {});

class QTreeWidgetItem;
// The first row whose caption is key, or null. Rows are looked up again after every box,
// dialog or other nested loop, where alerts may delete or reload them.
QTreeWidgetItem* RowOfKey(const QTreeWidget* view, const QString& key);
