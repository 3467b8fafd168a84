#pragma once

#include "common/UntHandler.h"

#include <QDate>
#include <QString>
#include <stdexcept>

class QObject;

// A rejected input or a failed check: the message is the text shown to the user.
class EAppError : public std::runtime_error {
public:
    explicit EAppError(const QString& message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// The one database failure type.
class EDBException : public std::runtime_error {
public:
    EDBException(const QString& message, const QString& userMessage, const QString& sqlText);
    QString Message() const { return QString::fromUtf8(what()); }
    QString UserMessage;
    QString SqlText;
};

// The application-wide error reporter, installed before anything else: while it lives,
// every exception an event handler lets out comes to ReportException.
class TCardException {
public:
    TCardException();
    ~TCardException();
    TCardException(const TCardException&) = delete;
    TCardException& operator=(const TCardException&) = delete;

    QString Message;
    QString UserMessage;
    QString SqlText;

    void ReportException(QObject* sender, const std::exception& e);
};

extern TCardException* CardException;

// Headline, then "详细信息：" and detail; logs the whole text plus extra when extra is not empty.
void ShowErrorDetail(const QString& headline, const QString& detail, const QString& extra);
// Appends one entry to the day's log file in AppDir; failures are swallowed.
void WriteErrorLog(const QString& text);
// The day's log file for the given date.
QString ErrorLogPath(const QDate& day);
