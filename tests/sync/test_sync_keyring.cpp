// The sync password in a real desktop keyring (GNOME's, on a private session bus), and in the
// data file when there is no keyring.
#include "SyncTestSupport.h"
#include "sync/SyncSetup.h"
#include "sync/UntSyncPassword.h"
#include "ui_SyncSetup.h"

#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

namespace {

// A session bus of its own with an unlocked keyring; the keyring leaves with its bus. One for
// the whole run: the desktop library ends the process when its session bus goes away.
class TKeyring {
public:
    static TKeyring& Shared() {
        static TKeyring keyring;
        return keyring;
    }

    TKeyring() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home_.path());
        env.insert("XDG_DATA_HOME", home_.path() + "/data");
        env.insert("XDG_RUNTIME_DIR", home_.path());
        bus_.setProcessEnvironment(env);
        bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!bus_.waitForReadyRead(10000))
            return;
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        QProcess daemon;
        daemon.setProcessEnvironment(env);
        daemon.start("gnome-keyring-daemon", {"--unlock", "--components=secrets"});
        // Creates the login keyring with this password, unlocked (an empty one makes none).
        daemon.write("unlock");
        daemon.closeWriteChannel();
        if (!daemon.waitForFinished(20000) || daemon.exitCode() != 0)
            return;
        // Its name on the bus comes a moment after the daemon returns.
        started_ = WaitFor(
            [&] {
                QProcess ping;
                ping.setProcessEnvironment(env);
                ping.start("dbus-send",
                           {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                            "/org/freedesktop/secrets", "org.freedesktop.DBus.Peer.Ping"});
                return ping.waitForFinished(5000) && ping.exitCode() == 0;
            },
            10000);
    }
    ~TKeyring() {
        bus_.kill();
        bus_.waitForFinished();
    }
    bool Started() const { return started_; }
    QString Address() const { return address_; }

private:
    QTemporaryDir home_;
    QProcess bus_;
    QString address_;
    bool started_ = false;
};

QStringList SyncRow(TMachine& m) {
    TCursor c;
    c.Open(m.Db().Connection, "select * from SyncSet");
    QStringList row;
    for (int i = 0; i < c.FieldCount(); ++i)
        row << c.AsString(i);
    return row;
}

void ConfirmSetup(TMachine& m, const QString& url, const QString& user, const QString& password) {
    QSignalSpy stored(&m.Engine(), &TSyncEngine::Reconfigured);
    {
        TFormSyncSetup dlg(m.Db(), m.Engine());
        dlg.ui()->edtServer->setText(url);
        dlg.ui()->edtUser->setText(user);
        dlg.ui()->edtPass->setText(password);
        dlg.ui()->chkEnabled->setChecked(true);
        dlg.btnOK()->click(); // kept once the server has answered
        ASSERT_TRUE(WaitFor([&] { return dlg.result() == QDialog::Accepted; }, 20000));
    }
    ASSERT_TRUE(WaitFor([&] { return stored.count() == 1; }, 20000));
}

} // namespace

TEST(SyncKeyring, PasswordLandsInTheKeyringNotTheFileAndAPassUsesIt) {
    TKeyring& keyring = TKeyring::Shared();
    ASSERT_TRUE(keyring.Started()) << "dbus-daemon and gnome-keyring-daemon are needed";
    qputenv("DBUS_SESSION_BUS_ADDRESS", keyring.Address().toUtf8());
    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    const QString password = user + "-pw";
    TMachine here(server.Url(), user);
    ConfirmSetup(here, server.Url(), user, password);

    TSyncSettings s;
    s.Load(here.Db());
    EXPECT_TRUE(s.InKeyring);
    EXPECT_FALSE(SyncRow(here).join('|').contains(password))
        << SyncRow(here).join('|').toStdString();

    // As after a restart: the engine knows only what the file and the keyring hold.
    here.Close();
    here.Reopen();
    QString message;
    EXPECT_FALSE(here.Sync(&message)) << "no password, no pass";
    bool read = false;
    QString fromKeyring;
    ReadSyncPassword(s, &here.Engine(), [&](bool ok, const QString& pw) {
        read = true;
        if (ok)
            fromKeyring = pw;
    });
    ASSERT_TRUE(WaitFor([&] { return read; }, 20000));
    EXPECT_EQ(fromKeyring, password);
    here.Engine().SetPassword(fromKeyring);
    EXPECT_TRUE(here.Sync(&message)) << message.toStdString();
}

// Without a keyring the user is told what keeping the password in the data file means and
// asked: no keeps it for this run only, yes keeps it in the file.
TEST(SyncKeyring, WithoutAKeyringThePasswordGoesIntoTheDataFileOnlyWhenTheUserSaysSo) {
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    TMachine here(server.Url(), user);
    here.Exec("update SyncSet set PassWord=''");
    TBoxRecorder boxes;
    boxes.AnswerNo();
    ConfirmSetup(here, server.Url(), user, user + "-pw");
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_TRUE(boxes.LastText().contains(QStringLiteral("能读取这个文件的人都能看到同步密码")))
        << boxes.LastText().toStdString();
    EXPECT_FALSE(SyncRow(here).join('|').contains(user + "-pw"));
    EXPECT_TRUE(here.Sync());

    boxes.AnswerYes();
    ConfirmSetup(here, server.Url(), user, user + "-pw");
    TSyncSettings s;
    s.Load(here.Db());
    EXPECT_FALSE(s.InKeyring);
    EXPECT_TRUE(SyncRow(here).contains(user + "-pw"));
    here.Close();
    here.Reopen();
    EXPECT_TRUE(here.Sync());
}
