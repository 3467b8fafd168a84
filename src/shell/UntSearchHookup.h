#pragma once

class QTabWidget;
class TNotepadPage;
class TRemindersPage;

// "全部查找" spans both tabs, so the window that holds them opens it: when the notepad asks,
// the search window opens over the tabs' window, and a result it hands back is shown on the
// tab it belongs to.
void InstallSearchAll(QTabWidget* tabs, TNotepadPage* notes, TRemindersPage* reminders);
