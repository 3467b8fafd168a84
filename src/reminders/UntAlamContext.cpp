#include "UntAlamContext.h"

#include "shell/UntPublic.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

TAlamContext* AlamContextData = nullptr;

void TAlamContext::Add() {
    SqlText = FormatSql(QStringLiteral("Insert into AlamContext(ReMark) values('%s') "), {ReMark});
    ExecSql(SqlText);
}

void TAlamContext::LoadList(QTreeWidget* view) {
    SqlText = QStringLiteral("select Id,Remark from AlamContext ");
    FillListView(SqlText, view);
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
