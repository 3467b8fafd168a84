#pragma once

#include "TestSupport.h"

#include <QString>
#include <functional>

class QWidget;
class QTreeWidgetItem;
class TFormAddType;

// Runs f on the group name dialog once it is open (modal), from the event loop.
void OnGroupDialog(std::function<void(TFormAddType*)> f);
// Answers the next group name dialog with name and OK.
void AnswerGroupName(const QString& name);

// Reads the database behind DbAccess's back, leaving its cursors alone.
int CountRows(const QString& sql);
QString StoredText(const QString& sql);
// The stored note of a group, and whether it has a row.
QString StoredNote(int typeId);
bool HasNote(int typeId);

// A group row written straight into NoteType.
void InsertGroup(int self, int parent, const QString& name);
void InsertNote(int typeId, const QString& text);

// The node of the tree with that group index, or null.
QTreeWidgetItem* NodeOf(QTreeWidget* view, int selfIndex);
