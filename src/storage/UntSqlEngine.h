#pragma once

struct sqlite3;

// Registers the engine functions the program's statements rely on: Date(), Time(), Hour,
// Minute, Day, WeekDay, CStr, Str, Format and IIf. Date() and Time() read the program's
// clock. Returns an SQLite result code.
int RegisterEngineFunctions(sqlite3* db);
