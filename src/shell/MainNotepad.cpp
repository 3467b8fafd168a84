// The main window's notepad tab: the group tree and the note of the selected group.
#include "Main.h"

#include "notepad/UntTree.h"
#include "ui_Main.h"

void TFormMain::SetupNotepadTab() {}

void TFormMain::LoadNotepad() {}

void TFormMain::ShowRootNote() {}

void TFormMain::FreeNotepad() { NoteTree_.reset(); }
