#include "UntCipherKey.h"

#include "UntConnection.h"
#include "common/UntPrivateFiles.h"

// The one-block SHA-1 transform is what makes this fast; OpenSSL 3 keeps it, deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr int Rounds = 64000;
constexpr int KeyBytes = 32;

void PutDigest(const SHA_CTX& ctx, unsigned char* out) {
    const SHA_LONG words[5] = {ctx.h0, ctx.h1, ctx.h2, ctx.h3, ctx.h4};
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = static_cast<unsigned char>(words[i] >> 24);
        out[4 * i + 1] = static_cast<unsigned char>(words[i] >> 16);
        out[4 * i + 2] = static_cast<unsigned char>(words[i] >> 8);
        out[4 * i + 3] = static_cast<unsigned char>(words[i]);
    }
}

QByteArray DeriveKey(const QByteArray& passphrase, const QByteArray& salt);

constexpr int StoredKeys = 8;

std::mutex keysUse;
QString storePath;
// The reader connections open the same file with the same passphrase: worked out once.
QByteArray lastPassphrase, lastSalt, lastKey;

// A stored line: salt, a tag of the passphrase and the key, in hex.
QByteArray SaltField(const QByteArray& salt) {
    return salt.toHex() + ' ';
}

QByteArray StoreEntry(const QByteArray& passphrase, const QByteArray& salt) {
    return SaltField(salt) +
           QCryptographicHash::hash(passphrase, QCryptographicHash::Sha256).left(8).toHex() + ' ';
}

QList<QByteArray> StoredLines() {
    QFile file(storePath);
    if (storePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\n');
}

void WriteStore(const QList<QByteArray>& lines) {
    if (storePath.isEmpty())
        return;
    QDir().mkpath(QFileInfo(storePath).absolutePath());
    QSaveFile file(storePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    int written = 0;
    for (const QByteArray& line : lines)
        if (!line.isEmpty() && written++ < StoredKeys)
            file.write(line + '\n');
    file.commit(); // a store that cannot be written only costs the next start the rounds
}

// The store with line as the only one for salt, first (the newest are kept). Called with
// keysUse held.
void PutStoreLine(const QByteArray& salt, const QByteArray& line) {
    QList<QByteArray> lines{line};
    for (const QByteArray& stored : StoredLines())
        if (!stored.startsWith(SaltField(salt)))
            lines << stored;
    WriteStore(lines);
}

} // namespace

QByteArray CipherKey(const QByteArray& passphrase, const QByteArray& salt) {
    // A key worked out from the user's password is never written down, nor anything of it.
    const bool own = passphrase == DatabaseKey.toUtf8();
    const QByteArray entry = own ? StoreEntry(passphrase, salt) : QByteArray();
    {
        const std::lock_guard<std::mutex> lock(keysUse);
        if (!lastKey.isEmpty() && passphrase == lastPassphrase && salt == lastSalt)
            return lastKey;
        for (const QByteArray& line : own ? StoredLines() : QList<QByteArray>())
            if (line.startsWith(entry)) {
                const QByteArray key = QByteArray::fromHex(line.mid(entry.size()));
                if (key.size() != KeyBytes)
                    break;
                lastPassphrase = passphrase;
                lastSalt = salt;
                return lastKey = key;
            }
    }
    const QByteArray key = DeriveKey(passphrase, salt);
    const std::lock_guard<std::mutex> lock(keysUse);
    lastPassphrase = passphrase;
    lastSalt = salt;
    lastKey = key;
    if (own)
        PutStoreLine(salt, entry + key.toHex());
    return key;
}

void SetCipherKeyStore(const QString& path) {
    const std::lock_guard<std::mutex> lock(keysUse);
    storePath = path;
    MakePrivate(QFileInfo(path).absolutePath());
    MakePrivate(path);
}

void ForgetCipherKey(const QByteArray& salt) {
    const std::lock_guard<std::mutex> lock(keysUse);
    if (salt == lastSalt)
        lastKey.clear();
    QList<QByteArray> lines = StoredLines();
    const QByteArray field = SaltField(salt);
    const QByteArray notOwn = field + '-';
    if (lines.removeIf(
            [&](const QByteArray& line) { return line.startsWith(field) && line != notOwn; }) > 0)
        WriteStore(lines);
}

void RememberNotOwnKey(const QByteArray& salt) {
    const std::lock_guard<std::mutex> lock(keysUse);
    PutStoreLine(salt, SaltField(salt) + '-');
}

bool KnownNotOwnKey(const QByteArray& salt) {
    const std::lock_guard<std::mutex> lock(keysUse);
    return StoredLines().contains(SaltField(salt) + '-');
}

namespace {

QByteArray DeriveKey(const QByteArray& passphrase, const QByteArray& salt) {
    // HMAC-SHA1: the states after the padded key blocks are computed once.
    unsigned char block[SHA_CBLOCK] = {};
    if (passphrase.size() > SHA_CBLOCK)
        SHA1(reinterpret_cast<const unsigned char*>(passphrase.constData()),
             static_cast<size_t>(passphrase.size()), block);
    else
        std::memcpy(block, passphrase.constData(), static_cast<size_t>(passphrase.size()));
    unsigned char ipad[SHA_CBLOCK];
    unsigned char opad[SHA_CBLOCK];
    for (int i = 0; i < SHA_CBLOCK; ++i) {
        ipad[i] = block[i] ^ 0x36;
        opad[i] = block[i] ^ 0x5c;
    }
    SHA_CTX inner;
    SHA_CTX outer;
    SHA1_Init(&inner);
    SHA1_Update(&inner, ipad, sizeof ipad);
    SHA1_Init(&outer);
    SHA1_Update(&outer, opad, sizeof opad);

    // Each 20-byte block of the key is its own chain of rounds: the second runs on another
    // core while this thread works out the first. Every later round hashes one 20-byte
    // digest: one padded block each for the inner and the outer hash, transformed straight
    // from the saved states.
    const auto chain = [&](unsigned int index, unsigned char* t) {
        const unsigned char counter[4] = {
            static_cast<unsigned char>(index >> 24), static_cast<unsigned char>(index >> 16),
            static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)};
        unsigned char message[SHA_CBLOCK] = {};
        message[SHA_DIGEST_LENGTH] = 0x80;
        constexpr int bits = (SHA_CBLOCK + SHA_DIGEST_LENGTH) * 8;
        message[SHA_CBLOCK - 2] = bits >> 8;
        message[SHA_CBLOCK - 1] = bits & 0xff;
        unsigned char u[SHA_DIGEST_LENGTH];
        SHA_CTX ctx = inner;
        SHA1_Update(&ctx, salt.constData(), static_cast<size_t>(salt.size()));
        SHA1_Update(&ctx, counter, sizeof counter);
        SHA1_Final(u, &ctx);
        ctx = outer;
        SHA1_Update(&ctx, u, sizeof u);
        SHA1_Final(u, &ctx);
        std::memcpy(t, u, SHA_DIGEST_LENGTH);
        for (int round = 1; round < Rounds; ++round) {
            std::memcpy(message, u, sizeof u);
            ctx = inner;
            SHA1_Transform(&ctx, message);
            PutDigest(ctx, message);
            ctx = outer;
            SHA1_Transform(&ctx, message);
            PutDigest(ctx, u);
            for (int i = 0; i < SHA_DIGEST_LENGTH; ++i)
                t[i] ^= u[i];
        }
    };
    static_assert(KeyBytes > SHA_DIGEST_LENGTH && KeyBytes <= 2 * SHA_DIGEST_LENGTH);
    unsigned char blocks[2 * SHA_DIGEST_LENGTH];
    std::thread second;
    try {
        second = std::thread(chain, 2u, blocks + SHA_DIGEST_LENGTH);
    } catch (const std::system_error&) {
        chain(2u, blocks + SHA_DIGEST_LENGTH); // no thread to spare: one after the other
    }
    chain(1u, blocks);
    if (second.joinable())
        second.join();
    return QByteArray(reinterpret_cast<const char*>(blocks), KeyBytes);
}

} // namespace

QByteArray RawKeyText(const QByteArray& key) {
    return "x'" + key.toHex().toUpper() + "'";
}
