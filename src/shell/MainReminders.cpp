// The main window's reminders tab and the handling of due reminders.
#include "Main.h"

#include "ui_Main.h"

void TFormMain::SetupRemindersTab() {}

void TFormMain::ShowReminders() {}

int TFormMain::FilterIndex() const { return 0; }

void TFormMain::rgAlamClick() {}

void TFormMain::NAddAlamClick() {}

void TFormMain::NModAlamClick() {}

void TFormMain::NDelAlamClick() {}
