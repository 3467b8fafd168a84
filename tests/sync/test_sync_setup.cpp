#include "SyncTestSupport.h"

#include "sync/SyncSetup.h"
#include "sync/UntSyncEngine.h"
#include "sync/UntSyncPassword.h"
#include "ui_SyncSetup.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

class SyncSetupTest : public DbTest {
protected:
    static QString StoredUrl() {
        TSyncSettings s;
        s.Load(*DbAccess);
        return s.ServerUrl;
    }
    // The try that OK starts before it keeps an untried account has answered.
    static bool Tried(TFormSyncSetup& dlg) {
        return WaitFor([&] { return dlg.btnOK()->isEnabled(); });
    }
};

// By keyboard as a new user types: an address never tried is tried first, "abc" is not kept
// as https://abc without a word, and a server that answers is kept once it has.
TEST_F(SyncSetupTest, EnterTriesANewAddressFirstAndKeepsItOnlyOnceTheServerAnswers) {
    TSyncEngine engine(*DbAccess);
    TFormSyncSetup dlg(*DbAccess, engine);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QLineEdit* server = dlg.ui()->edtServer;
    ASSERT_TRUE(server->hasFocus());
    QTest::keyClicks(server, "abc");
    QTest::keyClick(server, Qt::Key_Return);
    ASSERT_TRUE(Tried(dlg));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.ui()->lblTest->text().contains("“abc”")) << dlg.ui()->lblTest->text();
    EXPECT_TRUE(dlg.ui()->lblTest->text().contains("设置没有保存"));
    EXPECT_EQ(StoredUrl(), QString());

    TRadicale& radicale = TRadicale::Shared();
    const QString user = radicale.AddUser();
    server->selectAll();
    QTest::keyClicks(server, radicale.Url());
    QTest::keyClicks(dlg.ui()->edtUser, user);
    QTest::keyClicks(dlg.ui()->edtPass, user + "-pw");
    QTest::keyClick(dlg.ui()->edtPass, Qt::Key_Return);
    EXPECT_EQ(dlg.ui()->lblTest->text(), QStringLiteral("正在连接…"));
    EXPECT_EQ(StoredUrl(), QString()) << "not before the server has answered";
    ASSERT_TRUE(WaitFor([&] { return dlg.result() == QDialog::Accepted; }, 30000))
        << dlg.ui()->lblTest->text();
    EXPECT_EQ(StoredUrl(), radicale.Url());
}

TEST_F(SyncSetupTest, PlainHttpToAnotherHostOnlyAfterTheWarningAddressGetsHttpsPasswordIsKept) {
    TSyncEngine engine(*DbAccess);
    {
        TFormSyncSetup dlg(*DbAccess, engine);
        dlg.ui()->edtServer->setText("http://dav.example.org/");
        dlg.ui()->edtUser->setText("me");
        dlg.ui()->edtPass->setText("secret 'pw'");
        dlg.ui()->chkEnabled->setChecked(true);
        dlg.ui()->lblTest->setText("以前的结果");
        dlg.ui()->edtServer->setText("http://");
        dlg.btnOK()->click(); // no host: said where the test's result shows, without a box
        EXPECT_EQ(dlg.ui()->lblTest->text(), QStringLiteral("服务器地址无效！"));
        EXPECT_EQ(boxes_->Count(), 0);
        dlg.ui()->edtServer->setText("http://dav.example.org/");
        dlg.btnOK()->click(); // the warning is answered No
        ASSERT_EQ(boxes_->Count(), 1);
        EXPECT_TRUE(boxes_->LastText().contains("明文"));
        TSyncSettings unchanged;
        unchanged.Load(*DbAccess);
        EXPECT_TRUE(unchanged.ServerUrl.isEmpty());

        dlg.ui()->edtServer->setText("dav.example.org/cal");
        dlg.ui()->edtInterval->setValue(15);
        dlg.btnOK()->click(); // tried first: no such server
        ASSERT_TRUE(Tried(dlg));
        EXPECT_EQ(StoredUrl(), QString());
        boxes_->AnswerYes();  // keep the password in the data file, when no keyring can
        dlg.btnOK()->click(); // told, the user keeps it all the same
        EXPECT_EQ(boxes_->Count(), KeyringAvailable() ? 1 : 2);
    }
    ASSERT_TRUE(WaitFor([] {
        TSyncSettings s;
        s.Load(*DbAccess);
        return !s.ServerUrl.isEmpty();
    }));
    TSyncSettings s;
    s.Load(*DbAccess);
    EXPECT_EQ(s.ServerUrl, "https://dav.example.org/cal");
    EXPECT_EQ(s.UserName, "me");
    EXPECT_EQ(s.Interval, 15);
    EXPECT_TRUE(s.Enabled);
    EXPECT_FALSE(s.PlainHttp);
    if (!KeyringAvailable()) {
        EXPECT_EQ(s.PassWord, "secret 'pw'");
    }
    // A loopback address needs no warning.
    TFormSyncSetup again(*DbAccess, engine);
    again.ui()->edtServer->setText("http://127.0.0.1:5232/");
    TSyncSettings read;
    QString password;
    EXPECT_TRUE(again.ReadInput(read, password));
    EXPECT_EQ(boxes_->Count(), KeyringAvailable() ? 1 : 2);
    EXPECT_EQ(password, s.PassWord.isEmpty() ? QString() : "secret 'pw'");
}

TEST_F(SyncSetupTest, StoredSettingsAreAnnouncedAndALateAnswerSparesAGoneEngine) {
    auto engine = std::make_unique<TSyncEngine>(*DbAccess);
    QSignalSpy reconfigured(engine.get(), &TSyncEngine::Reconfigured);
    auto confirm = [&](const QString& password) {
        TFormSyncSetup dlg(*DbAccess, *engine);
        dlg.ui()->edtServer->setText("https://dav.example.org/");
        dlg.ui()->edtUser->setText("me");
        dlg.ui()->edtPass->setText(password);
        dlg.btnOK()->click(); // tried first
        ASSERT_TRUE(Tried(dlg));
        dlg.btnOK()->click();
    };
    confirm("first");
    ASSERT_TRUE(WaitFor([&] { return reconfigured.count() == 1; }));
    // The answer of the second store arrives after its engine is gone (a crash under the
    // address sanitizer when the answer still reached it).
    confirm("second");
    engine.reset();
    QTest::qWait(300);
    TSyncSettings s;
    s.Load(*DbAccess);
    EXPECT_EQ(s.ServerUrl, "https://dav.example.org/");
}

} // namespace
