#pragma once

#include "shell/UntPublic.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

class TDbAccess;

void PrintTo(const QString& s, std::ostream* os);

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
    const std::vector<Box>& Boxes() const { return boxes_; }
    int Count() const { return static_cast<int>(boxes_.size()); }
    QString LastText() const { return boxes_.empty() ? QString() : boxes_.back().text; }
    void Clear() { boxes_.clear(); }

private:
    std::vector<Box> boxes_;
    std::deque<int> answers_;
    std::function<void(const Box&)> onBox_;
    MessageBoxHook previous_;
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
