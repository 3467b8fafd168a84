#include "UntMenu.h"

#include "UntHandler.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QContextMenuEvent>
#include <QKeyEvent>
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

namespace {

// Opens a view's menu from the keyboard (Shift+F10, the menu key) beside its current row.
// Context-menu events the platform makes of the menu key are dropped, so the menu opens once.
class TMenuKeys : public QObject {
public:
    TMenuKeys(QAbstractScrollArea* view, QMenu* menu) : QObject(menu), view_(view), menu_(menu) {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ContextMenu &&
            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard)
            return true;
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool menuKey =
                key->key() == Qt::Key_Menu ||
                (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
            if (menuKey) {
                QRect row;
                if (auto* items = qobject_cast<QAbstractItemView*>(view_))
                    row = items->visualRect(items->currentIndex());
                const QPoint at =
                    row.isValid() ? row.bottomLeft() : view_->viewport()->rect().center();
                menu_->popup(view_->viewport()->mapToGlobal(at));
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAbstractScrollArea* view_;
    QMenu* menu_;
};

} // namespace

void PopUpOnRightClick(QAbstractScrollArea* view, QMenu* menu) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                     [view, menu](const QPoint& at) {
                         // The command acts on what the user clicked: that row or node is
                         // selected first.
                         if (auto* items = qobject_cast<QAbstractItemView*>(view)) {
                             const QModelIndex index = items->indexAt(at);
                             if (index.isValid())
                                 items->setCurrentIndex(index);
                         }
                         menu->popup(view->viewport()->mapToGlobal(at));
                     });
    new TMenuKeys(view, menu);
}
