#include "UntNote.h"

#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

TNote* NoteData = nullptr;

void TNote::Add() {
    DbAccess->OpenQuery(QStringLiteral("select * from NoteBook where 1<> 1 "));
    TCursor& cursor = DbAccess->MainCursor;
    cursor.Append();
    cursor.SetField(QStringLiteral("TypeID"), TypeID);
    cursor.SetField(QStringLiteral("ReMark"), ReMark);
    DbAccess->PostMainCursor();
}

QString TNote::AddStatement(int typeId, const QString& text) {
    return FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values (%s,'%s')"),
                     {SqlNum(typeId), text});
}

void TNote::Delete(const QString& typeId) {
    SqlText = FormatSql(QStringLiteral("delete from NoteBook where TypeID=%s"), {typeId});
    ExecSql(SqlText);
}

void TNote::Load(const QString& typeId) {
    SqlText = FormatSql(QStringLiteral("select * from NoteBook where TypeID=%s "), {typeId});
    DbAccess->OpenQuery(SqlText);
    const TCursor& cursor = DbAccess->MainCursor;
    TypeID = typeId.toInt();
    ReMark = cursor.Eof() ? QString() : cursor.AsString(QStringLiteral("ReMark"));
}

bool TNote::Exists(const QString& typeId) {
    SqlText =
        FormatSql(QStringLiteral("select count(TypeID) from NoteBook where TypeID= %s "), {typeId});
    return GetIntValue(SqlText) >= 1;
}

void TNote::Update() {
    SqlText = FormatSql(QStringLiteral("select * from NoteBook where TypeId=%s"), {SqlNum(TypeID)});
    DbAccess->OpenQuery(SqlText);
    TCursor& cursor = DbAccess->MainCursor;
    cursor.Edit();
    cursor.SetField(QStringLiteral("ReMark"), ReMark);
    DbAccess->PostMainCursor();
}

bool SaveNoteText(TNote& note, const QString& id, const QString& text, const QString* base,
                  QString* underneath) {
    if (note.Exists(id)) {
        note.Load(id);
        if (note.ReMark == text)
            return false;
        if (base && underneath && note.ReMark != *base)
            *underneath = note.ReMark;
        note.TypeID = id.toInt();
        note.ReMark = text;
        note.Update();
        return true;
    }
    if (IsBlank(text))
        return false;
    note.TypeID = id.toInt();
    note.ReMark = text;
    note.Add();
    return true;
}
