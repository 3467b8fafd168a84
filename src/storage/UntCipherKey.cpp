#include "UntCipherKey.h"

// The one-block SHA-1 transform is what makes this fast; OpenSSL 3 keeps it, deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>

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

} // namespace

QByteArray CipherKey(const QByteArray& passphrase, const QByteArray& salt) {
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

    // Every later round hashes one 20-byte digest: one padded block each for the inner and
    // the outer hash, transformed straight from the saved states.
    unsigned char message[SHA_CBLOCK] = {};
    message[SHA_DIGEST_LENGTH] = 0x80;
    constexpr int bits = (SHA_CBLOCK + SHA_DIGEST_LENGTH) * 8;
    message[SHA_CBLOCK - 2] = bits >> 8;
    message[SHA_CBLOCK - 1] = bits & 0xff;

    QByteArray key;
    for (unsigned int index = 1; key.size() < KeyBytes; ++index) {
        const unsigned char counter[4] = {
            static_cast<unsigned char>(index >> 24), static_cast<unsigned char>(index >> 16),
            static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)};
        unsigned char u[SHA_DIGEST_LENGTH];
        SHA_CTX ctx = inner;
        SHA1_Update(&ctx, salt.constData(), static_cast<size_t>(salt.size()));
        SHA1_Update(&ctx, counter, sizeof counter);
        SHA1_Final(u, &ctx);
        ctx = outer;
        SHA1_Update(&ctx, u, sizeof u);
        SHA1_Final(u, &ctx);
        unsigned char t[SHA_DIGEST_LENGTH];
        std::memcpy(t, u, sizeof t);
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
        key.append(reinterpret_cast<const char*>(t),
                   std::min<qsizetype>(SHA_DIGEST_LENGTH, KeyBytes - key.size()));
    }
    return key;
}

QByteArray RawKeyText(const QByteArray& key) {
    return "x'" + key.toHex().toUpper() + "'";
}
