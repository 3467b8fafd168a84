#pragma once

#include <QString>

// The login password at rest: salted PBKDF2-HMAC-SHA256 in one self-describing text,
// "pbkdf2-sha256$<iterations>$<salt, base64>$<hash, base64>".

// Iterations of a new hash: about 45 ms per check on the machine we measure on.
inline constexpr int PassHashIterations = 150000;

// The stored form of password; an empty password stays empty.
QString HashPassword(const QString& password);
// Whether typed is the password stored as stored. An empty stored text matches only an
// empty typed one; a stored text that is not a hash matches nothing.
bool VerifyPassword(const QString& typed, const QString& stored);
