#include "UException.h"

#include "common/UntAppDir.h"
#include "common/UntClock.h"
#include "common/UntPublic.h"

#include <QFile>

TCardException* CardException = nullptr;

EAppError::EAppError(const QString& message) : std::runtime_error(message.toStdString()) {}

EDBException::EDBException(const QString& message, const QString& userMessage,
                           const QString& sqlText)
    : std::runtime_error(message.toStdString()), UserMessage(userMessage), SqlText(sqlText) {}

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
        ShowErrorDetail(UserMessage, Message, SqlText);
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
