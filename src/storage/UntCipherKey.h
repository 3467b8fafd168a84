#pragma once

#include <QByteArray>

// The engine's key for a data file: PBKDF2-HMAC-SHA1 of the passphrase over the file's salt
// (its first 16 bytes), 64,000 rounds, 32 bytes; what the engine itself derives from
// "PRAGMA key". Computed here in about a third of the engine's time, so the start-up does not
// wait for it; handed to the engine as a raw key, which leaves the file as it is.
QByteArray CipherKey(const QByteArray& passphrase, const QByteArray& salt);

// The raw-key form of the key for "PRAGMA key": x'<64 hex digits>'.
QByteArray RawKeyText(const QByteArray& key);
