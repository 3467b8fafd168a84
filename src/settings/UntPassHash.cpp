#include "UntPassHash.h"

#include <QByteArray>
#include <QStringList>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>

namespace {

const QString Scheme = QStringLiteral("pbkdf2-sha256");
constexpr int SaltBytes = 16;
constexpr int HashBytes = 32;
// A hand-edited iteration count must not stall the start for minutes.
constexpr int MaxIterations = 10000000;

QByteArray Derive(const QString& password, const QByteArray& salt, int iterations, int length) {
    const QByteArray utf8 = password.toUtf8();
    QByteArray out(length, '\0');
    if (PKCS5_PBKDF2_HMAC(utf8.constData(), utf8.size(),
                          reinterpret_cast<const unsigned char*>(salt.constData()), salt.size(),
                          iterations, EVP_sha256(), length,
                          reinterpret_cast<unsigned char*>(out.data())) != 1)
        throw std::runtime_error("PBKDF2 failed");
    return out;
}

} // namespace

QString HashPassword(const QString& password) {
    if (password.isEmpty())
        return QString();
    QByteArray salt(SaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), SaltBytes) != 1)
        throw std::runtime_error("no random bytes for the password salt");
    const QByteArray hash = Derive(password, salt, PassHashIterations, HashBytes);
    return Scheme + QLatin1Char('$') + QString::number(PassHashIterations) + QLatin1Char('$') +
           QString::fromLatin1(salt.toBase64()) + QLatin1Char('$') +
           QString::fromLatin1(hash.toBase64());
}

bool VerifyPassword(const QString& typed, const QString& stored) {
    if (stored.isEmpty())
        return typed.isEmpty();
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts.at(0) != Scheme)
        return false;
    bool ok = false;
    const int iterations = parts.at(1).toInt(&ok);
    if (!ok || iterations < 1 || iterations > MaxIterations)
        return false;
    const auto decode = [](const QString& text, QByteArray& out) {
        const auto result = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                           QByteArray::AbortOnBase64DecodingErrors);
        out = result.decoded;
        return bool(result) && !out.isEmpty();
    };
    QByteArray salt;
    QByteArray expected;
    if (!decode(parts.at(2), salt) || !decode(parts.at(3), expected) || expected.size() < 16 ||
        expected.size() > 64)
        return false;
    const QByteArray actual = Derive(typed, salt, iterations, expected.size());
    return CRYPTO_memcmp(actual.constData(), expected.constData(), expected.size()) == 0;
}
