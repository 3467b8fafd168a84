// The main window's settings menu command and its login gate.
#include "Main.h"

#include "ShowAlam.h"
#include "settings/Config.h"
#include "settings/Pass.h"
#include "settings/UntConfig.h"

#include <QCoreApplication>

void TFormMain::N15Click() {
    ShowConfigDialog();
}

void TFormMain::LoginGate() {
    try {
        ConfigData->Load();
    } catch (...) {
        // Settings that cannot be read cannot say that no password is needed.
        RefuseLogin();
        throw;
    }
    if (ConfigData->bPass &&
        AskPassword(ConfigData->PassWord, QStringLiteral("先输入密码登录软件")) != mrOk)
        RefuseLogin();
}

void TFormMain::RefuseLogin() {
    if (loginRefused_)
        return;
    loginRefused_ = true;
    // Ending this way is not closing the window: no exit question and no compaction.
    closing_ = true;
    // quit() does nothing until the main loop runs, and this runs before it starts; a box
    // shown meanwhile runs a loop of its own that would swallow a single queued request.
    // So keep asking until the main loop has ended.
    tmrQuit_.setInterval(0);
    connect(&tmrQuit_, &QTimer::timeout, this, [this] {
        tmrQuit_.setInterval(100);
        // Open alerts refuse to close unless the program closes them itself.
        DismissAllAlerts();
        QCoreApplication::quit();
    });
    tmrQuit_.start();
}
