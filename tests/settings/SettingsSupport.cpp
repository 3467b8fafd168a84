#include "SettingsSupport.h"

#include "notepad/UntNote.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamContext.h"
#include "settings/Config.h"
#include "settings/Pass.h"
#include "settings/UntConfig.h"
#include "settings/UntPassHash.h"
#include "shell/Main.h"
#include "ui_Pass.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QTest>

void Click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

TPromptAnswerer::TPromptAnswerer() {
    qApp->installEventFilter(this);
}

TPromptAnswerer::~TPromptAnswerer() {
    qApp->removeEventFilter(this);
}

TPromptAnswerer& TPromptAnswerer::Then(Action action) {
    script_.push_back(std::move(action));
    return *this;
}

TPromptAnswerer& TPromptAnswerer::Typing(std::vector<QString> attempts) {
    return Then([this, attempts](TFormPass* prompt) {
        for (const QString& attempt : attempts) {
            Retype(prompt->ui()->edtPass, attempt);
            Click(prompt->btnOK());
            stayedOpen_.push_back(prompt->isVisible() && prompt->ui()->edtPass->text() == attempt);
        }
    });
}

TPromptAnswerer& TPromptAnswerer::Cancelling() {
    return Then([](TFormPass* prompt) { Click(prompt->btnCancel()); });
}

bool TPromptAnswerer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show)
        if (auto* prompt = qobject_cast<TFormPass*>(watched)) {
            captions_ << prompt->windowTitle();
            Action action;
            if (script_.empty()) {
                ++unexpected_;
            } else {
                action = std::move(script_.front());
                script_.pop_front();
            }
            // Acts from inside the prompt's own loop.
            QPointer<TFormPass> guarded(prompt);
            QTimer::singleShot(0, prompt, [guarded, action] {
                if (action)
                    action(guarded);
                if (guarded && guarded->isVisible())
                    guarded->reject();
            });
        }
    return false;
}

void SettingsTest::SetUp() {
    DbTest::SetUp();
    if (HasFatalFailure())
        return;
    singles_ = MakeTestSingles();
}

void SettingsTest::TearDown() {
    main_.reset();
    singles_.reset();
    DbTest::TearDown();
}

TFormMain* SettingsTest::Start() {
    main_.reset();
    main_ = std::make_unique<TFormMain>();
    main_->show();
    QTest::qWait(1);
    return main_.get();
}

TFormMain* SettingsTest::StartWith(const QString& password) {
    TPromptAnswerer login;
    login.Typing({password});
    Start();
    EXPECT_EQ(login.Captions(), QStringList{QStringLiteral("先输入密码登录软件")});
    EXPECT_FALSE(main_->LoginRefused());
    return main_.get();
}

void SettingsTest::Store(bool on, const QString& password) {
    ConfigData->bPass = on;
    ConfigData->PassWord = HashPassword(password);
    ConfigData->Save();
}

SettingsTest::Row SettingsTest::ReadRow() {
    DbAccess->OpenQuery(QStringLiteral("select bPass, PassWord from SysSet"));
    TCursor& cursor = DbAccess->MainCursor;
    cursor.First();
    EXPECT_EQ(cursor.RecordCount(), 1);
    return {cursor.AsInteger(0), cursor.AsString(1)};
}

void SettingsTest::OpenSettings(const std::function<void(TFormConfig*)>& steps) {
    if (!main_)
        Start();
    WhenModal<TFormConfig>(steps);
    QAction* command =
        Child<QMenu>(main_.get(), "pmSystem")->findChild<QAction*>(QStringLiteral("N15"));
    ASSERT_NE(command, nullptr);
    command->trigger();
}

bool SettingsTest::BoxShown(const QString& text) const {
    for (const auto& box : boxes_->Boxes())
        if (box.text == text)
            return true;
    return false;
}
