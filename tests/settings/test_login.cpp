// The password prompt and the login at start.
#include "SettingsSupport.h"

#include "settings/Pass.h"
#include "settings/UntConfig.h"
#include "settings/UntPassHash.h"
#include "shell/Main.h"
#include "shell/ShowAlam.h"
#include "storage/UntDbAccess.h"
#include "ui_Pass.h"
#include "ui_ShowAlam.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

class PassDialogTest : public SettingsTest {};

TEST_F(PassDialogTest, StandsAloneInTheMiddleOfTheScreenWithAMaskedField) {
    Start();
    TPromptAnswerer prompts;
    prompts.Then([](TFormPass* prompt) {
        EXPECT_EQ(prompt->parentWidget(), nullptr);
        EXPECT_EQ(prompt->windowTitle(), QStringLiteral("请输入密码"));
        EXPECT_EQ(prompt->size(), QSize(300, 160));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_LE((prompt->geometry().center() - screen.center()).manhattanLength(), 2);
        EXPECT_EQ(prompt->ui()->Label1->text(), QStringLiteral("输入密码"));
        EXPECT_EQ(prompt->ui()->edtPass->echoMode(), QLineEdit::Password);
        EXPECT_EQ(prompt->focusWidget(), prompt->ui()->edtPass);
        EXPECT_TRUE(prompt->btnOK()->isDefault());
        Click(prompt->btnCancel());
    });
    EXPECT_EQ(AskPassword(HashPassword("pw"), QString()), mrCancel);
    EXPECT_EQ(prompts.Captions(), QStringList{QStringLiteral("请输入密码")});
}

TEST_F(PassDialogTest, OnlyTheExactPasswordConfirmsAndEveryWayOutGivesUp) {
    const QString stored = HashPassword(QStringLiteral(" Pw "));
    TPromptAnswerer prompts;
    prompts.Typing({QStringLiteral("Pw"), QStringLiteral(" pw "), QStringLiteral(" Pw ")})
        .Then([](TFormPass* prompt) { QTest::keyClick(prompt, Qt::Key_Escape); })
        .Then([](TFormPass* prompt) { prompt->close(); })
        .Cancelling();
    EXPECT_EQ(AskPassword(stored, QStringLiteral("标题")), mrOk);
    EXPECT_EQ(boxes_->Count(), 2);
    EXPECT_EQ(prompts.StayedOpen(), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(AskPassword(stored, QString()), mrCancel);
    EXPECT_EQ(AskPassword(stored, QString()), mrCancel);
    EXPECT_EQ(AskPassword(stored, QString()), mrCancel);
    EXPECT_EQ(prompts.Captions(),
              (QStringList{QStringLiteral("标题"), QStringLiteral("请输入密码"),
                           QStringLiteral("请输入密码"), QStringLiteral("请输入密码")}));
    EXPECT_EQ(prompts.Unexpected(), 0);
    EXPECT_EQ(boxes_->Count(), 2); // giving up shows nothing
}

class LoginTest : public SettingsTest {};

TEST_F(LoginTest, NoPasswordMeansNoPrompt) {
    TPromptAnswerer prompts;
    Start();
    EXPECT_TRUE(prompts.Captions().isEmpty());
    EXPECT_FALSE(main_->LoginRefused());
    EXPECT_EQ(ConfigData->SqlText, QStringLiteral("select * from SysSet"));
}

TEST_F(LoginTest, WrongEntriesAreRefusedUntilTheRightOneIsTyped) {
    Store(true, QStringLiteral("Secret"));
    TPromptAnswerer prompts;
    prompts.Typing(
        {QStringLiteral("secret"), QString(), QStringLiteral("Secret "), QStringLiteral("Secret")});
    Start();
    EXPECT_EQ(prompts.Captions(), QStringList{QStringLiteral("先输入密码登录软件")});
    EXPECT_EQ(prompts.StayedOpen(), (std::vector<bool>{true, true, true, false}));
    ASSERT_EQ(boxes_->Count(), 3);
    for (const auto& box : boxes_->Boxes()) {
        EXPECT_EQ(box.kind, BoxKind::Error);
        EXPECT_EQ(box.caption, QStringLiteral("错误"));
        EXPECT_EQ(box.text, QStringLiteral("密码输入错误!"));
    }
    EXPECT_FALSE(main_->LoginRefused());
    main_->close(); // the exit question is asked as usual
    EXPECT_TRUE(BoxShown(QStringLiteral("确定要退出程序吗？")));
}

TEST_F(LoginTest, GivingUpEndsTheProgramWithoutTheExitQuestionOrCompaction) {
    Store(true, QStringLiteral("pw"));
    TPromptAnswerer prompts;
    prompts.Typing({QStringLiteral("nope")});
    Start();
    EXPECT_EQ(prompts.Captions(), QStringList{QStringLiteral("先输入密码登录软件")});
    EXPECT_TRUE(main_->LoginRefused());
    EXPECT_EQ(boxes_->Count(), 1); // the wrong entry

    // A box shown before the main loop starts runs a loop of its own first.
    QTest::qWait(150);
    boxes_->AnswerYes(3); // a wrongly asked exit question would let the window close
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    EXPECT_EQ(QApplication::exec(), 0) << "the main loop did not end by itself";
    EXPECT_FALSE(main_->isVisible());
    main_.reset();
    EXPECT_FALSE(BoxShown(QStringLiteral("确定要退出程序吗？")));
    EXPECT_EQ(boxes_->Count(), 1);
    // Closing the window disconnects before it compacts.
    EXPECT_TRUE(DbAccess->Connection.IsOpen());
}

TEST_F(LoginTest, UnreadableSettingsEndTheProgramAfterSayingWhy) {
    ExecSql(QStringLiteral("drop table SysSet"));
    TPromptAnswerer prompts;
    Start();
    EXPECT_TRUE(main_->LoginRefused());
    EXPECT_TRUE(prompts.Captions().isEmpty());
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].caption, QStringLiteral("错误"));
    boxes_->AnswerYes(3);
    main_->close();
    EXPECT_FALSE(BoxShown(QStringLiteral("确定要退出程序吗？")));
    EXPECT_TRUE(DbAccess->Connection.IsOpen());
}

TEST_F(LoginTest, AReminderDueWhileThePromptIsOpenStillShowsItsAlert) {
    TPinnedClock clock(At("2026-12-07 09:59:58"));
    Store(true, QStringLiteral("pw"));
    ExecSql("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark)  "
            "values(10,0,1,0,'2026-12-07','登录时到期') ");
    QStringList shown;
    TPromptAnswerer prompts;
    prompts.Then([&](TFormPass* prompt) {
        clock.Set(At("2026-12-07 10:00:00"));
        // The main window's own timer keeps ticking under the prompt.
        WaitFor([] { return !OpenAlerts().isEmpty(); }, 3000);
        for (TFormShowAlam* alert : OpenAlerts())
            shown << alert->ui()->mmo1->toPlainText();
        Retype(prompt->ui()->edtPass, QStringLiteral("pw"));
        Click(prompt->btnOK());
    });
    Start();
    EXPECT_EQ(shown, QStringList({"登录时到期"}));
    EXPECT_FALSE(main_->LoginRefused());
    for (TFormShowAlam* alert : OpenAlerts())
        alert->btnOkSaveClick();
}
