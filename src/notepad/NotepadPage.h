#pragma once

#include <QDateTime>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class TNotepadPage;
}
class QEvent;
class QKeyEvent;
class QMenu;
class QTimer;
class QTreeWidgetItem;
class TCardTree;
class TTypingHint;

// The notepad tab: the group tree tvNote with its menu pmNoteType and typing hint, and the
// memo mmoNote that holds the selected group's note, saved on every change.
class TNotepadPage : public QWidget {
    Q_OBJECT
public:
    explicit TNotepadPage(QWidget* parent = nullptr);
    ~TNotepadPage() override;

    // Loads the tree, selects the root and shows its note, as at start. With noteAfterPaint
    // the note is read once the window has been painted: a large note does not hold up the
    // window, and keys typed meanwhile are kept for it.
    void LoadNotepad(bool noteAfterPaint = false);
    // After a restore: the tree and the root's note as the file now holds them. With
    // keepGroup (after a sync pass), the tree is brought in line in place and the group
    // shown stays shown, with the memo's cursor where it was, as long as the group is still
    // there; its note is set again only when it changed.
    void ReloadNotepad(bool keepGroup = false);
    // Frees the tree as the window closes; the page then does nothing more.
    void FreeNotepad();
    // NoteTree, while the page has one.
    TCardTree* NoteTree() const { return NoteTree_.get(); }

    void tvNoteClick();
    void mmoNoteChange();
    bool mmoNoteKeyDown(QKeyEvent* event);
    void btn2Click();
    void NAddNoteTypeClick();
    void NModNoteTypeClick();
    void NDelNoteTypeClick();
    // "历史版本": the selected group's earlier versions; the one chosen replaces the note,
    // which becomes a version itself.
    void NNoteHistoryClick();
    // Keeps what the memo stored since the last version as a version now (a pause in
    // typing, the group left, the window closing). Without wait, while another connection
    // writes, it is tried again a moment later instead.
    void KeepVersion(bool wait = true);
    // Thins the note versions and empties the recycle bin of what they keep no longer.
    void ThinHistory();
    // The in-place editor of the caption of group closed with text.
    void tvNoteEdited(int group, const QString& text);
    void tmrHintTimer();
    // Selects the group of that index and shows its note; locate, when given, finds the span
    // of the memo's text to select (false: select nothing).
    void ShowGroupMatch(int group, const std::function<bool(const QString&, int*, int*)>& locate);

    // The note of the selected group is still to be read in (the memo waits, read-only).
    bool NoteLoading() const { return pendingGroup_ >= 0; }

Q_SIGNALS:
    // "全部查找" was asked for (button, key or menu).
    void SearchAllRequested();
    // A note read in later is now in the memo.
    void NoteShown();

private:
    void ShowRootNote();
    void RefreshNotepad();
    // The group's stored note; empty when it has none.
    QString StoredNote(int group);
    // Selects node in view and shows its note.
    void ShowNode(QTreeWidgetItem* node);
    // Puts a stored text into the memo; a text the program puts there is not saved again.
    void SetNoteText(const QString& text);
    // Shows the memo as waiting for the note of group, which is read after the next paint.
    void ShowNoteLater(int group);
    // Reads the waiting note in, then hands it the keys typed while it was waiting. Runs
    // before anything else touches the memo or the selection.
    void ShowPendingNote();
    // The memo's keys while a note is waiting: kept instead of handled.
    bool KeepKey(QEvent* event);
    // Stores text as the note of group. Without wait, while another connection holds the
    // writer's lock (a sync pass commits) the text is kept and stored a moment later instead.
    // A note that someone else changed since the memo showed it is kept as a copy beside it.
    void SaveMemo(int group, QString text, bool wait);
    // A text kept by SaveMemo is stored now, waiting if it must.
    void FlushMemo();
    // A group "名称（冲突副本）" beside group holding text.
    void KeepConflictCopy(int group, const QString& text);

    std::unique_ptr<Ui::TNotepadPage> ui_;
    std::unique_ptr<TCardTree> NoteTree_;
    std::unique_ptr<TTypingHint> hint_;
    QMenu* pmNoteType_ = nullptr;
    bool settingNote_ = false;
    bool pressChangedGroup_ = false;
    bool noteAfterPaint_ = false;
    // The group whose note the memo waits for (-1: none), the keys typed meanwhile, and the
    // group the memo's changes belong to while those keys are handed on.
    int pendingGroup_ = -1;
    std::vector<std::unique_ptr<QEvent>> keptKeys_;
    int replayGroup_ = -1;
    QObject* keyKeeper_ = nullptr;
    QPointer<QObject> paintWatch_;
    QTimer* noteTimer_ = nullptr;
    // The note as the memo last read or stored it: what is stored still, unless someone else
    // wrote it since.
    QString noteBase_;
    // A text not yet stored (the writer's lock was taken), and the retry that stores it.
    struct TUnsaved {
        int group;
        QString text;
    };
    std::optional<TUnsaved> unsaved_;
    QTimer* saveRetry_ = nullptr;
    // Versions: the group whose stored text changed since its last version (-1: none), when it
    // last changed, the group whose text before its first change here is kept already, and
    // the timers that keep a version at a pause in typing and during a long stretch of it.
    int unversionedGroup_ = -1;
    QDateTime lastChange_;
    int keptBefore_ = -1;
    QTimer* pauseTimer_ = nullptr;
    QTimer* stretchTimer_ = nullptr;
    QDate thinned_;
};
