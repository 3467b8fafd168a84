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

namespace {

void PollForDialog(const std::function<void(TFormAddType*)>& f, int triesLeft) {
    QTimer::singleShot(10, [f, triesLeft] {
        if (auto* form = qobject_cast<TFormAddType*>(QApplication::activeModalWidget())) {
            f(form);
            return;
        }
        if (triesLeft > 0)
            PollForDialog(f, triesLeft - 1);
    });
}

} // namespace

void OnGroupDialog(std::function<void(TFormAddType*)> f) {
    PollForDialog(f, 500);
}

void AnswerGroupName(const QString& name) {
    OnGroupDialog([name](TFormAddType* form) {
        form->edtName()->setText(name);
        form->btnOK()->click();
    });
}

void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        if (c == QLatin1Char(' '))
            QTest::keyClick(w, Qt::Key_Space);
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
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
