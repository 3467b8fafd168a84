#include "UntAlamContext.h"

#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

TAlamContext* AlamContextData = nullptr;

void TAlamContext::Add() {
    SqlText = FormatSql(QStringLiteral("Insert into AlamContext(ReMark) values('%s') "), {ReMark});
    ExecSql(SqlText);
}

TRows TAlamContext::ListRows() {
    SqlText = QStringLiteral("select Id,Remark from AlamContext ");
    return ReadRows(SqlText);
}

void TAlamContext::LoadList(QTreeWidget* view) {
    FillListView(view, [this] { return ListRows(); });
}

void TAlamContext::Delete(const QString& id) {
    SqlText = FormatSql(QStringLiteral("delete from AlamContext where ID=%s "), {id});
    ExecSql(SqlText);
}

void TAlamContext::Update(const QString& id) {
    SqlText =
        FormatSql(QStringLiteral("update AlamContext set Remark='%s' where ID=%s  "), {ReMark, id});
    ExecSql(SqlText);
}

void CheckReminderText(const QString& text) {
    if (IsBlank(text))
        throw EAppError(QStringLiteral("提醒内容不能为空！"));
}
