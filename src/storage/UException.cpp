#include "UException.h"

#include "common/UntAppDir.h"
#include "common/UntClock.h"
#include "common/UntPublic.h"

#include <QFile>
#include <sqlite3.h>

TCardException* CardException = nullptr;

EAppError::EAppError(const QString& message) : std::runtime_error(message.toStdString()) {}

EDBException::EDBException(const QString& message, const QString& userMessage,
                           const QString& sqlText, int code)
    : std::runtime_error(message.toStdString()), UserMessage(userMessage), SqlText(sqlText),
      Code(code) {}

QString ReadableDbError(int code, const QString& engineText) {
    QString why;
    switch (code) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        why = QStringLiteral("数据文件正被另一个程序使用，请稍后再试");
        break;
    case SQLITE_FULL:
        why = QStringLiteral("磁盘已满，数据无法写入");
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        why = QStringLiteral("文件是只读的，或没有写入的权限");
        break;
    case SQLITE_NOTADB:
        why = QStringLiteral("文件不是本软件的数据文件，或密码不同");
        break;
    case SQLITE_CORRUPT:
        why = QStringLiteral("数据文件已损坏");
        break;
    default:
        return engineText;
    }
    return why + QStringLiteral("（") + engineText + QStringLiteral("）");
}

TCardException::TCardException() {
    SetExceptionReporter(
        [this](QObject* sender, const std::exception& e) { ReportException(sender, e); });
}

TCardException::~TCardException() {
    SetExceptionReporter({});
}

void TCardException::ReportException(QObject*, const std::exception& e) {
    Message = QString::fromUtf8(e.what());
    if (const auto* db = dynamic_cast<const EDBException*>(&e)) {
        UserMessage = db->UserMessage;
        SqlText = db->SqlText;
        ShowErrorDetail(UserMessage, ReadableDbError(db->Code, Message), SqlText);
        return;
    }
    ShowError(Message);
}

void ShowErrorDetail(const QString& headline, const QString& detail, const QString& extra) {
    const QString text = headline + QStringLiteral("\r\n详细信息：") + detail;
    // Logged before the box so a program killed while the box is open keeps its entry.
    if (!extra.isEmpty())
        WriteErrorLog(text + QStringLiteral("\r\n") + extra);
    ShowError(text);
}

QString ErrorLogPath(const QDate& day) {
    return AppDir() + QStringLiteral("Log") + day.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".log");
}

void WriteErrorLog(const QString& text) {
    const QDateTime now = Clock::Now();
    QFile file(ErrorLogPath(now.date()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QString entry = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                          QStringLiteral("：") + text + QStringLiteral("\r\n");
    file.write(entry.toUtf8());
}
