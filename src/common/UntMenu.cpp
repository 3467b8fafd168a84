#include "UntMenu.h"

#include "UntHandler.h"

#include <QAbstractScrollArea>
#include <QMenu>

QMenu* MakeMenu(QWidget* owner, const char* name, std::initializer_list<TMenuItem> items) {
    auto* menu = new QMenu(owner);
    menu->setObjectName(QLatin1String(name));
    AddMenuItems(menu, owner, items);
    return menu;
}

void AddMenuItems(QMenu* menu, QWidget* owner, std::initializer_list<TMenuItem> items) {
    for (const TMenuItem& item : items) {
        QAction* action = item.caption.isEmpty()
                              ? menu->addSeparator()
                              : menu->addAction(item.caption, owner, Handler(owner, item.command));
        action->setObjectName(QLatin1String(item.name));
    }
}

void PopUpOnRightClick(QAbstractScrollArea* view, QMenu* menu) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        view, &QWidget::customContextMenuRequested, menu,
        [view, menu](const QPoint& at) { menu->popup(view->viewport()->mapToGlobal(at)); });
}
