#include "app/ui/controls/menu_actions.h"

#include <QAction>
#include <QMetaObject>

namespace calvoro {

void connectAfterMenuCloses(QAction* item, QObject* context, std::function<void()> run) {
    QObject::connect(item, &QAction::triggered, context, [context, run = std::move(run)] {
        // Posted after the menu's own deletion, so it runs once that is done.
        QMetaObject::invokeMethod(context, run, Qt::QueuedConnection);
    });
}

}  // namespace calvoro
