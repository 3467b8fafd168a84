#pragma once

#include <QString>
#include <functional>

class QObject;
class TDbAccess;
struct TSyncSettings;

// The sync password lives in the desktop's keyring when one is there, otherwise in the
// (encrypted) data file. It is never written anywhere else.
bool KeyringAvailable();

// Saves settings with the password in the keyring or, failing that, in the data file;
// done(inKeyring) runs on the event loop once it is stored.
void StoreSyncPassword(TDbAccess& db, TSyncSettings settings, const QString& password,
                       QObject* context, std::function<void(bool inKeyring)> done);

// Reads the password of settings: done(ok, password). From the data file at once.
void ReadSyncPassword(const TSyncSettings& settings, QObject* context,
                      std::function<void(bool ok, const QString& password)> done);
