#pragma once

#include <QString>
#include <functional>
#include <initializer_list>

class QAbstractScrollArea;
class QMenu;
class QWidget;

// One item of a popup menu: its object name, caption and command; no caption makes a
// separator.
struct TMenuItem {
    const char* name;
    QString caption;
    std::function<void()> command;
};
// A popup menu of owner, named name, holding items in order. Each command is an event
// handler of owner: what it throws goes to the error reporter.
QMenu* MakeMenu(QWidget* owner, const char* name, std::initializer_list<TMenuItem> items);
// Appends items to menu, as MakeMenu makes them.
void AddMenuItems(QMenu* menu, QWidget* owner, std::initializer_list<TMenuItem> items);
// Opens menu where view is right-clicked, selecting the row or node clicked first, and from
// the keyboard (Shift+F10, the menu key) beside the current row.
void PopUpOnRightClick(QAbstractScrollArea* view, QMenu* menu);
