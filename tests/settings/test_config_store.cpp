// The settings record and the stored form of the password.
#include "SettingsSupport.h"

#include "settings/UntConfig.h"
#include "settings/UntPassHash.h"
#include "storage/UntDbAccess.h"

TEST(PassHash, IsSaltedSelfDescribingAndMatchesOnlyTheExactText) {
    const QString password = QStringLiteral(" Geheim 密码 ");
    const QString stored = HashPassword(password);
    const QStringList parts = stored.split('$');
    ASSERT_EQ(parts.size(), 4) << stored.toStdString();
    EXPECT_EQ(parts[0], QStringLiteral("pbkdf2-sha256"));
    EXPECT_EQ(parts[1].toInt(), PassHashIterations);
    EXPECT_EQ(QByteArray::fromBase64(parts[2].toLatin1()).size(), 16);
    EXPECT_EQ(QByteArray::fromBase64(parts[3].toLatin1()).size(), 32);
    EXPECT_FALSE(stored.contains(QStringLiteral("Geheim")));
    EXPECT_FALSE(stored.contains(QStringLiteral("密码")));

    EXPECT_NE(HashPassword(password), stored); // a fresh salt every time
    EXPECT_TRUE(VerifyPassword(password, stored));
    EXPECT_FALSE(VerifyPassword(password.trimmed(), stored));
    EXPECT_FALSE(VerifyPassword(QStringLiteral(" geheim 密码 "), stored));
    EXPECT_FALSE(VerifyPassword(QString(), stored));
}

TEST(PassHash, EmptyStaysEmptyAndMalformedTextMatchesNothing) {
    EXPECT_EQ(HashPassword(QString()), QString());
    EXPECT_TRUE(VerifyPassword(QString(), QString()));
    EXPECT_FALSE(VerifyPassword(QStringLiteral("x"), QString()));

    const QString good = HashPassword(QStringLiteral("pw"));
    QStringList parts = good.split('$');
    // The password as plain text is not a stored form.
    EXPECT_FALSE(VerifyPassword(QStringLiteral("pw"), QStringLiteral("pw")));
    for (const QString& bad :
         {QStringLiteral("sha1$1$") + parts[2] + '$' + parts[3],
          QStringLiteral("pbkdf2-sha256$0$") + parts[2] + '$' + parts[3],
          QStringLiteral("pbkdf2-sha256$999999999$") + parts[2] + '$' + parts[3],
          QStringLiteral("pbkdf2-sha256$1000$!!$") + parts[3],
          QStringLiteral("pbkdf2-sha256$1000$") + parts[2] + QStringLiteral("$"),
          parts.mid(0, 3).join('$')})
        EXPECT_FALSE(VerifyPassword(QStringLiteral("pw"), bad)) << bad.toStdString();
    // The iteration count travels with the hash.
    parts[1] = QStringLiteral("1000");
    EXPECT_FALSE(VerifyPassword(QStringLiteral("pw"), parts.join('$')));
}

class ConfigStoreTest : public SettingsTest {};

TEST_F(ConfigStoreTest, LoadAndSaveUseTheRowAndTheirStatements) {
    TConfig config;
    config.Load();
    EXPECT_EQ(config.SqlText, QStringLiteral("select * from SysSet"));
    EXPECT_FALSE(config.bPass);
    EXPECT_EQ(config.PassWord, QString());

    config.bPass = true;
    config.PassWord = QStringLiteral("it's@#@x");
    config.Save();
    EXPECT_EQ(config.SqlText,
              QStringLiteral("update SysSet set bPass='-1',[PassWord]='it''s@#@x' "));
    EXPECT_EQ(ReadRow().bPass, -1);
    EXPECT_EQ(ReadRow().PassWord, QStringLiteral("it's@#@x"));

    TConfig again;
    again.Load();
    EXPECT_TRUE(again.bPass);
    EXPECT_EQ(again.PassWord, QStringLiteral("it's@#@x"));

    again.bPass = false;
    again.PassWord.clear();
    again.Save();
    EXPECT_EQ(again.SqlText, QStringLiteral("update SysSet set bPass='0',[PassWord]='' "));
    config.Load();
    EXPECT_FALSE(config.bPass);
    EXPECT_EQ(config.PassWord, QString());
}

TEST_F(ConfigStoreTest, AnEmptyTableStaysEmptyAndReadsAsNoPassword) {
    ExecSql(QStringLiteral("delete from SysSet"));
    TConfig config;
    config.bPass = true;
    config.PassWord = QStringLiteral("x");
    config.Save();
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(*) from SysSet")), 0);
    config.Load();
    EXPECT_FALSE(config.bPass);
    EXPECT_EQ(config.PassWord, QString());
}
