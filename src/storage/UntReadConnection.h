#pragma once

#include "UntConnection.h"
#include "UntCursor.h"

#include <QVariantList>
#include <atomic>
#include <functional>
#include <mutex>

// A second connection to the data file, read-only, for reading off the interface thread
// while the interface thread keeps the main connection. It opens with the same key and
// settings, on first use, and only while the data file is open; reads from any one thread
// at a time (others wait).
class TReadConnection {
public:
    TReadConnection() = default;
    TReadConnection(const TReadConnection&) = delete;
    TReadConnection& operator=(const TReadConnection&) = delete;
    ~TReadConnection() { Shut(); }

    // Runs one SELECT with its values bound to ?1, ?2, ... and hands each row to onRow as it
    // is read; onRow returns false to stop. Returns true when the rows ran out, false when
    // the read was stopped: by onRow, by *cancel becoming true, or by Shut. Throws
    // EDBException when the statement fails.
    bool ReadRows(const QString& sql, const QVariantList& values,
                  const std::function<bool(const TRowView&)>& onRow,
                  const std::atomic<bool>* cancel = nullptr);
    // A read is running.
    bool Reading() const { return reading_; }
    // How often the connection was opened: PRAGMA data_version counts afresh each time.
    quint64 Openings() const { return openings_; }
    // The data file at path is open: reads may begin.
    void Allow(const QString& path, const QString& key);
    // Stops a running read and closes, freeing the page cache; the next read opens again.
    void Release();
    // Stops a running read and closes; reads fail until Allow. The data file may then be
    // closed, replaced or compacted.
    void Shut();

private:
    static int Progress(void* self);

    std::mutex use_;
    TConnection connection_;
    QString path_;
    QString key_;
    bool allowed_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{false};
    std::atomic<quint64> openings_{0};
    std::atomic<const std::atomic<bool>*> cancel_{nullptr};
};
