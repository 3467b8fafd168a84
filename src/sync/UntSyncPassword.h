#pragma once

#include <QString>
#include <functional>

class QObject;
class TDbAccess;
struct TSyncSettings;

// The sync password lives in the desktop's keyring when one is there, otherwise in the data
// file if the user agrees, otherwise nowhere (it is asked for again next time). It is never
// written anywhere else.
bool KeyringAvailable();

// Why the data file is the only place left, and what keeping the password there means: with
// the data file encrypted with the login password, it is as safe as the notes; without, in
// words anyone can follow.
QString PasswordInFileNotice(const TDbAccess& db);

// Saves settings with the password in the keyring or, failing that and when inFile() agrees,
// in the data file; done(inKeyring) runs on the event loop once it is settled.
void StoreSyncPassword(TDbAccess& db, TSyncSettings settings, const QString& password,
                       QObject* context, std::function<bool()> inFile,
                       std::function<void(bool inKeyring)> done);

// Reads the password of settings: done(ok, password). From the data file at once.
void ReadSyncPassword(const TSyncSettings& settings, QObject* context,
                      std::function<void(bool ok, const QString& password)> done);
