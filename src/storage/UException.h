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
    // code: the engine's result code when known (see EEngineError), for the user's detail.
    EDBException(const QString& message, const QString& userMessage, const QString& sqlText,
                 int code = 0);
    QString Message() const { return QString::fromUtf8(what()); }
    QString UserMessage;
    QString SqlText;
    int Code = 0;
};

// The detail line of a database error: a short Chinese explanation of the causes a user can
// meet (locked, disk full, read-only, not our file or another password, damaged) with the
// engine's text in brackets; the engine's text alone for anything else.
QString ReadableDbError(int code, const QString& engineText);

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
