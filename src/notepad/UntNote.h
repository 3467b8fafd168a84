#pragma once

#include <QString>

// The store of the one note per group (table NoteBook).
class TNote {
public:
    qint32 TypeID = 0;
    QString ReMark;
    QString SqlText;

    // Appends a row with TypeID and ReMark through the main cursor.
    void Add();
    // A statement that adds a note row, for callers that store many in one batch.
    static QString AddStatement(int typeId, const QString& text);
    void Delete(const QString& typeId);
    // Reads the group's note into TypeID and ReMark (empty when there is none).
    void Load(const QString& typeId);
    bool Exists(const QString& typeId);
    // Rewrites the ReMark of the row of TypeID through the main cursor.
    void Update();
};

extern TNote* NoteData;

// What a change of the memo writes for the group id: loads the stored note and rewrites it
// when the text differs; makes the row once the text is no longer blank. True when a row
// was written. With base (the text the memo last read or stored): a stored text that is
// neither base nor text was written by someone else meanwhile and is handed back in
// *underneath before it is replaced.
bool SaveNoteText(TNote& note, const QString& id, const QString& text,
                  const QString* base = nullptr, QString* underneath = nullptr);
