#pragma once

#include <QByteArray>
#include <QString>

// The engine's key for a data file: PBKDF2-HMAC-SHA1 of the passphrase over the file's salt
// (its first 16 bytes), 64,000 rounds, 32 bytes; what the engine itself derives from
// "PRAGMA key". Computed here in about a third of the engine's time, so the start-up does not
// wait for it; handed to the engine as a raw key, which leaves the file as it is.
QByteArray CipherKey(const QByteArray& passphrase, const QByteArray& salt);

// A file where keys once worked out are kept by salt, so that later starts skip the 64,000
// rounds. The passphrase is the program's own: a key kept there tells no one more than the
// program itself does. Empty (the default): keys are kept in memory only.
void SetCipherKeyStore(const QString& path);
// A key the engine refused for that salt: worked out again next time.
void ForgetCipherKey(const QByteArray& salt);

// A file the program's own key does not open (it is encrypted with the login password):
// noted by salt in the store, so that later starts try the program's key only the quick way
// before asking for the password. Nothing of the password is noted.
void RememberNotOwnKey(const QByteArray& salt);
bool KnownNotOwnKey(const QByteArray& salt);

// The raw-key form of the key for "PRAGMA key": x'<64 hex digits>'.
QByteArray RawKeyText(const QByteArray& key);
