#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>

class QWidget;

// How far work running off the interface thread has come, and whether the user cancelled it.
struct TProgress {
    std::atomic<qint64> Done{0};
    std::atomic<qint64> Total{0}; // 0 while unknown
    std::atomic<bool> Cancelled{false};
    // Throws EAbort once the user has cancelled; work calls it between its steps.
    void Check() const;
};

// Runs work on a thread of its own so the interface stays alive. When it takes longer than a
// moment, a modal window owned by owner shows label, the progress and "取消", which sets
// Cancelled. Returns when work has ended; what work threw (EAbort after a cancel) is thrown
// again here. work must not touch widgets or the main database connection.
void RunWithProgress(QWidget* owner, const QString& label,
                     const std::function<void(TProgress&)>& work);

// For a thread that works for the interface but not while it waits (commits of the sync,
// moving the log): the interface thread gets the processor first when both want it.
void YieldToInterface();
// The same for threads the process did not start itself (a library's), found by the name the
// system shows for them (at most 15 bytes); returns how many there are.
int YieldThreadsNamed(const QByteArray& name);
