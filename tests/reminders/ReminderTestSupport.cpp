#include "ReminderTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <memory>

void DoubleClick(QTreeWidget* view, QTreeWidgetItem* item) {
    const QPoint at = view->visualItemRect(item).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}

QList<QStringList> Rows(const QTreeWidget* view) {
    QList<QStringList> rows;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        QStringList row;
        for (int c = 0; c < view->columnCount(); ++c)
            row << view->topLevelItem(i)->text(c);
        rows << row;
    }
    return rows;
}

QStringList Captions(const QTreeWidget* view) {
    QStringList captions;
    for (int i = 0; i < view->topLevelItemCount(); ++i)
        captions << view->topLevelItem(i)->text(0);
    return captions;
}

void AlamTest::SetUp() {
    DbTest::SetUp();
    AlamData = &alam_;
    AlamContextData = &context_;
    view_.setColumnCount(5);
}

void AlamTest::TearDown() {
    AlamData = nullptr;
    AlamContextData = nullptr;
    DbTest::TearDown();
}

QString AlamTest::AddAlam(int reDay, int hour, int minute, int monWeek, const QDate& day,
                          const QString& text) {
    alam_.ReDay = reDay;
    alam_.iHour = hour;
    alam_.iMinute = minute;
    alam_.iMonWeek = monWeek;
    alam_.AlamDate = QDateTime(day, QTime(0, 0));
    alam_.ReMark = text;
    alam_.Add();
    return QString::number(GetIntValue(QStringLiteral("select max(ID) from Alam")));
}

QStringList AlamTest::Listed(int filter) {
    alam_.LoadList(&view_, filter);
    return Captions(&view_);
}

QString AlamTest::Status(const QString& id) {
    alam_.LoadList(&view_, 0);
    for (const QStringList& row : Rows(&view_))
        if (row.at(0) == id)
            return row.at(4);
    ADD_FAILURE() << "reminder " << id.toStdString() << " is not listed";
    return QString();
}

int AlamTest::AlamCount() const {
    return GetIntValue(QStringLiteral("select count(*) from Alam"));
}
