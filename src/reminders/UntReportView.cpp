#include "UntReportView.h"

#include <QHeaderView>
#include <QPainter>
#include <QPointer>
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

namespace {

// Widens each column to its widest text, header included, in the list's font at the current
// scale, never below its given width; key columns (width 0 or 1) stay as they are. A text
// cut short ("10时 1…") would hide what the user needs to read.
void FitColumns(QTreeWidget* view, const QList<TReportColumn>& columns) {
    for (int c = 0; c < columns.size(); ++c) {
        const int given = columns.at(c).width;
        if (given <= 1)
            continue;
        const QAbstractItemView* items = view; // the hint is public only there
        const int widest = qMax(items->sizeHintForColumn(c), view->header()->sectionSizeHint(c));
        view->setColumnWidth(c, qMax(given, widest));
    }
}

} // namespace

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

    // The header goes before the rows when the list is destroyed.
    auto fit = [view, columns, header = QPointer<QHeaderView>(header)] {
        if (header)
            FitColumns(view, columns);
    };
    QAbstractItemModel* model = view->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, view, fit);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, view, fit);
    QObject::connect(model, &QAbstractItemModel::modelReset, view, fit);
    QObject::connect(model, &QAbstractItemModel::dataChanged, view, fit);
}
