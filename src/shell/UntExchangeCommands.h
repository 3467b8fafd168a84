#pragma once

class QMenu;
class QWidget;
class TNotepadPage;
class TRemindersPage;

// The settings menu's exchange items: reminders to and from a calendar file, notes to and
// from a folder. Appended to menu after a separator; each runs as a handler of owner.
void AddExchangeItems(QMenu* menu, QWidget* owner, TRemindersPage* reminders,
                      TNotepadPage* notepad);

void ExportIcsCommand(QWidget* owner, const TRemindersPage* reminders);
void ImportIcsCommand(QWidget* owner, TRemindersPage* reminders);
// "导入节假日安排…": next years' official schedules from a calendar file.
void ImportHolidaysCommand(QWidget* owner, TRemindersPage* reminders);
void ExportNotesCommand(QWidget* owner);
void ImportNotesCommand(QWidget* owner, TNotepadPage* notepad);
