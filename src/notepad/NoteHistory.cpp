#include "NoteHistory.h"

#include "UntMemoText.h"
#include "UntNoteHistory.h"
#include "common/UntHandler.h"
#include "common/UntTextDiff.h"
#include "ui_NoteHistory.h"

#include <QApplication>
#include <QHeaderView>
#include <QTextBlock>
#include <QTreeWidgetItem>

namespace {

constexpr int IdRole = Qt::UserRole;
const QColor OnlyHereColor(255, 221, 221);
constexpr int MaxWholeLineMarks = 2000;

} // namespace

TFormNoteHistory::TFormNoteHistory(TConnection& connection, const QString& uid,
                                   const QString& current, const QString& position, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TFormNoteHistory>()),
      reader_(std::make_unique<NoteHistory::TReader>(connection, uid)), current_(current) {
    ui_->setupUi(this);
    setWindowTitle(QStringLiteral("历史版本 - ") + position);
    QFont font = QApplication::font();
    font.setPixelSize(16);
    ui_->mmoPreview->setFont(font);
    ui_->splMain->setStretchFactor(0, 0);
    ui_->splMain->setStretchFactor(1, 1);
    ui_->lvVersions->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    QList<QTreeWidgetItem*> rows;
    for (const NoteHistory::TVersion& v : NoteHistory::List(connection, uid)) {
        auto* row = new QTreeWidgetItem(
            {v.Taken.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), QString::number(v.Chars)});
        row->setData(0, IdRole, v.ID);
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        rows << row;
    }
    ui_->lvVersions->addTopLevelItems(rows);
    if (rows.isEmpty())
        ui_->lblDiff->setText(QStringLiteral("这篇笔记还没有保存过的历史版本。"));

    connect(ui_->lvVersions, &QTreeWidget::currentItemChanged, this,
            Handler(this, [this] { ShowVersion(); }));
    connect(ui_->btnRestore, &QPushButton::clicked, this, [this] {
        chosen_ = Previewed();
        accept();
    });
    connect(ui_->lvVersions, &QTreeWidget::itemActivated, ui_->btnRestore, &QPushButton::click);
    connect(ui_->btnClose, &QPushButton::clicked, this, &QDialog::reject);
    if (!rows.isEmpty())
        ui_->lvVersions->setCurrentItem(rows.first());
    ui_->lvVersions->setFocus();
}

TFormNoteHistory::~TFormNoteHistory() = default;

qint64 TFormNoteHistory::Previewed() const {
    const QTreeWidgetItem* row = ui_->lvVersions->currentItem();
    return row ? row->data(0, IdRole).toLongLong() : 0;
}

void TFormNoteHistory::ShowVersion() {
    const qint64 id = Previewed();
    ui_->btnRestore->setEnabled(false);
    QPlainTextEdit* preview = ui_->mmoPreview;
    preview->setExtraSelections({});
    if (id == 0) {
        preview->clear();
        return;
    }
    const QString text = reader_->Text(id);
    SetExactPlainText(preview, text);
    const TLineDiff diff = DiffLines(MemoLines(text), MemoLines(current_));
    int marked = 0;
    QList<QTextEdit::ExtraSelection> marks;
    int lines = 0;
    for (const auto& run : diff.OnlyHere)
        lines += run.second;
    // Each marked line across the preview's width; past a few thousand (a whole note
    // replaced) the runs are marked as spans of text, which paints as fast.
    const bool wholeLines = lines <= MaxWholeLineMarks;
    for (const auto& [first, count] : diff.OnlyHere) {
        for (int line = first; line < first + count; line += wholeLines ? 1 : count) {
            QTextEdit::ExtraSelection mark;
            mark.format.setBackground(OnlyHereColor);
            QTextCursor at(preview->document()->findBlockByNumber(line));
            if (wholeLines) {
                mark.format.setProperty(QTextFormat::FullWidthSelection, true);
            } else {
                at.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count - 1);
                at.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            }
            mark.cursor = at;
            marks << mark;
        }
        marked += count;
    }
    preview->setExtraSelections(marks);
    if (marked == 0 && diff.OnlyThere == 0) {
        ui_->lblDiff->setText(QStringLiteral("与当前内容相同。"));
    } else {
        QStringList said;
        if (marked > 0)
            said << QStringLiteral("底色标出的 %1 行是当前内容里没有的").arg(marked);
        if (diff.OnlyThere > 0)
            said << QStringLiteral("当前内容另有 %1 行是这个版本没有的").arg(diff.OnlyThere);
        ui_->lblDiff->setText(said.join(QStringLiteral("；")) + QStringLiteral("。"));
        ui_->btnRestore->setEnabled(true);
    }
    if (!diff.OnlyHere.isEmpty()) {
        QTextCursor at(preview->document()->findBlockByNumber(diff.OnlyHere.first().first));
        preview->setTextCursor(at);
        preview->ensureCursorVisible();
    } else {
        preview->moveCursor(QTextCursor::Start);
    }
}
