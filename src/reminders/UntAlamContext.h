#pragma once

#include "common/UntListRows.h"

#include <QString>

class QTreeWidget;

// A reminder text, typed or preset, must hold more than blanks and line breaks; throws
// "提醒内容不能为空！" otherwise.
void CheckReminderText(const QString& text);

// The store of preset reminder texts (table AlamContext).
class TAlamContext {
public:
    QString ReMark;  // set before Add and Update
    QString SqlText; // the statement built last

    void Add();
    // Each preset: key, text.
    TRows ListRows();
    // Fills view with ListRows().
    void LoadList(QTreeWidget* view);
    void Delete(const QString& id);
    void Update(const QString& id);
};

extern TAlamContext* AlamContextData;
