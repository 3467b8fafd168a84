#include "NotepadPage.h"

#include "NoteHistory.h"
#include "UntMemoText.h"
#include "UntNote.h"
#include "UntNoteHistory.h"
#include "UntTree.h"
#include "common/UntClock.h"
#include "common/UntDateStamp.h"
#include "common/UntHandler.h"
#include "common/UntMenu.h"
#include "common/UntTypingHint.h"
#include "storage/UntDbAccess.h"
#include "storage/UntRecycleBin.h"
#include "storage/UntSqlText.h"
#include "ui_NotepadPage.h"

#include <QApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTextCursor>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <functional>

namespace {

const QString NoteTypeTable = QStringLiteral("NoteType");
const QString NoteRootCaption = QStringLiteral("根目录");
const QString NotepadHint = QStringLiteral("点右键可以新建、修改和删除分组");
const QString NoteLoadingText = QStringLiteral("正在载入…");
// A note waiting for the window's first paint is read after this long at the latest.
constexpr int NoteWaitMs = 500;
// How soon a keystroke that found the writer's lock taken is stored again.
constexpr int SaveRetryMs = 20;
// A version is kept once typing has paused this long, and during a long stretch of typing
// this often.
constexpr int VersionPauseMs = 30 * 1000;
constexpr int VersionStretchMs = 5 * 60 * 1000;
// The versions are thinned this long after the notes are first shown, then once a day.
constexpr int ThinAfterStartMs = 20 * 1000;

// Runs a function on every event of the watched object; true from it swallows the event.
class TEventHook : public QObject {
public:
    using Hook = std::function<bool(QEvent*)>;
    TEventHook(QObject* watched, Hook hook) : QObject(watched), hook_(std::move(hook)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return hook_(event) || QObject::eventFilter(watched, event);
    }

private:
    Hook hook_;
};

// The in-place editor of a group caption: the edited text goes to the window's handler,
// which decides whether anything is stored; the item itself is never written here.
class TGroupNameDelegate : public QStyledItemDelegate {
public:
    using Edited = std::function<void(int group, const QString&)>;
    TGroupNameDelegate(QObject* parent, Edited edited)
        : QStyledItemDelegate(parent), edited_(std::move(edited)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        Editor = editor;
        return editor;
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const override {
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && Group >= 0)
            edited_(Group, line->text());
    }

    // The index of the group being renamed (-1: none), and its editor while it exists.
    int Group = -1;
    mutable QPointer<QWidget> Editor;

private:
    Edited edited_;
};

// Upper case for the ASCII letters only, so the search folds nothing else.
QString AsciiUpper(QString text) {
    for (QChar& c : text)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - ('a' - 'A'));
    return text;
}

// A change that takes this many characters of the text away at once is more than typing.
constexpr qsizetype MuchReplaced = 20;

// Whether going from before to after removed or replaced MuchReplaced characters or more in
// one go: what the two do not share at their start and end.
bool ReplacesMuch(const QString& before, const QString& after) {
    if (before.size() < MuchReplaced)
        return false;
    const QChar* b = before.constData();
    const QChar* a = after.constData();
    const qsizetype shorter = std::min(before.size(), after.size());
    const qsizetype head = std::mismatch(b, b + shorter, a).first - b;
    qsizetype tail = 0;
    while (tail < shorter - head && b[before.size() - 1 - tail] == a[after.size() - 1 - tail])
        ++tail;
    return before.size() - head - tail >= MuchReplaced;
}

TGroupNameDelegate* NameDelegate(QTreeWidget* view) {
    return dynamic_cast<TGroupNameDelegate*>(view->itemDelegate());
}

} // namespace

TNotepadPage::TNotepadPage(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::TNotepadPage>()) {
    ui_->setupUi(this);
    hint_ = std::make_unique<TTypingHint>(ui_->statHint, NotepadHint);
    connect(hint_->Timer(), &QTimer::timeout, this, Handler(this, [this] { tmrHintTimer(); }));
    hint_->Timer()->start();

    QTreeWidget* tree = ui_->tvNote;
    NoteTree_ = std::make_unique<TCardTree>(tree, NoteTypeTable, NoteRootCaption);
    tree->setIconSize(QSize(16, 16));
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);

    pmNoteType_ = MakeMenu(
        this, "pmNoteType",
        {{"NAddNoteType", QStringLiteral("新建组"), [this] { NAddNoteTypeClick(); }},
         {"NModNoteType", QStringLiteral("重命名组"), [this] { NModNoteTypeClick(); }},
         {"NDelNoteType", QStringLiteral("删除组"), [this] { NDelNoteTypeClick(); }},
         {"NNoteHistory", QStringLiteral("历史版本…"), [this] { NNoteHistoryClick(); }},
         {"NFindAll", QStringLiteral("全部查找"), [this] { Q_EMIT SearchAllRequested(); }}});

    // Group names are shown whole: the column is as wide as the longest, with a scroll bar
    // when the panel is narrower.
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    // A right click selects through the menu's opening, not on the press; a left press
    // starts a click that may or may not change the group. A name the panel's edge cuts
    // shows whole as the tooltip.
    new TEventHook(tree->viewport(), [this, tree](QEvent* event) {
        switch (event->type()) {
        case QEvent::ToolTip: {
            const auto* help = static_cast<QHelpEvent*>(event);
            const QModelIndex index = tree->indexAt(help->pos());
            const QRect shown = tree->visualRect(index);
            if (!index.isValid() || tree->viewport()->rect().contains(shown))
                return false;
            QToolTip::showText(help->globalPos(), index.data().toString(), tree->viewport(), shown);
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton)
                return true;
            if (event->type() == QEvent::MouseButtonPress)
                pressChangedGroup_ = false;
            return false;
        }
        default:
            return false;
        }
    });
    PopUpOnRightClick(tree, pmNoteType_);

    connect(tree, &QTreeWidget::itemSelectionChanged, this, Handler(this, [this, tree] {
                // A Ctrl+click can take the selection away, and the memo would then go on
                // showing a note whose changes nothing saves: the current group stays
                // selected instead.
                if (tree->selectedItems().isEmpty() && tree->currentItem()) {
                    tree->currentItem()->setSelected(true);
                    return;
                }
                pressChangedGroup_ = true;
                tvNoteClick();
            }));
    // A click on the group already shown shows its note again.
    connect(tree, &QTreeWidget::itemClicked, this, Handler(this, [this] {
                const bool changed = pressChangedGroup_;
                pressChangedGroup_ = false;
                if (!changed)
                    tvNoteClick();
            }));

    tree->setItemDelegate(new TGroupNameDelegate(tree, [this](int group, const QString& text) {
        RunHandler(this, [&] { tvNoteEdited(group, text); });
    }));

    QPlainTextEdit* memo = ui_->mmoNote;
    QFont font = QApplication::font();
    font.setPixelSize(16);
    memo->setFont(font);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setToolTip(QString());
    TDateStampKeys::Install(memo, [this](QKeyEvent* event) {
        bool used = false;
        RunHandler(this, [&] { used = mmoNoteKeyDown(event); });
        return used;
    });
    connect(memo, &QPlainTextEdit::textChanged, this, Handler(this, [this] {
                if (!settingNote_)
                    mmoNoteChange();
            }));

    connect(ui_->btn2, &QPushButton::clicked, this, Handler(this, [this] { btn2Click(); }));
    // The search across everything belongs to the window (Ctrl+Shift+F there too): the page
    // only asks for it.
    connect(ui_->btnFindAll, &QPushButton::clicked, this, [this] { Q_EMIT SearchAllRequested(); });
    // Searching from the keyboard: Ctrl+F goes to the search field; Enter there and F3
    // anywhere in the tab find the next match.
    new QShortcut(
        QKeySequence(Qt::CTRL | Qt::Key_F), this,
        [this] {
            ui_->edtQuery->setFocus(Qt::ShortcutFocusReason);
            ui_->edtQuery->selectAll();
        },
        Qt::WidgetWithChildrenShortcut);
    new QShortcut(QKeySequence(Qt::Key_F3), this, Handler(this, [this] { btn2Click(); }),
                  Qt::WidgetWithChildrenShortcut);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this,
                  Handler(this, [this] { NNoteHistoryClick(); }), Qt::WidgetWithChildrenShortcut);
    // The menu names the key; the tab's own shortcut above is the one that works.
    if (auto* history = pmNoteType_->findChild<QAction*>(QStringLiteral("NNoteHistory"))) {
        history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
        history->setShortcutContext(Qt::WidgetShortcut);
        history->setShortcutVisibleInContextMenu(true);
    }

    pauseTimer_ = new QTimer(this);
    pauseTimer_->setSingleShot(true);
    pauseTimer_->setInterval(VersionPauseMs);
    stretchTimer_ = new QTimer(this);
    stretchTimer_->setSingleShot(true);
    stretchTimer_->setInterval(VersionStretchMs);
    for (QTimer* timer : {pauseTimer_, stretchTimer_})
        connect(timer, &QTimer::timeout, this, Handler(this, [this] { KeepVersion(false); }));
    connect(ui_->edtQuery, &QLineEdit::returnPressed, this, Handler(this, [this] { btn2Click(); }));

    ui_->spl2->setStretchFactor(0, 0);
    ui_->spl2->setStretchFactor(1, 1);
    ui_->spl2->setSizes({200, qMax(1, width() - 200)});
}

TNotepadPage::~TNotepadPage() = default;

void TNotepadPage::LoadNotepad(bool noteAfterPaint) {
    if (!NoteTree_)
        return;
    ShowPendingNote();
    NoteTree_->LoadTree();
    const QScopedValueRollback<bool> later(noteAfterPaint_, noteAfterPaint);
    ShowRootNote();
    if (!thinned_.isValid())
        QTimer::singleShot(ThinAfterStartMs, this, Handler(this, [this] { ThinHistory(); }));
}

void TNotepadPage::ShowRootNote() {
    if (QTreeWidgetItem* top = ui_->tvNote->topLevelItem(0))
        ui_->tvNote->setCurrentItem(top);
    tvNoteClick();
}

void TNotepadPage::FreeNotepad() {
    // Keys typed for a note still waiting are saved before the tree goes.
    RunHandler(this, [this] {
        ShowPendingNote();
        FlushMemo();
        KeepVersion();
    });
    hint_->Timer()->stop();
    NoteTree_.reset();
}

void TNotepadPage::tmrHintTimer() {
    hint_->Tick();
}

void TNotepadPage::ReloadNotepad(bool keepGroup) {
    // Until the new tree and the root's note are shown, nothing may hand out an index of the
    // old tree or save the old text: the memo stays read-only if this fails half way.
    ShowPendingNote();
    QPlainTextEdit* memo = ui_->mmoNote;
    if (keepGroup && NoteTree_ && NoteTree_->Selected())
        return RefreshNotepad();
    const int group =
        keepGroup && NoteTree_ && NoteTree_->Selected() ? NoteTree_->SelectedIndex() : 0;
    const int cursor = memo->textCursor().position();
    memo->setReadOnly(true);
    NoteTree_.reset();
    SetNoteText(QString());
    auto tree = std::make_unique<TCardTree>(ui_->tvNote, NoteTypeTable, NoteRootCaption);
    tree->LoadTree();
    NoteTree_ = std::move(tree);
    // The kept group's note only: the root's is not read just to be replaced.
    QTreeWidgetItem* kept = group != 0 ? NoteTree_->NodeOfIndex(group) : nullptr;
    if (!kept) {
        ShowRootNote();
    } else {
        ShowNode(kept);
    }
    memo->setReadOnly(false);
    if (kept) {
        QTextCursor at = memo->textCursor();
        at.setPosition(qMin(cursor, memo->document()->characterCount() - 1));
        memo->setTextCursor(at);
    }
}

void TNotepadPage::RefreshNotepad() {
    // What the user sees stays as it is (open group, expanded nodes, cursor) but for what
    // changed: a group's note that is shown again is as slow as its size.
    const int group = NoteTree_->SelectedIndex();
    {
        const QSignalBlocker quiet(ui_->tvNote); // a lost group's note is not shown on the way
        NoteTree_->Refresh();
    }
    QTreeWidgetItem* kept = NoteTree_->NodeOfIndex(group);
    if (!kept)
        return ShowRootNote();
    if (ui_->tvNote->currentItem() != kept) {
        const QSignalBlocker quiet(ui_->tvNote);
        ui_->tvNote->setCurrentItem(kept);
    }
    FlushMemo();
    const QString stored = StoredNote(group);
    QPlainTextEdit* memo = ui_->mmoNote;
    if (stored == ExactPlainText(memo)) {
        noteBase_ = stored;
        return;
    }
    const int cursor = memo->textCursor().position();
    SetNoteText(stored);
    QTextCursor at = memo->textCursor();
    at.setPosition(qMin(cursor, memo->document()->characterCount() - 1));
    memo->setTextCursor(at);
}

void TNotepadPage::ShowNode(QTreeWidgetItem* node) {
    ui_->tvNote->scrollToItem(node);
    if (ui_->tvNote->currentItem() != node)
        ui_->tvNote->setCurrentItem(node); // shows its note
    else
        tvNoteClick();
}

void TNotepadPage::SetNoteText(const QString& text) {
    FlushMemo(); // what is still to be stored belongs to the text being replaced
    KeepVersion();
    keptBefore_ = -1;
    const QScopedValueRollback<bool> setting(settingNote_, true);
    SetExactPlainText(ui_->mmoNote, text);
    noteBase_ = text;
}

void TNotepadPage::ShowNoteLater(int group) {
    if (pendingGroup_ == group)
        return;
    ShowPendingNote();
    pendingGroup_ = group;
    QPlainTextEdit* memo = ui_->mmoNote;
    SetNoteText(QString());
    memo->setReadOnly(true);
    memo->setPlaceholderText(NoteLoadingText);
    keyKeeper_ = new TEventHook(memo, [this](QEvent* event) { return KeepKey(event); });
    if (!noteTimer_) {
        noteTimer_ = new QTimer(this);
        noteTimer_->setSingleShot(true);
        connect(noteTimer_, &QTimer::timeout, this, Handler(this, [this] { ShowPendingNote(); }));
    }
    noteTimer_->start(NoteWaitMs);
    // Once the window has been painted, the next pass of the event loop reads the note.
    paintWatch_ = new TEventHook(window(), [this](QEvent* event) {
        if (event->type() == QEvent::Paint)
            noteTimer_->start(0);
        return false;
    });
}

bool TNotepadPage::KeepKey(QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    keptKeys_.emplace_back(event->clone());
    return true;
}

void TNotepadPage::ShowPendingNote() {
    if (pendingGroup_ < 0)
        return;
    const int group = pendingGroup_;
    pendingGroup_ = -1;
    noteTimer_->stop();
    delete paintWatch_;
    delete keyKeeper_;
    keyKeeper_ = nullptr;
    const std::vector<std::unique_ptr<QEvent>> keys = std::move(keptKeys_);
    keptKeys_.clear();
    QPlainTextEdit* memo = ui_->mmoNote;
    memo->setReadOnly(false);
    memo->setPlaceholderText(QString());
    // The tree may have changed meanwhile: the group is found again by its index.
    if (NoteTree_ && NoteTree_->NodeOfIndex(group)) {
        const QString id = QString::number(group);
        if (NoteData->Exists(id)) {
            NoteData->Load(id);
            SetNoteText(NoteData->ReMark);
        }
        // The keys land where they would have had the note been there: at its start, and
        // what they change is saved to that group whichever is selected now.
        const QScopedValueRollback<int> owner(replayGroup_, group);
        for (const std::unique_ptr<QEvent>& key : keys)
            QCoreApplication::sendEvent(memo, key.get());
    }
    Q_EMIT NoteShown();
}

void TNotepadPage::tvNoteClick() {
    if (!NoteTree_ || !NoteTree_->Selected())
        return;
    if (noteAfterPaint_)
        return ShowNoteLater(NoteTree_->SelectedIndex());
    ShowPendingNote();
    SetNoteText(StoredNote(NoteTree_->SelectedIndex()));
}

QString TNotepadPage::StoredNote(int group) {
    const QString id = QString::number(group);
    if (!NoteData->Exists(id))
        return QString();
    NoteData->Load(id);
    return NoteData->ReMark;
}

void TNotepadPage::mmoNoteChange() {
    if (!NoteTree_ || !NoteTree_->Selected())
        return;
    const int group = replayGroup_ >= 0 ? replayGroup_ : NoteTree_->SelectedIndex();
    SaveMemo(group, ExactPlainText(ui_->mmoNote), false);
}

// text by value: a retry passes the kept text, which this forgets.
void TNotepadPage::SaveMemo(int group, QString text, bool wait) {
    QString underneath;
    {
        // The lock first, then the stored text: a sync pass's commit can no longer land
        // between the look and the write.
        TTransaction transaction(DbAccess->Connection,
                                 wait ? TTransaction::Immediate : TTransaction::IfFree);
        if (!transaction.Open()) {
            unsaved_ = TUnsaved{group, text};
            if (!saveRetry_) {
                saveRetry_ = new QTimer(this);
                saveRetry_->setSingleShot(true);
                saveRetry_->setInterval(SaveRetryMs);
                connect(saveRetry_, &QTimer::timeout, this, Handler(this, [this] {
                            if (unsaved_)
                                SaveMemo(unsaved_->group, unsaved_->text, false);
                        }));
            }
            saveRetry_->start();
            return;
        }
        unsaved_.reset();
        const auto keep = [group](const QString& kept, const QDateTime& since) {
            TConnection& connection = DbAccess->Connection;
            NoteHistory::Keep(connection, NoteHistory::GroupUid(connection, group), kept,
                              Clock::Now(), since);
        };
        if (keptBefore_ != group && NoteHistory::KeepingWhileTyping) {
            // The text as it stood before the first change here: a select-all and a key
            // cannot take it away.
            keep(StoredNote(group), QDateTime());
        } else if (NoteHistory::KeepingWhileTyping && ReplacesMuch(noteBase_, text)) {
            // One change took much of what was there (a select-all and a key, a cut, a paste
            // over a selection): what it replaced is kept first, however briefly it stood.
            keep(noteBase_, lastChange_);
        }
        SaveNoteText(*NoteData, QString::number(group), text, &noteBase_, &underneath);
        if (!underneath.isEmpty()) // the other machine's text is among the versions too
            keep(underneath, QDateTime());
        transaction.Commit();
    }
    noteBase_ = text;
    if (!underneath.isEmpty())
        KeepConflictCopy(group, underneath);
    if (!NoteHistory::KeepingWhileTyping)
        return;
    keptBefore_ = group;
    if (unversionedGroup_ >= 0 && unversionedGroup_ != group)
        KeepVersion();
    unversionedGroup_ = group;
    lastChange_ = Clock::Now();
    pauseTimer_->start();
    if (!stretchTimer_->isActive())
        stretchTimer_->start();
}

void TNotepadPage::FlushMemo() {
    if (unsaved_)
        SaveMemo(unsaved_->group, unsaved_->text, true);
}

void TNotepadPage::KeepConflictCopy(int group, const QString& text) {
    QTreeWidgetItem* node = NoteTree_ ? NoteTree_->NodeOfIndex(group) : nullptr;
    const TGroupIndex* record = node ? TCardTree::RecordOf(node) : nullptr;
    const QString name = (node ? node->text(0) : NoteRootCaption) + QStringLiteral("（冲突副本）");
    ExecSql(TCardTree::AddGroupAtNextIndexStatement(
                NoteTypeTable, record && group != 0 ? record->ParentIndex : 0, name) +
            BatchSeparator +
            FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) select "
                                     "max(SelfIndex),'%s' from %s"),
                      {text, NoteTypeTable}));
    if (NoteTree_) {
        const QSignalBlocker quiet(ui_->tvNote); // the open note stays in the memo
        NoteTree_->Refresh();
    }
    ui_->statHint->showMessage(QStringLiteral("另一台电脑刚改过这篇笔记，它的版本已保存在“") +
                               name + QStringLiteral("”中。"));
}

bool TNotepadPage::mmoNoteKeyDown(QKeyEvent* event) {
    return InsertDateStamp(ui_->mmoNote, event);
}

void TNotepadPage::btn2Click() {
    ShowPendingNote();
    QPlainTextEdit* memo = ui_->mmoNote;
    const QString query = ui_->edtQuery->text();
    QTextCursor cursor = memo->textCursor();
    const int from = cursor.selectionEnd();
    const int found =
        query.isEmpty() ? -1 : AsciiUpper(memo->toPlainText()).indexOf(AsciiUpper(query), from);
    if (found < 0) {
        cursor.setPosition(0);
        memo->setTextCursor(cursor);
        return;
    }
    memo->setFocus();
    cursor.setPosition(found);
    cursor.setPosition(found + query.size(), QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
}

void TNotepadPage::NAddNoteTypeClick() {
    ShowPendingNote();
    if (NoteTree_ && NoteTree_->NewGroup())
        SetNoteText(QString());
}

void TNotepadPage::NModNoteTypeClick() {
    QTreeWidget* tree = ui_->tvNote;
    QTreeWidgetItem* node = NoteTree_ ? NoteTree_->Selected() : nullptr;
    if (!node || node == NoteTree_->RootNode)
        return;
    TGroupNameDelegate* delegate = NameDelegate(tree);
    if (!delegate)
        return;
    const int index = NoteTree_->SelectedIndex();
    delegate->Group = index;
    delegate->Editor = nullptr;
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    tree->editItem(node);
    if (delegate->Editor) {
        QEventLoop loop;
        QPointer<QWidget> editor = delegate->Editor;
        connect(editor, &QObject::destroyed, &loop, &QEventLoop::quit);
        connect(delegate, &QAbstractItemDelegate::closeEditor, &loop, &QEventLoop::quit);
        if (editor && editor->isVisible())
            loop.exec();
    }
    delegate->Group = -1;
    // The editor's loop may have rebuilt the tree: the group is found again by its index.
    if (QTreeWidgetItem* again = NoteTree_ ? NoteTree_->NodeOfIndex(index) : nullptr)
        again->setFlags(again->flags() & ~Qt::ItemIsEditable);
}

void TNotepadPage::tvNoteEdited(int group, const QString& text) {
    // The statement renames the selected group: never let it reach another one.
    QTreeWidgetItem* node = NoteTree_ ? NoteTree_->Selected() : nullptr;
    if (!node || NoteTree_->SelectedIndex() != group || text == node->text(0))
        return;
    NoteTree_->RenameGroup(text);
}

void TNotepadPage::NDelNoteTypeClick() {
    if (!NoteTree_)
        return;
    KeepVersion();
    const QString id = QString::number(NoteTree_->SelectedIndex());
    NoteTree_->DeleteGroup();
    NoteData->Delete(id);
    tvNoteClick();
}

void TNotepadPage::ShowGroupMatch(int group,
                                  const std::function<bool(const QString&, int*, int*)>& locate) {
    if (!NoteTree_)
        return;
    // By index: the tree may have changed since the search.
    QTreeWidgetItem* node = NoteTree_->NodeOfIndex(group);
    if (!node)
        return;
    ShowNode(node);
    if (!locate)
        return;
    // The memo's own text: the note may have been changed since it was searched, and the
    // memo counts a line break as one character.
    QPlainTextEdit* memo = ui_->mmoNote;
    int position = 0;
    int length = 0;
    if (!locate(memo->document()->toRawText(), &position, &length))
        return;
    QTextCursor cursor = memo->textCursor();
    cursor.setPosition(position);
    cursor.setPosition(position + length, QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
}

void TNotepadPage::KeepVersion(bool wait) {
    FlushMemo();
    pauseTimer_->stop();
    stretchTimer_->stop();
    if (unversionedGroup_ < 0)
        return;
    const int group = unversionedGroup_;
    {
        TTransaction transaction(DbAccess->Connection,
                                 wait ? TTransaction::Immediate : TTransaction::IfFree);
        if (!transaction.Open()) {
            pauseTimer_->start(SaveRetryMs * 50);
            return;
        }
        TConnection& connection = DbAccess->Connection;
        // What is stored: the memo may show another group by now.
        NoteHistory::Keep(connection, NoteHistory::GroupUid(connection, group), StoredNote(group),
                          Clock::Now(), lastChange_);
        transaction.Commit();
    }
    unversionedGroup_ = -1;
    if (thinned_.isValid() && thinned_ != Clock::Today())
        ThinHistory();
}

void TNotepadPage::ThinHistory() {
    thinned_ = Clock::Today();
    DbAccess->Write([](TConnection& connection) {
        RecycleBin::Expire(connection, Clock::Now());
        NoteHistory::Thin(connection, Clock::Now());
    });
}

void TNotepadPage::NNoteHistoryClick() {
    if (!NoteTree_ || !NoteTree_->Selected())
        return;
    ShowPendingNote();
    KeepVersion();
    const int group = NoteTree_->SelectedIndex();
    TConnection& connection = DbAccess->Connection;
    const QString uid = NoteHistory::GroupUid(connection, group);
    if (uid.isEmpty())
        return;
    std::optional<qint64> chosen;
    {
        TFormNoteHistory form(connection, uid, ExactPlainText(ui_->mmoNote),
                              TCardTree::PositionText(NoteTree_->Selected()), window());
        form.exec();
        chosen = form.Chosen();
    }
    // The dialog ran its own loop: the group is looked up again, and may be gone.
    if (!chosen || !NoteTree_ || !NoteTree_->NodeOfIndex(group))
        return;
    FlushMemo();
    QString text;
    DbAccess->Write([&](TConnection& c) {
        if (NoteHistory::GroupUid(c, group) != uid)
            return;
        text = NoteHistory::TReader(c, uid).Text(*chosen);
        NoteHistory::Keep(c, uid, StoredNote(group), Clock::Now(), QDateTime());
        SaveNoteText(*NoteData, QString::number(group), text);
    });
    keptBefore_ = -1;
    if (NoteTree_->SelectedIndex() == group) {
        SetNoteText(text);
        ui_->statHint->showMessage(
            QStringLiteral("已恢复到所选的版本；恢复前的内容也已保存为一个版本。"));
    }
}
