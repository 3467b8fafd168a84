#include "UntReportView.h"

#include <QHeaderView>
#include <QPainter>
#include <QTreeWidget>

TReportDelegate::TReportDelegate(QObject* parent, QList<Qt::Alignment> alignments,
                                 CustomDraw customDraw)
    : QStyledItemDelegate(parent), alignments_(std::move(alignments)),
      customDraw_(std::move(customDraw)) {}

void TReportDelegate::initStyleOption(QStyleOptionViewItem* option,
                                      const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() < alignments_.size())
        option->displayAlignment = alignments_.at(index.column()) | Qt::AlignVCenter;
    if (customDraw_)
        customDraw_(index, option);
}

void TReportDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight).darker(115));
    const QRect r = option.rect;
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
}

void SetupReportView(QTreeWidget* view, const QList<TReportColumn>& columns,
                     TReportDelegate::CustomDraw customDraw) {
    QList<Qt::Alignment> alignments;
    for (const TReportColumn& column : columns)
        alignments << column.alignment;
    view->setColumnCount(static_cast<int>(columns.size()));
    QHeaderView* header = view->header();
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int c = 0; c < columns.size(); ++c) {
        view->setColumnWidth(c, columns.at(c).width);
        view->headerItem()->setTextAlignment(c, columns.at(c).alignment | Qt::AlignVCenter);
    }
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setItemDelegate(new TReportDelegate(view, alignments, std::move(customDraw)));
}

QTreeWidgetItem* RowOfKey(const QTreeWidget* view, const QString& key) {
    for (int row = 0; row < view->topLevelItemCount(); ++row)
        if (QTreeWidgetItem* item = view->topLevelItem(row); item->text(0) == key)
            return item;
    return nullptr;
}
