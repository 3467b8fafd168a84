#pragma once

#include <QString>

// Writes (enable) or removes the run-at-login entry named name that starts data.
void SetRunAtStartup(const QString& name, const QString& data, bool enable);
// Where the run-at-login entry of that name lives.
QString RunAtStartupEntry(const QString& name);
// The program the run-at-login entry of that name starts; empty when there is none.
QString ReadRunAtStartup(const QString& name);
// Whether the entry of that name exists and starts exactly data.
bool RunsAtStartup(const QString& name, const QString& data);
