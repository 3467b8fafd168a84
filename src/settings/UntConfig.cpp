#include "UntConfig.h"

#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

TConfig* ConfigData = nullptr;

void TConfig::Load() {
    SqlText = QStringLiteral("select * from SysSet");
    DbAccess->OpenQuery(SqlText);
    TCursor& cursor = DbAccess->MainCursor;
    cursor.First();
    if (cursor.Eof()) {
        bPass = false;
        PassWord.clear();
        bNotify = true;
        return;
    }
    bPass = cursor.AsBoolean(QStringLiteral("bPass"));
    PassWord = cursor.AsString(QStringLiteral("PassWord"));
    bNotify = cursor.AsBoolean(QStringLiteral("bNotify"));
}

void TConfig::Save() {
    SqlText = FormatSql(QStringLiteral("update SysSet set bPass='%s',[PassWord]='%s' "),
                        {bPass ? QStringLiteral("-1") : QStringLiteral("0"), PassWord});
    ExecSql(SqlText);
    ExecSql(FormatSql(QStringLiteral("update SysSet set bNotify='%s' "),
                      {bNotify ? QStringLiteral("-1") : QStringLiteral("0")}));
}
