#include "UntReportView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

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

// A list longer than this has only its likeliest widest texts measured by the style.
constexpr int MeasuredRows = 24;

// A cell text's width from the font's advances alone: within a few pixels of what the style
// measures, and a hundred times cheaper, so a long list picks its few widest texts with it.
class TWidthGuess {
public:
    explicit TWidthGuess(const QFontMetrics& metrics)
        : other_(metrics.horizontalAdvance(QChar(0x4E2D))) {
        for (int c = 0; c < 128; ++c)
            ascii_[c] = metrics.horizontalAdvance(QChar(c));
    }
    int operator()(const QString& text) const {
        int width = 0;
        for (const QChar ch : text)
            width += ch.unicode() < 128 ? ascii_[ch.unicode()] : other_;
        return width;
    }

private:
    int ascii_[128];
    int other_; // a full-width character; wider than most others
};

// Keeps a report list's texts readable: each column is widened to its widest text, header
// included, in the list's font at the current scale, never below its given width (key
// columns of width 0 or 1 stay). The column given the most room holds free text: it takes
// what the others leave in the window, up to its widest text, so the columns after it stay
// in view; a text it still cuts short is shown whole as the cell's tooltip.
class TColumnFitter : public QObject {
public:
    TColumnFitter(QTreeWidget* view, QList<TReportColumn> columns)
        : QObject(view), view_(view), header_(view->header()), columns_(std::move(columns)),
          widest_(columns_.size(), 0) {
        for (int c = 0; c < columns_.size(); ++c)
            if (columns_.at(c).width > columns_.value(free_, {0, {}}).width)
                free_ = c;
        QAbstractItemModel* model = view->model();
        const auto changed = [this] {
            measured_ = false;
            Fit();
        };
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(model, signal, this, changed);
        connect(model, &QAbstractItemModel::modelReset, this, changed);
        connect(model, &QAbstractItemModel::dataChanged, this, changed);
        view->viewport()->installEventFilter(this);
    }

    void Fit() {
        if (!header_) // the header goes before the rows when the list is destroyed
            return;
        if (!measured_ || font_ != view_->font())
            Measure();
        int others = 0;
        for (int c = 0; c < columns_.size(); ++c) {
            const int given = columns_.at(c).width;
            if (given <= 1) {
                others += given;
            } else if (c != free_) {
                view_->setColumnWidth(c, qMax(given, widest_.at(c)));
                others += view_->columnWidth(c);
            }
        }
        if (free_ >= 0) {
            const int room = view_->viewport()->width() - others;
            view_->setColumnWidth(free_,
                                  qMax(columns_.at(free_).width, qMin(widest_.at(free_), room)));
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            Fit();
        if (event->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(event);
            const QModelIndex index = view_->indexAt(help->pos());
            const QString text = index.data().toString();
            const QRect cell = view_->visualRect(index);
            if (index.isValid() && view_->sizeHintForIndex(index).width() > cell.width()) {
                QToolTip::showText(help->globalPos(), text, view_->viewport(), cell);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Measure() {
        measured_ = true;
        font_ = view_->font();
        const QAbstractItemModel* model = view_->model();
        const int rows = model->rowCount();
        const TWidthGuess guess(view_->fontMetrics());
        std::vector<std::pair<int, int>> likeliest; // guessed width, row
        // Straight from the items: through the model, each text costs an index and a copy.
        std::vector<QTreeWidgetItem*> items;
        items.reserve(static_cast<size_t>(rows));
        for (int row = 0; row < rows; ++row)
            items.push_back(view_->topLevelItem(row));
        for (int c = 0; c < columns_.size(); ++c) {
            if (columns_.at(c).width <= 1)
                continue;
            likeliest.clear();
            likeliest.reserve(static_cast<size_t>(rows));
            for (int row = 0; row < rows; ++row)
                likeliest.emplace_back(guess(items[static_cast<size_t>(row)]->text(c)), row);
            const auto measured = likeliest.begin() + qMin(rows, MeasuredRows);
            std::partial_sort(likeliest.begin(), measured, likeliest.end(),
                              [](const auto& a, const auto& b) { return a.first > b.first; });
            int widest = header_->sectionSizeHint(c);
            for (auto it = likeliest.begin(); it != measured; ++it)
                widest = qMax(widest, view_->sizeHintForIndex(model->index(it->second, c)).width());
            widest_[c] = widest;
        }
    }

    QTreeWidget* view_;
    QPointer<QHeaderView> header_;
    QList<TReportColumn> columns_;
    int free_ = -1;
    // The widest text of each column, header included, as last measured in font_.
    QList<int> widest_;
    bool measured_ = false;
    QFont font_;
};

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

    new TColumnFitter(view, columns);
}

QTreeWidgetItem* RowOfKey(const QTreeWidget* view, const QString& key) {
    for (int row = 0; row < view->topLevelItemCount(); ++row)
        if (QTreeWidgetItem* item = view->topLevelItem(row); item->text(0) == key)
            return item;
    return nullptr;
}
