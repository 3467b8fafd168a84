#pragma once

#include <QTemporaryDir>
#include <memory>

class TDbAccess;

// A connected DbAccess over a new database in a temporary AppDir.
class TBenchDb {
public:
    TBenchDb();
    ~TBenchDb();
    QString Folder() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<TDbAccess> db_;
};
