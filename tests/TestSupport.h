#pragma once

#include "common/UntAppDir.h"
#include "common/UntHandler.h"
#include "common/UntPublic.h"
#include "storage/UntDbAccess.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

void PrintTo(const QString& s, std::ostream* os);
// So that QStrings can be streamed into assertion messages.
inline std::ostream& operator<<(std::ostream& os, const QString& s) {
    return os << s.toStdString();
}

// Replaces the message boxes while alive: records every box and answers from a queue
// (questions default to No, the others to OK).
class TBoxRecorder {
public:
    struct Box {
        BoxKind kind;
        QString caption;
        QString text;
    };
    TBoxRecorder();
    ~TBoxRecorder();
    void AnswerYes(int times = 1);
    void AnswerNo(int times = 1);
    // Runs while a box is open, e.g. to check what the program shows behind it.
    void OnBox(std::function<void(const Box&)> f) { onBox_ = std::move(f); }
    // From now on each box is recorded and then shown for real, with its own event loop,
    // until the test answers it (UserClick on its button); the answer queue is not used.
    void ShowRealBoxes(bool on = true) { real_ = on; }
    const std::vector<Box>& Boxes() const { return boxes_; }
    int Count() const { return static_cast<int>(boxes_.size()); }
    QString LastText() const { return boxes_.empty() ? QString() : boxes_.back().text; }
    void Clear() { boxes_.clear(); }

private:
    std::vector<Box> boxes_;
    std::deque<int> answers_;
    std::function<void(const Box&)> onBox_;
    MessageBoxHook previous_;
    bool real_ = false;
};

// Pins the program's clock while alive.
class TPinnedClock {
public:
    explicit TPinnedClock(const QDateTime& moment);
    ~TPinnedClock();
    void Set(const QDateTime& moment);
};

QDateTime At(const QString& isoDateTime); // "2026-12-07 10:15:20"

// A fresh AppDir in a temporary folder with the global DbAccess connected to a new database
// and the error reporter in place.
class DbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    QString DataPath() const;
    // Reconnects DbAccess (e.g. after replacing the file).
    void Reconnect();

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TDbAccess> db_;
    std::unique_ptr<TBoxRecorder> boxes_;
};

QByteArray ReadAll(const QString& path);

class QMessageBox;
class QWidget;

// The real message box now showing text, once it is visible; null after ms.
QMessageBox* WaitForRealBox(const QString& text, int ms = 5000);
// Clicks w as a user's click arrives: through its window, which a modal window may block.
void UserClick(QWidget* w);
// Answers the real box showing text once it is open (inside its own loop): its OK or No
// button by a click, or Enter. When the answer cannot reach it, the test fails and the box
// is closed so the test goes on.
void AnswerRealBoxLater(const QString& text, bool byKey);

class QProcess;
class QProcessEnvironment;
class TFormMain;
class TNotepadPage;
class TRemindersPage;

// The control named name under root: a form's object names are its control names.
template <typename T> T* Child(const QObject* root, const char* name) {
    T* child = root->findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << "no control named " << name;
    return child;
}

// The pages of a main window.
TRemindersPage* RemindersPageOf(const TFormMain* main);
TNotepadPage* NotepadPageOf(const TFormMain* main);

// Types text into w one character at a time, as a user does (QTest::keyClicks cannot send
// Chinese text).
void TypeText(QWidget* w, const QString& text);
// Replaces the text of a field as a user would: select all, erase, type each character.
void Retype(QLineEdit* edit, const QString& text);

// Runs f on the next modal widget that opens (other than over) and is accepted, from inside
// its event loop. Fails the test when none opens within ms; deleting the returned watcher
// stops waiting.
QPointer<QTimer> WhenModalWidget(std::function<bool(QWidget*)> accepted,
                                 std::function<void(QWidget*)> f, QWidget* over, int ms);

template <typename T> struct TNoDeduce { using type = T; };

// The one way to answer a modal dialog: runs f on the next modal dialog of type T (other
// than over) as a user would answer it, from inside its loop; a dialog that f leaves open is
// cancelled, so a failed check cannot hang the test.
template <typename T = QDialog>
QPointer<QTimer> WhenModal(typename TNoDeduce<std::function<void(T*)>>::type f,
                           QWidget* over = nullptr, int ms = 10000) {
    return WhenModalWidget([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                           [f](QWidget* w) {
                               QPointer<T> dialog = qobject_cast<T*>(w);
                               f(dialog);
                               if (dialog && dialog->isVisible())
                                   dialog->reject();
                           },
                           over, ms);
}

// Waits, processing events, until condition holds; false after ms.
bool WaitFor(const std::function<bool()>& condition, int ms = 15000);

// The real executable copied into a folder and started there, the folder its working
// directory (offscreen, its own lock folder, message boxes logged to boxes.log and answered
// No unless answer is "yes").
class TProgramRun {
public:
    // executable: the test build by default, whose boxes the environment answers.
    explicit TProgramRun(const QString& folder,
                         const QString& executable = QStringLiteral(QUILLET_EXE));
    ~TProgramRun();
    QProcess* Start(const QString& answer = QString(),
                    const QStringList& extraEnvironment = QStringList(),
                    const QStringList& arguments = QStringList());
    // Runs the program with arguments and input to its end; its exit code, and its standard
    // output and error in output.
    int Run(const QStringList& arguments, QString* output = nullptr,
            const QByteArray& input = QByteArray());
    QString Folder() const { return folder_; }
    QString BoxLog() const { return folder_ + "/boxes.log"; }
    QString Boxes() const { return QString::fromUtf8(ReadAll(BoxLog())); }
    QString Data() const { return folder_ + "/bookkeep.dat"; }
    // Makes the data file, holding one-off reminders for 2026-12-07 as "hour:minute text".
    void CreateDataWithReminders(const QStringList& reminders) const;

private:
    QString folder_;
    QString exe_;
    std::vector<QProcess*> processes_;
};

// The environment that starts the program's clock at when ("yyyy-MM-dd hh:mm:ss") and lets
// it run on from there; empty, with a test failure, when libfaketime is not installed. The
// library is preloaded itself: the faketime command names a semaphore after its process ID,
// leaves it behind when killed, and refuses to start once that ID comes round again.
QStringList FakeTimeAt(const QString& when);

// What the sqlcipher command-line tool needs first to read the program's files.
inline const QString SqlcipherUnlock =
    QStringLiteral("PRAGMA key='40718293561072';\nPRAGMA cipher_page_size = 16384;\n");

// Runs the sqlcipher command-line tool on file with script on its input; its output.
QString Sqlcipher(const QString& file, const QString& script);

// How many record locks (of any process and kind) /proc/locks lists on the file at path.
int LocksOn(const QString& path);

// The program's single objects (NoteData, ConfigData, AlamContextData, AlamData) while alive.
struct TTestSingles;
std::shared_ptr<TTestSingles> MakeTestSingles();

// DbTest plus the program's single objects and a shown main window (FormCreate and
// FormShow have run). The window's exit question is answered Yes on TearDown.
class MainWindowTest : public DbTest {
protected:
    void SetUp() override;
    void TearDown() override;
    TFormMain* Main() const { return main_.get(); }
    // Closes the window (answering Yes) and opens a fresh one over the same data, as at the
    // next start; unless told otherwise, returns once the root's note is in the memo.
    void Restart(bool waitForNote = true);

    std::unique_ptr<TFormMain> main_;

private:
    std::shared_ptr<TTestSingles> singles_;
};
