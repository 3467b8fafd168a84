#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <map>

class TConnection;

// Earlier versions of the notes (table NoteVersion), by the uid of their group.
//
// What is kept: every version for a day; then, up to 30 days, every version whose text may
// have stood for 5 minutes or more (it was taken at least that long after its text last
// changed, or before something else overwrote it); then, up to 90 days, the last version of
// each day; nothing older. A version of a group that is gone, and not in the recycle bin,
// goes too.
namespace NoteHistory {

constexpr int KeepAllDays = 1;
constexpr int StoodMinutes = 5;
constexpr int KeepStoodDays = 30;
constexpr int KeepDailyDays = 90;

// Whether the notepad keeps versions as the user types; off only to measure what keeping
// them costs.
inline bool KeepingWhileTyping = true;

struct TVersion {
    qint64 ID = 0;
    QDateTime Taken;
    int Chars = 0;
};

// The uid the versions of the note of group selfIndex are kept under; empty when the group
// is not stored.
QString GroupUid(TConnection& connection, int selfIndex);

// Keeps text as the group's newest version unless it is that already. since: when the text
// last changed before now (invalid: not known, e.g. a text something else is about to
// overwrite; such a version counts as one that stood). True when a version was added.
bool Keep(TConnection& connection, const QString& uid, const QString& text, const QDateTime& taken,
          const QDateTime& since);

// The group's versions, newest first, without their texts.
QList<TVersion> List(TConnection& connection, const QString& uid);

// Thins every group's versions as described above, as of now.
void Thin(TConnection& connection, const QDateTime& now);

// Unpacks the versions of one group; each is packed against the next newer one, so it walks
// down from the nearest newer one it still holds. Reading them newest first costs one step
// each.
class TReader {
public:
    TReader(TConnection& connection, const QString& uid);
    // The text of version id; throws EEngineError when it is damaged or not the group's.
    QString Text(qint64 id);
    QByteArray Bytes(qint64 id);

private:
    TConnection& connection_;
    QList<qint64> ids_;                 // newest first
    std::map<qint64, QByteArray> held_; // a few unpacked texts
};

} // namespace NoteHistory
