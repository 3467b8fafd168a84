#include "BenchSupport.h"

#include "common/UntAppDir.h"
#include "storage/UntDbAccess.h"

TBenchDb::TBenchDb() {
    SetAppDir(dir_.path());
    db_ = std::make_unique<TDbAccess>();
    DbAccess = db_.get();
    DbAccess->Connect();
}

TBenchDb::~TBenchDb() {
    DbAccess = nullptr;
}

QString ReminderInserts(int count) {
    QString batch;
    for (int i = 0; i < count; ++i) {
        const int kind = i % 2 == 0 ? 0 : 1 + (i / 2) % 3;
        QString day = QStringLiteral("2026-12-20"); // future
        if (kind == 0 && (i / 2) % 3 == 0)
            day = QStringLiteral("2026-12-06"); // missed
        const int monWeek = kind == 2 ? 135 : (kind == 3 ? 1 + i % 31 : 1);
        batch += QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                                "values(%1,%2,%3,%4,'%5','第%6条提醒');")
                     .arg(i % 24)
                     .arg(i % 60)
                     .arg(monWeek)
                     .arg(kind)
                     .arg(day)
                     .arg(i);
    }
    return batch;
}
