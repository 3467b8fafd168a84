// "软件设置": turning the login password on, changing it and turning it off.
#include "SettingsSupport.h"

#include "settings/Config.h"
#include "settings/UntConfig.h"
#include "settings/UntPassHash.h"
#include "shell/Main.h"
#include "storage/UntDbAccess.h"
#include "ui_Config.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class ConfigDialogTest : public SettingsTest {
protected:
    // Fills both fields and presses OK.
    static void Confirm(TFormConfig* dialog, const QString& pass, const QString& again) {
        Retype(dialog->ui()->edtPass, pass);
        Retype(dialog->ui()->edtRePass, again);
        Click(dialog->btnOK());
    }
};

TEST_F(ConfigDialogTest, OpensFromTheMenuOverTheMainWindow) {
    Start();
    bool opened = false;
    OpenSettings([&](TFormConfig* dialog) {
        opened = true;
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("软件设置"));
        EXPECT_EQ(dialog->size(), QSize(290, 231));
        EXPECT_LE((dialog->geometry().center() - main_->geometry().center()).manhattanLength(), 2);
        EXPECT_EQ(dialog->ui()->chkPass->text(), QStringLiteral("登录需输入密码"));
        EXPECT_EQ(dialog->ui()->Label1->text(), QStringLiteral("密码"));
        EXPECT_EQ(dialog->ui()->Label2->text(), QStringLiteral("再输入次"));
        EXPECT_EQ(dialog->ui()->edtPass->echoMode(), QLineEdit::Password);
        EXPECT_EQ(dialog->ui()->edtRePass->echoMode(), QLineEdit::Password);
        // No password: box clear, both fields usable and empty.
        EXPECT_FALSE(dialog->ui()->chkPass->isChecked());
        EXPECT_TRUE(dialog->ui()->edtPass->isEnabled());
        EXPECT_EQ(dialog->ui()->edtPass->text(), QString());
        EXPECT_EQ(dialog->focusWidget(), dialog->ui()->chkPass);
        Click(dialog->btnCancel());
    });
    EXPECT_TRUE(opened);
}

TEST_F(ConfigDialogTest, TurningOnAsksNoOldPasswordAndTheNextStartAsksForIt) {
    TPromptAnswerer prompts;
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        Confirm(dialog, QStringLiteral("Secret 1"), QStringLiteral("Secret 1"));
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_TRUE(prompts.Captions().isEmpty());
    EXPECT_EQ(boxes_->Count(), 0);
    EXPECT_TRUE(ConfigData->bPass);
    EXPECT_EQ(ReadRow().bPass, -1);
    EXPECT_TRUE(VerifyPassword(QStringLiteral("Secret 1"), ReadRow().PassWord));

    prompts.Typing({QStringLiteral("Secret 1")});
    Start();
    EXPECT_EQ(prompts.Captions(), QStringList{QStringLiteral("先输入密码登录软件")});
    EXPECT_FALSE(main_->LoginRefused());
}

TEST_F(ConfigDialogTest, ConfirmingUntouchedAsksNothingAndKeepsTheStoredPassword) {
    Store(true, QStringLiteral("pw"));
    const QString stored = ReadRow().PassWord;
    TPromptAnswerer prompts;
    prompts.Typing({QStringLiteral("pw")});
    Start();
    OpenSettings([&](TFormConfig* dialog) {
        EXPECT_TRUE(dialog->ui()->chkPass->isChecked());
        for (QLineEdit* edit : {dialog->ui()->edtPass, dialog->ui()->edtRePass}) {
            EXPECT_TRUE(edit->isEnabled());
            EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
            // Something stands for the password, but never the stored text.
            EXPECT_FALSE(edit->text().isEmpty());
            EXPECT_FALSE(stored.contains(edit->text()));
            EXPECT_FALSE(edit->text().contains(QStringLiteral("pbkdf2")));
            EXPECT_FALSE(edit->text().contains(QStringLiteral("pw")));
        }
        Click(dialog->btnOK());
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(prompts.Captions().size(), 1); // only the login
    EXPECT_EQ(boxes_->Count(), 0);
    EXPECT_EQ(ConfigData->SqlText,
              QStringLiteral("update SysSet set bPass='-1',[PassWord]='%1' ").arg(stored));
    EXPECT_EQ(ReadRow().PassWord, stored);
}

TEST_F(ConfigDialogTest, ChangingAsksForTheOldPasswordAndGivingUpChangesNothing) {
    Store(true, QStringLiteral("old"));
    const QString stored = ReadRow().PassWord;
    StartWith(QStringLiteral("old"));
    TPromptAnswerer prompts;
    prompts.Cancelling().Typing({QStringLiteral("wrong"), QStringLiteral("old")});
    OpenSettings([&](TFormConfig* dialog) {
        Confirm(dialog, QStringLiteral("new"), QStringLiteral("new"));
        // Gave up at the prompt: still open, nothing said, nothing saved.
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(boxes_->Count(), 0);
        EXPECT_EQ(ReadRow().PassWord, stored);
        EXPECT_EQ(ConfigData->PassWord, stored);
        Click(dialog->btnOK());
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(prompts.Captions(),
              (QStringList{QStringLiteral("请先输入旧密码"), QStringLiteral("请先输入旧密码")}));
    EXPECT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("密码输入错误!"));
    const Row row = ReadRow();
    EXPECT_EQ(row.bPass, -1);
    EXPECT_TRUE(VerifyPassword(QStringLiteral("new"), row.PassWord));
    EXPECT_FALSE(VerifyPassword(QStringLiteral("old"), row.PassWord));
}

TEST_F(ConfigDialogTest, TypingTheSamePasswordAgainIsNoChange) {
    Store(true, QStringLiteral("same"));
    StartWith(QStringLiteral("same"));
    TPromptAnswerer prompts;
    OpenSettings([&](TFormConfig* dialog) {
        // Typing into the stand-in starts a new text rather than extending it.
        dialog->ui()->edtPass->end(false);
        QTest::sendKeyEvent(QTest::Click, dialog->ui()->edtPass, Qt::Key_unknown, "s",
                            Qt::NoModifier);
        EXPECT_EQ(dialog->ui()->edtPass->text(), QStringLiteral("s"));
        Retype(dialog->ui()->edtPass, QStringLiteral("same"));
        // The other field still stands for the stored password, which is the same.
        Click(dialog->btnOK());
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_TRUE(prompts.Captions().isEmpty());
    EXPECT_TRUE(VerifyPassword(QStringLiteral("same"), ReadRow().PassWord));
}

TEST_F(ConfigDialogTest, TurningOffAsksForThePasswordThenClearsIt) {
    Store(true, QStringLiteral("pw"));
    const QString stored = ReadRow().PassWord;
    StartWith(QStringLiteral("pw"));
    TPromptAnswerer prompts;
    prompts.Cancelling().Typing({QStringLiteral("pw")});
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        EXPECT_FALSE(dialog->ui()->edtPass->isEnabled());
        EXPECT_FALSE(dialog->ui()->edtRePass->isEnabled());
        EXPECT_EQ(dialog->ui()->edtPass->text(), QString());
        EXPECT_EQ(dialog->ui()->edtRePass->text(), QString());
        Click(dialog->btnOK());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(ReadRow().PassWord, stored);
        EXPECT_TRUE(ConfigData->bPass);
        Click(dialog->btnOK());
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(prompts.Captions(), (QStringList{QStringLiteral("请先输入密码才可以取消登录密码"),
                                               QStringLiteral("请先输入密码才可以取消登录密码")}));
    EXPECT_EQ(ConfigData->SqlText, QStringLiteral("update SysSet set bPass='0',[PassWord]='' "));
    EXPECT_EQ(ReadRow().bPass, 0);
    EXPECT_EQ(ReadRow().PassWord, QString());
    EXPECT_EQ(boxes_->Count(), 0);

    // Ticking again brings back an empty password and no old one is asked for.
    prompts.Typing({});
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        EXPECT_TRUE(dialog->ui()->edtPass->isEnabled());
        EXPECT_EQ(dialog->ui()->edtPass->text(), QString());
        Confirm(dialog, QStringLiteral("again"), QStringLiteral("again"));
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(prompts.Captions().size(), 2);
    EXPECT_TRUE(VerifyPassword(QStringLiteral("again"), ReadRow().PassWord));
}

TEST_F(ConfigDialogTest, BlankAndMismatchedPasswordsAreRefused) {
    Start();
    TPromptAnswerer prompts;
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        Confirm(dialog, QStringLiteral("   "), QStringLiteral("   "));
        EXPECT_EQ(boxes_->LastText(), QStringLiteral("密码不能为空!"));
        EXPECT_EQ(dialog->focusWidget(), dialog->ui()->edtPass);
        Confirm(dialog, QStringLiteral("\t \n"), QStringLiteral("\t \n"));
        EXPECT_EQ(boxes_->Count(), 2);
        EXPECT_EQ(boxes_->LastText(), QStringLiteral("密码不能为空!"));

        Confirm(dialog, QStringLiteral("Secret"), QStringLiteral("secret"));
        EXPECT_EQ(boxes_->LastText(), QStringLiteral("两次输入的密码不一样,请重新输入!"));
        dialog->ui()->edtRePass->setFocus();
        Confirm(dialog, QStringLiteral("Secret"), QStringLiteral("Secret "));
        EXPECT_EQ(boxes_->Count(), 4);
        EXPECT_EQ(boxes_->LastText(), QStringLiteral("两次输入的密码不一样,请重新输入!"));
        EXPECT_EQ(dialog->focusWidget(), dialog->ui()->edtPass);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(ReadRow().bPass, 0);
    });
    EXPECT_EQ(ReadRow().bPass, 0);
    EXPECT_EQ(ReadRow().PassWord, QString());
    EXPECT_FALSE(ConfigData->bPass);
    EXPECT_TRUE(prompts.Captions().isEmpty());
}

TEST_F(ConfigDialogTest, SpacesAroundThePasswordAreKeptAndMustBeTyped) {
    Start();
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        Confirm(dialog, QStringLiteral("  a b "), QStringLiteral("  a b "));
    });
    EXPECT_EQ(boxes_->Count(), 0);
    EXPECT_TRUE(VerifyPassword(QStringLiteral("  a b "), ReadRow().PassWord));

    TPromptAnswerer prompts;
    prompts.Typing({QStringLiteral("a b"), QStringLiteral("  a b")})
        .Typing({QStringLiteral("  a b ")});
    Start();
    EXPECT_TRUE(main_->LoginRefused());
    main_.reset();
    Start();
    EXPECT_FALSE(main_->LoginRefused());
    EXPECT_EQ(boxes_->Count(), 2);
}

TEST_F(ConfigDialogTest, TheDatabaseNeverHoldsTheTypedPassword) {
    const QString password = QStringLiteral("it's@#@Tr4ce密码");
    Start();
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        Confirm(dialog, password, password);
    });
    EXPECT_EQ(boxes_->Count(), 0) << boxes_->LastText().toStdString();
    const Row row = ReadRow();
    EXPECT_EQ(row.bPass, -1);
    EXPECT_TRUE(row.PassWord.startsWith(QStringLiteral("pbkdf2-sha256$")));
    for (const QString& trace : {QStringLiteral("Tr4ce"), QStringLiteral("密码"),
                                 QStringLiteral("it's"), QStringLiteral("@#@")})
        EXPECT_FALSE(row.PassWord.contains(trace)) << trace.toStdString();
    // Nothing else in the file holds it either.
    const QString dump = Sqlcipher(DataPath(), SqlcipherUnlock + ".dump\n");
    EXPECT_TRUE(dump.contains(QStringLiteral("SysSet"))) << dump.toStdString();
    EXPECT_FALSE(dump.contains(QStringLiteral("Tr4ce")));

    // The quote and the separator neither broke the statement nor the next login.
    TPromptAnswerer prompts;
    prompts.Typing({QStringLiteral("it's"), password});
    Start();
    EXPECT_FALSE(main_->LoginRefused());
    EXPECT_EQ(boxes_->Count(), 1);
}

// The data file encrypted with the login password: asked to be sure first, then for the
// password (the stored one is a hash); from then on the program's own key no longer opens it,
// a changed password re-keys it, and turning the password off gives the file its key back.
TEST_F(ConfigDialogTest, EncryptingWithThePasswordAsksFirstAndTheKeyFollowsThePassword) {
    Store(true, QStringLiteral("pw"));
    StartWith(QStringLiteral("pw"));
    ExecSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values (0,'只给自己看的笔记')"));
    TPromptAnswerer prompts;
    boxes_->AnswerNo();
    OpenSettings([&](TFormConfig* dialog) {
        EXPECT_EQ(dialog->ui()->chkEncrypt->text(), QStringLiteral("用登录密码加密数据文件"));
        EXPECT_FALSE(dialog->ui()->chkEncrypt->isChecked());
        dialog->ui()->chkEncrypt->click();
        Click(dialog->btnOK()); // not sure yet: nothing happens
        EXPECT_TRUE(dialog->isVisible());
        boxes_->AnswerYes();
        prompts.Typing({QStringLiteral("pw")});
        Click(dialog->btnOK());
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_TRUE(
        boxes_->Boxes()[0].text.contains(QStringLiteral("忘记登录密码就再也打不开数据文件")));
    EXPECT_EQ(prompts.Captions(), QStringList{QStringLiteral("输入登录密码以加密数据")});
    EXPECT_TRUE(TDbAccess::RefusesKey(DataPath(), DatabaseKey));
    EXPECT_FALSE(TDbAccess::RefusesKey(DataPath(), QStringLiteral("pw")));
    EXPECT_EQ(ReadRows("select ReMark from NoteBook where TypeID=0").value(0).value(0),
              QStringLiteral("只给自己看的笔记"));

    prompts.Typing({QStringLiteral("pw")}); // the old one
    OpenSettings([&](TFormConfig* dialog) {
        EXPECT_TRUE(dialog->ui()->chkEncrypt->isChecked());
        Confirm(dialog, QStringLiteral("新密码"), QStringLiteral("新密码"));
    });
    EXPECT_TRUE(TDbAccess::RefusesKey(DataPath(), QStringLiteral("pw")));
    EXPECT_FALSE(TDbAccess::RefusesKey(DataPath(), QStringLiteral("新密码")));

    prompts.Typing({QStringLiteral("新密码")});
    OpenSettings([&](TFormConfig* dialog) {
        dialog->ui()->chkPass->click();
        EXPECT_FALSE(dialog->ui()->chkEncrypt->isChecked());
        Click(dialog->btnOK());
    });
    EXPECT_FALSE(TDbAccess::RefusesKey(DataPath(), DatabaseKey));
    EXPECT_FALSE(DbAccess->KeyIsPassword());
}
