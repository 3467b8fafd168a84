#pragma once

#include "TestSupport.h"

#include "reminders/UntAlam.h"
#include "reminders/UntAlamContext.h"

#include <QDate>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

class QDialog;
class QWidget;

// Double-clicks an item of a list as a user does: a click, then the double click.
void DoubleClick(QTreeWidget* view, QTreeWidgetItem* item);

// The rows of a list: each row's column texts.
QList<QStringList> Rows(const QTreeWidget* view);
QStringList Captions(const QTreeWidget* view);

// A connected database with the two reminder stores installed as the single objects.
class AlamTest : public DbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Inserts a reminder through the store and returns its key.
    QString AddAlam(int reDay, int hour, int minute, int monWeek, const QDate& day,
                    const QString& text = QStringLiteral("提醒"));
    // Keys listed under a filter.
    QStringList Listed(int filter);
    // The status column of the reminder under filter 0.
    QString Status(const QString& id);
    int AlamCount() const;

    TAlam alam_;
    TAlamContext context_;
    QTreeWidget view_;
};
