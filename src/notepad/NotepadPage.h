#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TNotepadPage;
}
class QKeyEvent;
class QMenu;
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

    // Loads the tree, selects the root and shows its note, as at start.
    void LoadNotepad();
    // After a restore: the tree and the root's note as the file now holds them.
    void ReloadNotepad();
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
    // The in-place editor of the caption of group closed with text.
    void tvNoteEdited(int group, const QString& text);
    void tmrHintTimer();
    // Selects the group of that index and shows its note; locate, when given, finds the span
    // of the memo's text to select (false: select nothing).
    void ShowGroupMatch(int group, const std::function<bool(const QString&, int*, int*)>& locate);

Q_SIGNALS:
    // "全部查找" was asked for (button, key or menu).
    void SearchAllRequested();

private:
    void ShowRootNote();
    // Puts a stored text into the memo; a text the program puts there is not saved again.
    void SetNoteText(const QString& text);

    std::unique_ptr<Ui::TNotepadPage> ui_;
    std::unique_ptr<TCardTree> NoteTree_;
    std::unique_ptr<TTypingHint> hint_;
    QMenu* pmNoteType_ = nullptr;
    bool settingNote_ = false;
    bool pressChangedGroup_ = false;
};
