#pragma once

class QString;

// The engine locks its files with POSIX record locks, which belong to the process: closing any
// descriptor of the file, whoever opened it (a file dialog reading it for its icon, a library
// sniffing its type), drops them all, and another program then takes the file for unused and
// removes its log under the running program. From the first call on, every lock the engine
// takes belongs to one open file description per file that only the engine holds, and goes
// when the engine closes its last descriptor of that file, as a POSIX lock would. Other
// programs' locks conflict with these as with their own. Call before the first file opens;
// later calls do nothing.
void UseOwnFileLocks();

// Whether the engine's locks are of that kind (false where the system has none).
bool OwnFileLocksActive();

// Whether a lock is held on the file at path through any other open file description, in this
// process or another: some program has it open as a database. False when the file cannot be
// read, or where the system cannot tell without dropping this process's POSIX locks.
bool FileLockedElsewhere(const QString& path);
