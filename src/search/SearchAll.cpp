#include "SearchAll.h"

#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "ui_SearchAll.h"

#include <QApplication>
#include <QCache>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <algorithm>

namespace {

constexpr int MatchStartRole = Qt::UserRole;
constexpr int MatchLengthRole = Qt::UserRole + 1;
constexpr int HitRole = Qt::UserRole + 2;

// Draws a result's line with its match on a highlight. Each line is shaped once and kept
// while the list stands: a search repaints its rows with every batch of results.
class TMatchDelegate : public QStyledItemDelegate {
public:
    explicit TMatchDelegate(QAbstractItemView* view) : QStyledItemDelegate(view) {
        connect(view->model(), &QAbstractItemModel::modelReset, this, [this] { shaped_.clear(); });
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget)
                               .adjusted(2, 0, -2, 0);
        const Shaped& shaped = Shape(index, text, opt.font);
        painter->save();
        painter->setClipRect(area);
        const bool selected = opt.state & QStyle::State_Selected;
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        // A match far along a long line is brought into view.
        const qreal shift =
            shaped.matchEnd > area.width() ? shaped.matchEnd - area.width() + 20 : 0;
        shaped.layout.draw(painter, QPointF(area.left() - shift,
                                            area.top() + (area.height() - shaped.height) / 2));
        painter->restore();
    }

private:
    struct Shaped {
        Shaped(const QString& text, const QFont& font) : layout(text, font), font(font) {}
        QTextLayout layout;
        QFont font;
        int start = 0;
        int length = 0;
        qreal matchEnd = 0;
        qreal height = 0;
    };

    const Shaped& Shape(const QModelIndex& index, const QString& text, const QFont& font) const {
        const int key = index.siblingAtColumn(0).data(HitRole).toInt();
        const int start = index.data(MatchStartRole).toInt();
        const int length = index.data(MatchLengthRole).toInt();
        if (const Shaped* kept = shaped_.object(key);
            kept && kept->font == font && kept->start == start && kept->length == length &&
            kept->layout.text() == text)
            return *kept;
        auto* shaped = new Shaped(text, font);
        shaped->start = start;
        shaped->length = length;
        QTextCharFormat match;
        match.setBackground(QColor(255, 230, 0));
        match.setForeground(QColor(0, 0, 0));
        shaped->layout.setFormats({{start, length, match}});
        shaped->layout.beginLayout();
        QTextLine line = shaped->layout.createLine();
        line.setNumColumns(static_cast<int>(text.size()));
        shaped->layout.endLayout();
        shaped->matchEnd = line.cursorToX(start + length);
        shaped->height = line.height();
        shaped_.insert(key, shaped);
        return *shaped;
    }

    // By the hit's place in the list; a few screens' worth.
    mutable QCache<int, Shaped> shaped_{256};
};

} // namespace

TFormSearchAll::TFormSearchAll(TReadConnection& reader, QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::TFormSearchAll>()), reader_(reader),
      runner_(reader) {
    ui_->setupUi(this);
    ui_->lvResult->setItemDelegateForColumn(1, new TMatchDelegate(ui_->lvResult));
    ui_->lvResult->header()->resizeSection(0, 200);
    ui_->lvResult->header()->setStretchLastSection(true);

    tmrSearch_.setSingleShot(true);
    tmrSearch_.setInterval(TypingPauseMs);
    connect(&tmrSearch_, &QTimer::timeout, this, [this] { SearchNow(); });
    connect(ui_->edtQuery, &QLineEdit::textChanged, this, [this] {
        tmrSearch_.start();
        runner_.ReadAhead(); // while the user types: the search after the pause finds it read
    });
    connect(ui_->chkCase, &QCheckBox::toggled, this, [this] { SearchNow(); });
    connect(ui_->lvResult, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { lvResultActivated(item); });

    runner_.OnHits = [this](quint64, const QList<TSearchHit>& hits) { AddHits(hits); };
    runner_.OnFinished = [this](quint64, int total) {
        searching_ = false;
        ShowCount(total, true);
        // The place column as wide as its longest place, up to half the list.
        QTreeWidget* list = ui_->lvResult;
        list->resizeColumnToContents(0);
        list->header()->resizeSection(
            0, std::clamp(list->columnWidth(0), 200, std::max(200, list->viewport()->width() / 2)));
    };
    runner_.OnFailed = [this](quint64, const QString& message, const QString& sql) {
        searching_ = false;
        ShowCount(static_cast<int>(hits_.size()), true);
        ShowErrorDetail(QStringLiteral("数据库查询错误，请检查！"), message, sql);
    };
}

TFormSearchAll::~TFormSearchAll() = default;

QLineEdit* TFormSearchAll::edtQuery() const {
    return ui_->edtQuery;
}
QCheckBox* TFormSearchAll::chkCase() const {
    return ui_->chkCase;
}
QTreeWidget* TFormSearchAll::lvResult() const {
    return ui_->lvResult;
}
QLabel* TFormSearchAll::lblCount() const {
    return ui_->lblCount;
}

bool TFormSearchAll::Idle() const {
    return !searching_ && !tmrSearch_.isActive();
}

QPoint TFormSearchAll::PlaceBeside(const QRect& main, const QSize& own, const QRect& screen) {
    auto clamp = [](int at, int length, int first, int room) {
        return std::max(first, std::min(at, first + room - length));
    };
    auto at = [&](int x, int y) {
        return QPoint(clamp(x, own.width(), screen.left(), screen.width()),
                      clamp(y, own.height(), screen.top(), screen.height()));
    };
    // Right, left, below, above: the first that covers the least of the main window, pushed
    // back onto the screen where the screen ends.
    const QPoint places[] = {
        at(main.right() + 1, main.top()), at(main.left() - own.width(), main.top()),
        at(main.left(), main.bottom() + 1), at(main.left(), main.top() - own.height())};
    QPoint best;
    qint64 least = -1;
    for (const QPoint& place : places) {
        const QRect covered = QRect(place, own).intersected(main);
        const qint64 area = covered.isEmpty() ? 0 : qint64(covered.width()) * covered.height();
        if (least < 0 || area < least) {
            least = area;
            best = place;
        }
    }
    return best;
}

void TFormSearchAll::Open() {
    if (!placed_) {
        // Beside the main window, where it covers none of what it finds, or as little as the
        // screen allows.
        placed_ = true;
        if (const QWidget* main = parentWidget() ? parentWidget()->window() : nullptr) {
            const QRect frame = main->frameGeometry();
            // Not shown yet, this window has no frame of its own; it will get one like the
            // main window's.
            const QSize own = isVisible() ? frameGeometry().size()
                                          : size() + frame.size() - main->geometry().size();
            move(PlaceBeside(frame, own, main->screen()->availableGeometry()));
        }
    }
    // Results from before may no longer stand.
    if (!ui_->edtQuery->text().isEmpty() && isHidden())
        SearchNow();
    show();
    raise();
    activateWindow();
    ui_->edtQuery->setFocus();
    ui_->edtQuery->selectAll();
    runner_.ReadAhead();
}

void TFormSearchAll::SearchNow() {
    tmrSearch_.stop();
    listedQuery_ = ui_->edtQuery->text();
    listedCase_ = ui_->chkCase->isChecked();
    hits_.clear();
    ui_->lvResult->clear();
    if (listedQuery_.isEmpty()) {
        runner_.Cancel();
        searching_ = false;
        ui_->lblCount->clear();
        return;
    }
    searching_ = true;
    ShowCount(0, false);
    runner_.Start(listedQuery_, listedCase_);
}

void TFormSearchAll::AddHits(const QList<TSearchHit>& hits) {
    QList<QTreeWidgetItem*> items;
    items.reserve(hits.size());
    for (const TSearchHit& hit : hits) {
        auto* item = new QTreeWidgetItem({hit.Where, hit.Line});
        item->setData(1, MatchStartRole, hit.LineStart);
        item->setData(1, MatchLengthRole, hit.LineLength);
        item->setData(0, HitRole, static_cast<int>(hits_.size()));
        item->setToolTip(0, hit.Where);
        hits_.push_back(hit);
        items.append(item);
    }
    ui_->lvResult->addTopLevelItems(items);
    if (searching_)
        ShowCount(static_cast<int>(hits_.size()), false);
}

void TFormSearchAll::ShowCount(int total, bool finished) {
    QString text = QStringLiteral("共%1处").arg(total);
    if (finished && total > SearchHitLimit)
        text += QStringLiteral("，只列出前%1处").arg(SearchHitLimit);
    else if (!finished)
        text += QStringLiteral("……");
    ui_->lblCount->setText(text);
}

void TFormSearchAll::lvResultActivated(QTreeWidgetItem* item) {
    const int at = item ? item->data(0, HitRole).toInt() : -1;
    if (at < 0 || at >= static_cast<int>(hits_.size()) || !OnActivate)
        return;
    // A copy: what the handler does may start another search and clear the list.
    const TSearchHit hit = hits_[at];
    OnActivate(hit, listedQuery_, listedCase_);
}

void TFormSearchAll::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFormSearchAll::hideEvent(QHideEvent* event) {
    // Closed: the reader's decrypted pages are not kept for nothing.
    runner_.Cancel();
    searching_ = false;
    reader_.Release();
    QWidget::hideEvent(event);
}
