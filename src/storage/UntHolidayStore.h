#pragma once

#include <QString>

class TConnection;

// The holiday schedules imported from calendar files (table HolidayYear): they replace the
// shipped ones for their years, in this data file.

// Lays the file's imported years over the shipped schedule; on every open of the file.
void LoadImportedHolidays(TConnection& connection);
// "导入节假日安排": reads the calendar file, stores its years and puts them in force. The line
// that says what came in; throws EAppError with the reason, changing nothing, when the file
// holds no schedule.
QString ImportHolidays(const QString& path);
