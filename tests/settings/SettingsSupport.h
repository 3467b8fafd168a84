// Helpers for driving the settings and password dialogs.
#pragma once

#include "TestSupport.h"
#include "shell/Main.h"

#include <QApplication>
#include <QDialog>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

class QLineEdit;
class TFormPass;

// Clicks a button with the mouse (through the application object, like a user's click).
void Click(QWidget* button);

// Answers the password prompts that open while it is alive, in the order they open, each with
// its own action; a prompt beyond the script is cancelled and counted as unexpected.
class TPromptAnswerer : public QObject {
public:
    using Action = std::function<void(TFormPass*)>;
    TPromptAnswerer();
    ~TPromptAnswerer() override;

    // Types each attempt and presses OK after it; gives up with Cancel when still open.
    TPromptAnswerer& Typing(std::vector<QString> attempts);
    TPromptAnswerer& Cancelling();
    TPromptAnswerer& Then(Action action);

    const QStringList& Captions() const { return captions_; }
    int Unexpected() const { return unexpected_; }
    // For every attempt typed: whether the prompt was still open with the attempt in its field.
    const std::vector<bool>& StayedOpen() const { return stayedOpen_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::deque<Action> script_;
    QStringList captions_;
    int unexpected_ = 0;
    std::vector<bool> stayedOpen_;
};

// DbTest plus the program's single objects; Start() makes a new main window and shows it,
// which runs the login gate as a start of the program does.
class SettingsTest : public DbTest {
protected:
    void SetUp() override;
    void TearDown() override;
    TFormMain* Start();
    // A start at which the login password is typed.
    TFormMain* StartWith(const QString& password);
    // Stores the settings as the settings dialog would.
    void Store(bool on, const QString& password);
    struct Row {
        qint64 bPass;
        QString PassWord;
    };
    Row ReadRow();
    // Opens "软件设置" from the settings menu and runs steps while it is open.
    void OpenSettings(const std::function<void(class TFormConfig*)>& steps);
    bool BoxShown(const QString& text) const;

    std::unique_ptr<TFormMain> main_;

private:
    std::shared_ptr<TTestSingles> singles_;
};
