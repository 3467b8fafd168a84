#pragma once

#include <QString>

class QTreeWidget;

// The store of preset reminder texts (table AlamContext).
class TAlamContext {
public:
    QString ReMark;  // set before Add and Update
    QString SqlText; // the statement built last

    void Add();
    // Fills view: caption = key, one sub-item = text.
    void LoadList(QTreeWidget* view);
    void Delete(const QString& id);
    void Update(const QString& id);
};

extern TAlamContext* AlamContextData;
