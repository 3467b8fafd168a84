#include "NotepadTestSupport.h"

#include "notepad/AddType.h"
#include "notepad/UntTree.h"
#include "storage/UntSqlText.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

void OnGroupDialog(std::function<void(TFormAddType*)> f) {
    WhenModal<TFormAddType>(std::move(f));
}

void AnswerGroupName(const QString& name) {
    OnGroupDialog([name](TFormAddType* form) {
        form->edtName()->setText(name);
        form->btnOK()->click();
    });
}

int CountRows(const QString& sql) {
    TCursor cursor;
    cursor.Open(DbAccess->Connection, sql);
    return cursor.Eof() ? 0 : static_cast<int>(cursor.AsInteger(0));
}

QString StoredText(const QString& sql) {
    TCursor cursor;
    cursor.Open(DbAccess->Connection, sql);
    return cursor.Eof() ? QStringLiteral("<no row>") : cursor.AsString(0);
}

QString StoredNote(int typeId) {
    return StoredText(QStringLiteral("select ReMark from NoteBook where TypeID=%1").arg(typeId));
}

bool HasNote(int typeId) {
    return CountRows(QStringLiteral("select count(*) from NoteBook where TypeID=%1").arg(typeId)) >
           0;
}

void InsertGroup(int self, int parent, const QString& name) {
    DbAccess->Connection.Exec(
        FormatSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) "
                                 "values (%s,%s,'%s')"),
                  {SqlNum(self), SqlNum(parent), name}));
}

void InsertNote(int typeId, const QString& text) {
    DbAccess->Connection.Exec(
        FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values (%s,'%s')"),
                  {SqlNum(typeId), text}));
}

QTreeWidgetItem* NodeOf(QTreeWidget* view, int selfIndex) {
    for (QTreeWidgetItemIterator it(view); *it; ++it)
        if (const TGroupIndex* record = TCardTree::RecordOf(*it);
            record && record->SelfIndex == selfIndex)
            return *it;
    return nullptr;
}
